// Sends a window a port's device-change notice from a process of its own, as the system sends it
// to a Unicode window: WM_DEVICECHANGE with the wide structure of a port device.
//
//   port_notice_sender <window> arrival|removal <port name>
//
// <window> is the window handle as a decimal number. Exit 0 once the window has handled it.
#include <windows.h>
// windows.h first: dbt.h needs its types.
#include <dbt.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <vector>

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) return 2;
  HWND window = reinterpret_cast<HWND>(static_cast<uintptr_t>(std::wcstoull(argv[1], nullptr, 10)));
  const WPARAM event =
      std::wcscmp(argv[2], L"arrival") == 0 ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE;
  const size_t length = std::wcslen(argv[3]);
  const size_t size = offsetof(DEV_BROADCAST_PORT_W, dbcp_name) + (length + 1) * sizeof(wchar_t);
  std::vector<unsigned char> bytes(size + sizeof(DEV_BROADCAST_PORT_W));
  auto* port = reinterpret_cast<DEV_BROADCAST_PORT_W*>(bytes.data());
  port->dbcp_size = static_cast<DWORD>(size);
  port->dbcp_devicetype = DBT_DEVTYP_PORT;
  std::memcpy(port->dbcp_name, argv[3], (length + 1) * sizeof(wchar_t));
  DWORD_PTR answer = 0;
  return ::SendMessageTimeoutW(window, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(port),
                               SMTO_BLOCK, 60000, &answer)
             ? 0
             : 1;
}
