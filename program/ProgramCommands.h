#pragma once

#include <functional>
#include <string>

#include "editor/CommandHost.h"
#include "platform/FileDialog.h"
#include "platform/FileSaver.h"
#include "program/Transfer.h"

namespace ProgramText {
inline constexpr char kUploadTitle[] = "Upload User HEX Program File";
inline constexpr char kDownloadTitle[] = "Download User Program From VX310";
inline constexpr char kFilter[] = "Hex files (*.hex)|*.hex|All files (*.*)|*.*||";
inline constexpr char kExtension[] = "hex";
inline constexpr char kUploadCaption[] = "Upload User HEX Program";
inline constexpr char kDeleteQuestion[] =
    "Are you sure that you want to delete the uploaded program?";
inline constexpr char kDeleteCaption[] = "Delete User HEX Program";
inline constexpr char kInvalidFormat[] = "Invalid file format";
inline constexpr char kFileErrorCaption[] = "File error";
}  // namespace ProgramText

inline constexpr std::size_t kUploadPathCapacity = 260;
inline constexpr std::size_t kDownloadPathCapacity = 1024;

// What the commands need of the windows: the transfer dialog, run modally after prepare
// has set it up for its mode.
class ProgramView {
public:
    virtual ~ProgramView() = default;
    virtual int runTransferDialog(const std::function<void(Transfer&)>& prepare) = 0;
};

// "Up&load Program", "&Delete Program" and File, "Download Program".
class ProgramCommands {
public:
    ProgramCommands(CommandHost& editor, FileChooser& files, FileSaver& saver, ProgramView& view);

    void uploadProgram();
    void deleteProgram();
    void downloadProgram();

    static FileDialogRequest uploadRequest(const std::string& folder);
    static FileDialogRequest downloadRequest(const std::string& folder);

private:
    bool ask(const std::string& question, const char* caption);
    void fileError(const std::string& text);

    CommandHost& m_editor;
    FileChooser& m_files;
    FileSaver& m_saver;
    ProgramView& m_view;
};
