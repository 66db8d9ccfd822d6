#include "tests/support/scripted_module.h"

#include <algorithm>
#include <cstring>

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
  if (closed_) return -1;
  ++reads_;
  if (pending_.empty() || pending_.front().ready_at > now) return 0;
  Chunk& chunk = pending_.front();
  size_t n = std::min(capacity, chunk.bytes.size());
  std::memcpy(buffer, chunk.bytes.data(), n);
  chunk.bytes.erase(0, n);
  if (chunk.bytes.empty()) pending_.pop_front();
  return static_cast<long>(n);
}

bool ScriptedModule::write_all(const void* data, size_t length) {
  std::string block(static_cast<const char*>(data), length);
  Responder responder;
  {
    std::lock_guard lock(mutex_);
    if (closed_) return false;
    written_.push_back(block);
    responder = responder_;
  }
  if (responder) responder(*this, block);
  return true;
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
