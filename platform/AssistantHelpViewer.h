#pragma once

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRect>
#include <QString>
#include <QStringList>
#include <functional>

#include "platform/HelpViewer.h"
#include "platform/Notice.h"

// The help file shown by Qt Assistant, in a process of its own under remote control: a
// separate window beside the program, so that help can be read, searched and closed while
// any of the program's modal dialogs is open. The collection file (.qhc) sets its title,
// icon, start page and panels; Assistant keeps its own copy of it in the user's data folder.
class AssistantHelpViewer : public HelpViewer {
public:
    // Where the help window goes: the available area of the screen it opens on.
    using ScreenArea = std::function<QRect()>;

    // program: the Assistant executable; collectionFile: vxconf.qhc; notices: where a viewer
    // that cannot be started is reported.
    AssistantHelpViewer(QString program, QString collectionFile, Notifier& notices,
                        ScreenArea area = {});
    ~AssistantHelpViewer() override;

    // Qt's Assistant as Debian installs it (assistant-qt6), or the one on the PATH.
    static QString defaultProgram();
    // vxconf.qhc beside the program, or in ../share/vxconf.
    static QString installedCollectionFile();

    void showContents() override;
    void showTopic(std::uint32_t context) override;
    void quit() override;

    // The remote-control lines for each request, as Assistant reads them.
    static QStringList contentsCommands();
    static QStringList topicCommands(std::uint32_t context);
    // Where the window opens: within area, at most a comfortable size, centred.
    static QRect placement(const QRect& area);

    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }

private:
    bool ensureRunning();
    void send(const QStringList& commands);
    void reportFailure(const QString& reason);
    void keepErrors();

    QString m_program;
    QString m_collectionFile;
    Notifier& m_notices;
    ScreenArea m_area;
    QProcess m_process;
    QElapsedTimer m_started;
    QByteArray m_errors;
    QFile m_log;
    bool m_quitting = false;
};

namespace HelpText {
inline constexpr char kCaption[] = "VXCONF Help";
// %1: what went wrong.
inline constexpr char kCannotStart[] =
    "The help viewer could not be started: %1\n\nVXCONF shows its help in Qt Assistant "
    "(the Debian package assistant-qt6).";
inline constexpr char kNoHelpFile[] = "The help file %1 is missing.";
}  // namespace HelpText
