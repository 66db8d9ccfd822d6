#include <windows.h>
// windows.h first: dbt.h needs its types.
#include <dbt.h>

#include <algorithm>
#include <cstddef>
#include <mutex>
#include <string_view>
#include <utility>

#include "devices/port_watcher.h"
#include "engine/notifications.h"
#include "platform/win/wide_text.h"

namespace devices {

namespace {

constexpr const wchar_t* kWindowClass = L"QuillmarkPortWatcher";

LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  } else if (message == WM_DEVICECHANGE) {
    auto* watcher = reinterpret_cast<PortWatcher*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (watcher) watcher->on_device_change(wparam, reinterpret_cast<const void*>(lparam));
    return TRUE;
  }
  return ::DefWindowProcW(window, message, wparam, lparam);
}

bool register_window_class() {
  static std::once_flag once;
  static bool registered = false;
  std::call_once(once, [] {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = window_procedure;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = kWindowClass;
    registered = ::RegisterClassExW(&wc) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
  });
  return registered;
}

}  // namespace

PortWatcher::PortWatcher() {
  // A top-level window that is never shown: the system sends port notices to top-level windows
  // only, not to message-only windows.
  if (register_window_class())
    window_ = ::CreateWindowExW(WS_EX_TOOLWINDOW, kWindowClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr,
                                nullptr, ::GetModuleHandleW(nullptr), this);
  if (!window_)
    engine::debug_trace("PortWatcher: no window for device notices (error %lu)\n",
                        static_cast<unsigned long>(::GetLastError()));
}

PortWatcher::~PortWatcher() {
  if (window_) ::DestroyWindow(static_cast<HWND>(window_));
}

std::optional<PortNotice> read_port_notice(uintptr_t event, const void* header) {
  if (event != DBT_DEVICEARRIVAL && event != DBT_DEVICEREMOVECOMPLETE) return std::nullopt;
  const auto* broadcast = static_cast<const DEV_BROADCAST_HDR*>(header);
  if (!broadcast || broadcast->dbch_devicetype != DBT_DEVTYP_PORT) return std::nullopt;
  // A Unicode window is handed the wide form of the structure: the port name follows the header in
  // UTF-16, NUL-terminated, and the structure's size bounds it (a name that fills it has no NUL).
  const auto* port = static_cast<const DEV_BROADCAST_PORT_W*>(header);
  const size_t offset = offsetof(DEV_BROADCAST_PORT_W, dbcp_name);
  if (broadcast->dbch_size <= offset) return std::nullopt;
  const size_t room = (broadcast->dbch_size - offset) / sizeof(wchar_t);
  const size_t length = std::find(port->dbcp_name, port->dbcp_name + room, L'\0') - port->dbcp_name;
  PortNotice notice;
  notice.event = static_cast<uint32_t>(event);
  notice.device_type = DBT_DEVTYP_PORT;
  notice.port_name = platform::win::narrow(std::wstring_view(port->dbcp_name, length));
  return notice;
}

void PortWatcher::on_device_change(uintptr_t event, const void* header) {
  if (std::optional<PortNotice> notice = read_port_notice(event, header))
    pending_.push_back(std::move(*notice));
}

std::vector<PortNotice> PortWatcher::take_notices() {
  if (window_) {
    // Notices sent from other threads and processes are delivered while messages are looked at.
    MSG message;
    while (::PeekMessageW(&message, static_cast<HWND>(window_), 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
  }
  return std::exchange(pending_, {});
}

}  // namespace devices
