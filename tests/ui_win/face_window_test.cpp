// quillmark.exe's main dialog under Wine on a display, with modules simulated on COM ports
// (tests/ui_win/face_test.sh): COM7 to COM12 answer as modules do, COM13 reports a wrong byte
// count, COM14 answers nothing, COM15 refuses the first packet once, COM16 is kept out of the
// census until it "arrives".
#include <gtest/gtest.h>
#include <windows.h>
// windows.h first.
#include <knownfolders.h>
#include <objbase.h>
#include <shlobj.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <thread>

#include "config/settings.h"
#include "dialog/login.h"
#include "engine/module_slot.h"
#include "engine/notifications.h"
#include "platform/bench_folder.h"
#include "platform/tool_locks.h"
#include "platform/win/wide_text.h"
#include "tests/ui_win/face_bench.h"
#include "tests/ui_win/window_testing.h"
#include "ui_win/login_dlg.h"

namespace {

using dialog::kPanelIds;
using face_testing::FaceBench;
using face_testing::pump_until;
using platform::win::narrow;
using platform::win::widen;

constexpr COLORREF kPass = RGB(0, 255, 0);
constexpr COLORREF kFail = RGB(254, 0, 0);

const dialog::PanelIds& panel(int k) {
  return kPanelIds[static_cast<size_t>(k)];
}

LPARAM key_lparam(bool repeated) {
  return static_cast<LPARAM>(1 | (0x1C << 16) | (repeated ? (1u << 30) : 0u));
}

TEST_F(FaceBench, EnterStartsSixModulesToPassAndTheCloseWaitsForThem) {
  write_settings({7, 8, 9, 10, 11, 12});
  open_dialog();
  HWND dialog = face->hwnd();
  int started = 0;
  face->set_run_started_handler([&](int) { ++started; });
  // Each worker's notification is told once the dialog has handled it (the window benchmark times
  // runs by them).
  struct Told {
    std::string first_status;
    int progress = 0;
    int finished = 0;
    std::string caption_at_end;
  };
  std::array<Told, 6> told;
  face->set_notification_handler([&](uint32_t msg, uintptr_t wParam, intptr_t) {
    const uint32_t status = msg - engine::WM_SLOT_STATUS;
    if (status < 6 && wParam != 0 && told[status].first_status.empty())
      told[status].first_status = reinterpret_cast<const char*>(wParam);
    if (msg - engine::WM_SLOT_PROGRESS < 6) ++told[msg - engine::WM_SLOT_PROGRESS].progress;
    if (const uint32_t k = msg - engine::WM_SLOT_FINISHED; k < 6) {
      ++told[k].finished;
      told[k].caption_at_end = text(panel(static_cast<int>(k)).start_button);
    }
  });

  // The window as it opens: ALL START is the default, the first port list has the focus, every
  // module shows its port and "START", nothing of a result shows, the strip offers Login.
  EXPECT_EQ(::SendMessageW(dialog, DM_GETDEFID, 0, 0),
            MAKELRESULT(dialog::kAllStartId, DC_HASDEFID));
  EXPECT_EQ(::GetFocus(), item(panel(0).at_port_list));
  EXPECT_NE(::SendMessageW(dialog, WM_GETICON, ICON_BIG, 0), 0);
  EXPECT_NE(::SendMessageW(dialog, WM_GETICON, ICON_SMALL, 0), 0);
  for (int k = 0; k < 6; ++k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(text(panel(k).at_port_list), "COM" + std::to_string(7 + k));
    EXPECT_EQ(text(panel(k).start_button), "START");
    EXPECT_TRUE(enabled(panel(k).start_button));
    EXPECT_FALSE(visible(panel(k).result_picture));
    EXPECT_FALSE(visible(panel(k).diag_port_list));
  }
  EXPECT_EQ(text(dialog::kFilePathEditId), narrow(update_file.wstring()));
  EXPECT_TRUE(visible(dialog::kLoginId) && enabled(dialog::kLoginId));
  EXPECT_FALSE(visible(dialog::kSaveId) || visible(dialog::kAllCheckId));

  // A wheel turned over the focused, closed list changes nothing.
  ::SendMessageW(item(panel(0).at_port_list), WM_MOUSEWHEEL, MAKEWPARAM(0, -WHEEL_DELTA), 0);
  ::SendMessageW(item(panel(0).at_port_list), WM_MOUSEWHEEL, MAKEWPARAM(0, WHEEL_DELTA * 2), 0);
  EXPECT_EQ(text(panel(0).at_port_list), "COM7");
  EXPECT_TRUE(boxes.boxes.empty());
  window_testing::take_screenshot(L"face-start", dialog);

  // Enter, pressed on the keyboard.
  ::SetForegroundWindow(dialog);
  INPUT keys[2]{};
  for (INPUT& key : keys) {
    key.type = INPUT_KEYBOARD;
    key.ki.wVk = VK_RETURN;
  }
  keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
  ASSERT_EQ(::SendInput(2, keys, sizeof(INPUT)), 2u);
  ASSERT_TRUE(pump_until(*face, [&] { return started == 6; }));
  ASSERT_TRUE(pump_until(*face, [&] {
    return text(panel(5).start_button) == "PAUSE" && engine::slots()[5].active.load() == 1;
  }));
  window_testing::take_screenshot(L"face-running", dialog);

  // The close box and Escape while modules run: refused, without an owner, and nothing stops.
  ::SendMessageW(dialog, WM_CLOSE, 0, 0);
  ::PostMessageW(::GetFocus() ? ::GetFocus() : dialog, WM_KEYDOWN, VK_ESCAPE, key_lparam(false));
  ASSERT_TRUE(pump_until(*face, [&] { return boxes.boxes.size() == 2; }));
  for (const auto& box : boxes.boxes) {
    EXPECT_EQ(box.text, L"download is doing,can't be closed!");
    EXPECT_EQ(box.caption, L"warning");
    EXPECT_EQ(box.owner, nullptr);
    EXPECT_EQ(box.type & (MB_TYPEMASK | MB_ICONMASK), static_cast<UINT>(MB_OK));
  }
  EXPECT_FALSE(face->ended());

  ASSERT_TRUE(pump_until(*face, [&] {
    for (int k = 0; k < 6; ++k) {
      if (text(panel(k).start_button) != "START" || !visible(panel(k).result_picture)) return false;
    }
    return true;
  }));
  for (int k = 0; k < 6; ++k) {
    SCOPED_TRACE(k);
    EXPECT_TRUE(stored(7u + static_cast<unsigned>(k), content));
    EXPECT_EQ(picture_colour(k), kPass);
    EXPECT_EQ(text(panel(k).status_line), "download success!");
    const Told& run = told[static_cast<size_t>(k)];
    EXPECT_EQ(run.first_status.rfind("Prepare to download", 0), 0u) << run.first_status;
    EXPECT_GT(run.progress, 0);
    EXPECT_EQ(run.finished, 1);
    EXPECT_EQ(run.caption_at_end, "START");
  }
  window_testing::take_screenshot(L"face-results", dialog);

  // Enter held down: the repeats of the key start nothing, and the results stay.
  for (int i = 0; i < 10; ++i) ::PostMessageW(dialog, WM_KEYDOWN, VK_RETURN, key_lparam(true));
  ASSERT_TRUE(pump_until(*face, [] { return true; }));
  EXPECT_EQ(started, 6);
  EXPECT_TRUE(visible(panel(0).result_picture));

  ::SendMessageW(dialog, WM_CLOSE, 0, 0);
  EXPECT_TRUE(face->ended());
  EXPECT_EQ(::IsWindow(dialog), FALSE);
  EXPECT_EQ(boxes.boxes.size(), 2u);
}

// A failing module names its cause; a removed Diag port fails its running module at once; an
// arriving port is offered in every list; an operator's pick is found by its text in a sorted list.
TEST_F(FaceBench, FailuresPortNoticesAndThePortQuestion) {
  write_settings({13, 14, 15}, {0, 17, 0});
  hidden_ports = {16};
  open_dialog();
  HWND dialog = face->hwnd();
  for (int k = 0; k < 3; ++k) click(panel(k).start_button);
  ASSERT_TRUE(pump_until(*face, [] {
    return engine::slots()[1].active.load() == 1 && engine::slots()[1].hAT.is_open();
  }));

  // The Unicode notice of Module2's Diag port going away, sent by another process.
  const std::wstring sender = face_testing::program_path(L"QUILL_NOTICE_SENDER");
  const std::wstring handle = std::to_wstring(reinterpret_cast<uintptr_t>(dialog));
  ASSERT_EQ(run_program(sender, handle + L" removal COM17"), 0u);
  EXPECT_TRUE(visible(panel(1).result_picture));
  EXPECT_EQ(picture_colour(1), kFail);
  EXPECT_FALSE(engine::slots()[1].hAT.is_open());
  ASSERT_TRUE(pump_until(*face, [&] { return text(panel(1).start_button) == "START"; }));
  EXPECT_EQ(text(panel(1).status_line).rfind("device2 errcode=", 0), 0u)
      << text(panel(1).status_line);

  // Module1 fails, and the status line's tooltip tells why; Module3 passes on its retry.
  ASSERT_TRUE(pump_until(*face, [&] {
    return text(panel(0).start_button) == "START" && text(panel(2).start_button) == "START";
  }));
  EXPECT_EQ(picture_colour(0), kFail);
  EXPECT_EQ(text(panel(0).status_line).rfind("device1 errcode=", 0), 0u)
      << text(panel(0).status_line);
  const std::wstring why = face->tooltip_text(panel(0).status_line);
  EXPECT_NE(why.find(L"Byte count match failed: 2999!\r\n"), std::wstring::npos) << narrow(why);
  EXPECT_EQ(picture_colour(2), kPass);
  EXPECT_NE(face->tooltip_text(panel(2).status_line).find(L"Download packet return Error!"),
            std::wstring::npos);

  // COM16 arrives: every port list offers it, Module1's keeps its port.
  EXPECT_EQ(::SendMessageW(item(panel(3).at_port_list), CB_FINDSTRINGEXACT, -1,
                           reinterpret_cast<LPARAM>(L"COM16")),
            CB_ERR);
  hidden_ports.clear();
  ASSERT_EQ(run_program(sender, handle + L" arrival COM16"), 0u);
  for (int k = 0; k < 6; ++k) {
    EXPECT_NE(::SendMessageW(item(panel(k).at_port_list), CB_FINDSTRINGEXACT, -1,
                             reinterpret_cast<LPARAM>(L"COM16")),
              CB_ERR);
  }
  EXPECT_EQ(text(panel(0).at_port_list), "COM13");

  // The operator moves Module1's list to the next entry (COM14, as the list sorts it): the
  // question names the module, No puts COM13 back.
  boxes.boxes.clear();
  ::SetFocus(item(panel(0).at_port_list));
  ::PostMessageW(item(panel(0).at_port_list), WM_KEYDOWN, VK_DOWN, key_lparam(false));
  ASSERT_TRUE(pump_until(*face, [&] { return !boxes.boxes.empty(); }));
  EXPECT_EQ(boxes.boxes[0].text, L"update Module1 AT port setting?");
  EXPECT_EQ(boxes.boxes[0].caption, L"warning");
  EXPECT_EQ(boxes.boxes[0].owner, dialog);
  EXPECT_EQ(boxes.boxes[0].type, static_cast<UINT>(MB_YESNO | MB_ICONQUESTION | MB_SYSTEMMODAL));
  EXPECT_EQ(text(panel(0).at_port_list), "COM13");
  EXPECT_EQ(engine::slots()[0].atPort, 13);

  // Moved to a monitor of 120 DPI (Wine never says so itself): the dialog takes the rectangle the
  // system suggests. Dragged while minimised, it shows the application's icon.
  RECT suggested;
  ::GetWindowRect(dialog, &suggested);
  ::OffsetRect(&suggested, 40, 30);
  suggested.right += 100;
  suggested.bottom += 80;
  ::SendMessageW(dialog, 0x02E0 /* WM_DPICHANGED */, MAKEWPARAM(120, 120),
                 reinterpret_cast<LPARAM>(&suggested));
  RECT now;
  ::GetWindowRect(dialog, &now);
  EXPECT_TRUE(::EqualRect(&now, &suggested));
  EXPECT_EQ(::SendMessageW(dialog, WM_QUERYDRAGICON, 0, 0),
            ::SendMessageW(dialog, WM_GETICON, ICON_BIG, 0));
}

// Drives a modal dialog (the login, the file dialog) from inside its own loop: a timer of the
// thread runs `steps` in turn on the visible window of that caption.
struct LoginScript {
  std::vector<std::function<void(HWND login)>> steps;
  std::wstring caption = L"Login";
  size_t next = 0;
  static inline LoginScript* running = nullptr;

