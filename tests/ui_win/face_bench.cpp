#include "tests/ui_win/face_bench.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>

#include "devices/port_census.h"
#include "platform/win/wide_text.h"
#include "tests/support/run_trace.h"
#include "tests/ui_win/window_testing.h"

namespace face_testing {

BoxRecorder::BoxRecorder() {
  previous_ = ui_win::set_message_box_handler(
      [this](HWND owner, const std::wstring& text, const std::wstring& caption, UINT type) {
        boxes.push_back({owner, text, caption, type});
        if ((type & MB_TYPEMASK) != MB_YESNO) return IDOK;
        if (answers.empty()) return IDNO;
        const int answer = answers.front();
        answers.pop_front();
        return answer;
      });
}

BoxRecorder::~BoxRecorder() {
  ui_win::set_message_box_handler(std::move(previous_));
}

const std::filesystem::path& FaceBench::process_bench() {
  static testing_support::TempDir root;
  static const std::filesystem::path bench = root.path() / std::u8string(u8"工作台");
  return bench;
}

FaceBench::FaceBench() {
  std::filesystem::create_directories(bench);
  std::filesystem::remove(bench / "ZEBL.ini");
  cwd = std::make_unique<testing_support::ScopedWorkingDirectory>(bench);
}

FaceBench::~FaceBench() {
  face.reset();  // ends every run before the bench goes
  cwd.reset();
}

void FaceBench::write_update_file(const std::filesystem::path& path, size_t size) {
  content = testing_support::tricky_content(size, static_cast<int>(size % 7));
  std::ofstream(path, std::ios::binary) << content;
}

void FaceBench::write_settings(const std::vector<int>& at_ports,
                               const std::vector<int>& diag_ports) {
  write_update_file(update_file, 3000);
  const char* ordinals[] = {"First", "Second", "Third", "Fourth", "Fifth", "Sixth"};
  std::ofstream ini(bench / "ZEBL.ini", std::ios::binary);
  const std::u8string path = update_file.u8string();
  ini << "[FilePath]\r\nPath=" << std::string(path.begin(), path.end()) << "\r\nSleepTime=0\r\n";
  for (size_t k = 0; k < 6; ++k) {
    if (k < at_ports.size() && at_ports[k] != 0)
      ini << "[ATPort_" << ordinals[k] << "]\r\nnumber=" << at_ports[k] << "\r\n";
    if (k < diag_ports.size() && diag_ports[k] != 0)
      ini << "[DiagPort_" << ordinals[k] << "]\r\nnumber=" << diag_ports[k] << "\r\n";
  }
}

ui_win::COR_VEXDlg& FaceBench::open_dialog() {
  // The census of this build's ports, less the ports a test keeps back until they "arrive".
  auto take = [this] {
    const int found = devices::GetDevicePorts();
    std::erase_if(devices::AtPortCandidates,
                  [this](uint32_t com) { return hidden_ports.count(com) != 0; });
    return found;
  };
  face = std::make_unique<ui_win::COR_VEXDlg>(dialog::MainDialog::PortCensus{take, take});
  EXPECT_TRUE(face->Create());
  EXPECT_TRUE(pump_until(*face, [this] { return ::IsWindowVisible(face->hwnd()) != FALSE; }));
  return *face;
}

std::string FaceBench::text(int id) const {
  std::wstring shown(static_cast<size_t>(::GetWindowTextLengthW(item(id))) + 1, L'\0');
  shown.resize(static_cast<size_t>(
      ::GetWindowTextW(item(id), shown.data(), static_cast<int>(shown.size()))));
  return platform::win::narrow(shown);
}

COLORREF FaceBench::picture_colour(int k) const {
  HWND picture = item(dialog::kPanelIds[static_cast<size_t>(k)].result_picture);
  ::UpdateWindow(picture);
  return window_testing::capture_client(picture).at(2, 2);
}

bool FaceBench::stored(unsigned com, const std::string& expected) const {
  const char* store = std::getenv("QUILL_COM_STORE");
  if (store == nullptr) return false;
  // "\\?\" keeps a folder named COM1 to COM9 from being taken for that device.
  const std::filesystem::path folder =
      std::filesystem::path(std::string("\\\\?\\") + store) / ("COM" + std::to_string(com));
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    if (testing_support::read_file(entry.path()) == expected) return true;
  }
  return false;
}

DWORD FaceBench::run_program(const std::wstring& program, const std::wstring& arguments) {
  std::wstring command = L"\"" + program + L"\" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
    ADD_FAILURE() << "cannot start " << platform::win::narrow(program);
    return ~0u;
  }
  EXPECT_TRUE(pump_until(
      *face, [&] { return ::WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0; }));
  DWORD code = ~0u;
  ::GetExitCodeProcess(process.hProcess, &code);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return code;
}

std::wstring program_path(const wchar_t* variable) {
  wchar_t path[MAX_PATH] = L"";
  ::GetEnvironmentVariableW(variable, path, MAX_PATH);
  return path;
}

HWND window_of(DWORD pid, const std::wstring& caption) {
  struct Search {
    DWORD pid;
    const std::wstring* caption;
    HWND found;
  } search{pid, &caption, nullptr};
  ::EnumWindows(
      [](HWND window, LPARAM data) -> BOOL {
        auto* s = reinterpret_cast<Search*>(data);
        DWORD owner = 0;
        ::GetWindowThreadProcessId(window, &owner);
        wchar_t text[256] = L"";
        ::GetWindowTextW(window, text, 256);
        if (owner != s->pid || !::IsWindowVisible(window) || *s->caption != text) return TRUE;
        s->found = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

}  // namespace face_testing
