#include "tools/simulator/simulated_module.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <utility>

namespace simulator {

namespace {

constexpr std::string_view kOk = "\r\nOK\r\n";
constexpr std::string_view kError = "\r\nERROR\r\n";

std::string upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

template <typename T>
bool parse_number(std::string_view text, T* value) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return ec == std::errc() && end == text.data() + text.size();
}

// Splits "a,b,c" into its parameters.
std::vector<std::string_view> parameters(std::string_view text) {
  std::vector<std::string_view> out;
  for (;;) {
    size_t comma = text.find(',');
    out.push_back(text.substr(0, comma));
    if (comma == std::string_view::npos) return out;
    text.remove_prefix(comma + 1);
  }
}

bool safe_file_name(std::string_view name) {
  return !name.empty() && name.find('/') == std::string_view::npos && name != "." && name != "..";
}

}  // namespace

char imei_check_digit(std::string_view fourteen_digits) {
  int sum = 0;
  for (size_t k = 0; k < fourteen_digits.size(); ++k) {
    int d = fourteen_digits[k] - '0';
    if (k % 2 == 1) d = d * 2 > 9 ? d * 2 - 9 : d * 2;  // every second digit doubled
    sum += d;
  }
  return static_cast<char>('0' + (10 - sum % 10) % 10);
}

Identity identity_for_com(unsigned com) {
  std::string digits = std::to_string(com % 1000000);
  digits = "35" + std::string("000000") + std::string(6 - digits.size(), '0') + digits;
  return {digits + imei_check_digit(digits), "SIMREV 1.0"};
}

bool Faults::parse(std::string_view fault) {
  size_t eq = fault.find('=');
  std::string_view key = fault.substr(0, eq);
  std::string_view value = eq == std::string_view::npos ? "" : fault.substr(eq + 1);
  if (key == "silent") return silent = true;
  if (key == "deaf") return deaf = true;
  if (key == "split") return split_replies = true;
  if (key == "count-no-crlf") return count_without_line_end = true;
  if (key == "delay") return parse_number(value, &reply_delay_ms);
  if (key == "error-packet") return parse_number(value, &error_on_packet);
  if (key == "count-offset") return parse_number(value, &count_offset);
  if (key == "stall-after") return parse_number(value, &stall_after_bytes);
  if (key == "pull-after") return parse_number(value, &pull_after_bytes);
  if (key == "count-text" && !value.empty()) {
    count_text = value;
    return true;
  }
  if (key == "silent-identity") return silent_identity = true;
  if (key == "refuse" && !value.empty()) {
    refused.insert(upper(value));
    return true;
  }
  return false;
}

// Data bytes the module takes before its stall or pull-out fault strikes.
int64_t SimulatedModule::data_until_fault() const {
  int64_t limit = std::numeric_limits<int64_t>::max();
  for (int64_t threshold : {faults_.stall_after_bytes, faults_.pull_after_bytes})
    if (threshold >= 0) limit = std::min(limit, std::max<int64_t>(threshold - data_total_, 0));
  return limit;
}

void SimulatedModule::send(std::string bytes, std::vector<Reply>& out) const {
  if (faults_.silent || bytes.empty()) return;
  int64_t delay = faults_.reply_delay_ms;
  if (faults_.split_replies && bytes.size() > 1) {
    size_t half = bytes.size() / 2;
    out.push_back({delay, bytes.substr(0, half)});
    out.push_back({delay + kSplitGapMs, bytes.substr(half)});
    return;
  }
  out.push_back({delay, std::move(bytes)});
}

bool SimulatedModule::strike_due_fault() {
  if (data_until_fault() > 0) return false;
  if (faults_.pull_after_bytes >= 0 && data_total_ >= faults_.pull_after_bytes)
    pulled_out_ = true;
  else
    stalled_ = true;
  return true;
}

