#include "tools/log_reader/log_view.h"

#include <algorithm>
#include <functional>

#include "platform/files.h"
#include "tools/log_reader/log_tail.h"

namespace log_reader {

namespace {

// Bytes of a text block shown without --raw; replies are at most a few hundred bytes.
constexpr size_t kShownBytes = 1024;

const char* direction_column(Direction d) {
  return d == Direction::sent ? "sent      " : "received  ";
}

std::string stamps(const std::string& date, const std::string& time) {
  return date + " " + time + "  ";
}

}  // namespace

std::string escape(std::string_view text, size_t limit) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  text = text.substr(0, limit);
  out.reserve(text.size());
  for (unsigned char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\0':
        out += "\\0";
        break;
      default:
        if (c >= 0x20 && c < 0x7F) {
          out += static_cast<char>(c);
        } else {
          out += "\\x";
          out += kHex[c >> 4];
          out += kHex[c & 0xF];
        }
    }
  }
  return out;
}

void LogView::record(Record&& r) {
  classifier_.classify(r);
  if (r.offset >= shown_from_) print(r);
}

void LogView::damage(const Damage& d) {
  print(d);
}

void LogView::finish() {
  flush_fold();
}

void LogView::print(const Record& r) {
  if (!options_.raw && r.data && r.complete) {
    if (fold_ && fold_->direction != r.direction) flush_fold();
    if (!fold_) fold_ = Fold{r.date, r.time, r.date, r.time, r.direction, 0, 0};
    fold_->last_date = r.date;
    fold_->last_time = r.time;
    fold_->blocks += 1;
    fold_->bytes += r.size;
    return;
  }
  flush_fold();
  std::string line = stamps(r.date, r.time) + direction_column(r.direction);
  if (!options_.raw && r.data) {
    line += "data, " + std::to_string(r.size) + " bytes";
  } else {
    size_t shown = options_.raw ? r.text.size() : std::min(r.text.size(), kShownBytes);
    line += escape(r.text, shown);
    if (r.size > shown) line += " ... (" + std::to_string(r.size) + " bytes)";
  }
  if (!r.complete) line += " [cut off: the log ends inside this record]";
  out_ << line << '\n';
}

void LogView::print(const Damage& d) {
  flush_fold();
  switch (d.kind) {
    case Damage::Kind::before_first_record:
      out_ << "(damaged: " << d.size << " bytes before the first record)\n";
      break;
    case Damage::Kind::no_record:
      out_ << "(damaged: " << d.size << " bytes and no record in them)\n";
      break;
    case Damage::Kind::cut_record:
      out_ << "(damaged: the log ends inside the stamps of a record, " << d.size
           << " bytes at byte " << d.offset << ")\n";
      break;
  }
}

void LogView::flush_fold() {
  if (!fold_) return;
  std::string line =
      stamps(fold_->date, fold_->time) + direction_column(fold_->direction) + "data, ";
  if (fold_->blocks > 1) line += std::to_string(fold_->blocks) + " blocks, ";
  line += std::to_string(fold_->bytes) + " bytes";
  if (fold_->last_date != fold_->date)
    line += ", until " + fold_->last_date + " " + fold_->last_time;
  else if (fold_->last_time != fold_->time)
    line += ", until " + fold_->last_time;
  out_ << line << '\n';
  fold_.reset();
}

namespace {

// The log file, read at any offset through the platform's file calls (on Windows the file stays
// open to the tool that appends to it).
class OpenLog final : public LogFile {
 public:
  explicit OpenLog(platform::File file) : file_(std::move(file)) {}
  bool read_at(uint64_t offset, char* buffer, size_t size) override {
    return file_.read_at(static_cast<int64_t>(offset), buffer, size);
  }
  // A log cut while it is read ends before the size it had when it was opened.
  std::string failure() const override { return "cannot be read to its end (cut while read?)"; }

 private:
  platform::File file_;
};

// Takes the damage at the start of a log: the bytes before its first record.
struct FirstDamage final : RecordSink {
  void record(Record&&) override { done = true; }
  void damage(const Damage& d) override {
    found = d;
    done = true;
  }
  std::optional<Damage> found;
  bool done = false;
};

// Feeds `parser` the bytes of the log from `from` up to `to`, in blocks, until `done()`. False
// when a read fails.
bool feed(LogFile& log, uint64_t from, uint64_t to, size_t block, Parser& parser,
          const std::function<bool()>& done) {
  std::string piece;
  for (uint64_t at = from; at < to && !done();) {
    piece.resize(static_cast<size_t>(std::min<uint64_t>(block, to - at)));
    if (!log.read_at(at, piece.data(), piece.size())) return false;
    parser.feed(piece);
    at += piece.size();
  }
  return true;
}

}  // namespace

bool print_log(LogFile& log, uint64_t size, const ViewOptions& options, std::ostream& out,
               std::string* error, size_t block) {
  LogView view(options, out);
  uint64_t from = 0;
  if (options.tail && *options.tail == 0) {
    view.show_from(UINT64_MAX);
  } else if (options.tail) {
    bool failed = false;
    const std::optional<TailStart> tail = find_tail(log, size, *options.tail, &failed, block);
    if (failed) {
      *error = log.failure();
      return false;
    }
    if (tail && tail->garbage_first) {
      // The damage before the first record is shown as a reading from the start shows it: it is
      // told once the stamps of that record have been read.
      FirstDamage first;
      Parser probe(first);
      const uint64_t to = std::min(size, tail->parsed_from + kRecordHeaderSize);
      if (!feed(log, 0, to, block, probe, [&first] { return first.done; })) {
        *error = log.failure();
        return false;
      }
      if (first.found) view.damage(*first.found);
    }
    if (tail) {
      from = tail->parsed_from;
      view.show_from(tail->shown_from);
    }
  }
  Parser parser(view, from);
  const bool read = feed(log, from, size, block, parser, [] { return false; });
  if (read)
    parser.finish();
  else
    *error = log.failure();
  view.finish();  // what was read so far
  return read;
}

bool print_log(const std::string& path, const ViewOptions& options, std::ostream& out,
               std::string* error) {
  platform::FileError failure;
  platform::File file = platform::File::open(path, platform::FileAccess::read, &failure);
  platform::FileStatus status;
  if (!file.is_open() || !file.status(&status, &failure)) {
    *error = failure.text;
    return false;
  }
  if (status.directory) {
    *error = "is a folder, not a log";
    return false;
  }
  // The log as it is now: what a running tool appends meanwhile is left for the next reading.
  OpenLog log(std::move(file));
  return print_log(log, static_cast<uint64_t>(status.size), options, out, error);
}

}  // namespace log_reader
