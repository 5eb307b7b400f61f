#include "StationWindow.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QGuiApplication>
#include <QResizeEvent>
#include <QScreen>
#include <algorithm>
#include <cmath>
#include <iostream>

#include "cli/ExitStatus.h"
#include "platform/FileDialog.h"
#include "platform/Notice.h"
#include "station/GangCommand.h"
#include "station/LiveView.h"
#include "ui_SlotTile.h"
#include "ui_StationWindow.h"

namespace {

constexpr char kCaption[] = "VXCONF Station";
// A tile's colour by its result; the words say the same.
const QColor kRunningColour(0xff, 0xf4, 0xc2);
const QColor kOkColour(0xc8, 0xf0, 0xc8);
const QColor kFailedColour(0xf6, 0xc4, 0xc4);
const QColor kProvisionedColour(0xc9, 0xdc, 0xf6);

QString words(const std::string& text) {
    return QString::fromStdString(terminalText(text));
}

QString elapsedText(qint64 ms) {
    const qint64 s = ms / 1000;
    return QString("%1:%2:%3")
        .arg(s / 3600)
        .arg((s / 60) % 60, 2, 10, QChar('0'))
        .arg(s % 60, 2, 10, QChar('0'));
}

}  // namespace

SlotTile::SlotTile(const std::string& slot, QWidget* parent)
    : QFrame(parent), m_ui(std::make_unique<Ui::SlotTile>()), m_slot(slot) {
    m_ui->setupUi(this);
    // The end of a by-id name tells adapters apart; its whole name is the tooltip.
    m_ui->slotName->setText(words(shortenedFromLeft(slot, 26)));
    m_ui->slotName->setToolTip(words(slot));
    QFont bold = m_ui->result->font();
    bold.setBold(true);
    m_ui->result->setFont(bold);
    setAutoFillBackground(true);
}

SlotTile::~SlotTile() = default;

void SlotTile::show(const UnitRow& row) {
    const QString serial = row.serial.empty() ? "serial: -" : words("serial: " + row.serial);
    m_ui->serial->setText(serial);
    QString state;
    QString result;
    QColor colour = kRunningColour;
    if (!row.ended) {
        state = words(row.state);
        if (row.percent >= 0) {
            state += QString(" %1 %").arg(row.percent);
        }
        result = "running";
    } else {
        state = "ended";
        if (row.result == "ok") {
            result = "ok";
            colour = kOkColour;
        } else if (row.result == kProvisionedWord) {
            result = "ALREADY PROVISIONED";
            colour = kProvisionedColour;
        } else {
            result = row.result == "mismatch" ? "FAILED: mismatch" : "FAILED";
            colour = kFailedColour;
        }
    }
    std::string reason = row.ended && row.result != "ok" ? reasonLine(row) : std::string();
    if (!row.hookNote.empty()) {
        reason += (reason.empty() ? "" : "; ") + row.hookNote;
    }
    const QString name = QString("Slot %1: %2, %3, %4%5")
                             .arg(words(m_slot), m_ui->serial->text(), state, result,
                                  reason.empty() ? QString() : ": " + words(reason));
    if (name == accessibleName()) {
        return;  // a unit reports often; the tile changes only when what it says does
    }
    m_ui->state->setText(state);
    m_ui->result->setText(result);
    m_ui->reason->setText(words(reason));
    m_ui->reason->setVisible(!reason.empty());
    QPalette shades = palette();
    shades.setColor(QPalette::Window, colour);
    shades.setColor(QPalette::WindowText, Qt::black);
    setPalette(shades);
    setAccessibleName(name);
}

void SlotTile::focusInEvent(QFocusEvent* event) {
    QFrame::focusInEvent(event);
    setLineWidth(4);
}

void SlotTile::focusOutEvent(QFocusEvent* event) {
    QFrame::focusOutEvent(event);
    setLineWidth(1);
}

