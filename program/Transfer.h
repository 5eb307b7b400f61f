#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "device/DeviceHost.h"

// The transfer dialog's work: the "UF" dialogue with the VX310 that uploads a HEX file,
// deletes the stored program or downloads it, one timer tick at a time.

enum class TransferState {
    Start = 0,
    WaitPrompt = 1,
    WaitReply = 2,
    Begin = 3,
    Sending = 4,
    WaitDone = 5,
    Completed = 6,
    Aborting = 7,
    Receiving = 8
};
enum class TransferMode { Upload = 0, Delete = 1, Download = 2 };

namespace TransferText {
inline constexpr char kCaption[] = "Uploading user HEX program";
inline constexpr char kDeleteCaption[] = "Deleting User Program";
inline constexpr char kDownloadCaption[] = "Downloading VX310 Program";
inline constexpr char kDeleting[] = "Deleting user program...";
inline constexpr char kAbort[] = "&Abort";
inline constexpr char kUploadAborted[] = "Program Upload Aborted";
inline constexpr char kDownloadAborted[] = "Program Download Aborted";
inline constexpr char kAbortingUpload[] = "Aborting Upload...";
inline constexpr char kAbortingDownload[] = "Aborting Download...";
inline constexpr char kReadFailed[] = "Failed to read from file";
inline constexpr char kReadFailedCaption[] = "Upload user HEX file";
inline constexpr char kDeviceErrorCaption[] = "VX310 error";
inline constexpr char kCompleteCaption[] = "Upload complete";
inline constexpr char kUnexpectedCaption[] = "Unexpected response from VX310";
inline constexpr char kModeOff[] =
    "Please note: ADE fixed program mode must be set to \"off\" for the uploaded program to "
    "run";
inline constexpr char kIncomplete[] = "Download did not complete. %u bytes received.";
inline constexpr char kIncompleteCaption[] = "VX310-PROG Download Program";
}  // namespace TransferText

// The file a transfer reads from (upload) or writes to (download); the caller owns it.
class ProgramFile {
public:
    virtual ~ProgramFile() = default;
    // The number of bytes read or written, or -1 when that failed.
    virtual long read(std::uint8_t* buffer, std::size_t count) = 0;
    virtual long write(const std::uint8_t* data, std::size_t count) = 0;
};

// Everything the transfer dialog shows.
struct TransferScreen {
    std::string caption = TransferText::kCaption;
    std::string statusText;
    std::string detailText;
    bool abortVisible = true;
    int progressMin = 0;
    int progressMax = 100;
    int progressPos = 0;
};

class Transfer {
public:
    static constexpr int kTickMs = 100;
    static constexpr std::size_t kBlockBytes = 80;
    static constexpr unsigned kAbortTicks = 20;
    static constexpr unsigned kIdleLimit = 20;
    static constexpr int kReceiveRange = 0xFFB0;

    Transfer(DeviceHost& host, DialogControl& dialog);

    void PrepareUpload(const std::string& fileName, ProgramFile& file, std::uint32_t size);
    void PrepareDelete();
    void PrepareDownload(const std::string& fileName, ProgramFile& file);

    // The dialog opens: the first state, and the timer.
    void start();
    void tick();
    // Abort, Alt+A or Escape: leaves any state that waits for the device.
    void abort();

    const TransferScreen& screen() const { return m_screen; }
    TransferState state() const { return m_state; }
    TransferMode mode() const { return m_mode; }
    unsigned tickCount() const { return m_tickCount; }
    unsigned receivedChars() const { return m_receivedChars; }
    // Download: every character written to the output file, the first chunk's too.
    unsigned fileChars() const { return m_fileChars; }

private:
    bool withDevice() const { return m_host.pcPort() != 0; }
    void step();
    void sendingTick();
    void abortingTick();
    void receivingTick();
    void finishTick();
    bool writeToFile(const std::uint8_t* data, std::size_t count);
    // The device went away: the port's notice and the end, unless it is back already;
    // whether the transfer ended.
    bool deviceGone();
    void notify(const std::string& text, const char* caption, NoticeIcon icon, NoticeKind kind);

    DeviceHost& m_host;
    DialogControl& m_dialog;
    TransferScreen m_screen;
    TransferState m_state = TransferState::Start;
    TransferMode m_mode = TransferMode::Upload;
    ProgramFile* m_file = nullptr;
    std::uint32_t m_programSize = 0;
    std::uint32_t m_bytesRead = 0;  // upload: from the file so far
    unsigned m_tickCount = 0;
    unsigned m_abortTicks = 0;
    unsigned m_receivedChars = 0;
    unsigned m_fileChars = 0;
    unsigned m_idleTicks = 0;
    int m_progressStep = 10;
    bool m_busy = false;  // a tick or a notice of ours is under way
};

// A ProgramFile over an open file descriptor.
class FdProgramFile : public ProgramFile {
public:
    explicit FdProgramFile(int fd) : m_fd(fd) {}
    long read(std::uint8_t* buffer, std::size_t count) override;
    long write(const std::uint8_t* data, std::size_t count) override;
    // Whether any write failed (a full disk): the transfer goes on, but the file is short.
    bool writeFailed() const { return m_writeFailed; }

private:
    int m_fd;
    bool m_writeFailed = false;
};
