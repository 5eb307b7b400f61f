#include "Vx310Sim.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr std::uint8_t kCr = 0x0D;
constexpr std::uint8_t kEnq = 0x05;
constexpr std::uint8_t kReadCommand = 'D';
constexpr std::uint8_t kLoadCommand = 'L';
constexpr std::uint8_t kEot = 0x04;
constexpr std::uint8_t kEsc = 0x1B;
constexpr std::uint32_t kProgramStart = 0x4004;
constexpr std::size_t kMaxProgram = 0x8000 - 4;   // what fits in a 65536-character download
constexpr std::size_t kMaxHexLine = 80;           // longer lines are error 13
constexpr std::uint64_t kUploadIdleUs = 2000000;  // a HEX file silent this long has ended

int hexPair(const std::string& text, std::size_t at) {
    auto digit = [](char c) {
        return c >= '0' && c <= '9'   ? c - '0'
               : c >= 'A' && c <= 'F' ? c - 'A' + 10
               : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                      : -1;
    };
    if (at + 1 >= text.size()) {
        return -1;
    }
    const int hi = digit(text[at]);
    const int lo = digit(text[at + 1]);
    return hi < 0 || lo < 0 ? -1 : hi * 16 + lo;
}

// A host that writes without end, or never reads, must not eat all memory.
constexpr std::size_t kMaxInFlight = std::size_t{1} << 20;
constexpr std::size_t kMaxReceivedLog = 1000000;
// The monitor has no use for longer lines; the rest is dropped.
constexpr std::size_t kMaxLineLength = 256;

char hexDigit(int value) {
    return "0123456789abcdef"[value & 0x0F];
}

}  // namespace

