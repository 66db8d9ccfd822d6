#include "widgets/progress_bar_ctrl.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QPainter>
#include <QTest>
#include <algorithm>
#include <array>

#include "tests/widgets/widget_screen.h"

namespace {

using testing_support::on_screen;
using testing_support::PaintCounter;
using widgets::CProgressBarCtrl;

const QColor kHighlight(20, 40, 200);
const QColor kBase(250, 250, 235);
constexpr int kClientWidth = 100;
constexpr int kClientHeight = 20;

// A bar with a 100 × 20 client area inside its one-pixel border, in a shown window whose palette
// has known highlight and window-background colours. Its text is drawn without antialiasing, so
// that every pixel is exactly one of the two colours.
class ProgressBarTest : public testing::Test {
 protected:
  void SetUp() override {
    QPalette palette = host_.palette();
    palette.setColor(QPalette::Highlight, kHighlight);
    palette.setColor(QPalette::Base, kBase);
    host_.setPalette(palette);

    host_.resize(200, 60);
    bar_ = new CProgressBarCtrl(&host_);
    bar_->setGeometry(20, 15, kClientWidth + 2, kClientHeight + 2);
    QFont font = bar_->font();
    font.setStyleStrategy(QFont::NoAntialias);
    bar_->setFont(font);
    host_.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&host_));
    ASSERT_EQ(bar_->contentsRect().size(), QSize(kClientWidth, kClientHeight));
  }

  QImage client_on_screen() const { return on_screen(*bar_, bar_->contentsRect()); }

  // Which pixels of the client area `text` covers when centred in it.
  QImage text_mask(const QString& text) const {
    QImage mask(kClientWidth, kClientHeight, QImage::Format_RGB32);
    mask.fill(Qt::black);
    QPainter painter(&mask);
    painter.setFont(bar_->font());
    painter.setPen(Qt::white);
    painter.drawText(mask.rect(), Qt::AlignCenter | Qt::TextSingleLine, text);
    return mask;
  }

  // The client area with the filled part ending before column `edge` and `text` in the colour of
  // the other part on each side of the edge.
  QImage expected_bar(int edge, const QString& text) const {
    QImage image = text_mask(text);
    for (int y = 0; y < image.height(); ++y) {
      for (int x = 0; x < image.width(); ++x) {
        const bool is_text = image.pixel(x, y) != QColor(Qt::black).rgb();
        const bool filled = x < edge;
        image.setPixelColor(x, y, filled != is_text ? kHighlight : kBase);
      }
    }
    return image;
  }

  QWidget host_;
  CProgressBarCtrl* bar_ = nullptr;
};

// Position 0 is all background with 0% in the bar colour, 100 all bar colour with 100% in the
// background colour; in between the text flips colour exactly at the edge of the filled part.
TEST_F(ProgressBarTest, EveryPositionShowsItsTruePercentageSplitAtTheEdge) {
  // The premise of the split: "50%" has pixels on both sides of column 50.
  const QImage mask = text_mask(QStringLiteral("50%"));
  int leftmost = kClientWidth, rightmost = -1;
  for (int y = 0; y < kClientHeight; ++y) {
    for (int x = 0; x < kClientWidth; ++x) {
      if (mask.pixel(x, y) == QColor(Qt::black).rgb()) continue;
      leftmost = std::min(leftmost, x);
      rightmost = std::max(rightmost, x);
    }
  }
  ASSERT_LT(leftmost, 50);
  ASSERT_GE(rightmost, 50);

  for (int position = 0; position <= 100; ++position) {
    bar_->SetPos(position);
    // One pixel per percent: the filled part ends exactly at the position.
    ASSERT_EQ(client_on_screen(), expected_bar(position, QStringLiteral("%1%").arg(position)))
        << "position " << position;
  }
}

