#pragma once

#include <functional>
#include <string>

#include "configfiles/ConfigFile.h"
#include "editor/CommandHost.h"
#include "platform/FileDialog.h"

namespace FileText {
inline constexpr const char kSaveTitle[] = "Save VX310 Configuration";
inline constexpr const char kLoadTitle[] = "Load VX310 Configuration";
inline constexpr const char kFilter[] = "VXC files (*.vxc)|*.vxc|All files (*.*)|*.*||";
inline constexpr const char kExtension[] = "vxc";
inline constexpr const char kSaveCaption[] = "Saving VX310 configuration";
inline constexpr const char kLoadCaption[] = "Loading VX310 configuration";
inline constexpr const char kLoadQuestion[] = "Update the VX310 with this configuration?";
inline constexpr const char kFileErrorCaption[] = "File error";
inline constexpr const char kIncompatibleCaption[] = "Error loading configuration";
inline constexpr const char kDescriptionLabel[] = "Configuration Description";
}  // namespace FileText

inline constexpr std::size_t kConfigPathCapacity = 512;

// "Save the current configuration to "NAME"?"
std::string saveQuestion(const std::string& fileName);
// "Unable to write file: "PATH"?", "Unable to open file: "PATH"?"
std::string writeErrorText(const std::string& path);
std::string openErrorText(const std::string& path);
// ""NAME" is not compatible with this version of VX310"
std::string incompatibleText(const std::string& fileName);

// The description dialog's rules: what it shows in each mode and what it answers.
class DescriptionDialog {
public:
    static constexpr int kNo = 0;
    static constexpr int kYes = 1;
    static constexpr int kReselect = 2;  // also Escape

    void Prepare(bool isSave, const std::string& fileName, const std::string& description);

    bool isSave() const { return m_isSave; }
    const std::string& question() const { return m_question; }
    const char* caption() const;
    bool readOnly() const { return !m_isSave; }
    // The description shown when it opens (bytes, with CR LF line breaks).
    const std::string& description() const { return m_description; }

    // "&Yes" with the edit field's text; returns the result the dialog closes with.
    int yes(const std::string& text);
    const std::string& GetDescription() const { return m_description; }

private:
    bool m_isSave = false;
    std::string m_description;
    std::string m_question;
};

// What the commands need of the windows.
class ConfigFileView {
public:
    virtual ~ConfigFileView() = default;
    // Shows the description dialog modally; its result (DescriptionDialog::kYes and so on).
    virtual int runDescriptionDialog(DescriptionDialog& dialog) = 0;
};

// The File menu's Save Config File and Load Config File.
class ConfigFileCommands {
public:
    ConfigFileCommands(CommandHost& editor, FileChooser& files, FileSaver& saver,
                       ConfigFileView& view);

    // Reads the chosen file for the load; ReadConfigFile when none is given.
    using Reader = std::function<ConfigFileContents(const std::string& path)>;

    void saveConfigFile();
    void loadConfigFile(const Reader& read = {});

    static FileDialogRequest saveRequest(const std::string& folder);
    static FileDialogRequest loadRequest(const std::string& folder);

private:
    void notify(const std::string& text, const char* caption);

    CommandHost& m_editor;
    FileChooser& m_files;
    FileSaver& m_saver;
    ConfigFileView& m_view;
};

// The block a loaded file sends: its settings, with the connected device's own fields.
ConfigBlock blockToLoad(const ConfigBlock& fromFile, const ConfigBlock& current);

// The description as the edit field shows it (Unicode, line feeds) and back (bytes, CR LF).
std::string descriptionForWidget(const std::string& bytes);
std::string descriptionFromWidget(const std::string& utf8);
