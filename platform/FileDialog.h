#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/Notice.h"

// The standard open and save file dialogs. Every file the user picks goes through a
// FileChooser: the program shows a real dialog, tests answer from a script and keep each
// request for assertions.

enum class FileDialogKind { Open, Save };

// The Help button of every file dialog.
inline constexpr const char kFileDialogHelp[] = "&Help";

struct FileDialogRequest {
    FileDialogKind kind = FileDialogKind::Open;
    std::string title;
    // Description and pattern pairs, each part ended by '|', the list by one more:
    // "Hex files (*.hex)|*.hex|All files (*.*)|*.*||".
    std::string filter;
    std::string defaultExtension;  // without the dot; added to a name typed without one
    std::string initialFolder;
    bool overwritePrompt = false;  // ask before replacing an existing file
    bool pathMustExist = false;    // the chosen folder must exist
    bool fileMustExist = false;    // only existing files can be chosen
    bool hideReadOnly = true;      // no read-only check box
    bool helpButton = false;
    std::uint32_t helpContext = 0;  // the topic the Help button opens; 0 for the contents
    std::size_t pathCapacity = 0;   // room for the path, terminator included; 0 for no limit

    bool operator==(const FileDialogRequest& other) const;
};

// What every file command asks for: no read-only box, a Help button with its topic. The
// caller adds the options of its own.
FileDialogRequest fileRequest(FileDialogKind kind, std::string title, std::string filter,
                              std::string extension, std::string folder, std::uint32_t helpContext,
                              std::size_t pathCapacity);

struct ChosenFile {
    std::string path;      // full path
    std::string fileName;  // its last component
};

class FileChooser {
public:
    virtual ~FileChooser() = default;
    // Shows the dialog modally; nothing when the user cancelled.
    virtual std::optional<ChosenFile> choose(const FileDialogRequest& request) = 0;
};

// The filter's description and pattern pairs. A trailing description without a pattern is
// dropped, as is everything after the closing "||".
std::vector<std::pair<std::string, std::string>> filterEntries(const std::string& filter);

// "The path is too long: at most N characters.", N leaving room for the terminator.
std::string pathTooLongText(std::size_t capacity);
// "The folder "FOLDER" does not exist."
std::string noSuchFolderText(const std::string& folder);

// Why a path chosen in the dialog cannot be taken, as the notice that tells the user before
// the dialog comes back (the dialog's title as caption); nothing when it can be taken.
// folder is the path's folder, folderExists whether it is there.
std::optional<Notice> refusedPath(const FileDialogRequest& request, const std::string& path,
                                  const std::string& folder, bool folderExists);