std::vector<SimulatedModule::Reply> SimulatedModule::receive(std::string_view bytes) {
  std::vector<Reply> out;
  std::string echo;
  size_t i = 0;
  while (i < bytes.size() && !stalled_ && !pulled_out_) {
    // The line feed of a command's "\r\n" is part of the command, also when the command opened a
    // data phase: the data starts after it.
    if (std::exchange(line_feed_due_, false) && bytes[i] == '\n') {
      if (echo_) echo += '\n';
      ++i;
      continue;
    }
    if (in_data_) {
      if (strike_due_fault()) break;
      size_t take = std::min<size_t>(bytes.size() - i, data_expected_ - data_.size());
      take = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(take), data_until_fault()));
      data_.append(bytes.substr(i, take));
      data_total_ += static_cast<int64_t>(take);
      i += take;
      if (static_cast<int64_t>(data_.size()) == data_expected_) data_complete(out);
      continue;
    }
    char c = bytes[i++];
    if (echo_) echo += c;
    if (c == '\r') {
      line_feed_due_ = true;
      if (!echo.empty()) out.push_back({0, std::exchange(echo, {})});
      command(std::exchange(line_, {}), out);
    } else if (c != '\n') {
      line_ += c;
    }
  }
  if (!echo.empty()) out.push_back({0, std::move(echo)});  // an echo is never delayed or split
  if (in_data_) strike_due_fault();  // a fault that strikes with the last byte taken
  return out;
}

void SimulatedModule::command(std::string line, std::vector<Reply>& out) {
  if (line.empty()) return;
  commands_.push_back(line);
  size_t eq = line.find('=');
  std::string name = upper(std::string_view(line).substr(0, eq));
  std::string_view args = eq == std::string::npos ? "" : std::string_view(line).substr(eq + 1);

  if (faults_.refused.count(name)) return send(std::string(kError), out);
  if (name == "AT+CGSN" || name == "AT+CGMR") {
    if (faults_.silent_identity) return;
    return send("\r\n" + (name == "AT+CGSN" ? identity_.imei : identity_.revision) + "\r\n" +
                    std::string(kOk),
                out);
  }
  if (name == "AT" || name == "AT+CFSINIT" || name == "AT+CFSTERM" || name == "AT+CBAINIT" ||
      name == "AT+CBAPPS")
    return send(std::string(kOk), out);
  if (name == "ATE0" || name == "ATE1") {
    send(std::string(kOk), out);
    echo_ = name == "ATE1";
    return;
  }
  if (name == "AT+CFSWFILE") {
    // AT+CFSWFILE=<dir>,"<name>",<mode>,<length>,<timeout>
    auto p = parameters(args);
    int mode = -1;
    int64_t length = 0;
    if (p.size() != 5 || p[1].size() < 2 || p[1].front() != '"' || p[1].back() != '"' ||
        !parse_number(p[2], &mode) || (mode != 0 && mode != 1) || !parse_number(p[3], &length) ||
        length <= 0 || length > 10240 || !safe_file_name(p[1].substr(1, p[1].size() - 2)))
      return send(std::string(kError), out);
    in_data_ = true;
    data_expected_ = length;
    data_.clear();
    data_name_ = p[1].substr(1, p[1].size() - 2);
    data_append_ = mode == 1;
    return send("\r\nDOWNLOAD\r\n", out);
  }
  if (name == "AT+CFSGFIS") {
    auto p = parameters(args);
    auto file = p.size() == 2 ? files_.find(std::string(p[1])) : files_.end();
    if (file == files_.end()) return send(std::string(kError), out);
    std::string count =
        faults_.count_text.empty()
            ? std::to_string(static_cast<int64_t>(file->second.size()) + faults_.count_offset)
            : faults_.count_text;
    if (faults_.count_without_line_end) return send("\r\n+CFSGFIS: " + count + " OK", out);
    return send("\r\n+CFSGFIS: " + count + "\r\n\r\nOK\r\n", out);
  }
  send(std::string(kError), out);
}

void SimulatedModule::data_complete(std::vector<Reply>& out) {
  in_data_ = false;
  ++packets_;
  if (packets_ == faults_.error_on_packet) return send(std::string(kError), out);
  std::string& file = files_[data_name_];
  if (data_append_)
    file += data_;
  else
    file = data_;
  data_.clear();
  if (store_listener_) store_listener_(data_name_, file);
  send(std::string(kOk), out);
}

}  // namespace simulator