Vx310Sim::Vx310Sim() : block(defaultBlock()) {
    // A small stored program, so that a download has something to bring back.
    std::vector<std::uint8_t> sample;
    for (unsigned i = 0; i < 40; ++i) {
        sample.push_back(static_cast<std::uint8_t>(0x10 + i * 7));
    }
    storeProgram(std::move(sample));
}

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
    talkOn();
    // A HEX file that stops without its end record.
    if (m_input == Input::Upload && m_uploadBytes > 0 && !m_uploadQuiet &&
        m_nowUs >= m_lastUploadUs + kUploadIdleUs) {
        uploadFailed(10, m_lastUploadUs + kUploadIdleUs);
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

void Vx310Sim::talkOn() {
    // A tick's worth of download ahead, but only the next line of waiting, so that a CR ESC
    // is answered soon after it.
    const std::size_t ahead = m_endless == Endless::Download ? 256 : 1;
    while (m_endless != Endless::No && !faults.silent && m_toHost.size() < ahead) {
        const std::uint64_t from = std::max(m_nowUs, m_deviceLineFreeUs);
        if (m_endless == Endless::Download) {
            answer("a5", from);
        } else {
            answer("Waiting " + std::to_string(++m_waitingLines) + "\r\n", from + 1000000);
        }
    }
}

void Vx310Sim::handleByte(std::uint8_t byte, std::uint64_t atUs) {
    if (!m_inMonitor) {
        return;  // the user program runs; it ignores the configuration port
    }
    if (byte == kEsc && m_endless == Endless::Download) {
        m_endless = Endless::No;
    }
    switch (m_input) {
        case Input::Overwrite:
            if (byte == 'Y' || byte == 'y') {
                m_input = Input::Upload;
                m_hexLine.clear();
                m_newProgram.clear();
                m_uploadBytes = 0;
                m_records = 0;
                m_uploadQuiet = false;
                answer("\r\nWaiting for HEX file\r\n", atUs);
            } else {
                m_input = Input::Line;
                answer("\r\n" + faults.prompt, atUs);
            }
            break;
        case Input::Upload:
            handleUpload(byte, atUs);
            break;
        case Input::Line:
            if (byte == kEnq) {
                m_input = Input::Enq;
            } else if (byte == kCr) {
                const std::string line = std::move(m_line);
                m_line.clear();
                handleLine(line, atUs);
            } else if ((byte >= 0x20 && byte < 0x7F) || byte == kEot) {
                if (m_line.size() < kMaxLineLength) {
                    m_line += static_cast<char>(byte);
                }
            }
            break;
        case Input::Enq:
            m_input = Input::Line;
            if (byte == kReadCommand) {
                ++readCommands;
                answer(readReply(), atUs);
                // A unit that stops answering in the middle of a run.
                if (faults.silentAfterReads >= 0 && readCommands >= faults.silentAfterReads) {
                    faults.silent = true;
                }
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
    if (line == "UF" || line == "UF \x04") {
        if (faults.ignoreUf) {
            return;
        }
        if (line == "UF") {
            m_input = Input::Overwrite;
            answer("\r\nOverwrite existing program (Y/N)?", atUs);
            return;
        }
        std::string text = downloadText(validProgram ? program : std::vector<std::uint8_t>());
        text.resize(text.size() - std::min(faults.shortDownload, text.size()));
        if (faults.endlessDownload) {
            answer("\r\nUF" + text, atUs);
            m_endless = Endless::Download;
            return;
        }
        answer("\r\nUF" + text + faults.prompt, atUs);
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
        if (faults.ignoreStores) {
            ++loadsIgnored;
        } else {
            block = decoded;
            ++loadsStored;
        }
    } else {
        ++loadsRejected;
    }
    m_loadText.clear();
}

void Vx310Sim::storeProgram(std::vector<std::uint8_t> bytes) {
    program = std::move(bytes);
    validProgram = !program.empty();
}

std::uint16_t Vx310Sim::programChecksum(const std::vector<std::uint8_t>& bytes) {
    unsigned sum = 0;
    for (std::size_t k = 0; k < bytes.size(); k += 2) {
        const unsigned low = k + 1 < bytes.size() ? bytes[k + 1] : 0;
        sum = (sum + bytes[k] * 256u + low) & 0xFFFF;
    }
    return static_cast<std::uint16_t>(sum ^ 0xFFFF);
}

std::string Vx310Sim::downloadText(const std::vector<std::uint8_t>& bytes) {
    std::string text;
    auto put = [&text](unsigned value) {
        text += hexDigit(static_cast<int>(value >> 4));
        text += hexDigit(static_cast<int>(value));
    };
    const unsigned length = static_cast<unsigned>(bytes.size());
    const unsigned checksum = programChecksum(bytes);
    put(length >> 8);
    put(length & 0xFF);
    put(checksum >> 8);
    put(checksum & 0xFF);
    for (const std::uint8_t b : bytes) {
        put(b);
    }
    return text;
}

void Vx310Sim::uploadFailed(int code, std::uint64_t atUs) {
    m_input = Input::Line;
    answer("\r\nError=" + std::to_string(code) + "\r\n" + faults.prompt, atUs);
}

void Vx310Sim::handleUpload(std::uint8_t byte, std::uint64_t atUs) {
    if (byte == kEsc) {
        // CR ESC: the transfer stops and the stored program is gone.
        m_input = Input::Line;
        m_endless = Endless::No;
        storeProgram({});
        ++programsErased;
        answer("\r\n" + faults.prompt, atUs);
        return;
    }
    ++m_uploadBytes;
    m_lastUploadUs = atUs;
    if (faults.stopAfterUploadBytes >= 0 &&
        m_uploadBytes > static_cast<std::size_t>(faults.stopAfterUploadBytes)) {
        m_uploadQuiet = true;
    }
    if (m_uploadQuiet) {
        return;
    }
    if (byte == kCr || byte == '\n') {
        if (!m_hexLine.empty()) {
            handleHexLine(atUs);
            m_hexLine.clear();
        }
        return;
    }
    m_hexLine += static_cast<char>(byte);
    if (m_hexLine.size() > kMaxHexLine) {
        uploadFailed(13, atUs);
    }
}

void Vx310Sim::handleHexLine(std::uint64_t atUs) {
    const std::string& line = m_hexLine;
    if (faults.uploadError != 0) {
        uploadFailed(faults.uploadError, atUs);
        return;
    }
    if (line[0] != ':') {
        uploadFailed(12, atUs);
        return;
    }
    std::vector<int> bytes;
    for (std::size_t at = 1; at < line.size(); at += 2) {
        bytes.push_back(hexPair(line, at));
    }
    const bool wellFormed = line.size() % 2 == 1 && bytes.size() >= 5 &&
                            std::find(bytes.begin(), bytes.end(), -1) == bytes.end() &&
                            static_cast<std::size_t>(bytes[0]) + 5 == bytes.size();
    unsigned sum = 0;
    for (const int b : bytes) {
        sum += static_cast<unsigned>(b);
    }
    if (!wellFormed || (sum & 0xFF) != 0) {
        uploadFailed(11, atUs);
        return;
    }
    const unsigned count = static_cast<unsigned>(bytes[0]);
    const unsigned address = static_cast<unsigned>(bytes[1] * 256 + bytes[2]);
    const int type = bytes[3];
    if (type == 1 && faults.endlessWaiting) {
        // Still in the upload, where only CR ESC is heard.
        m_uploadQuiet = true;
        m_endless = Endless::Waiting;
        return;
    }
    if (type == 1) {
        const std::size_t size = m_newProgram.size();
        storeProgram(std::move(m_newProgram));
        ++uploadsStored;
        m_input = Input::Line;
        if (faults.endWithWait) {
            // The device thinks for a moment after the last Addr line before it says this.
            answer("\r\nBurning " + std::to_string(size) + " bytes, wait..\r\n" + faults.prompt,
                   atUs + kBurnPauseUs);
        } else {
            answer("\r\nDone\r\n" + faults.prompt, atUs);
        }
        return;
    }
    if (type != 0 || address < kProgramStart || address + count > kProgramStart + kMaxProgram) {
        uploadFailed(14, atUs);
        return;
    }
    const std::size_t offset = address - kProgramStart;
    if (m_newProgram.size() < offset + count) {
        m_newProgram.resize(offset + count, 0xFF);
    }
    for (unsigned k = 0; k < count; ++k) {
        m_newProgram[offset + k] = static_cast<std::uint8_t>(bytes[4 + k]);
    }
    if (++m_records % 8 == 0) {
        char progress[32];
        std::snprintf(progress, sizeof progress, "Addr %04X\r\n", address);
        answer(progress, atUs);
    }
}
