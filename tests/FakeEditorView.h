#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <vector>

#include "TestSupport.h"
#include "device/ConfigUpdate.h"
#include "device/ConnectionRead.h"
#include "editor/Editor.h"

enum class InDialog { Read, Demo, Exit };

// The main window without widgets: the "controls" are a form the test can change, and the
// device dialogs run their state machines against the simulated device.
class FakeView : public EditorView {
public:
    explicit FakeView(SimClock& clock) : m_clock(clock) {}

    void takeSelections(FormValues& form) override { form = controls; }
    void render() override {
        controls = editor->screen().form;
        ++renders;
    }
    int runConnectionDialog() override {
        ++connectionDialogs;
        FakeDialogControl control;
        ConnectionRead read(*editor, control);
        read.initialise();
        const InDialog action = script.empty() ? InDialog::Read : script.front();
        if (!script.empty()) {
            script.pop_front();
        }
        if (action == InDialog::Demo) {
            read.demo();
        } else if (action == InDialog::Exit) {
            read.exit();
        } else if (read.state() == ConnectState::Idle) {
            read.ok();
        }
        while (control.timerMs > 0) {
            m_clock.advanceMs(static_cast<std::uint64_t>(control.timerMs));
            read.tick();
        }
        // A read that failed leaves the dialog waiting: the user then exits.
        return control.result < 0 ? 1 : control.result;
    }
    void runUpdateDialog() override {
        ++updateDialogs;
        FakeDialogControl control;
        ConfigUpdate update(*editor, control);
        update.start();
        while (control.timerMs > 0) {
            m_clock.advanceMs(static_cast<std::uint64_t>(control.timerMs));
            update.tick();
        }
    }
    void runModeDialog(int mode) override { modeDialogs.push_back(mode); }
    void closeWindow() override { closed = true; }

    Editor* editor = nullptr;
    FormValues controls = initialForm();
    std::deque<InDialog> script;
    int renders = 0;
    int connectionDialogs = 0;
    int updateDialogs = 0;
    std::vector<int> modeDialogs;
    bool closed = false;

private:
    SimClock& m_clock;
};

// A main window without widgets, connected to a simulated VX310 on COM1 whose answers come
// at once, with the file seams scripted and a folder of its own. Both remembered folders
// start as "/start".
struct EditorBench : public ::testing::Test {
    EditorBench() : driver(clock), view(clock), editor(driver, notes, view) {
        view.editor = &editor;
        device.pacing = false;
        driver.attach(1, device);
        Settings settings;
        settings.pcPort = 1;
        settings.configFileDir = "/start";
        settings.userProgramDir = "/start";
        editor.applySettings(settings);
        editor.initialise();
    }
    std::string put(const std::string& name, const std::string& bytes) const {
        return scratch.put(name, bytes);
    }

    SimClock clock;
    Vx310Sim device;
    SimPortDriver driver;
    RecordingNotifier notes;
    FakeView view;
    Editor editor;
    ScriptedFiles files;
    ScratchFolder scratch;
    std::string dir = scratch.path;
};
