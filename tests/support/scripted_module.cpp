#include "tests/support/scripted_module.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/clock.h"

namespace testing_support {

void ScriptedModule::reply(std::string bytes, int64_t delay_ms) {
  int64_t at = platform::clock().now_ms() + delay_ms;
  std::lock_guard lock(mutex_);
  pending_.push_back({at, std::move(bytes)});
}

std::vector<std::string> ScriptedModule::written() const {
  std::lock_guard lock(mutex_);
  return written_;
}

int ScriptedModule::reads() const {
  std::lock_guard lock(mutex_);
  return reads_;
}

long ScriptedModule::read(void* buffer, size_t capacity) {
  int64_t now = platform::clock().now_ms();
  std::lock_guard lock(mutex_);
  if (closed_ || gone_) return -1;
  ++reads_;
  // As a serial port does, one read takes everything that has arrived, up to its size.
  size_t n = 0;
  auto* out = static_cast<char*>(buffer);
  while (n < capacity && !pending_.empty() && pending_.front().ready_at <= now) {
    Chunk& chunk = pending_.front();
    size_t take = std::min(capacity - n, chunk.bytes.size());
    std::memcpy(out + n, chunk.bytes.data(), take);
    n += take;
    chunk.bytes.erase(0, take);
    if (chunk.bytes.empty()) pending_.pop_front();
  }
  return static_cast<long>(n);
}

bool ScriptedModule::write_all(const void* data, size_t length) {
  std::string block(static_cast<const char*>(data), length);
  Responder responder;
  {
    std::lock_guard lock(mutex_);
    if (closed_ || gone_) return false;
    written_.push_back(block);
    responder = responder_;
    fail_write_ms_ = -1;
  }
  if (responder) responder(*this, block);
  int64_t stall;
  {
    std::lock_guard lock(mutex_);
    stall = std::exchange(fail_write_ms_, -1);
  }
  if (stall < 0) return true;
  platform::clock().sleep_ms(stall);
  return false;
}

void ScriptedModule::disconnect() {
  std::lock_guard lock(mutex_);
  gone_ = true;
  pending_.clear();
}

std::string ScriptedModule::failure() const {
  std::lock_guard lock(mutex_);
  return gone_ ? "device gone" : "";
}

void ScriptedModule::purge(platform::PurgeSide side) {
  if (side != platform::PurgeSide::receive) return;
  int64_t now = platform::clock().now_ms();
  std::lock_guard lock(mutex_);
  // Only what has arrived is discarded; a reply still on its way arrives later.
  std::erase_if(pending_, [now](const Chunk& c) { return c.ready_at <= now; });
}

void ScriptedModule::close() {
  std::lock_guard lock(mutex_);
  closed_ = true;
}

bool ScriptedModule::is_closed() const {
  std::lock_guard lock(mutex_);
  return closed_;
}

ScriptedModule::Responder answer_all(std::string answer) {
  return [answer](ScriptedModule& m, std::string_view) { m.reply(answer); };
}

}  // namespace testing_support
