#include "AssistantHelpViewer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLibraryInfo>
#include <QStandardPaths>
#include <QTimer>

namespace {

constexpr char kContentsPage[] = "qthelp://example.tessaly.vxconf/doc/index.html";
// A size that shows the contents beside a page without covering a small screen.
constexpr int kWidth = 900;
constexpr int kHeight = 640;
// Room for the window manager's title bar above the window.
constexpr int kTitleRoom = 32;
// The height Assistant needs for its menus, tool bar and panels, with room to spare.
constexpr int kRoomNeeded = 480;
// A viewer that ends within this time of its start never showed its window.
constexpr qint64 kEndsAtOnceMs = 5000;
// When the first topic's contents are synced again, after the viewer has built them.
constexpr int kFirstSyncMs = 2000;
// The most the viewer's log keeps.
constexpr qint64 kLogLimit = 1024 * 1024;
// What is kept of what the viewer says on standard error.
constexpr qsizetype kErrorsKept = 4096;

std::string toBytes(const QString& text) {
    return text.toUtf8().toStdString();
}

}  // namespace

AssistantHelpViewer::AssistantHelpViewer(QString program, QString collectionFile, Notifier& notices,
                                         ScreenArea area)
    : m_program(std::move(program)),
      m_collectionFile(std::move(collectionFile)),
      m_notices(notices),
      m_area(std::move(area)) {
    QObject::connect(&m_process, &QProcess::readyReadStandardError, [this] { keepErrors(); });
    QObject::connect(&m_process, &QProcess::finished, [this](int code, QProcess::ExitStatus how) {
        keepErrors();
        const bool failed = how == QProcess::CrashExit || code != 0;
        if (m_quitting || !failed || m_started.elapsed() > kEndsAtOnceMs) {
            return;  // closed by its user, or by the program
        }
        // It ended before anyone could read a page: the help never showed.
        const QString said = QString::fromLocal8Bit(m_errors).trimmed().section('\n', -1);
        reportFailure(said.isEmpty() ? QString("it ended at once (exit status %1)").arg(code)
                                     : QString("it ended at once: %1").arg(said));
    });
}

AssistantHelpViewer::~AssistantHelpViewer() {
    quit();
}

QString AssistantHelpViewer::defaultProgram() {
    const QString qtTools = QLibraryInfo::path(QLibraryInfo::BinariesPath) + "/assistant";
    if (QFileInfo(qtTools).isExecutable()) {
        return qtTools;
    }
    for (const char* name : {"assistant-qt6", "assistant"}) {
        const QString found = QStandardPaths::findExecutable(name);
        if (!found.isEmpty()) {
            return found;
        }
    }
    return qtTools;
}

QString AssistantHelpViewer::installedCollectionFile() {
    const QDir dir(QCoreApplication::applicationDirPath());
    for (const QString& candidate :
         {dir.filePath("vxconf.qhc"), dir.filePath("../share/vxconf/vxconf.qhc")}) {
        if (QFileInfo::exists(candidate)) {
            return QFileInfo(candidate).canonicalFilePath();
        }
    }
    return dir.filePath("vxconf.qhc");
}

// The page comes first: a panel shown before it, while Assistant is still starting, makes it
// drop the page.
QStringList AssistantHelpViewer::contentsCommands() {
    return {QString("setSource %1").arg(kContentsPage), "show contents"};
}

QStringList AssistantHelpViewer::topicCommands(std::uint32_t context) {
    // Identifiers are written as the help project keys them: 0x and lower-case digits.
    return {QString("activateIdentifier 0x%1").arg(context, 0, 16), "syncContents"};
}

QRect AssistantHelpViewer::placement(const QRect& area) {
    // Window managers take the position either as the window's or as its frame's: room for
    // a title bar above it and below it keeps it on the screen either way.
    const int room = area.height() - 2 * kTitleRoom;
    const int width = std::min(kWidth, area.width());
    const int height = std::max(1, std::min(kHeight, room));
    const int left = area.x() + (area.width() - width) / 2;
    const int top = area.y() + kTitleRoom + std::max(0, (room - height) / 2);
    return {left, top, width, height};
}

