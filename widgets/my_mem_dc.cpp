#include "widgets/my_mem_dc.h"

#include <QPaintDevice>
#include <vector>

namespace widgets {

namespace {

QRect clip_box(const QPainter& target) {
  if (target.hasClipping()) return target.clipBoundingRect().toAlignedRect();
  const QPaintDevice* device = target.device();
  return QRect(0, 0, device->width(), device->height());
}

// Pictures not in use, most recently returned last. A picture is taken out while a context draws in
// it, so two contexts alive at once on one thread never share one.
std::vector<QImage>& spare_pictures() {
  thread_local std::vector<QImage> spare;
  return spare;
}

QImage take_picture(QSize pixels, qreal ratio) {
  auto& spare = spare_pictures();
  for (auto it = spare.rbegin(); it != spare.rend(); ++it) {
    if (it->size() == pixels && it->devicePixelRatio() == ratio) {
      QImage picture = std::move(*it);
      spare.erase(std::next(it).base());
      return picture;
    }
  }
  QImage picture(pixels, QImage::Format_ARGB32_Premultiplied);
  picture.setDevicePixelRatio(ratio);
  return picture;
}

void give_back_picture(QImage picture) {
  constexpr size_t kKept = 8;  // more sizes than the window's painted controls have
  auto& spare = spare_pictures();
  if (spare.size() >= kKept) spare.erase(spare.begin());
  spare.push_back(std::move(picture));
}

}  // namespace

CMyMemDC::CMyMemDC(QPainter& target) : target_(&target), area_(clip_box(target)) {
  const qreal ratio = target.device()->devicePixelRatioF();
  bitmap_ = take_picture(area_.size() * ratio, ratio);
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
  target_->drawImage(area_.topLeft(), bitmap_);
  target_->restore();
  give_back_picture(std::move(bitmap_));
}

}  // namespace widgets
