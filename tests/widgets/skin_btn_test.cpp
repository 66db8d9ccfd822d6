#include "widgets/skin_btn.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCursor>
#include <QTest>
#include <functional>

#include "resources/result_bitmaps.h"
#include "tests/widgets/widget_screen.h"

namespace {

using testing_support::on_screen;
using testing_support::PaintCounter;
using widgets::CSkinBtn;

const QColor kHostColour(40, 60, 160);
const QColor kPassGreen(0, 255, 0);
const QColor kFailRed(254, 0, 0);

QImage picture(int id) {
  return QImage(resources::bitmap_resource_path(id)).convertToFormat(QImage::Format_RGB32);
}

bool any_pixel(const QImage& image, const std::function<bool(QColor)>& test) {
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      if (test(image.pixelColor(x, y))) return true;
    }
  }
  return false;
}

bool is_dark(QColor colour) {
  return colour.lightness() < 60;
}

// A button in a shown window whose background has a colour of its own. The pointer starts outside
// the window.
class SkinButtonTest : public testing::Test {
 protected:
  void SetUp() override {
    QCursor::setPos(kOutside);
    QPalette palette = host_.palette();
    palette.setColor(QPalette::Window, kHostColour);
    host_.setPalette(palette);
    host_.setGeometry(100, 100, 400, 200);
    button_ = new CSkinBtn(&host_);
  }

  void show(const QRect& geometry) {
    button_->setGeometry(geometry);
    host_.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&host_));
  }

  void move_pointer(QPoint global) {
    QCursor::setPos(global);
    QApplication::processEvents();
  }
  QPoint inside() const { return button_->mapToGlobal(QPoint(10, 10)); }

  // Waits until the button's top-left pixel shows `colour` on screen.
  bool shows(QColor colour) {
    return QTest::qWaitFor([&] { return on_screen(*button_).pixelColor(2, 2) == colour; }, 1000);
  }

  static constexpr QPoint kOutside{5, 5};
  QWidget host_;
  CSkinBtn* button_ = nullptr;
};

TEST_F(SkinButtonTest, CopiesASmallerPictureUnscaledOverTheBackgroundCapturedOnce) {
  button_->SetBitmaps(144, 144, 144);
  show(QRect(20, 20, 200, 60));
  const QImage pass = picture(144);

  QImage shown = on_screen(*button_);
  // An empty caption draws nothing: the picture is there pixel for pixel.
  EXPECT_EQ(shown.copy(pass.rect()), pass);
  EXPECT_EQ(shown.pixelColor(190, 30), kHostColour);
  EXPECT_EQ(shown.pixelColor(10, 55), kHostColour);

  // What lies beneath changes later: the button keeps the background it captured.
  QPalette palette = host_.palette();
  palette.setColor(QPalette::Window, Qt::yellow);
  host_.setPalette(palette);
  host_.update();
  button_->RefreshSkin();
  QApplication::processEvents();
  ASSERT_EQ(on_screen(host_, QRect(2, 2, 1, 1)).pixelColor(0, 0), QColor(Qt::yellow));
  shown = on_screen(*button_);
  EXPECT_EQ(shown.pixelColor(190, 30), kHostColour);
  EXPECT_EQ(shown.copy(pass.rect()), pass);
}

TEST_F(SkinButtonTest, ShrinksALargerPictureToFitTheButton) {
  button_->SetBitmaps(139, 139, 139);  // 171 × 48
  show(QRect(20, 20, 100, 40));

  const QImage shown = on_screen(*button_);
  for (QPoint corner : {QPoint(0, 0), QPoint(99, 0), QPoint(0, 39), QPoint(99, 39)}) {
    EXPECT_EQ(shown.pixelColor(corner), kPassGreen) << corner.x() << "," << corner.y();
  }
  EXPECT_FALSE(any_pixel(shown, [](QColor c) { return c == kHostColour; }));
  // The whole picture is there: its centred caption is still centred.
  QRect caption;
  for (int y = 0; y < shown.height(); ++y) {
    for (int x = 0; x < shown.width(); ++x) {
      if (is_dark(shown.pixelColor(x, y))) caption |= QRect(x, y, 1, 1);
    }
  }
  ASSERT_FALSE(caption.isEmpty());
  EXPECT_NEAR(caption.center().x(), 50, 4);
  EXPECT_NEAR(caption.center().y(), 20, 4);
}

