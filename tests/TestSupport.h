#pragma once

#include <sys/mount.h>

#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "device/DeviceHost.h"
#include "platform/FileDialog.h"
#include "platform/FileSaver.h"
#include "platform/HelpViewer.h"
#include "platform/Notice.h"
#include "sim/SimPort.h"
#include "sim/Vx310Sim.h"

// Keeps every notice and answers questions from a script (Yes when the script is empty).
class RecordingNotifier : public Notifier {
public:
    NoticeAnswer show(const Notice& notice) override {
        notices.push_back(notice);
        if (notice.buttons == NoticeButtons::Ok) {
            return NoticeAnswer::Ok;
        }
        if (answers.empty()) {
            return NoticeAnswer::Yes;
        }
        const NoticeAnswer answer = answers.front();
        answers.pop_front();
        return answer;
    }

    std::vector<Notice> notices;
    std::deque<NoticeAnswer> answers;
};

// Keeps every help request: a context number, 0 for the contents, -1 for quit.
class RecordingHelp : public HelpViewer {
public:
    void showContents() override { requests.push_back(0); }
    void showTopic(std::uint32_t context) override { requests.push_back(context); }
    void quit() override { requests.push_back(-1); }

    std::vector<long long> requests;
};

// Answers file dialogs from a script (a full path, or nothing for Cancel) and keeps every
// request. An empty script cancels.
class ScriptedFiles : public FileChooser {
public:
    std::optional<ChosenFile> choose(const FileDialogRequest& request) override {
        requests.push_back(request);
        if (answers.empty()) {
            return std::nullopt;
        }
        const std::optional<std::string> path = answers.front();
        answers.pop_front();
        if (!path) {
            return std::nullopt;
        }
        return ChosenFile{*path, path->substr(path->rfind('/') + 1)};
    }

    std::vector<FileDialogRequest> requests;
    std::deque<std::optional<std::string>> answers;
};

// A folder of its own for one test, removed with everything in it.
struct ScratchFolder {
    std::string path = [] {
        std::string pattern = "/tmp/vxtestXXXXXX";
        return std::string(mkdtemp(&pattern[0]) != nullptr ? pattern : std::string());
    }();
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    // Writes a file in the folder and gives its path.
    std::string put(const std::string& name, const std::string& bytes) const {
        std::ofstream(path + "/" + name, std::ios::binary) << bytes;
        return path + "/" + name;
    }
};

// A tmpfs of a few kilobytes at folder/disk, for a disk that fills up; mounted is false
// where mounting is not allowed (the test then skips).
struct SmallDisk {
    SmallDisk(const std::string& folder, const char* size) : path(folder + "/disk") {
        std::filesystem::create_directory(path);
        mounted = mount("tmpfs", path.c_str(), "tmpfs", 0, size) == 0;
    }
    ~SmallDisk() {
        if (mounted) {
            umount(path.c_str());
        }
    }
    std::string path;
    bool mounted = false;
};

inline std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Writes files plainly; fail makes every save report failure.
class PlainSaver : public FileSaver {
public:
    bool save(const std::string& path, const std::string& bytes) override {
        std::ofstream out(path, std::ios::binary);
        out << bytes;
        return bool(out) && !fail;
    }
    bool fail = false;
};

inline Notice exclamation(const std::string& text, const std::string& caption) {
    return {text, caption, NoticeIcon::Exclamation, NoticeButtons::Ok};
}

// Stands in for a dialog: remembers the timer and the result instead of running them.
class FakeDialogControl : public DialogControl {
public:
    void startTimer(int periodMs) override {
        timerMs = periodMs;
        ++timerStarts;
    }
    void stopTimer() override { timerMs = 0; }
    void finish(int r) override {
        timerMs = 0;
        result = r;
    }
    void refresh() override { ++refreshes; }

    int timerMs = 0;  // 0 while stopped
    int timerStarts = 0;
    int result = -1;  // -1 while the dialog runs
    int refreshes = 0;
};

// A main window's worth of state over any port driver.
struct PlainHost : public DeviceHost {
    explicit PlainHost(SerialPortDriver& driver) : serialLink(driver, notes) {}

    SerialLink& link() override { return serialLink; }
    ConfigBlock& block() override { return configBlock; }
    bool& validProgram() override { return programValid; }
    int pcPort() const override { return port; }
    void selectPort(int n, bool) override { port = n; }
    Notifier& notifier() override { return notes; }

    RecordingNotifier notes;
    SerialLink serialLink;
    ConfigBlock configBlock;
    bool programValid = false;
    int port = 0;
};

// Every byte written to the simulated ports, in order.
inline std::string writtenTo(const SimPortDriver& driver) {
    std::string all;
    for (const auto& entry : driver.writeLog) {
        all += entry.second;
    }
    return all;
}

// A simulated VX310 on COM3 behind an in-memory port, with a main window's worth of state.
struct SimBench : public DeviceHost {
    explicit SimBench(bool withDevice = true, int remembered = 0)
        : driver(clock), serialLink(driver, notes), port(remembered) {
        if (withDevice) {
            driver.attach(3, device);
        }
    }

    SerialLink& link() override { return serialLink; }
    ConfigBlock& block() override { return configBlock; }
    bool& validProgram() override { return programValid; }
    int pcPort() const override { return port; }
    void selectPort(int n, bool reconnect) override {
        selections.push_back({n, reconnect});
        port = n;
    }
    Notifier& notifier() override { return notes; }

    // Every byte the program wrote, in order.
    std::string written() const { return writtenTo(driver); }

    SimClock clock;
    Vx310Sim device;
    SimPortDriver driver;
    RecordingNotifier notes;
    SerialLink serialLink;
    ConfigBlock configBlock;
    bool programValid = false;
    int port = 0;
    std::vector<std::pair<int, bool>> selections;
};
