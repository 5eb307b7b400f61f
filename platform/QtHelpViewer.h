#pragma once

#include <QPointer>
#include <QString>
#include <QUrl>
#include <memory>

#include "platform/HelpViewer.h"

class QHelpEngine;
class QTextBrowser;
class QWidget;

// The help file (a Qt help file, .qch) in one window, "VXCONF Help": contents, index and
// full-text search beside the topic. The help collection the engine needs is kept in the
// user's cache folder.
class QtHelpViewer : public HelpViewer {
public:
    // helpFile: the .qch; collectionFile: where the engine may keep its collection.
    QtHelpViewer(QString helpFile, QString collectionFile);
    ~QtHelpViewer() override;

    // vxconf.qch beside the program, or in ../share/vxconf.
    static QString installedHelpFile();
    // $XDG_CACHE_HOME/vxconf/help.qhc and the like.
    static QString defaultCollectionFile();

    void showContents() override;
    void showTopic(std::uint32_t context) override;
    void quit() override;

    // The topic for a context number: empty when the help file has none.
    QUrl topicUrl(std::uint32_t context);
    // The window (tests look at it); nothing before it was first opened.
    QWidget* window() const;
    QTextBrowser* browser() const;
    QUrl contentsUrl() const;

private:
    bool ensureEngine();
    void ensureWindow();
    void show(const QUrl& url);

    QString m_helpFile;
    QString m_collectionFile;
    std::unique_ptr<QHelpEngine> m_engine;
    QString m_namespace;
    class Window;
    std::unique_ptr<Window> m_window;  // destroyed before the engine
};
