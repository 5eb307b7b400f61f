#include "ConnectionRead.h"

#include <algorithm>

#include "device/Format.h"
#include "device/PortNames.h"

namespace {
const std::uint8_t kReadCommand[] = {0x05, 'D'};
}

std::string openFailedText(SerialPortDriver& driver, unsigned n) {
    const std::string paragraph =
        openFailureParagraph(driver.deviceName(n), driver.status(n), currentUserName());
    return paragraph.empty() ? std::string(ConnectText::kOpenFailed)
                             : ConnectText::kOpenFailed + std::string("\n\n") + paragraph;
}

ConnectionRead::ConnectionRead(DeviceHost& host, DialogControl& control)
    : m_host(host), m_control(control), m_portIndex(host.pcPort() > 0 ? host.pcPort() - 1 : 0) {
    m_screen.okCaption = ConnectText::kOk;
}

void ConnectionRead::initialise() {
    SerialLink& link = m_host.link();
    link.close();
    SerialPortDriver& driver = link.driver();
    m_timedOut = false;
    m_screen.unopenedText.clear();
    for (unsigned n = kFirstPort; n <= kLastPort; ++n) {
        if (link.probe(n)) {
            std::string name = driver.deviceName(n);
            const std::string details = driver.deviceDetails(n);
            if (!details.empty()) {
                name += (name.empty() ? "" : ", ") + details;
            }
            m_screen.ports.push_back({n, portEntryText(n, name)});
            continue;
        }
        // Numbers without a device, and nodes no hardware stands behind, are not worth a word.
        const PortStatus status = driver.status(n);
        const std::string path = driver.deviceName(n);
        if (status.fault == PortFault::None || status.fault == PortFault::Missing ||
            status.fault == PortFault::NoHardware || path.empty()) {
            continue;
        }
        m_screen.unopenedText += (m_screen.unopenedText.empty() ? "" : "\n") + path +
                                 " is there but may not be opened: " + portFaultWords(status);
    }
    std::stable_sort(m_screen.ports.begin(), m_screen.ports.end(),
                     [](const PortEntry& a, const PortEntry& b) { return a.text < b.text; });

    const int remembered = m_host.pcPort();
    const bool rememberedListed =
        remembered > 0 &&
        std::any_of(m_screen.ports.begin(), m_screen.ports.end(),
                    [&](const PortEntry& e) { return e.number == unsigned(remembered); });
    if (rememberedListed) {
        m_screen.selectedPort = static_cast<unsigned>(remembered);
        ok();
    } else if (!m_screen.ports.empty()) {
        m_screen.selectedPort = m_screen.ports.front().number;
    }
    m_control.refresh();
}

void ConnectionRead::choosePort(unsigned n) {
    const bool listed = std::any_of(m_screen.ports.begin(), m_screen.ports.end(),
                                    [&](const PortEntry& e) { return e.number == n; });
    m_screen.selectedPort = listed ? n : 0;
}

void ConnectionRead::ok() {
    if (m_state == ConnectState::AwaitPrompt || m_state == ConnectState::AwaitBlock) {
        return;
    }
    if (m_screen.selectedPort > 0) {
        m_portIndex = static_cast<int>(m_screen.selectedPort) - 1;
    }
    m_screen.messageVisible = false;

    const unsigned port = static_cast<unsigned>(m_portIndex + 1);
    SerialLink& link = m_host.link();
    if (!link.open(port)) {
        openFailed(port);
        return;
    }

    m_screen.okCaption = ConnectText::kRetry;
    m_screen.okEnabled = false;
    m_screen.progressVisible = true;
    m_screen.progress = 0;
    m_screen.timeoutVisible = true;
    m_screen.instructionVisible = false;
    m_screen.statusText = formatNumber(ConnectText::kReading, port);
    m_screen.statusVisible = true;

    m_host.selectPort(static_cast<int>(port), false);

    link.purge();
    if (link.writeString("\r")) {
        m_tickCount = 0;
        m_control.startTimer(kTickMs);
        m_state = ConnectState::AwaitPrompt;
        m_control.refresh();
    } else {
        resetView();
        m_state = ConnectState::Idle;
        m_control.refresh();
        link.reportWriteFailure();
    }
}

