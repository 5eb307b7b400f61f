#include "Vx310Sim.h"

#include <algorithm>

namespace {

constexpr std::uint8_t kCr = 0x0D;
constexpr std::uint8_t kEnq = 0x05;
constexpr std::uint8_t kReadCommand = 'D';
constexpr std::uint8_t kLoadCommand = 'L';

// A host that writes without end, or never reads, must not eat all memory.
constexpr std::size_t kMaxInFlight = std::size_t{1} << 20;
constexpr std::size_t kMaxReceivedLog = 1000000;
// The monitor has no use for longer lines; the rest is dropped.
constexpr std::size_t kMaxLineLength = 256;

char hexDigit(int value) {
    return "0123456789abcdef"[value & 0x0F];
}

}  // namespace

Vx310Sim::Vx310Sim() : block(defaultBlock()) {}

ConfigBlock Vx310Sim::defaultBlock() {
    ConfigBlock b;
    b.versionTag = {'v', '1', '0', '4'};
    b.setWord(Offset::serialNumber, 4711);
    b.setByte(Offset::portInterfaces, 3);
    b.setByte(Offset::m2Address, 5);
    b.setWord(Offset::m2Timeout, 2000);
    b.setByte(Offset::m2LeadIn, 0);
    b.setByte(Offset::adeMode, 3);
    b.setByte(Offset::productType, 1);
    b.setByte(Offset::p1Baud, 16);
    b.setByte(Offset::p1WordLength, 3);
    b.setByte(Offset::p1Parity, 1);
    b.setByte(Offset::p1StopBits, 0);
    b.setByte(Offset::p1XonXoff, 0);
    b.setByte(Offset::p2Baud, 20);
    b.setByte(Offset::p2WordLength, 2);
    b.setByte(Offset::p2Parity, 2);
    b.setByte(Offset::p2StopBits, 1);
    b.setByte(Offset::p2XonXoff, 3);
    for (std::size_t i = 0; i < kTurnOffDelayCount; ++i) {
        b.setByte(Offset::m1TurnOffDelay + i, kDefaultTurnOffDelays[i]);
    }
    b.setByte(Offset::m1DriverAlwaysOn, 1);
    b.setByte(Offset::checksum, computeChecksum(b));
    return b;
}

void Vx310Sim::hostWrite(const std::uint8_t* data, std::size_t count, std::uint64_t nowUs) {
    // A write stamped earlier than what we have seen happens now.
    const std::uint64_t at = std::max(nowUs, m_nowUs);
    for (std::size_t i = 0; i < count; ++i) {
        if (m_toDevice.size() >= kMaxInFlight) {
            break;
        }
        const std::uint64_t arrival = std::max(at, m_hostLineFreeUs) + (pacing ? kByteTimeUs : 0);
        m_hostLineFreeUs = arrival;
        m_toDevice.push_back({arrival, data[i]});
    }
}

void Vx310Sim::advanceTo(std::uint64_t nowUs) {
    m_nowUs = std::max(nowUs, m_nowUs);
    while (!m_toDevice.empty() && m_toDevice.front().atUs <= m_nowUs) {
        const Arrival arrival = m_toDevice.front();
        m_toDevice.pop_front();
        if (received.size() < kMaxReceivedLog) {
            received.push_back(arrival);
        }
        handleByte(arrival.byte, arrival.atUs);
    }
}

std::size_t Vx310Sim::hostRead(std::uint64_t nowUs, std::uint8_t* buffer, std::size_t capacity) {
    advanceTo(nowUs);
    std::size_t count = 0;
    while (count < capacity && !m_toHost.empty() && m_toHost.front().atUs <= m_nowUs) {
        buffer[count++] = m_toHost.front().byte;
        m_toHost.pop_front();
    }
    return count;
}

std::uint64_t Vx310Sim::inputDrainedAtUs() const {
    return m_hostLineFreeUs;
}

std::uint64_t Vx310Sim::nextEventUs() const {
    std::uint64_t next = kNever;
    if (!m_toDevice.empty()) {
        next = m_toDevice.front().atUs;
    }
    if (!m_toHost.empty()) {
        next = std::min(next, m_toHost.front().atUs);
    }
    return next;
}

void Vx310Sim::handleByte(std::uint8_t byte, std::uint64_t atUs) {
    if (!m_inMonitor) {
        return;  // the user program runs; it ignores the configuration port
    }
    switch (m_input) {
        case Input::Line:
            if (byte == kEnq) {
                m_input = Input::Enq;
            } else if (byte == kCr) {
                const std::string line = std::move(m_line);
                m_line.clear();
                handleLine(line, atUs);
            } else if (byte >= 0x20 && byte < 0x7F && m_line.size() < kMaxLineLength) {
                m_line += static_cast<char>(byte);
            }
            break;
        case Input::Enq:
            m_input = Input::Line;
            if (byte == kReadCommand) {
                ++readCommands;
                answer(readReply(), atUs);
            } else if (byte == kLoadCommand) {
                m_loadText.clear();
                m_input = Input::LoadText;
            }
            break;
        case Input::LoadText:
            // The block text is taken verbatim: a CR in it is data, not the end of a line.
            m_loadText += static_cast<char>(byte);
            if (m_loadText.size() == kConfigTextLength) {
                m_input = Input::Line;
                storeLoad(atUs);
            }
            break;
    }
}

void Vx310Sim::handleLine(const std::string& line, std::uint64_t atUs) {
    if (line == "RU") {
        m_inMonitor = false;
        return;
    }
    // An empty line, or one the monitor does not know, just gets the prompt.
    answer(faults.prompt, atUs);
}

void Vx310Sim::answer(const std::string& bytes, std::uint64_t atUs) {
    if (faults.silent) {
        return;
    }
    const std::uint64_t start = atUs + std::uint64_t{faults.answerDelayMs} * 1000;
    for (char ch : bytes) {
        if (m_toHost.size() >= kMaxInFlight) {
            break;
        }
        const std::uint64_t arrival =
            std::max(start, m_deviceLineFreeUs) + (pacing ? kByteTimeUs : 0);
        m_deviceLineFreeUs = arrival;
        m_toHost.push_back({arrival, static_cast<std::uint8_t>(ch)});
    }
}

std::string Vx310Sim::readReply() const {
    std::string reply = encodeBlock(block);
    if (faults.wrongTag) {
        reply.replace(0, 3, "v20");
    }
    if (faults.corruptChecksum) {
        // First hex digit of the serial number, so the text still looks well formed.
        reply[4] = hexDigit(hexDigitValue(reply[4]) + 1);
    }
    reply += validProgram ? 'p' : 'n';
    if (faults.replyLengthDelta < 0) {
        const std::size_t cut =
            std::min(reply.size(), static_cast<std::size_t>(-faults.replyLengthDelta));
        reply.resize(reply.size() - cut);
    } else if (faults.replyLengthDelta > 0) {
        reply.append(static_cast<std::size_t>(faults.replyLengthDelta), '\r');
    }
    return reply;
}

void Vx310Sim::storeLoad(std::uint64_t /*atUs*/) {
    lastLoadText = m_loadText;
    ConfigBlock decoded = block;
    bool programFlag = false;  // the load text has no status character; the result is unused
    if (ConfigBlock::hasCompatibleTag(m_loadText.data(), m_loadText.size()) &&
        decodeBlock(m_loadText, true, decoded, programFlag)) {
        block = decoded;
        ++loadsStored;
    } else {
        ++loadsRejected;
    }
    m_loadText.clear();
}
