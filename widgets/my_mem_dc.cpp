#include "widgets/my_mem_dc.h"

#include <QPaintDevice>

namespace widgets {

namespace {

QRect clip_box(const QPainter& target) {
  if (target.hasClipping()) return target.clipBoundingRect().toAlignedRect();
  const QPaintDevice* device = target.device();
  return QRect(0, 0, device->width(), device->height());
}

}  // namespace

CMyMemDC::CMyMemDC(QPainter& target) : target_(&target), area_(clip_box(target)) {
  const qreal ratio = target.device()->devicePixelRatioF();
  bitmap_ = QPixmap(area_.size() * ratio);
  bitmap_.setDevicePixelRatio(ratio);
  // Whatever the drawing leaves untouched stays transparent rather than undefined.
  bitmap_.fill(Qt::transparent);
  begin(&bitmap_);
  setFont(target.font());
  // Drawing in the target's coordinates lands in the bitmap.
  translate(-area_.topLeft());
}

CMyMemDC::~CMyMemDC() {
  end();
  target_->save();
  target_->setCompositionMode(QPainter::CompositionMode_Source);
  target_->drawPixmap(area_.topLeft(), bitmap_);
  target_->restore();
}

}  // namespace widgets
