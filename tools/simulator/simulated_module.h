#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace simulator {

// Misbehaviour a simulated module can be given.
struct Faults {
  bool silent = false;                  // answers nothing at all
  bool deaf = false;                    // takes no byte at all: the line fills up
  int reply_delay_ms = 0;               // every reply is sent this long after its command
  bool split_replies = false;           // every reply comes in two parts, split inside its token
  int error_on_packet = 0;              // answers ERROR to the data of this packet (1 = first)
  int count_offset = 0;                 // reports the stored size plus this
  std::string count_text;               // reports this text as the byte count, when not empty
  bool count_without_line_end = false;  // no "\r\n" after the byte count
  std::set<std::string> refused;        // commands answered with ERROR, e.g. "AT+CBAINIT"
  int64_t stall_after_bytes = -1;       // stops taking bytes after this many data bytes
  int64_t pull_after_bytes = -1;        // is pulled out after this many data bytes
  bool silent_identity = false;         // answers nothing to AT+CGSN and AT+CGMR

  // Parses one fault as written on the command line: "silent", "deaf", "delay=300", "split",
  // "error-packet=2", "count-offset=-1", "count-text=123456789012345", "count-no-crlf",
  // "refuse=AT+CBAINIT", "stall-after=5000", "pull-after=5000", "silent-identity". False for
  // anything else.
  bool parse(std::string_view fault);
};

// What a simulated module tells of itself: its IMEI (AT+CGSN) and firmware revision (AT+CGMR).
struct Identity {
  std::string imei;
  std::string revision;
};

// The identity of the module simulated as COM<com>: an IMEI of 15 digits with a valid check digit,
// different for each COM number, and the simulator's revision.
Identity identity_for_com(unsigned com);

// The Luhn check digit of the 14 digits of an IMEI.
char imei_check_digit(std::string_view fourteen_digits);

// The AT protocol of one module, without any I/O: bytes from the tool go in, replies come out
// with the delay after which the module sends them. Echo is on until ATE0. After a "DOWNLOAD"
// prompt exactly the announced number of bytes is taken as data, whatever they contain.
class SimulatedModule {
 public:
  struct Reply {
    int64_t delay_ms;
    std::string bytes;
  };

  // Gap between the two parts of a split reply: longer than the tool's poll interval, so that the
  // parts always arrive in different reads.
  static constexpr int kSplitGapMs = 80;

  explicit SimulatedModule(Faults faults = {}, Identity identity = identity_for_com(1))
      : faults_(std::move(faults)), identity_(std::move(identity)) {}

  // Whether the module takes bytes at all: not when deaf, nor once it stalls or is pulled out.
  bool taking_bytes() const { return !faults_.deaf && !stalled_ && !pulled_out_; }
  bool stalled() const { return stalled_; }
  bool pulled_out() const { return pulled_out_; }

  // Takes bytes from the tool and gives the replies.
  std::vector<Reply> receive(std::string_view bytes);

  // The files stored in the module, by name.
  const std::map<std::string, std::string>& files() const { return files_; }

  // The command lines received, in order (data excluded).
  const std::vector<std::string>& commands() const { return commands_; }

  // Called with a file's name and content each time a packet has been stored.
  using StoreListener = std::function<void(const std::string& name, const std::string& content)>;
  void set_store_listener(StoreListener listener) { store_listener_ = std::move(listener); }

 private:
  void command(std::string line, std::vector<Reply>& out);
  void data_complete(std::vector<Reply>& out);
  void send(std::string bytes, std::vector<Reply>& out) const;
  int64_t data_until_fault() const;
  bool strike_due_fault();

  Faults faults_;
  Identity identity_;
  bool echo_ = true;
  std::string line_;
  bool line_feed_due_ = false;
  std::vector<std::string> commands_;

  // Data phase.
  bool in_data_ = false;
  int64_t data_expected_ = 0;
  std::string data_;
  std::string data_name_;
  bool data_append_ = false;
  int packets_ = 0;
  int64_t data_total_ = 0;  // data bytes taken over the module's life
  bool stalled_ = false;
  bool pulled_out_ = false;

  std::map<std::string, std::string> files_;
  StoreListener store_listener_;
};

}  // namespace simulator
