#include "platform/win/win_serial_port.h"

#include <algorithm>

#include "platform/clock.h"
#include "platform/win/wide_text.h"

namespace platform {

namespace {

HANDLE as_handle(void* h) {
  return static_cast<HANDLE>(h);
}

void set_reason(std::string* why, const std::string& text) {
  if (why) *why = text;
}

// An overlapped operation with an event of its own, released on every path.
struct Overlapped {
  OVERLAPPED ov{};
  win::Handle event{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  Overlapped() { ov.hEvent = event.get(); }
  bool valid() const { return event.valid(); }
};

}  // namespace

std::string WinSerialPort::device_name(unsigned n) {
  return "\\\\.\\COM" + std::to_string(n);
}

std::shared_ptr<WinSerialPort> WinSerialPort::open(unsigned n, std::string* why) {
  const std::string name = device_name(n);
  // No sharing: a port in use by another program, or by another instance of the tool, is refused.
  win::Handle port(::CreateFileW(win::widen(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED,
                                 nullptr));
  if (!port.valid()) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
      set_reason(why, "COM" + std::to_string(n) + " is not present");
    else if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION)
      set_reason(why, name + ": in use by another program (" + win::error_text(error) + ")");
    else
      set_reason(why, name + ": " + win::error_text(error));
    return nullptr;
  }
  win::Handle close_event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!close_event.valid()) {
    set_reason(why, "CreateEvent: " + win::error_text(::GetLastError()));
    return nullptr;
  }
  return std::shared_ptr<WinSerialPort>(new WinSerialPort(port.release(), close_event.release()));
}

WinSerialPort::~WinSerialPort() {
  ::CloseHandle(as_handle(handle_));
  ::CloseHandle(as_handle(close_event_));
}

