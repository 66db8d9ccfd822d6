#include "widgets/skin_btn.h"

#include <QCursor>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionButton>
#include <QTimerEvent>
#include <optional>

#include "resources/result_bitmaps.h"

namespace widgets {

namespace {

constexpr int kHoverPollMs = 10;

QPixmap load_picture(int id) {
  const QString path = resources::bitmap_resource_path(id);
  return path.isEmpty() ? QPixmap() : QPixmap(path);
}

}  // namespace

CSkinBtn::CSkinBtn(QWidget* parent) : QPushButton(parent), font_(QStringLiteral("Arial"), 9) {
  // Mouse moves arrive without a pressed button, as they do for any window under the pointer.
  setMouseTracking(true);
  // The captured background and the picture cover every pixel: nothing is erased beforehand.
  setAttribute(Qt::WA_OpaquePaintEvent);
  RefreshSkin();
}

CSkinBtn::~CSkinBtn() = default;

void CSkinBtn::SetBitmaps(int normal_id, int hover_id, int pressed_id) {
  normal_picture_ = load_picture(normal_id);
  hover_picture_ = load_picture(hover_id);
  pressed_picture_ = load_picture(pressed_id);
  disabled_picture_ = load_picture(normal_id);
}

void CSkinBtn::RefreshSkin() {
  update();
}

void CSkinBtn::DrawItem(const QStyleOptionButton& item) {
  state_ = SKIN_NORMAL;
  if (item.state & QStyle::State_HasFocus) {
    if (item.state & QStyle::State_Sunken) {
      state_ = SKIN_PRESSED;
    } else if (hovering_) {
      state_ = SKIN_HOVER;
    }
  }
  if (!(item.state & QStyle::State_Enabled)) {
    state_ = SKIN_DISABLED;
    enabled_ = false;
  }
  DrawSkin();
}

QPixmap CSkinBtn::compose_skin() const {
  const QRect client = rect();
  const qreal ratio = devicePixelRatioF();
  QPixmap offscreen(client.size() * ratio);
  offscreen.setDevicePixelRatio(ratio);
  QPainter dc(&offscreen);
  // Where the captured background does not reach (the button grew since), the parent's colour.
  dc.fillRect(client, palette().brush(QPalette::Window));
  dc.drawPixmap(0, 0, background_);
  dc.setFont(font_);

  const QPixmap* picture = nullptr;
  std::optional<QColor> caption_colour;  // none: the painter's default, black
  switch (state_) {
    case SKIN_NORMAL:
      picture = &normal_picture_;
      caption_colour = normal_text_colour_;
      break;
    case SKIN_HOVER:
      picture = &hover_picture_;
      break;
    case SKIN_PRESSED:
      picture = &pressed_picture_;
      caption_colour = pressed_text_colour_;
      break;
    case SKIN_DISABLED:
      picture = &disabled_picture_;
      caption_colour = normal_text_colour_;
      break;
  }

  if (picture != nullptr && !picture->isNull()) {
    if (picture->height() > client.height() || picture->width() > client.width()) {
      // Shrunk smoothly, so that the caption of the picture stays legible.
      dc.drawPixmap(client, picture->scaled(client.size() * ratio, Qt::IgnoreAspectRatio,
                                            Qt::SmoothTransformation));
    } else {
      dc.drawPixmap(0, 0, *picture);
    }
  }

  const QString caption = text();
  if (!caption.isEmpty()) {
    if (caption_colour) dc.setPen(*caption_colour);
    dc.drawText(caption_position_ + QPoint(0, dc.fontMetrics().ascent()), caption);
  }
  return offscreen;
}

void CSkinBtn::DrawSkin() {
  skin_ = compose_skin();
  if (painting_) return;  // the paint under way shows it
  // Shown at once and in one piece; the paint this causes must not pick another state.
  skin_ready_ = true;
  repaint();
  skin_ready_ = false;
}

void CSkinBtn::paintEvent(QPaintEvent*) {
  if (!skin_ready_) {
    QStyleOptionButton item;
    initStyleOption(&item);
    painting_ = true;
    DrawItem(item);
    painting_ = false;
  }
  QPainter client(this);
  client.setCompositionMode(QPainter::CompositionMode_Source);
  client.drawPixmap(0, 0, skin_);
}

// What lies beneath the button is taken once, when it is first shown, from its parent's own
// painting (without the parent's children): nothing is painted on screen, and the button's own
// painting is not entered.
void CSkinBtn::capture_background() {
  background_captured_ = true;
  const qreal ratio = devicePixelRatioF();
  background_ = QPixmap(size() * ratio);
  background_.setDevicePixelRatio(ratio);
  background_.fill(palette().color(QPalette::Window));
  if (QWidget* parent = parentWidget()) {
    parent->render(&background_, QPoint(), QRegion(geometry()), QWidget::DrawWindowBackground);
  }
}

void CSkinBtn::showEvent(QShowEvent* event) {
  QPushButton::showEvent(event);
  if (!background_captured_) capture_background();
}

bool CSkinBtn::pointer_inside() const {
  return QRect(mapToGlobal(QPoint(0, 0)), size()).contains(QCursor::pos());
}

void CSkinBtn::mouseMoveEvent(QMouseEvent* event) {
  if (!hovering_ && enabled_) {
    hovering_ = true;
    state_ = SKIN_HOVER;
    if (!pointer_inside()) {
      hover_timer_.start(kHoverPollMs, Qt::PreciseTimer, this);
      return;
    }
    DrawSkin();
    hover_timer_.start(kHoverPollMs, Qt::PreciseTimer, this);
  }
  QPushButton::mouseMoveEvent(event);
}

void CSkinBtn::timerEvent(QTimerEvent* event) {
  if (event->timerId() == hover_timer_.timerId() && !pointer_inside() && hovering_ && enabled_) {
    hover_timer_.stop();
    hovering_ = false;
    state_ = SKIN_NORMAL;
    DrawSkin();
  }
  QPushButton::timerEvent(event);
}

void CSkinBtn::changeEvent(QEvent* event) {
  QPushButton::changeEvent(event);
  if (event->type() == QEvent::EnabledChange) enabled_ = isEnabled();
}

bool CSkinBtn::event(QEvent* event) {
  const bool handled = QPushButton::event(event);
  // Styles turn on hover events for push buttons, which would repaint on entering and leaving:
  // this button draws its hover state itself.
  if (event->type() == QEvent::Polish || event->type() == QEvent::StyleChange) {
    setAttribute(Qt::WA_Hover, false);
  }
  return handled;
}

}  // namespace widgets
