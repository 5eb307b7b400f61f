#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QHelpEngineCore>
#include <QHelpLink>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <map>

#include "TestSupport.h"
#include "editor/HelpContexts.h"
#include "editor/ModeDialogs.h"
#include "platform/AssistantHelpViewer.h"

namespace {

// Every topic the program can ask for, with words its section must use for what the
// control or dialog does.
const std::map<std::uint32_t, const char*> kTopics{
    {kMode1HelpContext, "ADE Timing"},
    {kMode2HelpContext, "Lead-in Byte"},
    {kConfigFileHelpContext, "Load Config File"},
    {kUploadFileHelpContext, "Upload User HEX Program File"},
    {mainWindowHelpContext(1005), "baud rate"},
    {mainWindowHelpContext(1006), "Bits per word"},
    {mainWindowHelpContext(1008), "Parity"},
    {mainWindowHelpContext(1010), "Stop bits"},
    {mainWindowHelpContext(1011), "RX Xon/Xoff"},
    {mainWindowHelpContext(1012), "TX Xon/Xoff"},
    {mainWindowHelpContext(1015), "baud rate"},
    {mainWindowHelpContext(1017), "Bits per word"},
    {mainWindowHelpContext(1018), "Parity"},
    {mainWindowHelpContext(1019), "Stop bits"},
    {mainWindowHelpContext(1025), "RX Xon/Xoff"},
    {mainWindowHelpContext(1026), "TX Xon/Xoff"},
    {mainWindowHelpContext(1004), "Mode"},
    {mainWindowHelpContext(1009), "Configure"},
    {mainWindowHelpContext(1014), "Upload Program"},
    {mainWindowHelpContext(1001), "Delete Program"},
    {mainWindowHelpContext(1007), "Update VX310"},
    {mainWindowHelpContext(1043), "Port 1"},
    {mainWindowHelpContext(1044), "Port 2"},
    {mainWindowHelpContext(1045), "PROG User Program"},
    {mainWindowHelpContext(1016), "Valid Program"},
};

// The text of a topic's section: from its anchor to the next heading, tags removed.
QString sectionText(const QByteArray& html, const QString& anchor) {
    QString page = QString::fromUtf8(html);
    if (!anchor.isEmpty()) {
        const int at = page.indexOf(QString("id=\"%1\"").arg(anchor));
        if (at < 0) {
            return {};
        }
        const int next = page.indexOf(QRegularExpression("<h[1-6]"), at + 1);
        page = page.mid(at, next < 0 ? -1 : next - at);
    }
    page.remove(QRegularExpression("<[^>]*>"));
    return page.simplified();
}

// The help file and its collection, copied together into a folder of their own: the
// collection must find the help file beside it wherever both are installed.
struct HelpTest : public ::testing::Test {
    QTemporaryDir dir;
    QString collection = dir.filePath("vxconf.qhc");
    void SetUp() override {
        ASSERT_TRUE(QFile::copy(VXCONF_HELP_COLLECTION, collection));
        ASSERT_TRUE(QFile::copy(VXCONF_HELP_FILE, dir.filePath("vxconf.qch")));
        QFile::setPermissions(collection, QFile::ReadOwner | QFile::WriteOwner);
    }
};

TEST_F(HelpTest, EveryContextTheProgramAsksForHasATopicThatSaysWhatTheControlDoes) {
    EXPECT_EQ(kTopics.size(), kMainWindowHelpControls.size() + 4);
    QHelpEngineCore engine(collection);
    ASSERT_TRUE(engine.setupData());
    EXPECT_FALSE(engine.registeredDocumentations().isEmpty());
    for (const auto& [context, words] : kTopics) {
        SCOPED_TRACE(QString::number(context, 16).toStdString());
        // The identifier exactly as the viewer sends it.
        const QString command = AssistantHelpViewer::topicCommands(context).at(0);
        const QString id = command.section(' ', 1);
        const QList<QHelpLink> links = engine.documentsForIdentifier(id);
        ASSERT_FALSE(links.isEmpty()) << command.toStdString();
        const QUrl url = links.first().url;
        const QString text = sectionText(engine.fileData(url), url.fragment());
        EXPECT_GT(text.size(), 40) << text.toStdString();
        EXPECT_TRUE(text.contains(words, Qt::CaseInsensitive)) << text.toStdString();
    }
}

// What a page names in its headings, the index finds; and the pages' type follows the viewer's
// own font, so that it scales with the desktop (a size in points stays the same at 2x).
TEST_F(HelpTest, TheIndexFindsEveryHeadingAndThePagesScale) {
    QHelpEngineCore engine(collection);
    ASSERT_TRUE(engine.setupData());
    const QString space = engine.registeredDocumentations().value(0);
    const QList<QUrl> pages = engine.files(space, QString(), "html");
    ASSERT_GT(pages.size(), 5);
    int headings = 0;
    for (const QUrl& page : pages) {
        if (page.fileName() == "index.html") {
            continue;  // the contents page's own headings name no topic
        }
        const QString html = QString::fromUtf8(engine.fileData(page));
        const QRegularExpression heading("<h[12][^>]*>(.*?)</h[12]>",
                                         QRegularExpression::DotMatchesEverythingOption);
        for (auto it = heading.globalMatch(html); it.hasNext();) {
            QString name = it.next().captured(1);
            name.remove(QRegularExpression("<[^>]*>"));
            name = name.simplified().replace("&amp;", "&");
            bool found = false;
            for (const QHelpLink& link : engine.documentsForKeyword(name)) {
                found = found || link.url.path() == page.path();
            }
            EXPECT_TRUE(found) << page.fileName().toStdString() << ": " << name.toStdString();
            ++headings;
        }
    }
    EXPECT_GT(headings, 40);
    QFile css(VXCONF_HELP_STYLE);
    ASSERT_TRUE(css.open(QIODevice::ReadOnly));
    const QString style = QString::fromUtf8(css.readAll());
    const QRegularExpression fixed("font-size:\\s*[0-9.]+(pt|px)");
    EXPECT_FALSE(fixed.match(style).hasMatch()) << fixed.match(style).captured(0).toStdString();
}

TEST_F(HelpTest, TheCollectionGivesAssistantTheProgramsTitleAndStartPage) {
    QHelpEngineCore engine(collection);
    ASSERT_TRUE(engine.setupData());
    EXPECT_EQ(engine.customValue("WindowTitle").toString(), "VXCONF Help");
    const QUrl start(engine.customValue("defaultHomepage").toString());
    EXPECT_FALSE(engine.fileData(start).isEmpty()) << start.toString().toStdString();
    const QString contents = AssistantHelpViewer::contentsCommands().at(0).section(' ', 1);
    EXPECT_FALSE(engine.fileData(QUrl(contents)).isEmpty()) << contents.toStdString();
}

// A stand-in for Assistant that writes down how it was started and every command it reads.
struct FakeAssistant : public ::testing::Test {
    QTemporaryDir dir;
    QString program = dir.filePath("assistant");
    QString collection = dir.filePath("vxconf.qhc");
    RecordingNotifier notices;