  static void CALLBACK tick(HWND, UINT, UINT_PTR timer, DWORD) {
    if (running == nullptr) return;
    struct Search {
      const std::wstring* caption;
      HWND found = nullptr;
    } search{&running->caption};
    ::EnumThreadWindows(
        ::GetCurrentThreadId(),
        [](HWND window, LPARAM searching) -> BOOL {
          auto* search = reinterpret_cast<Search*>(searching);
          wchar_t caption[64] = L"";
          ::GetWindowTextW(window, caption, 64);
          if (caption != *search->caption || !::IsWindowVisible(window)) return TRUE;
          search->found = window;
          return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    HWND login = search.found;
    if (login == nullptr) return;
    if (running->next < running->steps.size()) running->steps[running->next++](login);
    if (running->next == running->steps.size()) ::KillTimer(nullptr, timer);
  }
  void run(HWND login_button) {
    running = this;
    ::SetTimer(nullptr, 0, 20, tick);
    ::SendMessageW(login_button, BM_CLICK, 0, 0);
    running = nullptr;
  }
};

void type_password(HWND login, const wchar_t* password) {
  ::SetDlgItemTextW(login, ui_win::kPasswordEditId, password);
  ::SendMessageW(login, WM_COMMAND, IDOK, 0);
}

// The settings mode, and an update file with a Chinese name picked through Browse and run to PASS.
TEST_F(FaceBench, LoginBrowseAChineseFileSaveAndRun) {
  write_settings({8});
  open_dialog();
  HWND dialog = face->hwnd();

  // The close box of the prompt: no message, the strip stays locked.
  LoginScript{{[](HWND login) { ::SendMessageW(login, WM_CLOSE, 0, 0); }}}.run(
      item(dialog::kLoginId));
  EXPECT_TRUE(boxes.boxes.empty());
  EXPECT_FALSE(visible(dialog::kSaveId));

  // A wrong password, then the right one.
  std::wstring box_after_refusal = L"?";
  LoginScript{{[](HWND login) { type_password(login, L"kdrawpel"); },
               [&](HWND login) {
                 wchar_t left[32] = L"?";
                 ::GetDlgItemTextW(login, ui_win::kPasswordEditId, left, 32);
                 box_after_refusal = left;
                 type_password(login, L"KDRAWPEL");
               }}}
      .run(item(dialog::kLoginId));
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].text, widen(dialog::kWrongPasswordText));
  EXPECT_EQ(boxes.boxes[0].caption, ui_win::application_name());
  EXPECT_EQ(box_after_refusal, L"");
  EXPECT_TRUE(face->behaviour().settings_unlocked());
  EXPECT_TRUE(visible(dialog::kSaveId) && enabled(dialog::kSaveId));
  EXPECT_FALSE(visible(dialog::kLoginId));
  EXPECT_TRUE(enabled(dialog::kFilePathEditId) && enabled(dialog::kBrowseId));
  EXPECT_FALSE(enabled(panel(0).start_button) || enabled(dialog::kAllStartId));

