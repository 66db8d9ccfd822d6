#include "widgets/progress_bar_ctrl.h"

#include <QHash>
#include <QImage>
#include <QPaintEvent>
#include <QPalette>
#include <algorithm>

#include "widgets/my_mem_dc.h"

namespace widgets {

namespace {

// The bars' texts, each drawn once in one colour on a transparent picture of the client size and
// then only copied: laying out and rasterising a text is most of a paint's cost, and the six bars
// of a run show the same percentages one after another. Used on the window thread only.
const QImage& text_picture(const QString& text, const QString& style_key, const QFont& font,
                           const QColor& colour, QSize size, qreal ratio) {
  static QHash<QString, QImage> pictures;
  const QString key = text + QLatin1Char('\n') + style_key + QString::number(colour.rgba());
  auto found = pictures.constFind(key);
  if (found != pictures.constEnd()) return *found;
  if (pictures.size() >= 512) pictures.clear();  // fonts, colours or sizes changed many times
  QImage picture(size * ratio, QImage::Format_ARGB32_Premultiplied);
  picture.setDevicePixelRatio(ratio);
  picture.fill(Qt::transparent);
  QPainter painter(&picture);
  painter.setFont(font);
  painter.setPen(colour);
  painter.drawText(QRect(QPoint(0, 0), size), Qt::AlignCenter | Qt::TextSingleLine, text);
  painter.end();
  return *pictures.insert(key, picture);
}

}  // namespace

// The colours are the platform's highlight and window-background colours, read once: the bar keeps
// them when the palette changes later.
CProgressBarCtrl::CProgressBarCtrl(QWidget* parent)
    : QFrame(parent),
      bar_colour_(palette().color(QPalette::Active, QPalette::Highlight)),
      background_colour_(palette().color(QPalette::Active, QPalette::Base)),
      text_over_background_(bar_colour_),
      text_over_bar_(background_colour_) {
  setFrameStyle(QFrame::Box | QFrame::Plain);
  setLineWidth(1);
  // Every pixel is painted by paintEvent: the background is never erased separately.
  setAttribute(Qt::WA_OpaquePaintEvent);
}

CProgressBarCtrl::~CProgressBarCtrl() = default;

// Exact integer arithmetic: with the bounds 0 and 100 a width of 100 pixels fills exactly
// `position` pixels, where a product with a double fraction would give 28 for 29.
int CProgressBarCtrl::filled_width(int client_width) const {
  const int64_t span = int64_t{upper_} - lower_;
  const int64_t width = int64_t{client_width} * (int64_t{position_} - lower_) / span;
  return static_cast<int>(std::clamp<int64_t>(width, 0, client_width));
}

// The percentage is computed the same exact way, so every position from 0 to 100 shows itself.
QString CProgressBarCtrl::shown_text() const {
  if (!text_.isEmpty()) return text_;
  const int64_t percent = (int64_t{position_} - lower_) * 100 / (int64_t{upper_} - lower_);
  return QStringLiteral("%1%").arg(percent);
}

int CProgressBarCtrl::SetPos(int nPos) {
  const int old_position = position_;
  position_ = nPos;
  const int width = filled_width(contentsRect().width());
  if (width != bar_width_) {
    bar_width_ = width;
    repaint();
  }
  return old_position;
}

bool CProgressBarCtrl::OnSetText(const QString& text) {
  // A null text counts as empty; QString compares them equal.
  if (text != text_) {
    text_ = text;
    update();
  }
  return true;
}

int CProgressBarCtrl::OnGetText(int buffer_size, QChar* buffer) const {
  if (buffer == nullptr || buffer_size <= 0) return 0;
  int count = std::min<int>(text_.size(), buffer_size - 1);
  // Never leave half of a surrogate pair at the end.
  if (count > 0 && count < text_.size() && text_.at(count - 1).isHighSurrogate()) --count;
  std::copy_n(text_.constData(), count, buffer);
  buffer[count] = QChar(0);
  return count;
}

void CProgressBarCtrl::paintEvent(QPaintEvent* event) {
  QPainter target(this);
  target.setClipRegion(event->region());
  CMyMemDC dc(target);
  drawFrame(&dc);

  const QRect client = contentsRect();
  const int width = filled_width(client.width());
  const QRect filled(client.left(), client.top(), width, client.height());
  const QRect empty(filled.right() + 1, client.top(), client.width() - width, client.height());
  dc.fillRect(filled, bar_colour_);
  dc.fillRect(empty, background_colour_);

  if (show_text_ && !client.isEmpty()) {
    const QString text = shown_text();
    dc.setClipRect(filled);
    const qreal ratio = devicePixelRatioF();
    if (picture_key_.isEmpty() || picture_key_ratio_ != ratio) {
      picture_key_ratio_ = ratio;
      // Formatting the font as text is the costly part of a key: done once per font and size.
      picture_key_ = font().key() + QLatin1Char('\n') + QString::number(client.width()) +
                     QLatin1Char('x') + QString::number(client.height()) + QLatin1Char('@') +
                     QString::number(ratio) + QLatin1Char('\n');
    }
    dc.drawImage(client.topLeft(),
                 text_picture(text, picture_key_, font(), text_over_bar_, client.size(), ratio));
    dc.setClipRect(empty);
    dc.drawImage(client.topLeft(), text_picture(text, picture_key_, font(), text_over_background_,
                                                client.size(), ratio));
  }
}

void CProgressBarCtrl::resizeEvent(QResizeEvent* event) {
  QFrame::resizeEvent(event);
  bar_width_ = -1;
  picture_key_.clear();
}

void CProgressBarCtrl::changeEvent(QEvent* event) {
  QFrame::changeEvent(event);
  if (event->type() == QEvent::FontChange) picture_key_.clear();
}

}  // namespace widgets
