#include "QtFileChooser.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QStringList>
#include <QTreeView>

#include "platform/HelpViewer.h"

namespace {

// Room, in average characters, for the places beside the files, a name, and a file's size,
// type and date in the detail view.
constexpr int kCharsWide = 125;

std::string fromQt(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

// "*.*" stands for every file, names without a dot among them; Qt would match it literally.
QString everyFileAsQt(const QString& patterns) {
    QStringList each = patterns.split(' ', Qt::SkipEmptyParts);
    for (QString& pattern : each) {
        if (pattern == "*.*") {
            pattern = "*";
        }
    }
    return each.join(' ');
}

// The detail view's size, type and date stay whole, and the name takes what is left; the
// dialog is widened for them where the screen has room. Qt's own width cut them short.
void showDetailsWhole(QFileDialog& dialog) {
    if (auto* details = dialog.findChild<QTreeView*>("treeView")) {
        QHeaderView* header = details->header();
        header->setStretchLastSection(false);
        header->setSectionResizeMode(0, QHeaderView::Stretch);
        for (int column = 1; column < header->count(); ++column) {
            header->setSectionResizeMode(column, QHeaderView::ResizeToContents);
        }
    }
    const QScreen* screen = dialog.screen();
    const int room = screen != nullptr ? screen->availableGeometry().width() * 9 / 10 : 0;
    const int wanted = dialog.fontMetrics().averageCharWidth() * kCharsWide;
    if (room > 0 && dialog.width() < wanted) {
        dialog.resize(std::min(wanted, room), dialog.height());
    }
}

}  // namespace

std::optional<ChosenFile> QtFileChooser::choose(const FileDialogRequest& request) {
    QFileDialog dialog(m_owner, toQt(request.title), toQt(request.initialFolder));
    // The platform's own dialog could not carry the Help button.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    const bool save = request.kind == FileDialogKind::Save;
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save || !request.fileMustExist ? QFileDialog::AnyFile
                                                      : QFileDialog::ExistingFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.overwritePrompt);
    dialog.setDefaultSuffix(toQt(request.defaultExtension));
    QStringList shown;
    QStringList matched;
    for (const auto& [description, patterns] : filterEntries(request.filter)) {
        QString qtPatterns = toQt(patterns);
        qtPatterns.replace(';', ' ');
        // Qt takes the patterns from the parentheses, so give them their own.
        const QString name = toQt(description).section(" (", 0, 0);
        shown << QString("%1 (%2)").arg(name, qtPatterns);
        matched << QString("%1 (%2)").arg(name, everyFileAsQt(qtPatterns));
    }
    dialog.setNameFilters(matched);
    // The list still reads as the filter was written.
    if (auto* types = dialog.findChild<QComboBox*>("fileTypeCombo")) {
        for (int i = 0; i < types->count() && i < shown.size(); ++i) {
            types->setItemText(i, shown[i]);
        }
    }
    if (request.helpButton && m_help != nullptr) {
        if (auto* buttons = dialog.findChild<QDialogButtonBox*>()) {
            QPushButton* help = buttons->addButton(QDialogButtonBox::Help);
            help->setText(kFileDialogHelp);
            const std::uint32_t context = request.helpContext;
            const auto showHelp = [this, context] {
                if (context == 0) {
                    m_help->showContents();
                } else {
                    m_help->showTopic(context);
                }
            };
            QObject::connect(help, &QPushButton::clicked, &dialog, showHelp);
            auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), &dialog);
            QObject::connect(f1, &QShortcut::activated, &dialog, showHelp);
        }
    }
    showDetailsWhole(dialog);
    while (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
        const QString path = dialog.selectedFiles().first();
        const QFileInfo info(path);
        if (const std::optional<Notice> refused = refusedPath(
                request, fromQt(path), fromQt(info.absolutePath()), info.absoluteDir().exists())) {
            m_notifier->show(*refused);
            continue;
        }
        return ChosenFile{fromQt(path), fromQt(info.fileName())};
    }
    return std::nullopt;
}
