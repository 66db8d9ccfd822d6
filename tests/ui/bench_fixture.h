#pragma once

// A bench folder with simulated modules, and the main dialog on it. Message boxes are recorded
// instead of shown.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QString>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "engine/module_slot.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/wait_until.h"
#include "tools/simulator/pty_module_server.h"
#include "ui/control_table.h"
#include "ui/cor_vexdlg.h"
#include "ui/message_box.h"
#include "widgets/progress_bar_ctrl.h"
#include "widgets/skin_btn.h"

namespace ui_testing {

struct ShownMessage {
  QWidget* owner;
  QString text;
  QString caption;
};

// Records every message box for its lifetime.
class MessageRecorder {
 public:
  MessageRecorder() {
    previous_ = ui::set_message_box_handler(
        [this](QWidget* owner, const QString& text, const QString& caption) {
          messages.push_back({owner, text, caption});
        });
  }
  ~MessageRecorder() { ui::set_message_box_handler(std::move(previous_)); }
  std::vector<ShownMessage> messages;

 private:
  ui::MessageBoxHandler previous_;
};

class BenchTest : public ::testing::Test {
 protected:
  // ZEBL.ini with the update file (settling time 0) and the AT port of each module given (0: none).
  void write_settings(const std::vector<int>& at_ports, size_t file_size = 1500) {
    std::ofstream ini(bench.path() / "ZEBL.ini");
    ini << "[FilePath]\r\nPath=" << update_file().string() << "\r\nSleepTime=0\r\n";
    const char* ordinals[] = {"First", "Second", "Third", "Fourth", "Fifth", "Sixth"};
    for (size_t k = 0; k < at_ports.size() && k < 6; ++k)
      ini << "[ATPort_" << ordinals[k] << "]\r\nnumber=" << at_ports[k] << "\r\n";
    content = std::string(file_size, 'Q');
    std::ofstream(update_file(), std::ios::binary) << content;
  }
  std::filesystem::path update_file() const { return bench.path() / "update.bin"; }

  void add_modules(const std::vector<unsigned>& coms, simulator::Faults faults = {}) {
    for (unsigned com : coms) ASSERT_TRUE(server.add(com, faults));
    server.start();
  }
  ui::COR_VEXDlg& open_dialog() {
    dialog = std::make_unique<ui::COR_VEXDlg>();
    dialog->show();
    return *dialog;
  }

  template <typename T>
  T* control(ui::ControlRole role, int module = -1) const {
    T* found = dialog->findChild<T*>(ui::object_name(role, module));
    EXPECT_NE(found, nullptr) << ui::object_name(role, module).toStdString();
    return found;
  }
  QPushButton* start_button(int k) const {
    return control<QPushButton>(ui::ControlRole::start_button, k);
  }
  QComboBox* at_list(int k) const { return control<QComboBox>(ui::ControlRole::at_port_list, k); }
  QLabel* status_line(int k) const { return control<QLabel>(ui::ControlRole::status_line, k); }
  widgets::CProgressBarCtrl* progress_bar(int k) const {
    return control<widgets::CProgressBarCtrl>(ui::ControlRole::progress_bar, k);
  }
  widgets::CSkinBtn* result_picture(int k) const {
    return control<widgets::CSkinBtn>(ui::ControlRole::result_picture, k);
  }
  QPushButton* all_start_button() const {
    return control<QPushButton>(ui::ControlRole::all_start_button);
  }

  // Module k's exit code once its worker has returned: the worker's last notice (the button
  // reading START again) comes before its return, so the code may not be set yet at that notice.
  int exit_code_after_return(int k) const {
    const engine::ModuleSlot& slot = engine::slots()[k];
    EXPECT_TRUE(wait_until([&] { return !engine::worker_in_progress(slot); }, 60000));
    return slot.exitCode.load();
  }

  void TearDown() override { dialog.reset(); }

  testing_support::TempDir bench;
  testing_support::ScopedWorkingDirectory cwd{bench.path()};
  simulator::PtyModuleServer server{bench.path() / "ports", bench.path() / "store"};
  MessageRecorder boxes;
  std::string content;
  std::unique_ptr<ui::COR_VEXDlg> dialog;
};

}  // namespace ui_testing
