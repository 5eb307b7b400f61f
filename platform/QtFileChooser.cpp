#include "QtFileChooser.h"

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
    QStringList filters;
    for (const auto& [description, patterns] : filterEntries(request.filter)) {
        QString qtPatterns = toQt(patterns);
        qtPatterns.replace(';', ' ');
        // Qt takes the patterns from the parentheses, so give them their own.
        filters << QString("%1 (%2)").arg(toQt(description).section(" (", 0, 0), qtPatterns);
    }
    dialog.setNameFilters(filters);
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
