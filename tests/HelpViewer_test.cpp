#include <gtest/gtest.h>

#include <QHelpEngineCore>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <map>

#include "editor/HelpContexts.h"
#include "editor/ModeDialogs.h"
#include "platform/QtHelpViewer.h"

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

struct HelpTest : public ::testing::Test {
    QTemporaryDir dir;
    QString collection = dir.filePath("help.qhc");
    QtHelpViewer viewer{VXCONF_HELP_FILE, collection};
};

TEST_F(HelpTest, EveryContextTheProgramAsksForHasATopicThatSaysWhatTheControlDoes) {
    EXPECT_EQ(kTopics.size(), kMainWindowHelpControls.size() + 4);
    QHelpEngineCore engine(collection);
    for (const auto& [context, words] : kTopics) {
        SCOPED_TRACE(QString::number(context, 16).toStdString());
        const QUrl url = viewer.topicUrl(context);
        ASSERT_FALSE(url.isEmpty());
        ASSERT_TRUE(engine.setupData());
        const QString text = sectionText(engine.fileData(url), url.fragment());
        EXPECT_GT(text.size(), 40) << text.toStdString();
        EXPECT_TRUE(text.contains(words, Qt::CaseInsensitive)) << text.toStdString();
    }
}

TEST_F(HelpTest, ContentsForAnyOtherNumberAndOneWindow) {
    viewer.showTopic(0x12345);
    ASSERT_NE(viewer.browser(), nullptr);
    EXPECT_EQ(viewer.browser()->source(), viewer.contentsUrl());
    EXPECT_FALSE(viewer.browser()->toPlainText().trimmed().isEmpty());
    EXPECT_EQ(viewer.window()->windowTitle(), "VXCONF Help");
    QWidget* window = viewer.window();
    viewer.showTopic(kMode2HelpContext);
    EXPECT_EQ(viewer.window(), window);
    EXPECT_TRUE(viewer.browser()->source().toString().endsWith("mode2.html"));
    EXPECT_TRUE(viewer.browser()->toPlainText().contains("RS485"));
    EXPECT_TRUE(window->isVisible());
    viewer.quit();
    EXPECT_FALSE(window->isVisible());
    viewer.showContents();  // opens again after a quit
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(viewer.browser()->source(), viewer.contentsUrl());
}

}  // namespace
