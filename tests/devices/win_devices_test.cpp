// The Windows side of the port census and of the device-change notices.
#include <windows.h>
// windows.h first: dbt.h and setupapi.h need its types.
#include <dbt.h>
#include <devguid.h>
#include <gtest/gtest.h>
#include <setupapi.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <string>
#include <thread>

#include "devices/friendly_name.h"
#include "devices/port_census.h"
#include "devices/port_watcher.h"

namespace {

using devices::AtPortCandidates;

bool listed(uint32_t n) {
  return std::find(AtPortCandidates.begin(), AtPortCandidates.end(), n) != AtPortCandidates.end();
}

// Whether the Ports class lists a COM port (on Windows it does wherever a serial port exists; Wine
// lists none).
bool ports_class_lists_com_ports() {
  HDEVINFO set = ::SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
  if (set == INVALID_HANDLE_VALUE) return false;
  bool found = false;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD k = 0; !found && ::SetupDiEnumDeviceInfo(set, k, &device); ++k) {
    wchar_t name[130] = {};
    found = ::SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_FRIENDLYNAME, nullptr,
                                                reinterpret_cast<BYTE*>(name),
                                                sizeof name - sizeof name[0], nullptr) &&
            std::wstring(name).find(L"(COM") != std::wstring::npos;
  }
  ::SetupDiDestroyDeviceInfoList(set);
  return found;
}

// Values of HKLM\HARDWARE\DEVICEMAP\SERIALCOMM that the test adds and removes again.
class SerialCommValues {
 public:
  SerialCommValues() {
    ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, nullptr, 0,
                      KEY_SET_VALUE | KEY_QUERY_VALUE, nullptr, &key_, nullptr);
  }
  ~SerialCommValues() {
    for (const std::wstring& name : names_) ::RegDeleteValueW(key_, name.c_str());
    if (key_) ::RegCloseKey(key_);
  }
  bool add(const std::wstring& name, const std::wstring& port) {
    names_.push_back(name);
    return key_ && ::RegSetValueExW(
                       key_, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(port.c_str()),
                       static_cast<DWORD>((port.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
  }

 private:
  HKEY key_ = nullptr;
  std::vector<std::wstring> names_;
};

TEST(CensusTest, TheRegistryNamesThePortsWhenThePortsClassListsNone) {
  if (ports_class_lists_com_ports()) GTEST_SKIP() << "the Ports class lists COM ports here";
  devices::DiagPortCandidates = {4};
  {
    SerialCommValues values;
    ASSERT_TRUE(values.add(L"\\Device\\QuillTest57", L"COM57"));
    ASSERT_TRUE(values.add(L"\\Device\\QuillTest12", L"COM12"));
    ASSERT_TRUE(values.add(L"\\Device\\QuillTestLpt", L"LPT1"));
    ASSERT_TRUE(values.add(L"\\Device\\QuillTestZero", L"COM012"));
    EXPECT_EQ(devices::GetDevicePorts(), 1);
    EXPECT_TRUE(listed(12) && listed(57));
    // In ascending order, whatever order the registry keeps.
    EXPECT_LT(std::find(AtPortCandidates.begin(), AtPortCandidates.end(), 12u),
              std::find(AtPortCandidates.begin(), AtPortCandidates.end(), 57u));
    EXPECT_TRUE(devices::DiagPortCandidates.empty());
  }
  devices::GetDevicePorts();
  EXPECT_FALSE(listed(12) || listed(57));
}

TEST(CensusTest, ReportedNamesAreCleanedAndBounded) {
  EXPECT_EQ(devices::census_name("USB Serial Port (COM12)"), "USB Serial Port (COM12)");
  // The first "(COM" counts; a device cannot add a number of its own after it.
  EXPECT_EQ(devices::census_name("Modem (Interface 3) (COM5)"), "Modem Interface 3 (COM5)");
  EXPECT_EQ(devices::census_name("Fake (COM9) (COM3)"), "Fake (COM9)");
  EXPECT_EQ(devices::census_name("Tab\tand\x01 control (COM7)"), "Tab and control (COM7)");
  const std::string cleaned = devices::census_name(std::string(300, 'x') + " (COM3)");
  EXPECT_EQ(cleaned, std::string(devices::kMaxDescriptionLength, 'x') + " (COM3)");
  // Names without a number to offer are only bounded: "(COM" still makes the census's result.
  EXPECT_EQ(devices::census_name("Printer Port (LPT1)"), "Printer Port (LPT1)");
  EXPECT_EQ(devices::census_name("Odd (COM)"), "Odd (COM)");
  EXPECT_EQ(devices::census_name(std::string(400, 'y')).size(), 259u);
  EXPECT_EQ(devices::take_census({devices::census_name("Odd (COM)")}), 1);
  EXPECT_TRUE(AtPortCandidates.empty());
}

// A device broadcast of a port, as the system sends it to a Unicode window. `size_chars` cuts the
// structure's size after that many characters of the name (no NUL within it).
struct PortBroadcast {
  DEV_BROADCAST_PORT_W header{};
  wchar_t room[16] = {};
  PortBroadcast(DWORD type, const wchar_t* name, size_t size_chars = SIZE_MAX) {
    const size_t length = std::wcslen(name);
    header.dbcp_size = static_cast<DWORD>(offsetof(DEV_BROADCAST_PORT_W, dbcp_name) +
                                          std::min(length + 1, size_chars) * sizeof(wchar_t));
    header.dbcp_devicetype = type;
    std::wcscpy(header.dbcp_name, name);
  }
};

TEST(PortWatcherTest, PortDevicesThatComeAndGoBecomeNotices) {
  devices::PortWatcher watcher;
  HWND window = static_cast<HWND>(watcher.window());
  ASSERT_NE(window, nullptr);
  PortBroadcast com7(DBT_DEVTYP_PORT, L"COM7"), com12(DBT_DEVTYP_PORT, L"COM12");
  PortBroadcast volume(DBT_DEVTYP_VOLUME, L"C");
  PortBroadcast cut(DBT_DEVTYP_PORT, L"COM345", 4);  // the size ends the name, not a NUL
  auto send = [window](WPARAM event, PortBroadcast& b) {
    ::SendMessageW(window, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(&b.header));
  };
  send(DBT_DEVICEARRIVAL, com12);
  send(DBT_DEVICEQUERYREMOVE, com7);  // another event
  send(DBT_DEVICEARRIVAL, volume);    // another kind of device
  send(DBT_DEVICEREMOVECOMPLETE, com7);
  send(DBT_DEVICEARRIVAL, cut);
  ::SendMessageW(window, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);  // no header at all
  std::vector<devices::PortNotice> notices = watcher.take_notices();
  ASSERT_EQ(notices.size(), 3u);
  EXPECT_EQ(notices[0].event, uint32_t{DBT_DEVICEARRIVAL});
  EXPECT_EQ(notices[0].device_type, uint32_t{DBT_DEVTYP_PORT});
  EXPECT_EQ(notices[0].port_name, "COM12");
  EXPECT_EQ(notices[1].event, uint32_t{DBT_DEVICEREMOVECOMPLETE});
  EXPECT_EQ(notices[1].port_name, "COM7");
  EXPECT_EQ(notices[2].port_name, "COM3");
  EXPECT_TRUE(watcher.take_notices().empty());

  // A notice sent from another thread arrives while the watcher's thread looks at its messages.
  std::thread sender([window, &com7] {
    DWORD_PTR answer = 0;
    ::SendMessageTimeoutW(window, WM_DEVICECHANGE, DBT_DEVICEARRIVAL,
                          reinterpret_cast<LPARAM>(&com7.header), SMTO_BLOCK, 60000, &answer);
  });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (notices = watcher.take_notices(), notices.empty()) {
    if (std::chrono::steady_clock::now() > deadline) break;
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
  }
  sender.join();
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0].port_name, "COM7");
}

