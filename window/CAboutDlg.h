#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class CAboutDlg;
}

// "About vxconf": the program's bitmap, name, version, maker and support contacts.
class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
    ~CAboutDlg() override;

    // Escape presses OK, as Enter does.
    void reject() override { accept(); }

private:
    std::unique_ptr<Ui::CAboutDlg> m_ui;
};
