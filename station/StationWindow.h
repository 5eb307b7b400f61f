#pragma once

#include <QElapsedTimer>
#include <QFrame>
#include <QMainWindow>
#include <QTimer>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/CliOptions.h"
#include "cli/History.h"
#include "station/GangRun.h"
#include "station/Job.h"
#include "station/UnitLauncher.h"

#include "platform/MessageBoxNotifier.h"
#include "platform/QtFileChooser.h"

namespace Ui {
class StationWindow;
class SlotTile;
}  // namespace Ui

// One slot of the station: a device name, so that a by-id adapter keeps its tile from one
// plug-in to the next. It says everything in words; its colour only repeats them.
class SlotTile : public QFrame {
    Q_OBJECT
public:
    explicit SlotTile(const std::string& slot, QWidget* parent = nullptr);
    ~SlotTile() override;
    void show(const UnitRow& row);
    // What a screen reader reads, and what tests look for.
    QString summary() const { return accessibleName(); }

protected:
    // The tile with the keyboard has a thick frame: the colour is the result's.
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    std::unique_ptr<Ui::SlotTile> m_ui;
    std::string m_slot;
};

// The operator's window: the job, a tile a slot, the counters, the operator and Start and
// Stop. It runs the same run as `vxconf-cli --job FILE watch` (GangRun), reacting to its
// signals, and never waits on it.
class StationWindow : public QMainWindow {
    Q_OBJECT
public:
    struct Setup {
        QString unitProgram;               // vxconf-cli, which each unit runs as
        UnitLauncher* launcher = nullptr;  // forks units fast; else unitProgram is started
        QStringList watchFolders;          // empty: /dev/serial/by-id and /dev
        std::string historyPath;           // empty: the default history
        std::string station;               // empty: the host's name
        std::string operatorName;          // until a badge is scanned
        std::string onResult;              // the hook run after each unit
        bool again = false;                // provision units the job provisioned already
    };
    // Message boxes and file dialogs over this window, unless setSeams gives others.
    explicit StationWindow(Setup setup);
    void setSeams(FileChooser& files, Notifier& notifier);
    ~StationWindow() override;

    // Loads the job and checks its files; false, with a notice saying why, when it will not do.
    bool openJob(const std::string& path);
    void start();
    void stop();
    bool running() const { return m_run != nullptr; }
    const std::map<std::string, SlotTile*>& tiles() const { return m_tiles; }

signals:
    void stopped();

protected:
    void closeEvent(class QCloseEvent* event) override;
    void resizeEvent(class QResizeEvent* event) override;

private:
    void chooseJob();
    void takeOperator();
    void unitChanged(const UnitRow& row);
    void unitEnded(const UnitRow& row);
    void runFinished();
    void showCounters();
    void showState(const QString& text);
    void enableControls();
    SlotTile* tileFor(const std::string& slot);
    void layOutTiles();

    std::unique_ptr<Ui::StationWindow> m_ui;
    Setup m_setup;
    std::unique_ptr<MessageBoxNotifier> m_ownNotifier;
    std::unique_ptr<QtFileChooser> m_ownFiles;
    FileChooser* m_files;
    Notifier* m_notifier;
    std::optional<Job> m_job;
    JobInputs m_inputs;
    CliOptions m_command;
    History m_history;
    std::unique_ptr<UnitStarter> m_starter;
    std::unique_ptr<GangRun> m_run;
    std::map<std::string, SlotTile*> m_tiles;
    std::vector<SlotTile*> m_order;  // as the slots first appeared
    int m_columns = 0;
    std::size_t m_laidOut = 0;
    QTimer m_tick;
    QElapsedTimer m_since;
    std::size_t m_ok = 0;
    std::size_t m_failed = 0;
    std::size_t m_provisioned = 0;
    std::string m_operator;
    bool m_closeWhenStopped = false;
};