TEST_F(SkinButtonTest, HoverIsDrawnOnEnteringAndNormalAgainAfterLeaving) {
  button_->SetBitmaps(144, 151, 151);  // hover: red
  show(QRect(20, 20, 200, 60));
  button_->setFocus();
  ASSERT_TRUE(shows(kPassGreen));
  PaintCounter paints(*button_);

  move_pointer(inside());
  EXPECT_TRUE(shows(kFailRed));
  EXPECT_TRUE(button_->hovering());
  move_pointer(inside() + QPoint(5, 5));  // already hovering: nothing to draw
  QTest::qWait(50);
  EXPECT_EQ(paints.count(), 1);

  move_pointer(kOutside);  // timer 1 notices within a few ticks
  EXPECT_TRUE(shows(kPassGreen));
  QTest::qWait(50);
  EXPECT_EQ(paints.count(), 2);
  EXPECT_FALSE(button_->hovering());
  EXPECT_EQ(button_->state(), widgets::SKIN_NORMAL);
}

TEST_F(SkinButtonTest, RepaintRequestWithoutFocusDrawsNormalWhileHovering) {
  button_->setFocusPolicy(Qt::NoFocus);
  button_->SetBitmaps(144, 151, 151);
  show(QRect(20, 20, 200, 60));
  move_pointer(inside());
  ASSERT_TRUE(shows(kFailRed));  // drawn by the mouse move itself

  button_->RefreshSkin();
  EXPECT_TRUE(shows(kPassGreen));
  EXPECT_TRUE(button_->hovering());
}

// Disabled while hovering: the first picture, the pointer ignored, and timer 1 polling until the
// button is enabled again and finds the pointer outside.
TEST_F(SkinButtonTest, DisabledButtonShowsTheFirstPictureAndLeavesHoverOnlyWhenEnabled) {
  button_->SetBitmaps(151, 144, 144);  // normal and disabled: red; hover and pressed: green
  show(QRect(20, 20, 200, 60));
  button_->setFocus();
  move_pointer(inside());
  ASSERT_TRUE(shows(kPassGreen));

  button_->setEnabled(false);
  EXPECT_TRUE(QTest::qWaitFor([&] { return button_->state() == widgets::SKIN_DISABLED; }, 1000));
  EXPECT_TRUE(shows(kFailRed));
  PaintCounter paints(*button_);
  move_pointer(kOutside);
  move_pointer(inside() + QPoint(5, 5));
  move_pointer(kOutside);
  QTest::qWait(50);
  EXPECT_EQ(paints.count(), 0);
  EXPECT_TRUE(button_->hovering());

  button_->setEnabled(true);
  EXPECT_TRUE(QTest::qWaitFor([&] { return !button_->hovering(); }, 1000));
  EXPECT_EQ(button_->state(), widgets::SKIN_NORMAL);
  EXPECT_TRUE(shows(kFailRed));
}

TEST_F(SkinButtonTest, CaptionIsDrawnAtItsPlaceInTheColourOfTheState) {
  button_->SetBitmaps(144, 144, 151);
  button_->setText(QStringLiteral("OK"));
  show(QRect(20, 20, 200, 60));
  const QRect caption_area(21, 0, 30, 14);  // plain green in the picture itself
  ASSERT_FALSE(any_pixel(picture(144).copy(caption_area), is_dark));

  EXPECT_TRUE(
      QTest::qWaitFor([&] { return any_pixel(on_screen(*button_, caption_area), is_dark); }, 1000));

  button_->setFocus();
  button_->setDown(true);  // pressed: the pressed picture with a white caption
  EXPECT_TRUE(shows(kFailRed));
  EXPECT_EQ(button_->state(), widgets::SKIN_PRESSED);
  EXPECT_TRUE(
      any_pixel(on_screen(*button_, caption_area), [](QColor c) { return c.lightness() > 240; }));
}

}  // namespace