  // Browse opens the system's file dialog, whose library is loaded only now; cancelled, it
  // changes nothing.
  EXPECT_EQ(::GetModuleHandleW(L"comdlg32.dll"), nullptr);
  const std::string path_before = text(dialog::kFilePathEditId);
  LoginScript{{[](HWND file_dialog) { ::PostMessageW(file_dialog, WM_COMMAND, IDCANCEL, 0); }},
              L"Select fota files:"}
      .run(item(dialog::kBrowseId));
  EXPECT_NE(::GetModuleHandleW(L"comdlg32.dll"), nullptr);
  EXPECT_EQ(text(dialog::kFilePathEditId), path_before);

  // Browse: the file dialog's answer is a path in UTF-16, as the system gives it.
  const std::filesystem::path chinese = bench / std::u8string(u8"更新文件.bin");
  write_update_file(chinese, 2500);
  std::wstring asked_title, asked_folder;
  auto previous = ui_win::set_file_choice_handler(
      [&](HWND owner, const std::wstring& title,
          const std::wstring& folder) -> std::optional<std::wstring> {
        EXPECT_EQ(owner, dialog);
        asked_title = title;
        asked_folder = folder;
        return chinese.wstring();
      });
  // Enter means ALL START, also while Browse has the focus (and ALL START is disabled now).
  // (The dialog manager's own move of the focus, which makes the button the default one.)
  ::SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(item(dialog::kBrowseId)), TRUE);
  ::PostMessageW(item(dialog::kBrowseId), WM_KEYDOWN, VK_RETURN, key_lparam(false));
  ASSERT_TRUE(pump_until(*face, [] { return true; }));
  EXPECT_EQ(asked_title, L"");
  click(dialog::kBrowseId);
  ui_win::set_file_choice_handler(std::move(previous));
  EXPECT_EQ(asked_title, L"Select fota files:");
  EXPECT_EQ(asked_folder, bench.wstring());
  const std::u8string path8 = chinese.u8string();
  const std::string path(path8.begin(), path8.end());
  EXPECT_EQ(text(dialog::kFilePathEditId), path);
  EXPECT_EQ(config::LoadFilePath(), path);
  EXPECT_NE(testing_support::read_file(bench / "ZEBL.ini").find("Path=" + path), std::string::npos);

