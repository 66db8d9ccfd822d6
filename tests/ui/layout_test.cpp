// The dialog as built from its template: every control of the table, in its place in dialog units,
// and the arithmetic of dialog units, which needs no window.
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLineEdit>
#include <QTest>
#include <set>

#include "devices/port_census.h"
#include "platform/bench_folder.h"
#include "tests/ui/bench_fixture.h"
#include "ui/dialog_units.h"
#include "ui/path_label.h"

namespace {

using ui::ControlRole;
using ui_testing::BenchTest;

TEST(DialogUnits, BaseUnitsAndTheRoundingOfTheDialogManager) {
  // The average letter width is rounded to the nearest pixel, halves up.
  EXPECT_EQ(ui::base_units_from_metrics(312, 13).x, 6);
  EXPECT_EQ(ui::base_units_from_metrics(337, 13).x, 6);
  EXPECT_EQ(ui::base_units_from_metrics(338, 13).x, 7);
  EXPECT_EQ(ui::base_units_from_metrics(338, 15).y, 15);

  // MulDiv rounding: to the nearest, halves away from zero.
  EXPECT_EQ(ui::mul_div(511, 6, 4), 767);  // 766.5
  EXPECT_EQ(ui::mul_div(86, 13, 8), 140);  // 139.75
  EXPECT_EQ(ui::mul_div(-3, 1, 2), -2);
  EXPECT_EQ(ui::mul_div(7, 3, 0), 0);

  // Each coordinate and each length is mapped on its own: a width of 1 unit at x 1 is one pixel
  // wide although x + width maps to 3 pixels.
  const ui::DialogBaseUnits base{6, 13};
  EXPECT_EQ(ui::dialog_rect_to_pixels(QRect(1, 1, 1, 1), base), QRect(2, 2, 2, 2));
  EXPECT_EQ(ui::dialog_rect_to_pixels(QRect(273, 103, 214, 86), base), QRect(410, 167, 321, 140));
  EXPECT_EQ(ui::dialog_size_to_pixels(QSize(511, 322), base), QSize(767, 523));
}

TEST_F(BenchTest, TheTemplateHoldsEveryControlInItsPlace) {
  write_settings({});
  ui::COR_VEXDlg& d = open_dialog();

  // Every control of the table, and besides them only the station's, with its initial state.
  int named_children = 0;
  for (QWidget* child : d.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    if (!child->objectName().isEmpty()) ++named_children;
  }
  EXPECT_EQ(named_children, ui::kControlCount + static_cast<int>(ui::station_controls().size()));
  for (const char* name :
       {"day_totals_label", "plug_in_start_check", "bench_folder_label", "records_label"})
    EXPECT_NE(d.findChild<QWidget*>(name), nullptr) << name;
  for (const ui::ControlEntry& entry : ui::control_table()) {
    QWidget* w = d.findChild<QWidget*>(ui::object_name(entry));
    ASSERT_NE(w, nullptr) << ui::object_name(entry).toStdString();
    EXPECT_EQ(w->isVisible(), entry.visible) << ui::object_name(entry).toStdString();
    EXPECT_EQ(w->isEnabled(), entry.enabled) << ui::object_name(entry).toStdString();
  }

  // The window: title, fixed size of 511 x 322 units, minimise box without maximise box, icon.
  EXPECT_EQ(d.windowTitle(), "VX4410 Quillmark Ver1.18");
  const ui::DialogBaseUnits base = d.base_units();
  EXPECT_GT(base.x, 0);
  EXPECT_GT(base.y, 0);
  EXPECT_EQ(d.size(), ui::dialog_size_to_pixels(QSize(511, 322), base));
  EXPECT_EQ(d.minimumSize(), d.maximumSize());
  EXPECT_TRUE(d.windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(d.windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_FALSE(d.windowIcon().isNull());
  EXPECT_EQ(d.font().pointSize(), ui::kDialogFontPoints);
  if (!QFontDatabase::hasFamily(ui::kDialogFontFamily) &&
      QFontDatabase::hasFamily(ui::kDialogFontSubstitute)) {
    EXPECT_EQ(QFontInfo(d.font()).family(), ui::kDialogFontSubstitute);
  }

  // The panels in their grid of two columns and three rows.
  for (int k = 0; k < 6; ++k) {
    auto* group = control<QGroupBox>(ControlRole::panel_group, k);
    EXPECT_EQ(group->title(), QString("Module%1").arg(k + 1));
    const QRect units(k % 2 == 0 ? 23 : 273, 8 + 95 * (k / 2), 214, 86);
    EXPECT_EQ(group->geometry(), ui::dialog_rect_to_pixels(units, base)) << k;
    EXPECT_EQ(progress_bar(k)->width(), ui::dialog_x_to_pixels(190, base));
    EXPECT_EQ(result_picture(k)->size(), ui::dialog_size_to_pixels(QSize(61, 32), base));
    EXPECT_TRUE(group->geometry().contains(result_picture(k)->geometry()));
    EXPECT_TRUE(group->geometry().contains(status_line(k)->geometry()));
    EXPECT_EQ(start_button(k)->text(), "START");
  }

  // Each frame is drawn where the template places it: its top line runs through the middle of the
  // title, half a line below the box's top, above the result picture; its bottom line is the box's
  // bottom. The station's controls lie clear of every frame, of the strip below and of each other.
  const QImage shot = d.grab().toImage();
  const QRgb background = shot.pixel(1, 1);
  const int half_line = QFontMetrics(d.font()).height() / 2;
  for (int k = 0; k < 6; ++k) {
    const QRect box = control<QGroupBox>(ControlRole::panel_group, k)->geometry();
    int frame_top = box.top();
    while (frame_top < box.bottom() && shot.pixel(box.left(), frame_top) == background) ++frame_top;
    EXPECT_NEAR(frame_top, box.top() + half_line, 1) << k;
    EXPECT_NE(shot.pixel(box.left(), box.bottom()), background) << k;
    EXPECT_GT(result_picture(k)->geometry().top(), frame_top + 1) << k;
  }
  const char* const station[] = {"day_totals_label", "plug_in_start_check", "bench_folder_label",
                                 "records_label"};
  // The records waiting and the plug-in option share a place: the option is shown only while the
  // settings are unlocked, and the records only while they are not.
  const auto share = [](std::string_view a, std::string_view b) {
    return (a == "records_label" && b == "plug_in_start_check") ||
           (b == "records_label" && a == "plug_in_start_check");
  };
  for (const char* name : station) {
    const QRect added = d.findChild<QWidget*>(name)->geometry();
    for (const char* other : station)
      EXPECT_TRUE(other == name || share(name, other) ||
                  !added.intersects(d.findChild<QWidget*>(other)->geometry()))
          << name << " " << other;
    for (int k = 0; k < 6; ++k)
      EXPECT_FALSE(added.intersects(control<QGroupBox>(ControlRole::panel_group, k)->geometry()))
          << name << " " << k;
    for (ControlRole strip : {ControlRole::file_path_edit, ControlRole::browse_button,
                              ControlRole::login_button, ControlRole::all_start_button})
      EXPECT_FALSE(added.intersects(control<QWidget>(strip)->geometry())) << name;
  }

  // The option lists and the bottom strip.
  auto* upgrade = control<QComboBox>(ControlRole::upgrade_type_list);
  ASSERT_EQ(upgrade->count(), 2);
  EXPECT_EQ(upgrade->itemText(0), "DownLoad All");
  EXPECT_EQ(upgrade->itemText(1), "Only Upgrade Script");
  EXPECT_EQ(upgrade->currentIndex(), 0);
  auto* type = control<QComboBox>(ControlRole::type_list);
  EXPECT_EQ(type->itemText(0), "VX2280E");
  EXPECT_EQ(type->itemText(1), "VX2280A");
  EXPECT_EQ(control<QLineEdit>(ControlRole::file_path_edit)->text(),
            QString::fromStdString(update_file().string()));

  // ALL START is the only default button; no push button has the first focus.
  for (QPushButton* button : d.findChildren<QPushButton*>()) {
    const bool all_start = button == all_start_button();
    EXPECT_EQ(button->isDefault(), all_start) << button->objectName().toStdString();
    EXPECT_EQ(button->autoDefault(), all_start) << button->objectName().toStdString();
  }
  EXPECT_EQ(d.focusWidget(), at_list(0));
}

TEST_F(BenchTest, PortListsShowOnlyWhatIsSelectedOnPurpose) {
  write_settings({12, 0, 3, 0, 0, 0});  // COM12 is configured but absent
  add_modules({2, 3, 10});
  ui::COR_VEXDlg& d = open_dialog();

  // Every port of the census (the bench's own, and any serial hardware of this computer), sorted
  // as text; only the configured port that exists is selected.
  QStringList census;
  for (uint32_t n : devices::AtPortCandidates) census << QString("COM%1").arg(n);
  census.sort();
  ASSERT_TRUE(census.contains("COM10") && census.contains("COM3") && census.contains("COM2"));
  EXPECT_LT(census.indexOf("COM10"), census.indexOf("COM3"));
  for (int k = 0; k < 6; ++k) {
    QStringList shown;
    for (int i = 0; i < at_list(k)->count(); ++i) shown << at_list(k)->itemText(i);
    EXPECT_EQ(shown, census) << k;
    EXPECT_EQ(at_list(k)->currentText(), k == 2 ? "COM3" : "") << k;
    EXPECT_EQ(control<QComboBox>(ControlRole::diag_port_list, k)->count(), 0);
  }
  EXPECT_EQ(engine::slots()[0].atPort, 12);

  // Program selections are not the operator's choice.
  EXPECT_EQ(d.select_port_in_list(1, ui::kAtList, 10), census.indexOf("COM10"));
  EXPECT_EQ(d.select_port_in_list(1, ui::kAtList, 12), -1);
  EXPECT_EQ(at_list(1)->currentText(), "COM10");
  EXPECT_EQ(d.select_port_in_list(6, ui::kAtList, 10), -1);
  EXPECT_EQ(d.select_port_in_list(1, 2, 10), -1);
  // A refill shows the module's own port, never what happens to be at the old position.
  d.fill_port_list(1, ui::kAtList);
  EXPECT_EQ(at_list(1)->currentText(), "");
  d.fill_port_list(2, ui::kAtList);
  EXPECT_EQ(at_list(2)->currentText(), "COM3");
}

// Started elsewhere, the window tells its bench folder beside the totals: a path too long for the
// label loses its middle, never its end, and the whole path is the label's tooltip.
TEST_F(BenchTest, TheBenchFolderIsShownWhenTheWindowWorksAwayFromWhereItWasStarted) {
  write_settings({});
  const std::filesystem::path deep = bench.path() /
                                     "a folder with a long name that the label cannot hold" /
                                     "another folder of the line" / "station 7 bench";
  std::filesystem::create_directories(deep);
  std::filesystem::copy_file(bench.path() / "ZEBL.ini", deep / "ZEBL.ini");
  testing_support::ScopedWorkingDirectory in_deep(deep);
  platform::set_start_directory(bench.str() + "/");
  ui::COR_VEXDlg& d = open_dialog();
  platform::set_start_directory({});

  auto* label = d.findChild<ui::PathLabel*>("bench_folder_label");
  ASSERT_NE(label, nullptr);
  EXPECT_TRUE(label->isVisible());
  EXPECT_EQ(label->text(), QString::fromStdString("Bench: " + deep.string()));
  EXPECT_TRUE(label->toolTip().contains(QString::fromStdString(deep.string())));
  const QString shown = label->shown_text();
  EXPECT_TRUE(shown.startsWith("Bench: ")) << shown.toStdString();
  EXPECT_TRUE(shown.endsWith("/station 7 bench")) << shown.toStdString();
  EXPECT_TRUE(shown.contains(QChar(0x2026))) << shown.toStdString();
  EXPECT_LE(QFontMetrics(label->font()).horizontalAdvance(shown), label->contentsRect().width());
  EXPECT_EQ(d.windowTitle(), "VX4410 Quillmark Ver1.18");
}

}  // namespace