StationWindow::StationWindow(Setup setup)
    : m_ui(std::make_unique<Ui::StationWindow>()),
      m_setup(std::move(setup)),
      m_ownNotifier(std::make_unique<MessageBoxNotifier>(this)),
      m_ownFiles(std::make_unique<QtFileChooser>(this, nullptr, m_ownNotifier.get())),
      m_files(m_ownFiles.get()),
      m_notifier(m_ownNotifier.get()) {
    m_ui->setupUi(this);
    connect(m_ui->openButton, &QPushButton::clicked, this, &StationWindow::chooseJob);
    connect(m_ui->openAction, &QAction::triggered, this, &StationWindow::chooseJob);
    connect(m_ui->quitAction, &QAction::triggered, this, &QWidget::close);
    connect(m_ui->startButton, &QPushButton::clicked, this, &StationWindow::start);
    connect(m_ui->stopButton, &QPushButton::clicked, this, &StationWindow::stop);
    connect(m_ui->operatorEdit, &QLineEdit::returnPressed, this, &StationWindow::takeOperator);
    m_tick.setInterval(1000);
    connect(&m_tick, &QTimer::timeout, this, &StationWindow::showCounters);
    m_ui->tilesGrid->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    if (!m_setup.operatorName.empty()) {
        m_ui->operatorEdit->setText(QString::fromStdString(m_setup.operatorName));
        takeOperator();
    }
    // Most of the screen: the tiles are what the operator watches.
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        resize(screen->availableGeometry().size() * 0.85);
    }
    enableControls();
}

StationWindow::~StationWindow() = default;

void StationWindow::setSeams(FileChooser& files, Notifier& notifier) {
    m_files = &files;
    m_notifier = &notifier;
}

bool StationWindow::openJob(const std::string& path) {
    std::string error;
    int code = kExitOk;
    std::optional<Job> job = loadJob(path, error, code);
    JobInputs inputs;
    if (!job || !readJobInputs(*job, inputs, error, code)) {
        m_notifier->show(
            {error, kCaption, NoticeIcon::Exclamation, NoticeButtons::Ok, NoticeKind::FileError});
        return false;
    }
    m_job = std::move(job);
    m_inputs = std::move(inputs);
    m_command = CliOptions{};
    setJobCommand(*m_job, m_inputs, m_command);
    m_ui->jobLabel->setText(
        QString("Job: %1   SHA-256 %2")
            .arg(words(m_job->name), QString::fromStdString(m_job->sha256.substr(0, 16))));
    m_ui->jobLabel->setToolTip(QString::fromStdString(m_job->file + "\n" + m_job->sha256));
    m_ui->jobLabel->setAccessibleName(m_ui->jobLabel->text());
    m_ui->jobLabel->setAccessibleDescription(QString::fromStdString(m_job->sha256));
    setWindowTitle(QString("%1 - %2").arg(words(m_job->name), kCaption));
    enableControls();
    return true;
}

void StationWindow::chooseJob() {
    if (running()) {
        return;
    }
    FileDialogRequest request;
    request.kind = FileDialogKind::Open;
    request.title = "Open Job";
    request.filter = "Jobs (*.vxjob)|*.vxjob|All files (*)|*||";
    request.defaultExtension = "vxjob";
    request.fileMustExist = true;
    request.pathMustExist = true;
    if (const std::optional<ChosenFile> chosen = m_files->choose(request)) {
        openJob(chosen->path);
    }
}

void StationWindow::takeOperator() {
    m_operator = m_ui->operatorEdit->text().trimmed().toStdString();
    m_ui->operatorShown->setText(m_operator.empty() ? QString("no operator")
                                                    : "operator: " + words(m_operator));
    if (m_run) {
        m_run->setOperatorName(m_operator);
    }
    m_ui->operatorEdit->clear();
}

void StationWindow::start() {
    if (running() || !m_job) {
        return;
    }
    // Every file is checked again: a job is only as good as its files are now.
    std::string error;
    int code = kExitOk;
    JobInputs inputs;
    if (!readJobInputs(*m_job, inputs, error, code)) {
        m_notifier->show(
            {error, kCaption, NoticeIcon::Exclamation, NoticeButtons::Ok, NoticeKind::FileError});
        return;
    }
    m_inputs = std::move(inputs);
    if (!m_history.isOpen() &&
        !m_history.open(m_setup.historyPath.empty() ? History::defaultPath() : m_setup.historyPath,
                        error)) {
        m_notifier->show(
            {error, kCaption, NoticeIcon::Exclamation, NoticeButtons::Ok, NoticeKind::FileError});
        return;
    }
    m_starter = std::make_unique<UnitStarter>(m_setup.launcher, m_setup.unitProgram);
    GangRun::Options run;
    run.starter = m_starter.get();
    run.input = jobCommandInput(m_inputs, m_command);
    run.plan = m_inputs.plan ? &*m_inputs.plan : nullptr;
    run.history = &m_history;
    run.station = m_setup.station.empty() ? hostName() : m_setup.station;
    run.operatorName = m_operator;
    run.onResult = m_setup.onResult;
    run.again = m_setup.again;
    setJobRun(*m_job, m_inputs, m_command, run);
    m_run = std::make_unique<GangRun>(run, std::cout, std::cerr);
    connect(m_run.get(), &GangRun::unitChanged, this, &StationWindow::unitChanged);
    connect(m_run.get(), &GangRun::unitEnded, this, &StationWindow::unitEnded);
    connect(m_run.get(), &GangRun::runEnded, this, &StationWindow::runFinished);
    if (m_setup.watchFolders.isEmpty()) {
        m_run->watch({"/dev/serial/by-id", "/dev"}, {"ttyUSB*", "ttyACM*", "usb-*", "pci-*"});
    } else {
        m_run->watch(m_setup.watchFolders, {});
    }
    m_ok = m_failed = m_provisioned = 0;
    m_since.start();
    m_tick.start();
    m_run->begin();
    showState("Watching: plug units in");
    enableControls();
    showCounters();
}

