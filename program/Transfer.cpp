#include "Transfer.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string_view>

#include "device/ConnectionRead.h"
#include "device/Format.h"
#include "program/ReplyLines.h"

namespace {

constexpr char kWake[] = "\r";
constexpr char kUploadCommand[] = "UF\r";
constexpr char kDownloadCommand[] = "UF \x04\r";
constexpr char kYes[] = "Y";
constexpr char kAbortSequence[] = "\r\x1b";

// Clears m_busy however the scope is left.
struct BusyScope {
    explicit BusyScope(bool& flag) : m_flag(flag) { m_flag = true; }
    ~BusyScope() { m_flag = false; }
    bool& m_flag;
};

}  // namespace

Transfer::Transfer(DeviceHost& host, DialogControl& dialog) : m_host(host), m_dialog(dialog) {}

void Transfer::PrepareUpload(const std::string& fileName, ProgramFile& file, std::uint32_t size) {
    m_screen.statusText = "Uploading program from \"" + fileName + "\"";
    m_mode = TransferMode::Upload;
    m_file = &file;
    m_programSize = size;
    m_bytesRead = 0;
}

void Transfer::PrepareDelete() {
    m_screen.statusText = TransferText::kDeleting;
    m_mode = TransferMode::Delete;
}

void Transfer::PrepareDownload(const std::string& fileName, ProgramFile& file) {
    m_screen.statusText = "Saving program to \"" + fileName + "\"";
    m_mode = TransferMode::Download;
    m_file = &file;
}

void Transfer::start() {
    m_tickCount = 0;
    m_abortTicks = 0;
    m_state = withDevice() ? TransferState::Start : TransferState::Begin;
    if (m_mode == TransferMode::Delete) {
        m_screen.caption = TransferText::kDeleteCaption;
        // Shown while the device is awaited, so that the user can always leave.
        m_screen.abortVisible = withDevice();
    }
    m_dialog.refresh();
    m_dialog.startTimer(kTickMs);
}

void Transfer::notify(const std::string& text, const char* caption, NoticeIcon icon,
                      NoticeKind kind) {
    m_host.notifier().show({text, caption, icon, NoticeButtons::Ok, kind});
}

void Transfer::step() {
    m_screen.progressPos = std::min(m_screen.progressPos + m_progressStep, m_screen.progressMax);
}

bool Transfer::writeToFile(const std::uint8_t* data, std::size_t count) {
    const long written = m_file != nullptr ? m_file->write(data, count) : -1;
    if (written > 0) {
        m_receivedChars += static_cast<unsigned>(written);
        m_fileChars += static_cast<unsigned>(written);
    }
    return written == static_cast<long>(count);
}

void Transfer::abort() {
    const bool waiting = m_state != TransferState::Aborting && m_state != TransferState::Completed;
    if (m_busy || !waiting) {
        return;
    }
    BusyScope busy(m_busy);
    if (m_mode != TransferMode::Delete) {
        notify(m_mode == TransferMode::Upload ? TransferText::kUploadAborted
                                              : TransferText::kDownloadAborted,
               kProgramName, NoticeIcon::Exclamation, NoticeKind::DeviceError);
    }
    m_screen.abortVisible = false;
    m_state = TransferState::Aborting;
    m_dialog.refresh();
}

