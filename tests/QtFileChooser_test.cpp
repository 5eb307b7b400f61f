#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <filesystem>
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

// Types a full path into the name field and takes it.
void typeAndAccept(QFileDialog& dialog, const std::string& path) {
    dialog.findChild<QLineEdit*>("fileNameEdit")->setText(QString::fromStdString(path));
    static_cast<QDialog&>(dialog).accept();  // as the Open or Save button does
}

QStringList shownNames(QFileDialog& dialog) {
    auto* view = dialog.findChild<QListView*>("listView");
    QStringList names;
    for (int row = 0; row < view->model()->rowCount(view->rootIndex()); ++row) {
        names << view->model()->index(row, 0, view->rootIndex()).data().toString();
    }
    return names;
}

struct FileChooserTest : public ::testing::Test {
    ScratchFolder folder;
    RecordingNotifier notes;
    RecordingHelp help;
    QWidget owner;
    QtFileChooser chooser{&owner, &help, &notes};
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
    EXPECT_TRUE(notes.notices.empty());
}

TEST_F(FileChooserTest, PathsTheCallerCannotTakeAreExplainedAndTheDialogComesBack) {
    // Upload has room for 259 characters; this one, in folders that exist, is longer.
    const std::string deep =
        folder.path + "/" + std::string(120, 'a') + "/" + std::string(120, 'b');
    std::filesystem::create_directories(deep);
    const std::string tooLong = deep + "/p.hex";
    std::ofstream(tooLong) << ":";
    ASSERT_GE(tooLong.size(), 260u);
    const std::string fits = folder.put("p.hex", ":");
    whenUp([&](QFileDialog& dialog) {
        whenUp([&](QFileDialog& again) { typeAndAccept(again, fits); });
        typeAndAccept(dialog, tooLong);
    });
    const std::optional<ChosenFile> chosen =
        chooser.choose(ProgramCommands::uploadRequest(folder.path));
    EXPECT_EQ(notes.notices,
              std::vector<Notice>{exclamation("The path is too long: at most 259 characters.",
                                              "Upload User HEX Program File")});
    ASSERT_TRUE(chosen.has_value());
    EXPECT_EQ(chosen->path, fits);
    EXPECT_EQ(chosen->fileName, "p.hex");

    // Saving into a folder that is not there.
    notes.notices.clear();
    whenUp([&](QFileDialog& dialog) {
        whenUp([](QFileDialog& again) { again.reject(); });
        typeAndAccept(dialog, folder.path + "/missing/c.vxc");
    });
    EXPECT_EQ(chooser.choose(ConfigFileCommands::saveRequest(folder.path)), std::nullopt);
    EXPECT_EQ(notes.notices, std::vector<Notice>{exclamation(
                                 "The folder \"" + folder.path + "/missing\" does not exist.",
                                 "Save VX310 Configuration")});
}

TEST_F(FileChooserTest, AllFilesShowsNamesWithoutADotToo) {
    folder.put("README", "x");
    folder.put("a.vxc", "v");
    whenUp([](QFileDialog& dialog) {
        auto* types = dialog.findChild<QComboBox*>("fileTypeCombo");
        EXPECT_EQ(types->count(), 2);
        EXPECT_EQ(types->itemText(0), "VXC files (*.vxc)");
        EXPECT_EQ(types->itemText(1), "All files (*.*)");
        EXPECT_TRUE(QTest::qWaitFor([&] { return shownNames(dialog).contains("a.vxc"); }));
        EXPECT_FALSE(shownNames(dialog).contains("README"));
        QTest::keyClick(types, Qt::Key_Down);
        EXPECT_EQ(types->currentText(), "All files (*.*)");
        EXPECT_TRUE(QTest::qWaitFor([&] { return shownNames(dialog).contains("README"); }));
        dialog.reject();
    });
    EXPECT_EQ(chooser.choose(ConfigFileCommands::loadRequest(folder.path)), std::nullopt);
}

// In the detail view a file's size, type and date are shown whole, not cut short: also when
// the columns come back narrow (Qt restores them from its own settings file).
TEST_F(FileChooserTest, TheDetailViewShowsSizeTypeAndDateWhole) {
    folder.put("a-configuration-with-a-long-name.vxc", std::string(290, 'v'));
    whenUp([](QFileDialog& dialog) {
        dialog.setViewMode(QFileDialog::Detail);
        auto* tree = dialog.findChild<QTreeView*>("treeView");
        ASSERT_NE(tree, nullptr);
        QAbstractItemView* details = tree;  // where the column's wish is public
        EXPECT_TRUE(QTest::qWaitFor([&] {
            return details->model()->rowCount(details->rootIndex()) > 0 &&
                   details->sizeHintForColumn(3) > 0;
        }));
        for (int column = 1; column <= 3; ++column) {
            tree->header()->resizeSection(column, 20);
            QApplication::processEvents();
            EXPECT_GE(tree->header()->sectionSize(column), details->sizeHintForColumn(column))
                << "column " << column;
        }
        dialog.reject();
    });
    EXPECT_EQ(chooser.choose(ConfigFileCommands::loadRequest(folder.path)), std::nullopt);
}

}  // namespace
