#include "widgets/my_mem_dc.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

namespace {

using widgets::CMyMemDC;

QImage white_target() {
  QImage target(40, 30, QImage::Format_ARGB32_Premultiplied);
  target.fill(Qt::white);
  return target;
}

// The off-screen pictures are reused from paint to paint: what one context drew must never show
// through in the next one, and two contexts alive at once must not draw into the same picture.
TEST(MemDCTest, EveryContextStartsTransparentAndContextsAliveAtOnceStaySeparate) {
  QImage first = white_target();
  {
    QPainter target(&first);
    target.setClipRect(QRect(10, 5, 20, 10));
    CMyMemDC dc(target);
    EXPECT_EQ(dc.area(), QRect(10, 5, 20, 10));
    dc.fillRect(QRect(10, 5, 20, 10), Qt::red);
  }
  EXPECT_EQ(first.pixelColor(15, 8), QColor(Qt::red));
  EXPECT_EQ(first.pixelColor(5, 8), QColor(Qt::white));  // outside the clip box

  // Same size again: the context draws nothing, and the whole clip box is copied as transparent.
  QImage second = white_target();
  {
    QPainter target(&second);
    target.setClipRect(QRect(10, 5, 20, 10));
    CMyMemDC dc(target);
  }
  EXPECT_EQ(second.pixelColor(15, 8).alpha(), 0);

  QImage outer = white_target();
  QImage inner = white_target();
  {
    QPainter outer_target(&outer);
    CMyMemDC outer_dc(outer_target);
    outer_dc.fillRect(outer.rect(), Qt::blue);
    {
      QPainter inner_target(&inner);
      CMyMemDC inner_dc(inner_target);
      inner_dc.fillRect(QRect(0, 0, 5, 5), Qt::green);
    }
  }
  EXPECT_EQ(outer.pixelColor(20, 20), QColor(Qt::blue));
  EXPECT_EQ(inner.pixelColor(2, 2), QColor(Qt::green));
  EXPECT_EQ(inner.pixelColor(20, 20).alpha(), 0);
}

}  // namespace