void Transfer::tick() {
    // No tick while another, or a notice one raised, is still open.
    if (m_busy) {
        return;
    }
    BusyScope busy(m_busy);
    SerialLink& link = m_host.link();
    ++m_tickCount;
    link.poll();
    if (withDevice() && link.hungUp() && deviceGone()) {
        return;
    }

    if (m_state == TransferState::WaitPrompt && link.promptReceived()) {
        m_dialog.stopTimer();
        link.purge();
        const bool sent = m_mode == TransferMode::Download ? link.writeString(kDownloadCommand)
                                                           : link.writeString(kUploadCommand);
        if (sent) {
            m_state = TransferState::WaitReply;
            m_dialog.startTimer(kTickMs);
        } else {
            m_state = TransferState::Start;
            link.reportWriteFailure();
        }
    } else if (m_state == TransferState::WaitReply && link.rxCount > 5) {
        if (m_mode == TransferMode::Download) {
            m_state = TransferState::Receiving;
            std::size_t count = link.rxCount - 4;
            // The whole answer in one chunk: its closing prompt is not program text.
            const bool whole = link.rxBuffer[link.rxCount - 1] == '>';
            if (whole) {
                --count;
            }
            writeToFile(link.rxBuffer.data() + 4, count);
            link.rxCount = 0;
            m_screen.progressMin = 0;
            m_screen.progressMax = kReceiveRange;
            m_receivedChars = 0;  // the first chunk is not counted
            m_screen.progressPos = 0;
            m_idleTicks = 0;
            if (whole) {
                m_dialog.stopTimer();
                m_state = TransferState::Start;
            }
        } else if (link.received().find("Overwrite") != std::string_view::npos) {
            m_dialog.stopTimer();
            link.purge();
            if (link.writeString(kYes)) {
                m_state = TransferState::Begin;
                m_dialog.startTimer(kTickMs);
            } else {
                m_state = TransferState::Start;
                link.reportWriteFailure();
            }
        }
    } else if (m_state == TransferState::Receiving) {
        receivingTick();
    } else if (m_state == TransferState::Start) {
        link.purge();
        link.writeString(kWake);
        m_state = TransferState::WaitPrompt;
    } else if (m_state == TransferState::WaitPrompt) {
        if (m_tickCount % 10 == 0) {
            link.writeString(kWake);
        }
    } else if (m_state == TransferState::Begin) {
        if (m_mode == TransferMode::Upload) {
            m_screen.progressMin = 0;
            m_screen.progressMax =
                static_cast<int>(std::min<std::uint32_t>(m_programSize, 0x7FFFFFFF));
            m_progressStep = static_cast<int>(kBlockBytes);
            m_state = TransferState::Sending;
        } else {
            m_state = TransferState::Aborting;
        }
    } else if (m_state == TransferState::Sending || m_state == TransferState::WaitDone) {
        sendingTick();
    } else if (m_state == TransferState::Aborting) {
        abortingTick();
    }
    m_dialog.refresh();
    finishTick();
}

bool Transfer::deviceGone() {
    // Nothing would end the transfer: the wake-up CR every tenth tick, the prompt it awaits
    // and any data all go nowhere. Look for the device again at once, as the connection
    // read does.
    const auto port = static_cast<unsigned>(m_host.pcPort());
    SerialLink& link = m_host.link();
    if (!link.open(port)) {
        m_dialog.stopTimer();
        notify(openFailedText(link.driver(), port), kProgramName, NoticeIcon::Exclamation,
               NoticeKind::DeviceError);
        m_state = TransferState::Start;
        m_dialog.finish(0);
        return true;
    }
    // Back on a fresh port: a prompt is still to be awaited; what was under way is lost, and
    // the device is left at its prompt through the abort sequence.
    if (m_state == TransferState::WaitPrompt) {
        link.writeString(kWake);
    } else if (m_state != TransferState::Start && m_state != TransferState::Aborting) {
        m_state = TransferState::Aborting;
    }
    return false;
}

void Transfer::receivingTick() {
    SerialLink& link = m_host.link();
    if (link.rxCount == 0) {
        if (m_idleTicks <= kIdleLimit) {
            ++m_idleTicks;
            return;
        }
        m_dialog.stopTimer();
        notify(formatNumber(TransferText::kIncomplete, m_receivedChars / 2),
               TransferText::kIncompleteCaption, NoticeIcon::Exclamation, NoticeKind::DeviceError);
        m_state = TransferState::Start;
        return;
    }
    std::size_t count = link.rxCount;
    const bool finished = link.rxBuffer[count - 1] == '>';
    if (finished) {
        --count;
    }
    if (count > 0) {
        writeToFile(link.rxBuffer.data(), count);
        m_screen.caption = TransferText::kDownloadCaption;
        m_screen.progressPos = static_cast<int>(std::min<unsigned>(m_receivedChars, kReceiveRange));
        m_idleTicks = 0;
    }
    link.rxCount = 0;
    if (finished) {
        m_dialog.stopTimer();
        m_state = TransferState::Start;
    }
}

