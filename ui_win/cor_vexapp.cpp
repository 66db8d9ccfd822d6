#include "ui_win/cor_vexapp.h"

#include <windows.h>
// windows.h first: commctrl.h needs its types.
#include <commctrl.h>

#include <string>

#include "platform/executable_dir.h"
#include "platform/tool_locks.h"
#include "platform/win/wide_text.h"
#include "ui_win/cor_vexdlg.h"
#include "ui_win/message_box.h"

namespace ui_win {

COR_VEXApp::COR_VEXApp() = default;
COR_VEXApp::~COR_VEXApp() = default;

int COR_VEXApp::InitInstance() {
  INITCOMMONCONTROLSEX classes{sizeof classes, ICC_WIN95_CLASSES};
  ::InitCommonControlsEx(&classes);

  // The start-up's boxes are captioned with the application's name, the executable's.
  const std::wstring caption = application_name();
  locks_ = std::make_unique<platform::ToolLocks>();
  platform::LockRefusal refusal;
  if (!platform::take_tool_locks(platform::working_directory(), locks_.get(), &refusal)) {
    if (refusal.held) {
      std::string text = "Tool has been opened!";
      if (const std::string holder = platform::describe_holder(refusal); !holder.empty())
        text += "\nAlready running: " + holder;
      message_box(nullptr, platform::win::widen(text), caption, MB_OK);
      return 0;
    }
    // Without the locks a second program could share the ports: the tool does not start.
    message_box(nullptr,
                platform::win::widen("The " + refusal.lock + " cannot be taken: " + refusal.reason),
                caption, MB_OK | MB_ICONSTOP);
    return 1;
  }

  COR_VEXDlg dialog;
  dialog.set_first_paint_handler(on_first_paint);
  dialog.DoModal();
  return 0;
}

}  // namespace ui_win
