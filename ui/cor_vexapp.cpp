#include "ui/cor_vexapp.h"

#include <QCoreApplication>

#include "platform/instance_lock.h"
#include "ui/cor_vexdlg.h"
#include "ui/message_box.h"

namespace ui {

COR_VEXApp::COR_VEXApp() = default;
COR_VEXApp::~COR_VEXApp() = default;

int COR_VEXApp::InitInstance() {
  // Message boxes of the start-up are captioned with the application's name, the executable's.
  const QString caption = QCoreApplication::applicationName();
  platform::InstanceLock::Refusal refusal;
  lock_ = platform::InstanceLock::acquire("ZEBL", {}, &refusal);
  if (!lock_) {
    if (refusal.held) {
      message_box(nullptr, QStringLiteral("Tool has been opened!"), caption);
      return 0;
    }
    // Without the lock a second instance could share the ports: the tool does not start.
    message_box(nullptr,
                QStringLiteral("The single-instance lock cannot be taken: %1")
                    .arg(QString::fromStdString(refusal.reason)),
                caption);
    return 1;
  }

  COR_VEXDlg dialog;
  dialog.exec();
  return 0;
}

}  // namespace ui