void ConnectionRead::demo() {
    m_control.stopTimer();
    m_host.selectPort(0, false);
    m_control.finish(0);
}

void ConnectionRead::exit() {
    m_control.stopTimer();
    m_control.finish(1);
}

void ConnectionRead::tick() {
    if (m_state != ConnectState::AwaitPrompt && m_state != ConnectState::AwaitBlock) {
        return;
    }
    SerialLink& link = m_host.link();
    ++m_tickCount;
    link.poll();

    if (link.hungUp()) {
        // The device went away: look for it again at once, as Retry would, rather than
        // wait out the limit and blame the port choice.
        const unsigned port = static_cast<unsigned>(m_portIndex + 1);
        if (!link.open(port)) {
            m_control.stopTimer();
            openFailed(port);
            return;
        }
        // Back already: ask again on the fresh port, within the same limit.
        link.purge();
        link.writeString("\r");
        m_state = ConnectState::AwaitPrompt;
    } else if (m_state == ConnectState::AwaitPrompt && link.promptReceived()) {
        m_control.stopTimer();
        link.purge();
        if (link.write(kReadCommand, sizeof kReadCommand)) {
            m_state = ConnectState::AwaitBlock;
            m_control.startTimer(kTickMs);
        } else {
            resetView();
            m_state = ConnectState::Idle;
            m_control.refresh();
            link.reportWriteFailure();
            return;
        }
    } else if (m_state == ConnectState::AwaitBlock && link.rxCount == kReadReplyLength) {
        m_control.stopTimer();
        const std::string_view reply = link.received();
        if (!ConfigBlock::hasCompatibleTag(reply.data(), reply.size())) {
            fail(ConnectText::kIncompatible);
            return;
        }
        // Decoded aside, so that a corrupt reply never reaches the main window's block.
        ConfigBlock block;
        bool validProgram = false;
        if (!decodeBlock(reply, true, block, validProgram)) {
            fail(ConnectText::kCorrupt);
            return;
        }
        m_host.block() = block;
        m_host.validProgram() = validProgram;
        m_state = ConnectState::Connected;
        m_control.refresh();
        m_control.finish(0);
        return;
    } else if (m_tickCount >= kTickLimit) {
        m_control.stopTimer();
        m_screen.progressVisible = false;
        m_screen.timeoutVisible = false;
        m_screen.statusVisible = false;
        m_screen.messageText =
            formatNumber(ConnectText::kNotResponding, static_cast<unsigned>(m_host.pcPort()));
        m_screen.messageVisible = true;
        m_screen.okEnabled = true;
        m_state = ConnectState::Idle;
        m_timedOut = true;
    } else {
        if (m_state == ConnectState::AwaitPrompt && m_tickCount % kPromptRepeatTicks == 0) {
            link.writeString("\r");
        }
        m_screen.progress = static_cast<int>(m_tickCount);
    }
    m_control.refresh();
}

void ConnectionRead::resetView() {
    m_screen.progressVisible = false;
    m_screen.statusVisible = false;
    m_screen.timeoutVisible = false;
    m_screen.messageVisible = false;
    m_screen.instructionVisible = true;
    m_screen.okEnabled = true;
}

void ConnectionRead::openFailed(unsigned port) {
    resetView();
    m_state = ConnectState::Idle;
    m_control.refresh();
    m_host.notifier().show({openFailedText(m_host.link().driver(), port), kProgramName,
                            NoticeIcon::Exclamation, NoticeButtons::Ok, NoticeKind::DeviceError});
}

void ConnectionRead::fail(const char* text) {
    resetView();
    m_state = ConnectState::Idle;
    m_control.refresh();
    m_host.notifier().show({text, ConnectText::kReadCaption, NoticeIcon::Exclamation,
                            NoticeButtons::Ok, NoticeKind::DeviceError});
}
