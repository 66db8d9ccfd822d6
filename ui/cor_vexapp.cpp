#include "ui/cor_vexapp.h"

#include <QCoreApplication>

#include "platform/executable_dir.h"
#include "platform/tool_locks.h"
#include "ui/cor_vexdlg.h"
#include "ui/message_box.h"

namespace ui {

COR_VEXApp::COR_VEXApp() = default;
COR_VEXApp::~COR_VEXApp() = default;

int COR_VEXApp::InitInstance() {
  // Message boxes of the start-up are captioned with the application's name, the executable's.
  const QString caption = QCoreApplication::applicationName();
  locks_ = std::make_unique<platform::ToolLocks>();
  platform::LockRefusal refusal;
  if (!platform::take_tool_locks(platform::working_directory(), locks_.get(), &refusal)) {
    if (refusal.held) {
      QString text = QStringLiteral("Tool has been opened!");
      if (const std::string holder = platform::describe_holder(refusal); !holder.empty())
        text += QStringLiteral("\nAlready running: %1").arg(QString::fromStdString(holder));
      message_box(nullptr, text, caption);
      return 0;
    }
    // Without the locks a second program could share the ports: the tool does not start.
    message_box(
        nullptr,
        QStringLiteral("The %1 cannot be taken: %2")
            .arg(QString::fromStdString(refusal.lock), QString::fromStdString(refusal.reason)),
        caption);
    return 1;
  }

  COR_VEXDlg dialog;
  dialog.exec();
  return 0;
}

}  // namespace ui