void Transfer::sendingTick() {
    SerialLink& link = m_host.link();
    if (link.rxCount > 0) {
        const ResponseLine reply = ExtractResponseLine(link.rxBuffer.data(), link.rxCount);
        if (reply.waitSeen) {
            m_state = TransferState::Completed;
        }
        const std::string& line = reply.line;
        int code = 0;
        if (line.empty()) {
        } else if (line.find("Addr") != std::string::npos ||
                   line.find("Waiting") != std::string::npos) {
            m_screen.detailText = line;
        } else if (parseDeviceError(line, code)) {
            notify(FormatDeviceError(code, line), TransferText::kDeviceErrorCaption,
                   NoticeIcon::Exclamation, NoticeKind::DeviceError);
            m_state = TransferState::Start;
            return;
        } else if (line.find("Done") != std::string::npos) {
            notify(line, TransferText::kCompleteCaption, NoticeIcon::None, NoticeKind::Info);
            m_state = TransferState::Completed;
        } else if (reply.waitSeen) {
            // ", wait.." ends a good upload, whatever the device put before it on its line.
        } else {
            notify(line, TransferText::kUnexpectedCaption, NoticeIcon::Exclamation,
                   NoticeKind::DeviceError);
            m_state = TransferState::Start;
            return;
        }
    }
    if (m_state != TransferState::Sending) {
        return;
    }
    std::uint8_t block[kBlockBytes];
    const long got = m_file != nullptr ? m_file->read(block, sizeof block) : -1;
    if (got >= 0) {
        m_bytesRead += static_cast<std::uint32_t>(got);
    }
    // A file that ends before its size was reached was cut short while it was sent: the
    // device would wait for the rest for ever, so it counts as a failed read.
    const bool cutShort =
        static_cast<std::size_t>(got) < kBlockBytes && m_bytesRead < m_programSize;
    if (got < 0 || cutShort) {
        notify(TransferText::kReadFailed, TransferText::kReadFailedCaption, NoticeIcon::Exclamation,
               NoticeKind::FileError);
        m_screen.abortVisible = false;
        m_state = TransferState::Aborting;
        return;
    }
    if (static_cast<std::size_t>(got) < kBlockBytes) {
        m_state = withDevice() ? TransferState::WaitDone : TransferState::Completed;
    }
    if (got == 0) {
        return;
    }
    if (!withDevice()) {
        step();
    } else if (link.write(block, static_cast<std::size_t>(got))) {
        step();
    } else {
        m_state = TransferState::Start;
        link.reportWriteFailure();
    }
}

void Transfer::abortingTick() {
    if (m_abortTicks > 0) {
        step();
        if (--m_abortTicks == 0) {
            m_state = TransferState::Start;
        }
        return;
    }
    m_screen.detailText = m_mode == TransferMode::Upload     ? TransferText::kAbortingUpload
                          : m_mode == TransferMode::Download ? TransferText::kAbortingDownload
                                                             : "";
    if (withDevice()) {
        SerialLink& link = m_host.link();
        link.purge();
        link.writeString(kAbortSequence);
    }
    if (m_mode == TransferMode::Delete) {
        m_screen.abortVisible = false;
    }
    m_abortTicks = kAbortTicks;
    m_screen.progressMin = 0;
    m_screen.progressMax = static_cast<int>(kAbortTicks);
    m_progressStep = 1;
    m_screen.progressPos = 0;
}

void Transfer::finishTick() {
    if (m_state == TransferState::Start) {
        m_dialog.stopTimer();
        m_dialog.finish(0);
    } else if (m_state == TransferState::Completed) {
        m_dialog.stopTimer();
        if (m_mode == TransferMode::Upload && m_host.block().byte(Offset::adeMode) <= 2) {
            notify(TransferText::kModeOff, kProgramName, NoticeIcon::Exclamation,
                   NoticeKind::Warning);
        }
        m_dialog.finish(1);
    }
}

long FdProgramFile::read(std::uint8_t* buffer, std::size_t count) {
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::read(m_fd, buffer + done, count - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return -1;
        }
        if (n == 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    return static_cast<long>(done);
}

long FdProgramFile::write(const std::uint8_t* data, std::size_t count) {
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(m_fd, data + done, count - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            m_writeFailed = true;
            return done > 0 ? static_cast<long>(done) : -1;
        }
        done += static_cast<std::size_t>(n);
    }
    return static_cast<long>(done);
}
