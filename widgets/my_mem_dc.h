#pragma once

#include <QImage>
#include <QPainter>
#include <QRect>

namespace widgets {

// An off-screen drawing context. It covers the target's clip box (the whole device when the target
// does not clip) and is drawn in the target's coordinates; when it is destroyed the picture is
// copied to the target in one plain copy, so that nothing is ever seen half drawn. The pictures are
// kept per thread by size and reused: a progress bar repaints on every percent, and a new picture
// with its raster engine for each paint is most of the cost of a paint.
class CMyMemDC : public QPainter {
 public:
  explicit CMyMemDC(QPainter& target);
  ~CMyMemDC();

  CMyMemDC(const CMyMemDC&) = delete;
  CMyMemDC& operator=(const CMyMemDC&) = delete;

  // The part of the target that the off-screen picture covers, in the target's coordinates.
  QRect area() const { return area_; }

 private:
  QImage bitmap_;
  QPainter* target_;
  QRect area_;
};

}  // namespace widgets
