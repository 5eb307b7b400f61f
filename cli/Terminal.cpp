#include "Terminal.h"

#include <algorithm>
#include <cstdio>
#include <ostream>

#include "platform/AnsiText.h"

namespace {

void appendEscape(std::string& out, unsigned char byte) {
    char escape[8];
    std::snprintf(escape, sizeof escape, "\\x%02x", byte);
    out += escape;
}

// U+0080 to U+009F: in UTF-8, C2 80 to C2 9F.
bool c1Control(std::string_view text, std::size_t i) {
    return static_cast<unsigned char>(text[i]) == 0xC2 && i + 1 < text.size() &&
           static_cast<unsigned char>(text[i + 1]) <= 0x9F;
}

}  // namespace

std::string terminalText(std::string_view text, bool lineBreaks) {
    std::string shown;
    shown.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte >= 0x20 && byte < 0x7F) {
            shown += text[i++];
        } else if (byte == '\n' && lineBreaks) {
            shown += text[i++];
        } else if (const std::size_t length = byte >= 0x80 ? utf8SequenceLength(text, i) : 0;
                   length > 0 && !c1Control(text, i)) {
            shown.append(text.substr(i, length));
            i += length;
        } else {
            appendEscape(shown, byte);
            ++i;
        }
    }
    return shown;
}

std::string descriptionForTerminal(const std::string& bytes) {
    std::string shown;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (byte == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') {
            continue;  // CR LF is one line break
        }
        // The bytes Windows-1252 leaves undefined stand for C1 controls.
        const bool c1 =
            byte == 0x81 || byte == 0x8D || byte == 0x8F || byte == 0x90 || byte == 0x9D;
        if ((byte < 0x20 && byte != '\n' && byte != '\t') || byte == 0x7F || c1) {
            appendEscape(shown, byte);
        } else {
            shown += bytes[i];
        }
    }
    return ansiToUtf8(shown);
}

void ProgressReport::show(const TransferScreen& screen, TransferMode mode, TransferState state,
                          unsigned downloadedBytes, std::uint64_t elapsedMs) {
    if (!screen.statusText.empty() && screen.statusText != m_lastStatus) {
        finish();
        m_lastStatus = screen.statusText;
        m_err << screen.statusText << "\n";
    }
    std::string line;
    int tenth = 0;
    // While aborting, the bar counts ticks, not bytes. A download's count is its own and
    // shown to its end, so that the last number is the program's length.
    const bool moving = state == TransferState::Sending || state == TransferState::WaitDone ||
                        state == TransferState::Receiving;
    if (!moving && mode != TransferMode::Download) {
        return;
    }
    if (mode == TransferMode::Upload && screen.progressMax > 0 && screen.progressPos > 0) {
        const auto done = static_cast<std::uint64_t>(screen.progressPos);
        const auto total = static_cast<std::uint64_t>(screen.progressMax);
        line = progressBar(done, total, elapsedMs);
        tenth = static_cast<int>(std::min(done, total) * 10 / total);
    } else if (mode == TransferMode::Download && downloadedBytes > 0) {
        // The size is not known until the device stops.
        char text[64];
        std::snprintf(text, sizeof text, "%u bytes received", downloadedBytes);
        line = text;
        tenth = static_cast<int>(downloadedBytes / 1024);
    } else {
        return;
    }
    if (line == m_lastLine) {
        return;
    }
    m_lastLine = line;
    if (m_terminal) {
        m_err << "\r" << line << "\033[K" << std::flush;
        m_drawn = true;
    } else if (tenth != m_lastTenth) {
        m_lastTenth = tenth;
        m_err << line << "\n";
    }
}

void ProgressReport::finish() {
    if (m_drawn) {
        m_err << "\n";
        m_drawn = false;
    }
}

std::string progressBar(std::uint64_t done, std::uint64_t total, std::uint64_t elapsedMs) {
    constexpr int kWidth = 30;
    done = std::min(done, total);
    const int filled = total ? static_cast<int>(done * kWidth / total) : 0;
    const unsigned percent = total ? static_cast<unsigned>(done * 100 / total) : 0;
    std::string bar = "[" + std::string(static_cast<std::size_t>(filled), '#') +
                      std::string(static_cast<std::size_t>(kWidth - filled), '.') + "]";
    char text[96];
    std::snprintf(text, sizeof text, " %llu/%llu bytes %3u%%",
                  static_cast<unsigned long long>(done), static_cast<unsigned long long>(total),
                  percent);
    bar += text;
    if (done > 0 && done < total) {
        const std::uint64_t leftS = (elapsedMs * (total - done) / done + 999) / 1000;
        std::snprintf(text, sizeof text, "  %llu:%02llu left",
                      static_cast<unsigned long long>(leftS / 60),
                      static_cast<unsigned long long>(leftS % 60));
        bar += text;
    }
    return bar;
}

unsigned downloadedProgramBytes(unsigned chars) {
    return chars / 2 > 4 ? chars / 2 - 4 : 0;
}

std::string readWaitingText(const std::string& port, unsigned secondsLeft) {
    return "reading from " + port + "\u2026 " + std::to_string(secondsLeft) + " s left";
}

std::string namingPort(const std::string& text, unsigned n, const std::string& path) {
    std::string named;
    const std::string number = "COM" + std::to_string(n);
    std::size_t from = 0;
    for (std::size_t at = text.find(number); at != std::string::npos;
         at = text.find(number, at + 1)) {
        const std::size_t end = at + number.size();
        if (end < text.size() && text[end] >= '0' && text[end] <= '9') {
            continue;  // COM25 inside COM255
        }
        named += text.substr(from, at - from) + path;
        from = end;
    }
    named += text.substr(from);
    const std::string generic = "The selected COM port";
    if (named.rfind(generic, 0) == 0) {
        named.replace(0, generic.size(), "The selected port " + path);
    }
    return named;
}
