#include "engine/at_exchange.h"

#include <string_view>

#include "engine/notifications.h"
#include "platform/clock.h"

namespace engine {

namespace {

constexpr int kPreCommandWaitMs = 20;
constexpr int kResponseSettleMs = 300;
constexpr int kPollIntervalMs = 50;
constexpr int kResponsePolls = 50;
constexpr int kQuickPolls = 10;
constexpr int kDownloadPolls = 50;

constexpr int kAtAttempts = 30;
constexpr int kAte0Attempts = 10;
constexpr int kAte0RetryWaitMs = 300;

void send_command(ModuleSlot& slot, const char* command, int length) {
  purge_port(slot, 0);
  purge_port(slot, 1);
  clear_port_errors(slot);
  platform::sleep_ms(kPreCommandWaitMs);
  write_port(slot, command, length);
}

int poll_for(ModuleSlot& slot, ReplyBuffer& reply, int polls, std::string_view token) {
  for (int i = 0; i < polls; ++i) {
    clear(reply);
    read_port(slot, reply);
    if (reply_text(reply).find(token) != std::string_view::npos) return 1;
    platform::sleep_ms(kPollIntervalMs);
  }
  return 0;
}

void trace_port_not_open() {
  debug_trace("send_at_command_with_response: error= hAT");
}

}  // namespace

int send_at_command_with_response(ModuleSlot& slot, const char* command, int length,
                                  ReplyBuffer& reply) {
  if (!slot.hAT.is_open()) {
    trace_port_not_open();
    return 0;
  }
  send_command(slot, command, length);
  platform::sleep_ms(kResponseSettleMs);
  return poll_for(slot, reply, kResponsePolls, "OK");
}

int send_at_command_quick(ModuleSlot& slot, const char* command, int length, ReplyBuffer& reply) {
  send_command(slot, command, length);
  return poll_for(slot, reply, kQuickPolls, "OK");
}

int send_at_command_wait_download(ModuleSlot& slot, const char* command, int length,
                                  ReplyBuffer& reply) {
  send_command(slot, command, length);
  return poll_for(slot, reply, kDownloadPolls, "DOWNLOAD");
}

int at_handshake(ModuleSlot& slot) {
  static constexpr char kAt[] = "AT\r\n";
  static constexpr char kAte0[] = "ATE0\r\n";
  ReplyBuffer reply;

  bool answered = false;
  for (int attempt = 0; attempt < kAtAttempts && !answered; ++attempt) {
    if (slot.runEnabled.load() == 0) {
      report_status(slot, "Download Pause!");
      return DL_PAUSED;
    }
    clear(reply);
    if (!slot.hAT.is_open()) {
      trace_port_not_open();
      continue;
    }
    answered = send_at_command_quick(slot, kAt, sizeof kAt - 1, reply) == 1;
  }
  if (!answered) {
    report_status(slot, "AT Failed!");
    return DL_AT_FAILED;
  }

  for (int attempt = 0; attempt < kAte0Attempts; ++attempt) {
    if (slot.runEnabled.load() == 0) {
      report_status(slot, "Download Pause!");
      return DL_PAUSED;
    }
    clear(reply);
    if (send_at_command_with_response(slot, kAte0, sizeof kAte0 - 1, reply) == 1) return DL_OK;
    platform::sleep_ms(kAte0RetryWaitMs);
  }
  report_status(slot, "ATE0 Failed!");
  return DL_ATE0_FAILED;
}

}  // namespace engine
