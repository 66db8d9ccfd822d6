#include "tools/log_reader/log_view.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace log_reader {

namespace {

// Bytes of a text block shown without --raw; replies are at most a few hundred bytes.
constexpr size_t kShownBytes = 1024;
constexpr size_t kReadBytes = 1 << 20;

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
  if (!options_.tail) return print(r);
  if (*options_.tail == 0) return;
  if (tail_.size() == *options_.tail) tail_.pop_front();
  tail_.push_back(std::move(r));
}

void LogView::damage(const Damage& d) {
  if (options_.tail && d.kind == Damage::Kind::cut_record)
    cut_end_.push_back(d);
  else
    print(d);
}

void LogView::finish() {
  for (const Record& r : tail_) print(r);
  tail_.clear();
  for (const Damage& d : cut_end_) print(d);
  cut_end_.clear();
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

bool print_log(const std::string& path, const ViewOptions& options, std::ostream& out,
               std::string* error) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = std::strerror(errno);
    return false;
  }
  LogView view(options, out);
  Parser parser(view);
  std::vector<char> buffer(kReadBytes);
  for (;;) {
    ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *error = std::strerror(errno);
      ::close(fd);
      view.finish();  // what was read so far
      return false;
    }
    if (n == 0) break;
    parser.feed({buffer.data(), static_cast<size_t>(n)});
  }
  ::close(fd);
  parser.finish();
  view.finish();
  return true;
}

}  // namespace log_reader
