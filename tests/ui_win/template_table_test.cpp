// The Windows window's main dialog template holds the controls of the control table, in its order,
// with their numbers, object names, visibility and enabled state.

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <string_view>

#include "ui/control_table.h"
#include "ui_win/dialog_templates.h"

namespace {

const ui_win::templates::Dialog* find_dialog(int id) {
  for (const auto& dialog : ui_win::templates::kDialogs) {
    if (dialog.id == id) return &dialog;
  }
  return nullptr;
}

TEST(WindowTemplateTable, MainDialogHoldsEveryControlOfTheTable) {
  const auto* dialog = find_dialog(102);
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(std::wstring_view(dialog->caption), L"VX4410 Quillmark Ver1.18");
  EXPECT_EQ(dialog->cx, 511);
  EXPECT_EQ(dialog->cy, 322);

  std::vector<ui::ControlEntry> table(ui::control_table().begin(), ui::control_table().end());
  table.insert(table.end(), ui::station_controls().begin(), ui::station_controls().end());
  ASSERT_EQ(dialog->controls.size(), table.size());
  std::set<int> numbers;
  for (size_t i = 0; i < table.size(); ++i) {
    const auto& entry = table[i];
    const auto& control = dialog->controls[i];
    const std::string name = ui::object_name(entry).toStdString();
    SCOPED_TRACE(name);
    EXPECT_EQ(control.name, name);
    EXPECT_EQ(control.id, entry.id);
    EXPECT_EQ(control.visible, entry.visible);
    EXPECT_EQ(control.enabled, entry.enabled);
    if (control.id != ui::kStaticId) {
      EXPECT_TRUE(numbers.insert(control.id).second) << "twice";
    }
  }

  // The login dialog: the password box and its default button.
  const auto* login = find_dialog(143);
  ASSERT_NE(login, nullptr);
  ASSERT_EQ(login->controls.size(), 3u);
  EXPECT_EQ(login->controls[1].id, 1064);
  EXPECT_EQ(login->controls[2].id, 1);  // IDOK
}

}  // namespace
