#include <gtest/gtest.h>

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>

#include "TestSupport.h"
#include "configfiles/ConfigFileCommands.h"
#include "platform/QtFileChooser.h"
#include "program/ProgramCommands.h"

namespace {

// Works the file dialog once it is up (again); the work must close it.
void whenUp(const std::function<void(QFileDialog&)>& work) {
    QTimer::singleShot(10, [work] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr || !dialog->isVisible()) {
            whenUp(work);
            return;
        }
        work(*dialog);
    });
}

struct FileChooserTest : public ::testing::Test {
    ScratchFolder folder;
    RecordingHelp help;
    QWidget owner;
    QtFileChooser chooser{&owner, &help};
};

TEST_F(FileChooserTest, HelpButtonAltHAndF1OpenTheDialogsTopic) {
    const std::pair<FileDialogRequest, long long> dialogs[] = {
        {ConfigFileCommands::loadRequest(folder.path), 0x20072},
        {ConfigFileCommands::saveRequest(folder.path), 0x20072},
        {ProgramCommands::uploadRequest(folder.path), 0x2006E}};
    for (const auto& [request, topic] : dialogs) {
        help.requests.clear();
        whenUp([this](QFileDialog& dialog) {
            QPushButton* button =
                dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Help);
            EXPECT_EQ(button->text(), "&Help");
            button->click();
            QApplication::setActiveWindow(&dialog);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_F1);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_H, Qt::AltModifier);
            // A mnemonic clicks its button as a click one can see, a moment later.
            EXPECT_TRUE(QTest::qWaitFor([this] { return help.requests.size() == 3; }));
            dialog.reject();
        });
        EXPECT_EQ(chooser.choose(request), std::nullopt);
        EXPECT_EQ(help.requests, (std::vector<long long>{topic, topic, topic})) << request.title;
    }
}

}  // namespace
