#include "ui/login_dlg.h"

#include <QCoreApplication>
#include <QFont>
#include <QLineEdit>
#include <QPushButton>

#include "ui/message_box.h"
#include "ui/template_frames.h"
#include "ui_login_dlg.h"

namespace ui {

namespace {

// The template's font, then its substitute on this platform.
constexpr int kLoginFontPoints = 8;

}  // namespace

CLoginDlg::CLoginDlg(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::CLoginDlg>()) {
  QFont font(QStringLiteral("MS Shell Dlg"));
  font.setFamilies({QStringLiteral("MS Shell Dlg"), QStringLiteral("Liberation Sans")});
  font.setPointSize(kLoginFontPoints);
  setFont(font);
  ui_->setupUi(this);

  const DialogBaseUnits units = base_units_of(this->font());
  for (QWidget* control :
       {static_cast<QWidget*>(ui_->password_group), static_cast<QWidget*>(ui_->password_edit),
        static_cast<QWidget*>(ui_->login_button)}) {
    control->setGeometry(dialog_rect_to_pixels(control->geometry(), units));
  }
  setFixedSize(dialog_size_to_pixels(QSize(233, 84), units));
  draw_frames_as_template(this);
  // A modal frame: caption and close box, nothing to resize, minimise or maximise.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setWindowModality(Qt::ApplicationModal);

  // Enter means Login; Escape and the close box end the dialog with IDCANCEL (QDialog::reject).
  ui_->login_button->setDefault(true);
  connect(ui_->login_button, &QPushButton::clicked, this, &CLoginDlg::OnBnClickedOk);
}

CLoginDlg::~CLoginDlg() = default;

int CLoginDlg::DoModal() {
  DoDataExchange(false);
  ui_->password_edit->setFocus(Qt::OtherFocusReason);
  return exec() == QDialog::Accepted ? IDOK : IDCANCEL;
}

void CLoginDlg::DoDataExchange(bool save_and_validate) {
  if (save_and_validate) {
    m_strPassword = ui_->password_edit->text();
  } else {
    ui_->password_edit->setText(m_strPassword);
  }
}

void CLoginDlg::OnBnClickedOk() {
  DoDataExchange(true);
  if (dialog::password_accepted(m_strPassword.toStdString())) {
    accept();
    return;
  }
  message_box(this,
              QString::fromUtf8(dialog::kWrongPasswordText.data(),
                                static_cast<qsizetype>(dialog::kWrongPasswordText.size())),
              QCoreApplication::applicationName());
  m_strPassword.clear();
  DoDataExchange(false);
}

}  // namespace ui
