#include "engine/notifications.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/debug_capture.h"
#include "tests/support/message_recorder.h"

using testing_support::MessageRecorder;

TEST(NotificationsTest, MessagesCarryTheSlotIndexAndTheirParameters) {
  MessageRecorder window;
  engine::ModuleSlot slot;
  slot.index = 2;
  engine::report_progress(slot, 1024, 2500);
  engine::report_status(slot, "AT Failed!");
  engine::report_finished(slot);
  auto m = window.messages();
  ASSERT_EQ(m.size(), 3u);
  EXPECT_EQ(m[0].msg, 1126u);
  EXPECT_EQ(m[0].wParam, 1024u);
  EXPECT_EQ(m[0].lParam, 2500);
  EXPECT_EQ(m[1].msg, 1227u);
  EXPECT_EQ(m[1].text, "AT Failed!");
  EXPECT_EQ(m[1].lParam, 0);
  EXPECT_EQ(m[2].msg, 1146u);
  EXPECT_EQ(m[2].wParam, 0u);
  EXPECT_EQ(m[2].lParam, 100);
}

TEST(NotificationsTest, NothingIsSentForANullTextOrAnIndexOutOfRange) {
  MessageRecorder window;
  engine::ModuleSlot slot;
  engine::report_status(slot, nullptr);
  engine::report_status(slot, "");
  slot.index = 6;
  engine::report_progress(slot, 1, 2);
  engine::report_status(slot, "x");
  engine::report_finished(slot);
  slot.index = -1;
  engine::report_finished(slot);
  auto m = window.messages();
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(m[0].msg, engine::WM_SLOT_STATUS);
  EXPECT_EQ(m[0].text, "");
}

TEST(NotificationsTest, WithoutAMainWindowNothingIsSent) {
  engine::ModuleSlot slot;
  engine::report_status(slot, "x");  // must not crash
  EXPECT_EQ(engine::main_window(), nullptr);
}

TEST(NotificationsTest, ActiveFlagAndFileImage) {
  engine::ModuleSlot slot;
  EXPECT_EQ(engine::is_active(nullptr), 0);
  engine::set_active(&slot, 1);
  EXPECT_EQ(engine::is_active(&slot), 1);
  slot.fileData = std::make_unique<uint8_t[]>(16);
  slot.fileSize = 16;
  engine::release_file_image(slot);
  EXPECT_EQ(slot.fileData, nullptr);
  engine::release_file_image(slot);
}

TEST(NotificationsTest, DebugTraceWritesLineEndThenTextCutTo199Characters) {
  testing_support::DebugCapture debug;
  engine::debug_trace("device%d errcode=%d", 1, 3);
  engine::debug_trace("%s", std::string(300, 'x').c_str());
  auto w = debug.writes();
  ASSERT_EQ(w.size(), 4u);
  EXPECT_EQ(w[0], "\r\n");
  EXPECT_EQ(w[1], "device1 errcode=3");
  EXPECT_EQ(w[3], std::string(199, 'x'));
}
