#pragma once

// The main dialog of quillmark.exe in the test's own process, on a bench folder whose name is
// Chinese, with modules simulated on COM ports (tests/ui_win/face_test.sh serves them). Message
// boxes and the file dialog are answered by the test; everything else is the real window.

#include <gtest/gtest.h>
#include <windows.h>

#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"
#include "ui_win/cor_vexdlg.h"
#include "ui_win/message_box.h"

namespace face_testing {

constexpr DWORD kLimitMs = 60000;  // only ends the wait for something that never comes

struct ShownBox {
  HWND owner;
  std::wstring text;
  std::wstring caption;
  UINT type;
};

// Records every message box for its lifetime; a question is answered from `answers` (No when
// none is left).
class BoxRecorder {
 public:
  BoxRecorder();
  ~BoxRecorder();
  std::vector<ShownBox> boxes;
  std::deque<int> answers;

 private:
  ui_win::MessageBoxHandler previous_;
};

// Handles the thread's messages through the dialog's loop until `condition()` holds.
template <typename Condition>
testing::AssertionResult pump_until(ui_win::COR_VEXDlg& face, Condition&& condition,
                                    DWORD limit_ms = kLimitMs) {
  const ULONGLONG deadline = ::GetTickCount64() + limit_ms;
  while (true) {
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) face.pump(message);
    if (condition()) return testing::AssertionSuccess();
    if (::GetTickCount64() >= deadline)
      return testing::AssertionFailure() << "still not so after " << limit_ms << " ms";
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
  }
}

class FaceBench : public testing::Test {
 protected:
  FaceBench();
  ~FaceBench() override;

  // ZEBL.ini with the update file (settling time 0) and each module's AT and Diag port (0: none).
  void write_settings(const std::vector<int>& at_ports, const std::vector<int>& diag_ports = {});
  // The update file, `size` bytes of varied content.
  void write_update_file(const std::filesystem::path& path, size_t size);
  // The census hides the ports of `hidden_ports` until they are taken out of it.
  ui_win::COR_VEXDlg& open_dialog();
  HWND item(int id) const { return ::GetDlgItem(face->hwnd(), id); }
  std::string text(int id) const;
  bool visible(int id) const { return ::IsWindowVisible(item(id)) != FALSE; }
  bool enabled(int id) const { return ::IsWindowEnabled(item(id)) != FALSE; }
  // The colour at a result picture's corner, as the screen shows it.
  COLORREF picture_colour(int k) const;
  // Clicks a control as the operator does.
  void click(int id) const { ::SendMessageW(item(id), BM_CLICK, 0, 0); }
  // Whether the file that module `com` stored is `expected`, under any name.
  bool stored(unsigned com, const std::string& expected) const;
  // Runs a program of this build with `arguments` and gives its exit code, handling the dialog's
  // messages meanwhile (the program may send it some).
  DWORD run_program(const std::wstring& program, const std::wstring& arguments);

  // One bench folder for the whole test program: the engine takes the folder of its traffic logs
  // and run records once per process.
  static const std::filesystem::path& process_bench();
  const std::filesystem::path bench = process_bench();
  std::unique_ptr<testing_support::ScopedWorkingDirectory> cwd;
  std::filesystem::path update_file = bench / "update.bin";
  std::string content;
  std::set<uint32_t> hidden_ports;
  BoxRecorder boxes;
  std::unique_ptr<ui_win::COR_VEXDlg> face;
};

// A program of this build, from the environment variable that names it.
std::wstring program_path(const wchar_t* variable);

// A visible top-level window of process `pid` with the caption `caption`; null when none.
HWND window_of(DWORD pid, const std::wstring& caption);

}  // namespace face_testing