TEST_F(ProgressBarTest, RepaintsOnlyWhenTheFilledWidthChanges) {
  bar_->resize(52, kClientHeight + 2);  // 50 pixels: two positions per pixel
  bar_->SetPos(10);
  QApplication::processEvents();
  PaintCounter paints(*bar_);

  EXPECT_EQ(bar_->SetPos(11), 10);  // 5.5 pixels: still 5
  QApplication::processEvents();
  EXPECT_EQ(paints.count(), 0);
  EXPECT_EQ(bar_->GetPos(), 11);
  // The text stays behind until the width changes.
  const QImage behind = on_screen(*bar_, bar_->contentsRect());

  EXPECT_EQ(bar_->SetPos(12), 11);
  EXPECT_EQ(paints.count(), 1);  // painted at once, not later
  QApplication::processEvents();
  EXPECT_EQ(paints.count(), 1);
  EXPECT_NE(on_screen(*bar_, bar_->contentsRect()), behind);
}

TEST_F(ProgressBarTest, ResizeMakesTheNextSetPosRepaint) {
  bar_->SetPos(40);
  bar_->resize(bar_->width(), bar_->height() + 4);  // same width: the filled width stays 40
  QApplication::processEvents();
  PaintCounter paints(*bar_);

  bar_->SetPos(40);
  EXPECT_EQ(paints.count(), 1);
  bar_->SetPos(40);
  EXPECT_EQ(paints.count(), 1);
}

TEST_F(ProgressBarTest, StoredTextReplacesThePercentageUntilEmptied) {
  bar_->SetPos(30);
  PaintCounter paints(*bar_);

  EXPECT_TRUE(bar_->OnSetText(QStringLiteral("Wait")));
  QApplication::processEvents();
  EXPECT_EQ(paints.count(), 1);
  EXPECT_EQ(client_on_screen(), expected_bar(30, QStringLiteral("Wait")));

  paints.reset();
  EXPECT_TRUE(bar_->OnSetText(QStringLiteral("Wait")));
  QApplication::processEvents();
  EXPECT_EQ(paints.count(), 0);

  EXPECT_TRUE(bar_->OnSetText(QString()));
  QApplication::processEvents();
  EXPECT_EQ(client_on_screen(), expected_bar(30, QStringLiteral("30%")));
}

TEST_F(ProgressBarTest, GetTextTruncatesToTheBufferWithItsTerminatingZero) {
  bar_->OnSetText(QStringLiteral("Flashing"));
  std::array<QChar, 16> buffer;
  buffer.fill(QChar(u'#'));

  EXPECT_EQ(bar_->OnGetText(5, buffer.data()), 4);
  EXPECT_EQ(QString(buffer.data(), 5), QStringLiteral("Flas") + QChar(0));
  EXPECT_EQ(buffer[5], QChar(u'#'));

  EXPECT_EQ(bar_->OnGetText(16, buffer.data()), 8);
  EXPECT_EQ(QString(buffer.data()), QStringLiteral("Flashing"));

  buffer.fill(QChar(u'#'));
  EXPECT_EQ(bar_->OnGetText(0, buffer.data()), 0);
  EXPECT_EQ(buffer[0], QChar(u'#'));

  // A character outside the basic plane is never cut in half.
  bar_->OnSetText(QStringLiteral("ab") + QString::fromUcs4(U"\U0001F600"));
  EXPECT_EQ(bar_->OnGetText(4, buffer.data()), 2);
  EXPECT_EQ(buffer[2], QChar(0));
}

TEST_F(ProgressBarTest, KeepsTheColoursReadAtConstruction) {
  QPalette other = host_.palette();
  other.setColor(QPalette::Highlight, Qt::red);
  other.setColor(QPalette::Base, Qt::green);
  host_.setPalette(other);
  ASSERT_EQ(bar_->palette().color(QPalette::Highlight), QColor(Qt::red));
  bar_->SetPos(70);
  EXPECT_EQ(client_on_screen(), expected_bar(70, QStringLiteral("70%")));
}

}  // namespace
