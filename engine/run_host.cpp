#include "engine/run_host.h"

#include "engine/run_control.h"
#include "engine/serial_link.h"

namespace engine {

RunHost::RunHost(MainWindow& window, NotificationBridge::Post post)
    : bridge_(window, std::move(post)) {
  set_main_window(&bridge_);
}

void RunHost::shut_down() {
  if (shut_down_) return;
  shut_down_ = true;
  bridge_.close();
  for (ModuleSlot& slot : slots()) {
    request_stop(slot);
    close_at_port(slot);
  }
  for (ModuleSlot& slot : slots()) {
    join_worker(slot);
    release_file_image(slot);
  }
  set_main_window(nullptr);
}

}  // namespace engine
