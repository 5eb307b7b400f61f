#include "ProgramCommands.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "configfiles/ConfigFileCommands.h"
#include "editor/HelpContexts.h"
#include "editor/Settings.h"
#include "platform/FileWrite.h"
#include "program/HexWriter.h"

namespace {

FileDialogRequest hexRequest(FileDialogKind kind, const char* title, const std::string& folder,
                             std::size_t capacity) {
    return fileRequest(kind, title, ProgramText::kFilter, ProgramText::kExtension, folder,
                       kUploadFileHelpContext, capacity);
}

// Closes the descriptor however the command is left.
struct FileCloser {
    int fd;
    ~FileCloser() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
};

}  // namespace

ProgramCommands::ProgramCommands(CommandHost& editor, FileChooser& files, FileSaver& saver,
                                 ProgramView& view)
    : m_editor(editor), m_files(files), m_saver(saver), m_view(view) {}

FileDialogRequest ProgramCommands::uploadRequest(const std::string& folder) {
    FileDialogRequest request =
        hexRequest(FileDialogKind::Open, ProgramText::kUploadTitle, folder, kUploadPathCapacity);
    request.fileMustExist = true;
    return request;
}

FileDialogRequest ProgramCommands::downloadRequest(const std::string& folder) {
    FileDialogRequest request = hexRequest(FileDialogKind::Save, ProgramText::kDownloadTitle,
                                           folder, kDownloadPathCapacity);
    request.overwritePrompt = true;
    request.pathMustExist = true;
    return request;
}

bool ProgramCommands::ask(const std::string& question, const char* caption) {
    return m_editor.notifier().show({question, caption, NoticeIcon::Question,
                                     NoticeButtons::YesNo}) == NoticeAnswer::Yes;
}

void ProgramCommands::fileError(const std::string& text) {
    m_editor.notifier().show({text, ProgramText::kFileErrorCaption, NoticeIcon::Exclamation,
                              NoticeButtons::Ok, NoticeKind::FileError});
}

void ProgramCommands::uploadProgram() {
    const std::optional<ChosenFile> chosen =
        m_files.choose(uploadRequest(m_editor.userProgramDir()));
    if (!chosen) {
        return;
    }
    if (!ask("Are you sure that you want to upload user program \"" + chosen->fileName + "\"?",
             ProgramText::kUploadCaption)) {
        return;
    }
    m_editor.rememberUserProgramDir(folderOfChosenFile(chosen->path, chosen->fileName));
    FileCloser file{::open(chosen->path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)};
    struct stat info {};
    if (file.fd < 0 || ::fstat(file.fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        fileError("Unable to open file: \"" + chosen->path + "\"?");
        return;
    }
    std::uint8_t first = 0;
    if (::read(file.fd, &first, 1) != 1 || first != ':') {
        m_editor.notifier().show({ProgramText::kInvalidFormat, ProgramText::kUploadTitle,
                                  NoticeIcon::Exclamation, NoticeButtons::Ok,
                                  NoticeKind::FileError});
        return;
    }
    ::lseek(file.fd, 0, SEEK_SET);
    m_editor.setProgramButtons(false, m_editor.deleteEnabled());
    FdProgramFile program(file.fd);
    const auto size = static_cast<std::uint32_t>(std::min<off_t>(info.st_size, 0xFFFFFFFF));
    m_view.runTransferDialog(
        [&](Transfer& transfer) { transfer.PrepareUpload(chosen->fileName, program, size); });
    m_editor.readConfiguration();
}

void ProgramCommands::deleteProgram() {
    if (!ask(ProgramText::kDeleteQuestion, ProgramText::kDeleteCaption)) {
        return;
    }
    m_view.runTransferDialog([](Transfer& transfer) { transfer.PrepareDelete(); });
    m_editor.readConfiguration();
}

void ProgramCommands::downloadProgram() {
    const std::optional<ChosenFile> chosen =
        m_files.choose(downloadRequest(m_editor.userProgramDir()));
    if (!chosen) {
        return;
    }
    m_editor.rememberUserProgramDir(folderOfChosenFile(chosen->path, chosen->fileName));
    const std::string temporary = chosen->path + ".tmp";
    const std::string writeError = writeErrorText(chosen->path);
    // Neither file may be a FIFO or a device: nothing is created or replaced then.
    if (const std::string why = unwritableReason(chosen->path); !why.empty()) {
        fileError(writeError + reasonSuffix(why));
        return;
    }
    std::string why;
    const int fd = openRegularForWriting(temporary, 0, why);
    if (fd < 0 && why == kNotRegularReason) {
        fileError(writeErrorText(temporary) + reasonSuffix(why));
        return;
    }
    if (fd < 0 || ::ftruncate(fd, 0) != 0) {
        if (fd >= 0) {
            ::close(fd);
        }
        fileError(writeError);
        return;
    }
    m_editor.setProgramButtons(false, false);
    FdProgramFile output(fd);
    m_view.runTransferDialog(
        [&](Transfer& transfer) { transfer.PrepareDownload(chosen->fileName, output); });
    const bool closed = ::close(fd) == 0;
    // A disk that filled up leaves the device's answer short: that is the file's fault, said
    // before the conversion reports the shortage.
    if (output.writeFailed()) {
        fileError(writeErrorText(temporary));
    }
    ConvertDownloadToHex(temporary, chosen->path, m_editor.notifier(), m_saver);
    m_editor.setProgramButtons(true, true);
    if (!closed) {
        fileError(writeError);
    }
}