// Runs port_notice_sender (beside this program) with `arguments`, handling the watcher's messages
// until it has ended; gives the notices that came meanwhile.
std::vector<devices::PortNotice> notices_sent_by_another_process(devices::PortWatcher& watcher,
                                                                 const std::wstring& arguments) {
  std::vector<devices::PortNotice> notices;
  wchar_t self[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring program = self;
  program = program.substr(0, program.find_last_of(L"\\/") + 1) + L"port_notice_sender.exe";
  std::wstring command = L"\"" + program + L"\" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &process)) {
    ADD_FAILURE() << "port_notice_sender did not start (error " << ::GetLastError() << ")";
    return notices;
  }
  // The sender waits for the window to handle the notice, which happens while its messages are
  // looked at here.
  for (;;) {
    const DWORD woken =
        ::MsgWaitForMultipleObjects(1, &process.hProcess, FALSE, 60000, QS_ALLINPUT);
    for (devices::PortNotice& n : watcher.take_notices()) notices.push_back(std::move(n));
    if (woken != WAIT_OBJECT_0 + 1) break;
  }
  DWORD code = 1;
  ::GetExitCodeProcess(process.hProcess, &code);
  EXPECT_EQ(code, 0u) << "the sender's notice was not handled";
  ::CloseHandle(process.hProcess);
  ::CloseHandle(process.hThread);
  return notices;
}

// The system sends a port's notice to a Unicode window with the port's name in UTF-16; sent from
// another process, the structure is carried over as the system carries it.
TEST(PortWatcherTest, NoticesFromAnotherProcessNameTheirPorts) {
  devices::PortWatcher watcher;
  const auto window = reinterpret_cast<uintptr_t>(watcher.window());
  ASSERT_NE(window, 0u);
  const std::wstring handle = std::to_wstring(window);
  std::vector<devices::PortNotice> arrival =
      notices_sent_by_another_process(watcher, handle + L" arrival COM7");
  ASSERT_EQ(arrival.size(), 1u);
  EXPECT_EQ(arrival[0].event, uint32_t{DBT_DEVICEARRIVAL});
  EXPECT_EQ(arrival[0].port_name, "COM7");
  std::vector<devices::PortNotice> removal =
      notices_sent_by_another_process(watcher, handle + L" removal COM12");
  ASSERT_EQ(removal.size(), 1u);
  EXPECT_EQ(removal[0].event, uint32_t{DBT_DEVICEREMOVECOMPLETE});
  EXPECT_EQ(removal[0].port_name, "COM12");
}

}  // namespace
