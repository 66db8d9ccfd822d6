#pragma once

#include <QDialog>
#include <QString>
#include <memory>

#include "dialog/login.h"
#include "ui/dialog_units.h"

namespace Ui {
class CLoginDlg;
}

namespace ui {

// The end codes of a modal dialog.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;

// The password of the settings mode.
inline const QString kLoginPassword =
    QString::fromUtf8(dialog::kLoginPassword.data(), dialog::kLoginPassword.size());

// The password prompt of the settings mode: it ends with IDOK only after the password was typed
// exactly, and with IDCANCEL when the operator closes it (close box or Escape). A wrong password
// is answered with a message and an emptied box; attempts are not counted.
class CLoginDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CLoginDlg(QWidget* parent = nullptr);
  ~CLoginDlg() override;

  // Runs the dialog until it ends; IDOK or IDCANCEL.
  int DoModal();

  // The password box's text, exchanged by DoDataExchange.
  QString m_strPassword;

 private:
  // true: from the box into m_strPassword; false: back into the box.
  void DoDataExchange(bool save_and_validate);
  void OnBnClickedOk();

  std::unique_ptr<Ui::CLoginDlg> ui_;
};

}  // namespace ui