bool AssistantHelpViewer::ensureRunning() {
    if (isRunning()) {
        return true;
    }
    if (!QFileInfo(m_collectionFile).isFile()) {
        m_notices.show({toBytes(QString(HelpText::kNoHelpFile).arg(m_collectionFile)),
                        HelpText::kCaption, NoticeIcon::Exclamation, NoticeButtons::Ok,
                        NoticeKind::FileError});
        return false;
    }
    QStringList arguments{"-collectionFile", m_collectionFile, "-enableRemoteControl"};
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // The viewer runs on the window system the program runs on, so that the program knows
    // which options it takes: -geometry is X11's alone, and Assistant on Wayland refuses it.
    const QString platform = QGuiApplication::platformName();
    if (!platform.isEmpty()) {
        environment.insert("QT_QPA_PLATFORM", platform);
    }
    if (m_area && platform == "xcb") {
        QRect area = m_area();
        if (area.isValid()) {
            // Assistant's panels need a certain height; on a screen with less room (a small
            // screen at a large scale) it is started a little smaller, so that it fits.
            const double shrink = std::min(1.0, area.height() / double(kRoomNeeded));
            if (shrink < 1.0) {
                const double scale = environment.value("QT_SCALE_FACTOR", "1").toDouble();
                environment.insert("QT_SCALE_FACTOR",
                                   QString::number((scale > 0 ? scale : 1.0) * shrink, 'f', 3));
                area = QRect(int(area.x() / shrink), int(area.y() / shrink),
                             int(area.width() / shrink), int(area.height() / shrink));
            }
            const QRect where = placement(area);
            arguments << "-geometry"
                      << QString("%1x%2+%3+%4")
                             .arg(where.width())
                             .arg(where.height())
                             .arg(where.x())
                             .arg(where.y());
        }
    }
    m_process.setProcessEnvironment(environment);
    // Its output is its own; what it says on standard error is kept for a viewer that ends
    // at once, which is reported with it.
    m_process.setStandardOutputFile(QProcess::nullDevice());
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    m_process.setReadChannel(QProcess::StandardError);
    m_errors.clear();
    // What the viewer says is kept for support, from its latest start, in the user's cache.
    m_log.close();
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (!cache.isEmpty() && QDir().mkpath(cache + "/vxconf")) {
        m_log.setFileName(cache + "/vxconf/help-viewer.log");
        m_log.open(QIODevice::WriteOnly | QIODevice::Truncate);
    }
    m_quitting = false;
    m_started.start();
    m_process.start(m_program, arguments);
    if (!m_process.waitForStarted(5000)) {
        reportFailure(m_process.errorString());
        m_process.kill();
        m_process.waitForFinished(1000);
        return false;
    }
    return true;
}

void AssistantHelpViewer::keepErrors() {
    const QByteArray said = m_process.readAllStandardError();
    m_errors += said;
    if (m_errors.size() > kErrorsKept) {
        m_errors = m_errors.right(kErrorsKept);
    }
    if (m_log.isOpen() && m_log.size() < kLogLimit) {
        m_log.write(said);
        m_log.flush();
    }
}

void AssistantHelpViewer::reportFailure(const QString& reason) {
    m_notices.show({toBytes(QString(HelpText::kCannotStart).arg(reason)), HelpText::kCaption,
                    NoticeIcon::Exclamation, NoticeButtons::Ok, NoticeKind::Warning});
}

void AssistantHelpViewer::send(const QStringList& commands) {
    const bool starting = !isRunning();
    if (!ensureRunning()) {
        return;
    }
    // Assistant reads one command a line and brings its window to the front for each.
    m_process.write(commands.join('\n').toUtf8() + '\n');
    // A few bytes into a pipe: sent at once, also when no event loop runs before the next
    // request.
    m_process.waitForBytesWritten(1000);
    if (starting && commands.contains("syncContents")) {
        // A viewer just started builds its contents after it has shown the page, and a sync
        // before that finds nothing to open: the tree would stay closed on the first topic.
        // Assistant comes to the front for each command: not when the user has gone back to
        // the program meanwhile.
        QTimer::singleShot(kFirstSyncMs, &m_process, [this] {
            if (isRunning() && QGuiApplication::applicationState() != Qt::ApplicationActive) {
                m_process.write("syncContents\n");
            }
        });
    }
}

void AssistantHelpViewer::showContents() {
    send(contentsCommands());
}

void AssistantHelpViewer::showTopic(std::uint32_t context) {
    send(context == 0 ? contentsCommands() : topicCommands(context));
}

void AssistantHelpViewer::quit() {
    if (!isRunning()) {
        return;
    }
    m_quitting = true;
    m_process.closeWriteChannel();
    m_process.terminate();
    if (!m_process.waitForFinished(2000)) {
        m_process.kill();
        m_process.waitForFinished(1000);
    }
}