  click(dialog::kSaveId);
  EXPECT_FALSE(face->behaviour().settings_unlocked());
  EXPECT_TRUE(visible(dialog::kLoginId) && !visible(dialog::kSaveId));
  EXPECT_FALSE(enabled(dialog::kFilePathEditId) || enabled(dialog::kBrowseId));
  EXPECT_EQ(text(dialog::kFilePathEditId), path);

  click(panel(0).start_button);
  ASSERT_TRUE(pump_until(*face, [&] { return visible(panel(0).result_picture); }));
  ASSERT_TRUE(pump_until(*face, [&] { return text(panel(0).start_button) == "START"; }));
  EXPECT_EQ(picture_colour(0), kPass);
  EXPECT_TRUE(stored(8, content));
  EXPECT_EQ(boxes.boxes.size(), 1u);
}

// quillmark.exe itself: it starts on its bench, paints (telling when), writes its diagnostic lines
// into a file named in Chinese, closes on a close request; a second start on the same bench is
// refused with the holder named, and ends with 0.
TEST_F(FaceBench, TheProgramStartsPaintsClosesAndRefusesASecondStart) {
  const std::wstring program = face_testing::program_path(L"QUILL_PROGRAM");
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  const std::filesystem::path stamp_file = bench / "stdout.txt";
  HANDLE out = ::CreateFileW(stamp_file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                             CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(out, INVALID_HANDLE_VALUE);
  const std::filesystem::path debug_file = bench / std::u8string(u8"调试.log");
  auto start = [&](bool stamped) {
    ::SetEnvironmentVariableW(L"QUILLMARK_BENCH_FIRST_PAINT", stamped ? L"1" : nullptr);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = out;
    std::wstring command = L"\"" + program + L"\" --debug \"" + debug_file.wstring() + L"\"";
    PROCESS_INFORMATION process{};
    EXPECT_TRUE(::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                 bench.c_str(), &startup, &process));
    ::SetEnvironmentVariableW(L"QUILLMARK_BENCH_FIRST_PAINT", nullptr);
    ::CloseHandle(process.hThread);
    return process;
  };
  auto wait = [](auto&& condition) {
    const ULONGLONG deadline = ::GetTickCount64() + face_testing::kLimitMs;
    while (!condition() && ::GetTickCount64() < deadline) ::Sleep(20);
    return condition();
  };
  FILETIME before{};
  ::GetSystemTimePreciseAsFileTime(&before);

  PROCESS_INFORMATION first = start(true);
  HWND main_dialog = nullptr;
  ASSERT_TRUE(wait([&] {
    return (main_dialog =
                face_testing::window_of(first.dwProcessId, L"VX4410 Quillmark Ver1.18")) != nullptr;
  }));
  ASSERT_TRUE(
      wait([&] { return testing_support::read_file(stamp_file).find('\n') != std::string::npos; }));
  const std::string stamp = testing_support::read_file(stamp_file);
  ASSERT_EQ(stamp.rfind("first-paint ", 0), 0u) << stamp;
  const unsigned long long since_1601 =
      (static_cast<unsigned long long>(before.dwHighDateTime) << 32) | before.dwLowDateTime;
  const unsigned long long started_ns = (since_1601 - 116444736000000000ULL) * 100ULL;
  const unsigned long long painted_ns = std::stoull(stamp.substr(12));
  EXPECT_GT(painted_ns, started_ns);
  std::printf("quillmark.exe: from the start of its process to the first paint: %.1f ms\n",
              static_cast<double>(painted_ns - started_ns) / 1e6);

  PROCESS_INFORMATION second = start(false);
  HWND refusal = nullptr;
  ASSERT_TRUE(wait([&] {
    return (refusal = face_testing::window_of(second.dwProcessId, L"quillmark")) != nullptr;
  }));
  std::wstring said;
  ::EnumChildWindows(
      refusal,
      [](HWND child, LPARAM text) -> BOOL {
        wchar_t shown[512] = L"";
        ::GetWindowTextW(child, shown, 512);
        if (std::wstring(shown).find(L"Tool has been opened!") == 0)
          *reinterpret_cast<std::wstring*>(text) = shown;
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&said));
  EXPECT_EQ(said.rfind(L"Tool has been opened!\nAlready running: ", 0), 0u) << narrow(said);
  EXPECT_NE(said.find(std::to_wstring(first.dwProcessId)), std::wstring::npos) << narrow(said);
  EXPECT_EQ(face_testing::window_of(second.dwProcessId, L"VX4410 Quillmark Ver1.18"), nullptr);
  ::PostMessageW(refusal, WM_COMMAND, IDOK, 0);
  DWORD code = ~0u;
  ASSERT_TRUE(wait([&] { return ::WaitForSingleObject(second.hProcess, 0) == WAIT_OBJECT_0; }));
  ::GetExitCodeProcess(second.hProcess, &code);
  EXPECT_EQ(code, 0u);

  // A close request, as the close box sends it.
  ::PostMessageW(main_dialog, WM_CLOSE, 0, 0);
  ASSERT_TRUE(wait([&] { return ::WaitForSingleObject(first.hProcess, 0) == WAIT_OBJECT_0; }));
  ::GetExitCodeProcess(first.hProcess, &code);
  EXPECT_EQ(code, 0u);
  // Its diagnostic lines went to the file named in Chinese.
  EXPECT_NE(testing_support::read_file(debug_file).find("OnClose: OK!"), std::string::npos);
  ::CloseHandle(first.hProcess);
  ::CloseHandle(second.hProcess);
  ::CloseHandle(out);
}

