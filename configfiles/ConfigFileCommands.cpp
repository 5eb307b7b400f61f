#include "ConfigFileCommands.h"

#include "editor/HelpContexts.h"
#include "editor/Settings.h"
#include "platform/AnsiText.h"

std::string saveQuestion(const std::string& fileName) {
    return "Save the current configuration to \"" + fileName + "\"?";
}

std::string writeErrorText(const std::string& path) {
    return "Unable to write file: \"" + path + "\"?";
}

std::string openErrorText(const std::string& path) {
    return "Unable to open file: \"" + path + "\"?";
}

std::string incompatibleText(const std::string& fileName) {
    return "\"" + fileName + "\" is not compatible with this version of VX310";
}

void DescriptionDialog::Prepare(bool isSave, const std::string& fileName,
                                const std::string& description) {
    m_isSave = isSave;
    m_description = isSave ? std::string() : description;
    m_question = isSave ? saveQuestion(fileName) : FileText::kLoadQuestion;
}

const char* DescriptionDialog::caption() const {
    return m_isSave ? FileText::kSaveCaption : FileText::kLoadCaption;
}

int DescriptionDialog::yes(const std::string& text) {
    m_description = text;
    return kYes;
}

ConfigFileCommands::ConfigFileCommands(CommandHost& editor, FileChooser& files, FileSaver& saver,
                                       ConfigFileView& view)
    : m_editor(editor), m_files(files), m_saver(saver), m_view(view) {}

namespace {

FileDialogRequest baseRequest(FileDialogKind kind, const char* title, const std::string& folder) {
    return fileRequest(kind, title, FileText::kFilter, FileText::kExtension, folder,
                       kConfigFileHelpContext, kConfigPathCapacity);
}

}  // namespace

FileDialogRequest ConfigFileCommands::saveRequest(const std::string& folder) {
    FileDialogRequest request = baseRequest(FileDialogKind::Save, FileText::kSaveTitle, folder);
    request.overwritePrompt = true;
    request.pathMustExist = true;
    return request;
}

FileDialogRequest ConfigFileCommands::loadRequest(const std::string& folder) {
    FileDialogRequest request = baseRequest(FileDialogKind::Open, FileText::kLoadTitle, folder);
    request.fileMustExist = true;
    return request;
}

void ConfigFileCommands::notify(const std::string& text, const char* caption) {
    // Every notice of Load and Save is about a file.
    m_editor.notifier().show(
        {text, caption, NoticeIcon::Exclamation, NoticeButtons::Ok, NoticeKind::FileError});
}

void ConfigFileCommands::saveConfigFile() {
    DescriptionDialog dialog;
    while (true) {
        // Cancel always ends the command, also after a Reselect.
        const std::optional<ChosenFile> chosen =
            m_files.choose(saveRequest(m_editor.configFileDir()));
        if (!chosen) {
            return;
        }
        dialog.Prepare(true, chosen->fileName, std::string());
        const int result = m_view.runDescriptionDialog(dialog);
        if (result == DescriptionDialog::kReselect) {
            continue;
        }
        if (result != DescriptionDialog::kYes) {
            return;
        }
        m_editor.rememberConfigFileDir(folderOfChosenFile(chosen->path, chosen->fileName));
        if (!WriteConfigFile(chosen->path, m_editor.block(), dialog.GetDescription(), m_saver)) {
            notify(writeErrorText(chosen->path) + reasonSuffix(m_saver.refusal()),
                   FileText::kFileErrorCaption);
        }
        return;
    }
}

void ConfigFileCommands::loadConfigFile(const Reader& read) {
    DescriptionDialog dialog;
    bool reselected = false;
    while (true) {
        const std::optional<ChosenFile> chosen =
            m_files.choose(loadRequest(m_editor.configFileDir()));
        if (!chosen) {
            return;
        }
        m_editor.rememberConfigFileDir(folderOfChosenFile(chosen->path, chosen->fileName));
        const ConfigFileContents file = read ? read(chosen->path) : ReadConfigFile(chosen->path);
        if (file.status != ConfigFileStatus::Loaded) {
            if (file.status == ConfigFileStatus::OpenFailed) {
                notify(openErrorText(chosen->path), FileText::kFileErrorCaption);
            } else if (file.status == ConfigFileStatus::Incompatible) {
                notify(incompatibleText(chosen->fileName), FileText::kIncompatibleCaption);
            }
            // After a Reselect the user is still choosing: back to the file dialog.
            if (reselected) {
                continue;
            }
            return;
        }
        dialog.Prepare(false, chosen->fileName, file.description);
        const int result = m_view.runDescriptionDialog(dialog);
        if (result == DescriptionDialog::kReselect) {
            reselected = true;
            continue;
        }
        if (result != DescriptionDialog::kYes) {
            return;
        }
        m_editor.sendBlock(blockToLoad(file.block, m_editor.block()));
        return;
    }
}

ConfigBlock blockToLoad(const ConfigBlock& fromFile, const ConfigBlock& current) {
    ConfigBlock block = fromFile;
    block.versionTag = current.versionTag;
    block.setWord(Offset::serialNumber, current.serialNumber());
    block.setByte(Offset::portInterfaces, current.byte(Offset::portInterfaces));
    block.setByte(Offset::productType, current.byte(Offset::productType));
    return block;
}

std::string descriptionForWidget(const std::string& bytes) {
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') {
            continue;  // CR LF shows as one line break
        }
        text += bytes[i];
    }
    return ansiToUtf8(text);
}

std::string descriptionFromWidget(const std::string& utf8) {
    const std::string ansi = utf8ToAnsi(utf8);
    std::string bytes;
    for (const char ch : ansi) {
        if (ch == '\n') {
            bytes += '\r';
        }
        bytes += ch;
    }
    return bytes;
}