void StationWindow::stop() {
    if (m_run && !m_run->done()) {
        showState("Stopping: each unit finishes its step");
        m_run->stop();
        enableControls();
    }
}

void StationWindow::unitChanged(const UnitRow& row) {
    tileFor(row.name)->show(row);
}

void StationWindow::unitEnded(const UnitRow& row) {
    tileFor(row.name)->show(row);
    ++(row.result == "ok" ? m_ok : row.code == kExitProvisioned ? m_provisioned : m_failed);
    showCounters();
}

void StationWindow::runFinished() {
    m_tick.stop();
    showCounters();
    // Let go of the run once its signal has been handled.
    m_run.release()->deleteLater();
    showState("Stopped");
    enableControls();
    emit stopped();
    if (m_closeWhenStopped) {
        close();
    }
}

void StationWindow::showState(const QString& text) {
    m_ui->stateLine->setText(text);
    // Named as it reads, so that a screen reader hears the change.
    m_ui->stateLine->setAccessibleName(text);
}

void StationWindow::showCounters() {
    const std::size_t ended = m_ok + m_failed;
    const qint64 ms = m_since.isValid() ? m_since.elapsed() : 0;
    const double hours = double(ms) / 3600000.0;
    const std::size_t units = m_ok + m_failed + m_provisioned;
    QString text =
        QString("ok %1 | failed %2 | yield %3 | %4 units/h | %5")
            .arg(m_ok)
            .arg(m_failed)
            .arg(ended == 0 ? QString("-")
                            : QString::number(100.0 * double(m_ok) / double(ended), 'f', 1) + " %")
            .arg(hours > 0 ? std::lround(double(units) / hours) : 0)
            .arg(elapsedText(ms));
    if (m_provisioned > 0) {
        text += QString(" | already provisioned %1").arg(m_provisioned);
    }
    m_ui->counters->setText(text);
    m_ui->counters->setAccessibleDescription(text);
}

void StationWindow::enableControls() {
    const bool busy = running();
    m_ui->startButton->setEnabled(m_job.has_value() && !busy);
    m_ui->stopButton->setEnabled(busy && !m_run->done());
    m_ui->openButton->setEnabled(!busy);
    m_ui->openAction->setEnabled(!busy);
}

SlotTile* StationWindow::tileFor(const std::string& slot) {
    auto found = m_tiles.find(slot);
    if (found == m_tiles.end()) {
        auto* tile = new SlotTile(slot, m_ui->tilesHost);
        m_order.push_back(tile);
        found = m_tiles.emplace(slot, tile).first;
        layOutTiles();
    }
    return found->second;
}

void StationWindow::layOutTiles() {
    // As many columns as the area takes, so that no tile is cut at any size or scale; the
    // tiles keep the order their slots first appeared in.
    int widest = 1;
    for (SlotTile* tile : m_order) {
        widest = std::max(widest, tile->sizeHint().width());
    }
    const int spacing = m_ui->tilesGrid->horizontalSpacing();
    const int width = m_ui->tilesArea->viewport()->width();
    const int columns = std::max(1, (width - spacing) / (widest + spacing));
    if (columns == m_columns && m_laidOut == m_order.size()) {
        return;
    }
    for (SlotTile* tile : m_order) {
        m_ui->tilesGrid->removeWidget(tile);
    }
    for (std::size_t i = 0; i < m_order.size(); ++i) {
        m_ui->tilesGrid->addWidget(m_order[i], int(i) / columns, int(i) % columns);
    }
    m_columns = columns;
    m_laidOut = m_order.size();
}

void StationWindow::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    layOutTiles();
}

void StationWindow::closeEvent(QCloseEvent* event) {
    if (running()) {
        // Units that are running finish their step first, as with Stop.
        m_closeWhenStopped = true;
        stop();
        event->ignore();
        return;
    }
    event->accept();
}