bool WinSerialPort::configure() {
  HANDLE h = as_handle(handle_);
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  ::GetCommState(h, &dcb);
  // Every mode flag off, except binary mode, which Windows requires; the XON/XOFF limits and
  // characters keep the values the driver reported.
  dcb.fBinary = TRUE;
  dcb.fParity = FALSE;
  dcb.fOutxCtsFlow = FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDtrControl = DTR_CONTROL_DISABLE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fTXContinueOnXoff = FALSE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fErrorChar = FALSE;
  dcb.fNull = FALSE;
  dcb.fRtsControl = RTS_CONTROL_DISABLE;
  dcb.fAbortOnError = FALSE;
  dcb.BaudRate = CBR_115200;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  const bool applied = ::SetCommState(h, &dcb) != 0;
  // A read returns at once with what is waiting; a write call may take at most 1000 ms.
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.ReadTotalTimeoutMultiplier = 0;
  timeouts.ReadTotalTimeoutConstant = 0;
  timeouts.WriteTotalTimeoutMultiplier = 0;
  timeouts.WriteTotalTimeoutConstant = kStallLimitMs;
  ::SetCommTimeouts(h, &timeouts);
  ::SetupComm(h, 65536, 65536);
  ::PurgeComm(h, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
  return applied;
}

bool WinSerialPort::clear_errors(unsigned long* in_queue, unsigned long* out_queue) {
  DWORD errors = 0;
  COMSTAT status{};
  if (!::ClearCommError(as_handle(handle_), &errors, &status)) {
    note_error(::GetLastError());
    return false;
  }
  if (in_queue) *in_queue = status.cbInQue;
  if (out_queue) *out_queue = status.cbOutQue;
  return true;
}

void WinSerialPort::note_error(unsigned long error) {
  switch (error) {
    case ERROR_BAD_COMMAND:  // what a USB serial driver answers once its device is unplugged
    case ERROR_DEVICE_REMOVED:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_GEN_FAILURE:
    case ERROR_INVALID_HANDLE:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_NOT_READY:
    case ERROR_BROKEN_PIPE:
      gone_ = true;
      break;
    default:
      break;
  }
}

std::string WinSerialPort::failure() const {
  return gone_.load() ? "device gone" : std::string();
}

long WinSerialPort::read(void* buffer, size_t capacity) {
  if (closed_.load()) return -1;
  // Only bytes that are waiting are read. With the read time-outs above a read of an empty port
  // returns at once on Windows, but Wine leaves it pending until a byte arrives.
  unsigned long waiting = 0;
  if (!clear_errors(&waiting, nullptr)) return gone_.load() ? -1 : 0;
  if (waiting == 0 || capacity == 0) return 0;
  Overlapped op;
  if (!op.valid()) return -1;
  const DWORD wanted = static_cast<DWORD>(std::min<size_t>(capacity, waiting));
  DWORD got = 0;
  HANDLE h = as_handle(handle_);
  if (!::ReadFile(h, buffer, wanted, &got, &op.ov)) {
    DWORD error = ::GetLastError();
    if (error != ERROR_IO_PENDING) {
      note_error(error);
      return gone_.load() ? -1 : 0;
    }
    HANDLE waits[2] = {op.event.get(), as_handle(close_event_)};
    if (::WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0)
      ::CancelIoEx(h, &op.ov);  // closed meanwhile: the read ends now
    if (!::GetOverlappedResult(h, &op.ov, &got, TRUE)) {
      error = ::GetLastError();
      if (error != ERROR_OPERATION_ABORTED) note_error(error);
      return closed_.load() || gone_.load() ? -1 : 0;
    }
  }
  return static_cast<long>(got);
}

bool WinSerialPort::pause(int64_t timeout_ms) {
  timeout_ms = std::max<int64_t>(timeout_ms, 0);
  Clock& clk = clock();
  const int64_t start = clk.now_ms();
  const DWORD r = ::WaitForSingleObject(as_handle(close_event_), static_cast<DWORD>(timeout_ms));
  // As on the other platforms: a wait that timed out has lasted its whole time, also on a test's
  // clock, so that a line that never takes a byte still reaches the stall limit.
  if (r == WAIT_TIMEOUT) {
    const int64_t rest = timeout_ms - (clk.now_ms() - start);
    if (rest > 0) clk.sleep_ms(rest);
  }
  return !closed_.load();
}

bool WinSerialPort::write_all(const void* data, size_t length) {
  const auto* p = static_cast<const unsigned char*>(data);
  HANDLE h = as_handle(handle_);
  Clock& clk = clock();
  int64_t last_progress = clk.now_ms();
  while (length > 0) {
    clear_errors(nullptr, nullptr);
    Overlapped op;
    if (!op.valid()) return false;
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(length, 1u << 30));
    DWORD put = 0;
    bool pending = false;
    {
      std::lock_guard lock(io_mutex_);
      if (closed_.load()) return false;
      if (!::WriteFile(h, p, chunk, &put, &op.ov)) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_IO_PENDING) {
          note_error(error);
          return false;
        }
        pending = true;
      }
    }
    if (pending) {
      // The driver ends the call after 1000 ms; the wait is bounded the same way on this side
      // too, for a driver that does not.
      HANDLE waits[2] = {op.event.get(), as_handle(close_event_)};
      const int64_t left = kStallLimitMs - (clk.now_ms() - last_progress);
      const DWORD r = ::WaitForMultipleObjects(2, waits, FALSE,
                                               static_cast<DWORD>(std::max<int64_t>(left, 0) + 50));
      if (r != WAIT_OBJECT_0) ::CancelIoEx(h, &op.ov);
      if (!::GetOverlappedResult(h, &op.ov, &put, TRUE)) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_OPERATION_ABORTED) {
          note_error(error);
          return false;
        }
      }
      if (closed_.load()) return false;
    }
    if (put > 0) {
      p += put;
      length -= put;
      last_progress = clk.now_ms();
      continue;
    }
    const int64_t left = kStallLimitMs - (clk.now_ms() - last_progress);
    if (left <= 0) return false;
    if (!pause(std::min<int64_t>(left, 10))) return false;
  }
  return drain();
}

// Waits until the output queue is empty, so that a purge after the write can never discard a byte
// that was reported as written.
bool WinSerialPort::drain() {
  Clock& clk = clock();
  int64_t last_progress = clk.now_ms();
  unsigned long previous = 0;
  bool first = true;
  for (;;) {
    unsigned long queued = 0;
    if (!clear_errors(nullptr, &queued)) return false;
    if (queued == 0) return !closed_.load();
    if (first || queued < previous) last_progress = clk.now_ms();
    first = false;
    previous = queued;
    const int64_t left = kStallLimitMs - (clk.now_ms() - last_progress);
    if (left <= 0) return false;
    // About the time the queued bytes take at 115200 bit/s (ten bits a byte), at least 1 ms.
    const int64_t expected = std::max<int64_t>(1, static_cast<int64_t>(queued) / 12);
    if (!pause(std::min(expected, left))) return false;
  }
}

void WinSerialPort::purge(PurgeSide side) {
  ::PurgeComm(as_handle(handle_), side == PurgeSide::receive ? PURGE_RXABORT | PURGE_RXCLEAR
                                                             : PURGE_TXABORT | PURGE_TXCLEAR);
}

void WinSerialPort::close() {
  std::lock_guard lock(io_mutex_);
  if (closed_.exchange(true)) return;
  HANDLE h = as_handle(handle_);
  ::PurgeComm(h, PURGE_TXABORT | PURGE_TXCLEAR);
  ::SetEvent(as_handle(close_event_));
  ::CancelIoEx(h, nullptr);  // every operation pending on the port, from any thread
}

}  // namespace platform