    void SetUp() override {
        QFile script(program);
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write(QString("#!/bin/sh\necho \"$QT_QPA_PLATFORM $@\" >> '%1/args'\n"
                             "exec cat >> '%1/commands'\n")
                         .arg(dir.path())
                         .toUtf8());
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QFile help(collection);
        ASSERT_TRUE(help.open(QIODevice::WriteOnly));
    }

    QString read(const char* name) {
        QFile file(dir.filePath(name));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
    // The commands arrive through a pipe: wait until as many lines as expected are there.
    QString lines(const char* name, int count) {
        for (int i = 0; i < 200 && read(name).count('\n') < count; ++i) {
            QThread::msleep(10);
        }
        return read(name);
    }
};

TEST_F(FakeAssistant, OneViewerProcessTakesEveryRequestAndEndsWithQuit) {
    AssistantHelpViewer viewer(program, collection, notices, [] { return QRect(0, 0, 683, 384); });
    viewer.showTopic(kMode2HelpContext);
    viewer.showContents();
    viewer.showTopic(0);  // no topic of its own: the contents
    // The first topic's contents are synced once more, when the new viewer has built them.
    ASSERT_TRUE(QTest::qWaitFor([&] { return read("commands").count('\n') >= 7; }, 10000));
    EXPECT_EQ(read("commands"),
              "activateIdentifier 0x2006c\nsyncContents\n"
              "setSource qthelp://example.tessaly.vxconf/doc/index.html\nshow contents\n"
              "setSource qthelp://example.tessaly.vxconf/doc/index.html\nshow contents\n"
              "syncContents\n");
    const QStringList args = lines("args", 1).trimmed().split(' ');
    // Started once, on the program's own window system, and without -geometry, which only X11
    // takes (these tests run offscreen).
    EXPECT_EQ(args,
              QStringList({"offscreen", "-collectionFile", collection, "-enableRemoteControl"}));
    EXPECT_TRUE(viewer.isRunning());
    viewer.quit();
    EXPECT_FALSE(viewer.isRunning());
    EXPECT_TRUE(notices.notices.empty());

    viewer.showContents();  // a new viewer after a quit
    EXPECT_TRUE(viewer.isRunning());
    EXPECT_EQ(lines("args", 2).count('\n'), 2);
}

TEST_F(FakeAssistant, AViewerThatCannotStartIsReportedNotIgnored) {
    AssistantHelpViewer missing(dir.filePath("no-such-assistant"), collection, notices);
    missing.showTopic(kMode1HelpContext);
    ASSERT_EQ(notices.notices.size(), 1u);
    const Notice& notice = notices.notices[0];
    EXPECT_EQ(notice.caption, "VXCONF Help");
    EXPECT_EQ(notice.icon, NoticeIcon::Exclamation);
    EXPECT_NE(notice.text.find("The help viewer could not be started: "), std::string::npos);
    EXPECT_NE(notice.text.find("assistant-qt6"), std::string::npos);
    EXPECT_FALSE(missing.isRunning());

    AssistantHelpViewer noFile(program, dir.filePath("gone.qhc"), notices);
    noFile.showContents();
    ASSERT_EQ(notices.notices.size(), 2u);
    EXPECT_EQ(notices.notices[1].text,
              "The help file " + dir.filePath("gone.qhc").toStdString() + " is missing.");
    EXPECT_FALSE(noFile.isRunning());
}

// A viewer that starts and ends at once (Assistant refusing an option, a broken installation)
// showed no help: the user is told, with what it said.
TEST_F(FakeAssistant, AViewerThatEndsAtOnceIsReported) {
    QFile script(program);
    ASSERT_TRUE(script.open(QIODevice::WriteOnly | QIODevice::Truncate));
    script.write("#!/bin/sh\necho 'Unknown option: -geometry' >&2\nexit 1\n");
    script.close();
    AssistantHelpViewer viewer(program, collection, notices);
    viewer.showTopic(kMode2HelpContext);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !notices.notices.empty(); }, 10000));
    EXPECT_EQ(notices.notices[0].text,
              "The help viewer could not be started: it ended at once: Unknown option: -geometry"
              "\n\nVXCONF shows its help in Qt Assistant (the Debian package assistant-qt6).");
}

TEST(HelpPlacement, TheWindowFitsUnderItsTitleBarOnSmallAndLargeScreens) {
    for (const QRect area :
         {QRect(0, 0, 683, 384), QRect(0, 0, 1366, 768), QRect(1920, 24, 2560, 1416)}) {
        const QRect where = AssistantHelpViewer::placement(area);
        EXPECT_TRUE(area.contains(where)) << where.x() << "," << where.y();
        EXPECT_GE(where.top() - area.top(), 30);  // the title bar stays on the screen
        EXPECT_GE(area.bottom() - where.bottom(), 30) << "also if it is put below that";
        EXPECT_LE(where.width(), 900);
    }
}

}  // namespace
