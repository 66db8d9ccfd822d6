// A bare Win32 program, the floor under quillmark.exe's start: one window of a class of its own,
// without dialog template, resources, common controls or the tool's start-up. At its first
// WM_PAINT it writes "first-paint <ns>" on its standard output as quillmark.exe does (the system
// time in nanoseconds since 1970-01-01 UTC), then "peak-kib <n>", its peak working set so far, and
// ends.
#include <windows.h>

#include <cstdio>

#include "bench/run_figures.h"

namespace {

void write_stamps() {
  FILETIME now{};
  ::GetSystemTimePreciseAsFileTime(&now);
  const unsigned long long ticks =
      (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  constexpr unsigned long long kUnixEpochTicks = 116444736000000000ULL;  // 100 ns since 1601
  std::printf("first-paint %llu\npeak-kib %ld\n", (ticks - kUnixEpochTicks) * 100ULL,
              bench::peak_rss_kib());
  std::fflush(stdout);
}

LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT paint;
      ::BeginPaint(window, &paint);
      ::EndPaint(window, &paint);
      write_stamps();
      ::DestroyWindow(window);
      return 0;
    }
    case WM_DESTROY:
      ::PostQuitMessage(0);
      return 0;
    default:
      return ::DefWindowProcW(window, message, wparam, lparam);
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  WNDCLASSW type{};
  type.lpfnWndProc = procedure;
  type.hInstance = instance;
  type.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  type.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  type.lpszClassName = L"quillmark-bench-bare";
  if (!::RegisterClassW(&type)) return 1;
  HWND window = ::CreateWindowExW(0, type.lpszClassName, L"bare", WS_OVERLAPPEDWINDOW, 0, 0, 640,
                                  480, nullptr, nullptr, instance, nullptr);
  if (window == nullptr) return 1;
  ::ShowWindow(window, SW_SHOW);
  MSG message;
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  return 0;
}
