#include "QtHelpViewer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHelpContentWidget>
#include <QHelpEngine>
#include <QHelpIndexWidget>
#include <QHelpLink>
#include <QHelpSearchEngine>
#include <QHelpSearchQueryWidget>
#include <QHelpSearchResultWidget>
#include <QSplitter>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace {

constexpr char kCaption[] = "VXCONF Help";

// A browser that takes its pages and images from the help file.
class HelpBrowser : public QTextBrowser {
public:
    explicit HelpBrowser(QHelpEngine& engine) : m_engine(engine) { setOpenLinks(true); }

    QVariant loadResource(int type, const QUrl& url) override {
        if (url.scheme() == "qthelp") {
            return m_engine.fileData(url);
        }
        return QTextBrowser::loadResource(type, url);
    }

private:
    QHelpEngine& m_engine;
};

}  // namespace

class QtHelpViewer::Window : public QWidget {
public:
    explicit Window(QHelpEngine& engine) {
        setWindowTitle(kCaption);
        setObjectName("helpWindow");
        auto* layout = new QVBoxLayout(this);
        auto* splitter = new QSplitter(this);
        layout->addWidget(splitter);
        tabs = new QTabWidget(splitter);
        browser = new HelpBrowser(engine);
        splitter->addWidget(tabs);
        splitter->addWidget(browser);
        splitter->setStretchFactor(1, 3);

        QHelpContentWidget* contents = engine.contentWidget();
        tabs->addTab(contents, "&Contents");
        auto open = [this](const QUrl& url) { browser->setSource(url); };
        connect(contents, &QHelpContentWidget::linkActivated, browser, open);

        QHelpIndexWidget* index = engine.indexWidget();
        tabs->addTab(index, "&Index");
        connect(index, &QHelpIndexWidget::documentActivated, browser,
                [this](const QHelpLink& link, const QString&) { browser->setSource(link.url); });

        QHelpSearchEngine* search = engine.searchEngine();
        auto* searchPage = new QWidget;
        auto* searchLayout = new QVBoxLayout(searchPage);
        searchLayout->addWidget(search->queryWidget());
        searchLayout->addWidget(search->resultWidget());
        tabs->addTab(searchPage, "&Search");
        connect(search->queryWidget(), &QHelpSearchQueryWidget::search, search,
                [search] { search->search(search->queryWidget()->searchInput()); });
        connect(search->resultWidget(), &QHelpSearchResultWidget::requestShowLink, browser, open);
        // The word index is built once per collection, when the window first opens.
        search->scheduleIndexDocumentation();
        resize(820, 560);
    }

    QTabWidget* tabs = nullptr;
    QTextBrowser* browser = nullptr;
};

QtHelpViewer::QtHelpViewer(QString helpFile, QString collectionFile)
    : m_helpFile(std::move(helpFile)), m_collectionFile(std::move(collectionFile)) {}

QtHelpViewer::~QtHelpViewer() {
    quit();
}

QString QtHelpViewer::installedHelpFile() {
    const QDir dir(QCoreApplication::applicationDirPath());
    for (const QString& candidate :
         {dir.filePath("vxconf.qch"), dir.filePath("../share/vxconf/vxconf.qch")}) {
        if (QFileInfo::exists(candidate)) {
            return QFileInfo(candidate).canonicalFilePath();
        }
    }
    return dir.filePath("vxconf.qch");
}

QString QtHelpViewer::defaultCollectionFile() {
    QString cache = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    if (cache.isEmpty()) {
        cache = QDir::tempPath() + "/vxconf";
    }
    return cache + "/help.qhc";
}

bool QtHelpViewer::ensureEngine() {
    if (m_engine) {
        return !m_namespace.isEmpty();
    }
    QDir().mkpath(QFileInfo(m_collectionFile).absolutePath());
    m_engine = std::make_unique<QHelpEngine>(m_collectionFile);
    m_engine->setReadOnly(false);
    if (!m_engine->setupData()) {
        return false;
    }
    m_namespace = QHelpEngineCore::namespaceName(m_helpFile);
    if (m_namespace.isEmpty()) {
        return false;
    }
    // A collection made for another copy of the help file points at that one: renew it.
    const QString registered = m_engine->documentationFileName(m_namespace);
    if (!registered.isEmpty() && registered != m_helpFile) {
        m_engine->unregisterDocumentation(m_namespace);
    }
    if (m_engine->documentationFileName(m_namespace).isEmpty() &&
        !m_engine->registerDocumentation(m_helpFile)) {
        m_namespace.clear();
        return false;
    }
    return true;
}

QUrl QtHelpViewer::contentsUrl() const {
    return QUrl(QString("qthelp://%1/doc/index.html").arg(m_namespace));
}

QUrl QtHelpViewer::topicUrl(std::uint32_t context) {
    if (!ensureEngine()) {
        return {};
    }
    const QString id = QString("0x%1").arg(context, 0, 16);
    const QList<QHelpLink> links = m_engine->documentsForIdentifier(id);
    return links.isEmpty() ? QUrl() : links.first().url;
}

void QtHelpViewer::ensureWindow() {
    if (!m_window) {
        m_window = std::make_unique<Window>(*m_engine);
    }
}

void QtHelpViewer::show(const QUrl& url) {
    ensureWindow();
    m_window->browser->setSource(url);
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

void QtHelpViewer::showContents() {
    if (!ensureEngine()) {
        return;
    }
    show(contentsUrl());
    m_window->tabs->setCurrentIndex(0);
}

void QtHelpViewer::showTopic(std::uint32_t context) {
    const QUrl url = topicUrl(context);
    if (url.isEmpty()) {
        showContents();  // never an empty page
        return;
    }
    show(url);
}

void QtHelpViewer::quit() {
    // The engine keeps plain pointers to the contents, index and search widgets that the
    // window holds, so the window lives as long as the engine and is only hidden here.
    if (m_window) {
        m_window->hide();
    }
}

QWidget* QtHelpViewer::window() const {
    return m_window.get();
}

QTextBrowser* QtHelpViewer::browser() const {
    return m_window ? m_window->browser : nullptr;
}
