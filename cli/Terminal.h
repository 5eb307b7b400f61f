#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>

#include "program/Transfer.h"

// What vxconf-cli writes for a person at a terminal.

// Text from outside the program (a device name, a plan's cells, a file name) as it may be
// shown: every control character, which a terminal would act on (ESC, a lone CR, C1 codes),
// and every byte that is not UTF-8, as \xHH. Line breaks are kept when lineBreaks is set.
std::string terminalText(std::string_view text, bool lineBreaks = false);

// A description (Windows-1252 bytes) as vxconf-cli prints it: UTF-8, CR LF as a line
// break, and every other control character shown as \xHH.
std::string descriptionForTerminal(const std::string& bytes);

// The progress of a transfer on standard error: a bar that redraws itself on a terminal,
// and a line at each tenth otherwise.
class ProgressReport {
public:
    ProgressReport(std::ostream& err, bool terminal) : m_err(err), m_terminal(terminal) {}
    // downloadedBytes: download, the program bytes received so far (the header left out), as
    // the final "Program length = N" counts them.
    void show(const TransferScreen& screen, TransferMode mode, TransferState state,
              unsigned downloadedBytes, std::uint64_t elapsedMs);
    // Ends the bar's line, once something has been drawn.
    void finish();

private:
    std::ostream& m_err;
    bool m_terminal;
    bool m_drawn = false;
    int m_lastTenth = -1;
    std::string m_lastLine;
    std::string m_lastStatus;
};

// "[#####.....]  4000/8000 bytes  50%  0:04 left"
std::string progressBar(std::uint64_t done, std::uint64_t total, std::uint64_t elapsedMs);

// The program bytes in a download's first chars characters: two hexadecimal digits a byte,
// after the length and checksum (four bytes).
unsigned downloadedProgramBytes(unsigned chars);

// While the configuration is read from a device that is slow to answer, on a terminal:
// "reading from PORT… 17 s left".
std::string readWaitingText(const std::string& port, unsigned secondsLeft);

// text with the port numbered n named by path instead ("COM255" and "The selected COM port").
std::string namingPort(const std::string& text, unsigned n, const std::string& path);
