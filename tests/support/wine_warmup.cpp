// Starts the long-lived processes of a Wine prefix (its services and its desktop) from a process
// whose output goes nowhere. They keep the standard output of the process that started them for as
// long as the prefix's server runs: started by a test, they would keep that test's output open, and
// CTest would wait for it until the server ends.
#include <windows.h>

int main() {
  HWND window = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, nullptr, nullptr,
                                  ::GetModuleHandleW(nullptr), nullptr);
  if (window == nullptr) return 1;
  ::DestroyWindow(window);
  return 0;
}