// Away from the folder it was started in, the window tells its bench beside the totals (a path too
// long loses its middle); quillmark.exe itself with --default-bench works on the quillmark folder
// of the user's Documents, and refuses a bench that is not there.
TEST_F(FaceBench, TheBenchFolderIsShownAndTheProgramTakesItsBenchOptions) {
  write_settings({});
  platform::set_start_directory("C:\\elsewhere\\");
  open_dialog();
  platform::set_start_directory({});
  const std::u8string here = std::filesystem::current_path().u8string();
  EXPECT_TRUE(visible(dialog::kBenchFolderId));
  EXPECT_EQ(text(dialog::kBenchFolderId), "Bench: " + std::string(here.begin(), here.end()));
  EXPECT_EQ(::GetWindowLongW(item(dialog::kBenchFolderId), GWL_STYLE) & SS_ELLIPSISMASK,
            SS_PATHELLIPSIS);
  face.reset();

  const std::wstring program = face_testing::program_path(L"QUILL_PROGRAM");
  const std::filesystem::path errors = bench / "errors.txt";
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  auto start = [&](const std::wstring& options) {
    HANDLE err = ::CreateFileW(errors.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                               CREATE_ALWAYS, 0, nullptr);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdError = err;
    std::wstring command = L"\"" + program + L"\" " + options;
    PROCESS_INFORMATION process{};
    EXPECT_TRUE(::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                 bench.c_str(), &startup, &process));
    ::CloseHandle(process.hThread);
    ::CloseHandle(err);
    return process;
  };
  auto exit_code = [](PROCESS_INFORMATION& process) {
    DWORD code = ~0u;
    EXPECT_EQ(::WaitForSingleObject(process.hProcess, face_testing::kLimitMs), WAIT_OBJECT_0);
    ::GetExitCodeProcess(process.hProcess, &code);
    ::CloseHandle(process.hProcess);
    return code;
  };

  PROCESS_INFORMATION refused = start(L"--bench \"" + (bench / L"missing").wstring() + L"\"");
  EXPECT_EQ(exit_code(refused), 2u);
  const std::string told = testing_support::read_file(errors);
  EXPECT_EQ(told.rfind("quillmark: bench folder ", 0), 0u) << told;

  PWSTR documents = nullptr;
  ASSERT_EQ(::SHGetKnownFolderPath(FOLDERID_Documents, 0, nullptr, &documents), S_OK);
  const std::wstring default_bench = std::wstring(documents) + L"\\quillmark";
  ::CoTaskMemFree(documents);
  PROCESS_INFORMATION menu = start(L"--default-bench");
  HWND main_dialog = nullptr;
  const ULONGLONG deadline = ::GetTickCount64() + face_testing::kLimitMs;
  while ((main_dialog = face_testing::window_of(menu.dwProcessId, L"VX4410 Quillmark Ver1.18")) ==
             nullptr &&
         ::GetTickCount64() < deadline)
    ::Sleep(20);
  ASSERT_NE(main_dialog, nullptr) << testing_support::read_file(errors);
  wchar_t shown[512] = L"";
  ::GetDlgItemTextW(main_dialog, dialog::kBenchFolderId, shown, 512);
  EXPECT_EQ(std::wstring(shown), L"Bench: " + default_bench);
  EXPECT_TRUE(::IsWindowVisible(::GetDlgItem(main_dialog, dialog::kBenchFolderId)));
  EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(default_bench) / "ZEBL.lock"));
  ::PostMessageW(main_dialog, WM_CLOSE, 0, 0);
  EXPECT_EQ(exit_code(menu), 0u);
}

}  // namespace
