#include "engine/module_identity.h"

#include <algorithm>
#include <vector>

#include "engine/notifications.h"
#include "engine/serial_link.h"
#include "platform/clock.h"

namespace engine {

namespace {

constexpr int kPreCommandWaitMs = 20;
constexpr int kPollIntervalMs = 50;
constexpr int kQueryPolls = 20;
constexpr size_t kReplyLimit = 512;  // a reply of any length is read no further
constexpr size_t kRevisionLimit = 64;

// The lines of a reply that carry an answer: without blanks around them, the echo, OK and the
// answer's own tag.
std::vector<std::string> answer_lines(std::string_view reply, std::string_view command) {
  std::vector<std::string> lines;
  while (!reply.empty()) {
    const size_t end = reply.find_first_of("\r\n");
    std::string_view line = reply.substr(0, end);
    reply.remove_prefix(end == std::string_view::npos ? reply.size() : end + 1);
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
    if (line.empty() || line == "OK" || line == command) continue;
    const std::string tag = "+" + std::string(command.substr(3)) + ":";  // "+CGSN:"
    if (line.starts_with(tag)) {
      line.remove_prefix(tag.size());
      while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
    }
    if (line.size() >= 2 && line.front() == '"' && line.back() == '"')
      line = line.substr(1, line.size() - 2);
    lines.emplace_back(line);
  }
  return lines;
}

enum class Final { none, ok, error };

// The line that ends a reply: a whole line "OK" or "ERROR" (or "+CME ERROR: <n>").
Final final_line(std::string_view text) {
  while (!text.empty()) {
    const size_t end = text.find_first_of("\r\n");
    if (end == std::string_view::npos) return Final::none;  // the line is not whole yet
    const std::string_view line = text.substr(0, end);
    if (line == "OK") return Final::ok;
    if (line == "ERROR" || line.starts_with("+CME ERROR")) return Final::error;
    text.remove_prefix(end + 1);
  }
  return Final::none;
}

// The whole reply to `command`, or empty when the module answered ERROR or nothing in time.
std::string query(ModuleSlot& slot, std::string_view command) {
  if (!slot.hAT.is_open()) return {};
  const std::string line = std::string(command) + "\r\n";
  purge_port(slot, 0);
  purge_port(slot, 1);
  clear_port_errors(slot);
  platform::sleep_ms(kPreCommandWaitMs);
  write_port(slot, line.data(), static_cast<int>(line.size()));
  std::string text;
  ReplyBuffer reply;
  Final end = Final::none;
  for (int poll = 0; poll < kQueryPolls && text.size() < kReplyLimit; ++poll) {
    clear(reply);
    read_port(slot, reply);
    text += reply_text(reply);
    if ((end = final_line(text)) != Final::none) break;
    platform::sleep_ms(kPollIntervalMs);
  }
  if (end != Final::ok) {
    debug_trace("%.*s: %s", static_cast<int>(command.size()), command.data(),
                end == Final::error ? "ERROR" : "no answer");
    return {};
  }
  return text;
}

}  // namespace

std::string imei_from_reply(std::string_view reply) {
  for (const std::string& line : answer_lines(reply, "AT+CGSN")) {
    const bool digits =
        std::all_of(line.begin(), line.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (digits && line.size() >= 14 && line.size() <= 17) return line;
  }
  return {};
}

std::string revision_from_reply(std::string_view reply) {
  const std::vector<std::string> lines = answer_lines(reply, "AT+CGMR");
  if (lines.empty()) return {};
  const std::string& line = lines.front();
  const bool printable =
      std::all_of(line.begin(), line.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
  return printable && line.size() <= kRevisionLimit ? line : std::string();
}

std::string identity_text(const ModuleIdentity& identity) {
  if (identity.imei.empty() && identity.revision.empty()) return {};
  auto shown = [](const std::string& field) { return field.empty() ? std::string("?") : field; };
  return "IMEI " + shown(identity.imei) + ", revision " + shown(identity.revision);
}

ModuleIdentity ask_identity(ModuleSlot& slot) {
  ModuleIdentity identity;
  identity.imei = imei_from_reply(query(slot, "AT+CGSN"));
  identity.revision = revision_from_reply(query(slot, "AT+CGMR"));
  return identity;
}

}  // namespace engine
