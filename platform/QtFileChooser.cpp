#include "QtFileChooser.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QPushButton>
#include <QShortcut>
#include <QStringList>

#include "platform/HelpViewer.h"

namespace {

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
