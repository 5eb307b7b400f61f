#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "device/ConfigBlock.h"

// Ways the simulated device can misbehave.
struct SimFaults {
    bool silent = false;              // answers nothing at all
    bool wrongTag = false;            // the read reply carries a tag that does not begin "v10"
    bool corruptChecksum = false;     // the read reply's data does not match its checksum
    int replyLengthDelta = 0;         // -1: the read reply is one byte short, +1: one byte too many
    std::uint32_t answerDelayMs = 0;  // every answer starts this much later
    std::string prompt = ">";         // what the device sends as its prompt
    int uploadError = 0;              // non-zero: the first HEX record is answered Error=N
    long stopAfterUploadBytes = -1;   // >= 0: goes quiet after this many bytes of a HEX file
    bool ignoreUf = false;            // says nothing to "UF"
    bool endWithWait = false;         // ends an upload with "Burning N bytes, wait.." after a
                                      // pause, instead of "Done"
    std::size_t shortDownload = 0;    // characters left off the end of a download
    bool ignoreStores = false;        // takes the store command as usual but keeps its block
    int silentAfterReads = -1;        // >= 0: answers nothing after this many reads
    bool endlessDownload = false;     // a download's text never ends, until CR ESC
    bool endlessWaiting = false;      // after an upload's end record, a "Waiting" line a second
                                      // for ever instead of "Done", until CR ESC
};

// A byte-level model of the VX310's EXECUTIVE command monitor, with the serial wire in both
// directions. Time is in microseconds and only moves when the caller says so.
class Vx310Sim {
public:
    // 10 bits a byte at 9600 baud.
    static constexpr std::uint64_t kByteTimeUs = 1042;
    static constexpr std::uint64_t kNever = std::numeric_limits<std::uint64_t>::max();
    // How long the device is quiet between the end record and its ", wait.." ending.
    static constexpr std::uint64_t kBurnPauseUs = 500000;

    Vx310Sim();

    // --- host side of the wire ---
    // Bytes the host sends at nowUs; with pacing they reach the device one byte time apart.
    void hostWrite(const std::uint8_t* data, std::size_t count, std::uint64_t nowUs);
    // Lets the device handle every byte that has reached it by nowUs.
    void advanceTo(std::uint64_t nowUs);
    // Device output that has reached the host by nowUs, at most capacity bytes.
    std::size_t hostRead(std::uint64_t nowUs, std::uint8_t* buffer, std::size_t capacity);
    // When the last byte the host has sent reaches the device.
    std::uint64_t inputDrainedAtUs() const;
    // The next moment at which something happens on the wire; kNever when nothing is due.
    std::uint64_t nextEventUs() const;

    // --- the device ---
    ConfigBlock block;         // the stored configuration
    bool validProgram = true;  // a valid user program is stored
    SimFaults faults;
    bool pacing = true;  // wire timing at 9600 baud; off, bytes move instantly

    // False once "RU" has started the device's program: the monitor answers no more.
    bool inMonitor() const { return m_inMonitor; }

    // The user program, stored from 0x4004; the 'p' status follows it.
    std::vector<std::uint8_t> program;
    // Replaces the stored program (and its status).
    void storeProgram(std::vector<std::uint8_t> bytes);
    // The download form of the program: length, checksum, bytes, in hexadecimal text.
    static std::string downloadText(const std::vector<std::uint8_t>& bytes);
    static std::uint16_t programChecksum(const std::vector<std::uint8_t>& bytes);

    // --- what tests look at ---
    struct Arrival {
        std::uint64_t atUs;
        std::uint8_t byte;
    };
    std::vector<Arrival> received;  // every byte that reached the device
    int loadsStored = 0;            // store commands accepted
    int loadsRejected = 0;          // store commands whose block was refused
    int loadsIgnored = 0;           // good store commands dropped by ignoreStores
    std::string lastLoadText;       // the 260 characters of the last store command
    int readCommands = 0;           // read commands handled (counted when silent, too)
    int uploadsStored = 0;          // HEX files accepted
    int programsErased = 0;         // uploads and deletes aborted with CR ESC

    // A plausible device: PROG product with a valid program.
    static ConfigBlock defaultBlock();

private:
    void handleByte(std::uint8_t byte, std::uint64_t atUs);
    void handleLine(const std::string& line, std::uint64_t atUs);
    void answer(const std::string& bytes, std::uint64_t atUs);
    std::string readReply() const;
    void storeLoad(std::uint64_t atUs);

    void handleUpload(std::uint8_t byte, std::uint64_t atUs);
    // Keeps an endless answer going, a little ahead of the wire.
    void talkOn();
    void handleHexLine(std::uint64_t atUs);
    void uploadFailed(int code, std::uint64_t atUs);

    enum class Input { Line, Enq, LoadText, Overwrite, Upload };

    std::deque<Arrival> m_toDevice;        // in flight from the host
    std::deque<Arrival> m_toHost;          // in flight to the host
    std::uint64_t m_hostLineFreeUs = 0;    // when the host's side of the wire is free again
    std::uint64_t m_deviceLineFreeUs = 0;  // the same for the device's side
    std::uint64_t m_nowUs = 0;             // the latest time seen; time never runs backwards
    Input m_input = Input::Line;
    std::string m_line;
    std::string m_loadText;
    bool m_inMonitor = true;
    // The HEX file being received.
    std::string m_hexLine;
    std::vector<std::uint8_t> m_newProgram;
    std::size_t m_uploadBytes = 0;
    std::uint64_t m_lastUploadUs = 0;
    std::size_t m_records = 0;
    bool m_uploadQuiet = false;
    enum class Endless { No, Download, Waiting };
    Endless m_endless = Endless::No;
    unsigned m_waitingLines = 0;
};
