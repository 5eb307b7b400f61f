#include "CAboutDlg.h"

#include "ui_CAboutDlg.h"
#include "window/Tips.h"

CAboutDlg::CAboutDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint),
      m_ui(std::make_unique<Ui::CAboutDlg>()) {
    initProgramResources();
    m_ui->setupUi(this);
    setWindowTitle("About vxconf");
    connect(m_ui->okButton, &QPushButton::clicked, this, &QDialog::accept);
    m_ui->okButton->setFocus();
}

CAboutDlg::~CAboutDlg() = default;
