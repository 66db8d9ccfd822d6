#include "engine/download_sequence.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <string>
#include <string_view>

#include "engine/at_exchange.h"
#include "engine/notifications.h"
#include "engine/serial_link.h"
#include "platform/atol_number.h"
#include "platform/clock.h"

namespace engine {

namespace {

constexpr int kPromptSettleMs = 200;  // after "DOWNLOAD", before the first piece
constexpr int kPieceWaitMs = 120;     // after every piece
constexpr int kPacketReplyPolls = 100;
constexpr int kPollIntervalMs = 50;
constexpr size_t kCountTextLimit = 29;  // characters of a byte count that are read

constexpr std::string_view kCountTag = "+CFSGFIS: ";

bool paused(const ModuleSlot& slot) {
  return slot.runEnabled.load() == 0;
}

int pause(ModuleSlot& slot) {
  report_status(slot, "Download Pause!");
  return DL_PAUSED;
}

int fail(ModuleSlot& slot, const char* status, int code) {
  report_status(slot, status);
  return code;
}

bool send(ModuleSlot& slot, const std::string& command, ReplyBuffer& reply) {
  clear(reply);
  return send_at_command_with_response(slot, command.data(), static_cast<int>(command.size()),
                                       reply) == 1;
}

// The answer to a packet's data: 0 when accepted, else DL_PACKET_ERROR or DL_PAUSED.
int await_packet_reply(ModuleSlot& slot, ReplyBuffer& reply) {
  for (int poll = 0; poll < kPacketReplyPolls; ++poll) {
    clear(reply);
    read_port(slot, reply);
    std::string_view text = reply_text(reply);
    if (text.find("OK") != std::string_view::npos) return DL_OK;
    if (text.find("ERROR") != std::string_view::npos) {
      if (paused(slot)) return pause(slot);
      return fail(slot, "Download packet return Error!", DL_PACKET_ERROR);
    }
    platform::sleep_ms(kPollIntervalMs);
  }
  // Unconfirmed data is never taken as stored.
  if (paused(slot)) return pause(slot);
  return fail(slot, "Download packet not confirmed!", DL_PACKET_ERROR);
}

// Writes one packet in pieces. 0, or DL_PACKET_ERROR when a piece did not go out completely.
int write_pieces(ModuleSlot& slot, const uint8_t* packet, int length, int64_t& done) {
  for (int offset = 0; offset < length; offset += kPieceSize) {
    int piece = std::min(kPieceSize, length - offset);
    if (!slot.hAT.is_open()) {
      debug_trace("send_at_command_with_response: error= hAT");
      return fail(slot, "Download packet write failed!", DL_PACKET_ERROR);
    }
    purge_port(slot, 0);
    purge_port(slot, 1);
    clear_port_errors(slot);
    slot.notes.note_data_sent();  // from here on the module may hold part of the file
    if (write_port(slot, packet + offset, piece) != piece)
      return fail(slot, "Download packet write failed!", DL_PACKET_ERROR);
    done += piece;
    report_progress(slot, done, slot.fileSize);
    platform::sleep_ms(kPieceWaitMs);
  }
  return DL_OK;
}

int transfer_packets(ModuleSlot& slot, ReplyBuffer& reply) {
  const std::string& name = slot.run.fileName;
  int64_t done = 0;
  int packets = 0;
  for (int remaining = slot.fileSize; remaining > 0;) {
    if (paused(slot)) return pause(slot);
    int length = std::min(remaining, kPacketSize);
    // The command grows with the name: a long name is never cut to another name.
    std::string command = "AT+CFSWFILE=0,\"" + name + "\"," + (packets == 0 ? "0" : "1") + "," +
                          std::to_string(length) + ",10000\r\n";
    ++packets;
    if (!slot.hAT.is_open()) {
      debug_trace("send_at_command_with_response: error= hAT");
      return fail(slot, "AT+CFSWFILE failed!", DL_CFSWFILE_FAILED);
    }
    clear(reply);
    if (send_at_command_wait_download(slot, command.data(), static_cast<int>(command.size()),
                                      reply) != 1)
      return fail(slot, "AT+CFSWFILE failed!", DL_CFSWFILE_FAILED);
    platform::sleep_ms(kPromptSettleMs);

    const uint8_t* packet = slot.fileData.get() + (slot.fileSize - remaining);
    if (int r = write_pieces(slot, packet, length, done); r != DL_OK) return r;
    if (int r = await_packet_reply(slot, reply); r != DL_OK) return r;
    if (paused(slot)) return pause(slot);
    remaining -= length;
  }
  return DL_OK;
}

// The stored size from a "+CFSGFIS: " reply. False when the count is not trustworthy: no "\r\n"
// after it (it may continue in the next read), longer than the count buffer, or beyond the range
// of a file size. Otherwise the number is read as atol reads (no digits: 0).
bool parse_byte_count(std::string_view text, int64_t* count) {
  size_t tag = text.find(kCountTag);
  std::string_view rest = text.substr(tag + kCountTag.size());
  size_t end = rest.find("\r\n");
  if (end == std::string_view::npos || end > kCountTextLimit) return false;
  int64_t value = platform::atol_number(rest.substr(0, end));
  if (value > INT32_MAX || value < INT32_MIN) return false;
  *count = value;
  return true;
}

int verify_byte_count(ModuleSlot& slot, ReplyBuffer& reply) {
  std::string query = "at+cfsgfis=0," + slot.run.fileName + "\r\n";
  int64_t count = 0;
  if (!send(slot, query, reply) || reply_text(reply).find(kCountTag) == std::string_view::npos ||
      !parse_byte_count(reply_text(reply), &count))
    return fail(slot, "The byte count query failed!", DL_BYTE_COUNT_FAILED);
  char line[260];
  if (count == slot.fileSize) {
    std::snprintf(line, sizeof line, "Byte count match successful: %d!", static_cast<int>(count));
    report_status(slot, line);
    return DL_OK;
  }
  std::snprintf(line, sizeof line, "Byte count match failed: %d!", static_cast<int>(count));
  report_status(slot, line);
  return DL_BYTE_COUNT_FAILED;
}

// Always reached: ends the file-system access, and activates the file when everything succeeded.
int finish(ModuleSlot& slot, int result, ReplyBuffer& reply) {
  if (send(slot, "AT+CFSTERM\r\n", reply)) {
    debug_trace("set AT+CFSTERM!\r\n");
  } else {
    report_status(slot, "AT+CFSTERM failed!");
    if (result == DL_OK) result = DL_CFSTERM_FAILED;
  }
  if (result != DL_OK) return result;

  if (send(slot, "AT+CBAINIT\r\n", reply)) {
    debug_trace("set AT+CBAINIT!\r\n");
  } else {
    result = fail(slot, "AT+CBAINIT failed!", DL_CBAINIT_FAILED);
  }
  if (send(slot, "AT+CBAPPS\r\n", reply)) {
    debug_trace("set AT+CBAPPS!\r\n");
  } else {
    report_status(slot, "AT+CBAPPS failed!");
    if (result != DL_CBAINIT_FAILED) result = DL_CBAPPS_FAILED;
  }
  return result;
}

}  // namespace

int download_file(ModuleSlot& slot) {
  ReplyBuffer reply{};
  report_status(slot, "Start downloading file...");
  int result;
  if (!send(slot, "AT+CFSINIT\r\n", reply)) {
    result = fail(slot, "AT+CFSINIT failed!", DL_CFSINIT_FAILED);
  } else {
    result = transfer_packets(slot, reply);
    if (result == DL_OK) result = paused(slot) ? pause(slot) : verify_byte_count(slot, reply);
  }
  return finish(slot, result, reply);
}

}  // namespace engine
