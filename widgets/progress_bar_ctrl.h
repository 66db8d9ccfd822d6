#pragma once

#include <QColor>
#include <QFrame>
#include <QString>
#include <cstdint>

class QChar;

namespace widgets {

// A progress bar that paints itself: a solid filled part, a solid empty part and a text centred
// over the whole bar, normally the percentage, whose colour flips exactly where the filled part
// ends. It repaints only when the filled width in pixels changes. The frame is the bar's border;
// the area inside it is the client area.
class CProgressBarCtrl : public QFrame {
  Q_OBJECT

 public:
  explicit CProgressBarCtrl(QWidget* parent = nullptr);
  ~CProgressBarCtrl() override;

  // Stores the position and repaints at once when the filled width changes; returns the previous
  // position.
  int SetPos(int nPos);
  int GetPos() const { return position_; }

  // The bar's own text, shown instead of the percentage while it is not empty. Setting a different
  // text repaints later; an equal one changes nothing. Always succeeds.
  bool OnSetText(const QString& text);
  // Copies the stored text into `buffer` of `buffer_size` characters, truncated so that it fits
  // with its terminating zero; returns the number of characters copied.
  int OnGetText(int buffer_size, QChar* buffer) const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  int filled_width(int client_width) const;
  QString shown_text() const;

  int32_t position_ = 0;
  int32_t upper_ = 100;  // the bounds never change: the bar always runs from 0 to 100
  int32_t lower_ = 0;
  QString text_;
  bool show_text_ = true;
  int32_t bar_width_ = -1;  // filled width at the last repaint by SetPos; -1 forces the next one
  QColor bar_colour_;
  QColor background_colour_;
  QColor text_over_background_;
  QColor text_over_bar_;
  QString picture_key_;  // font, client size and pixel ratio of the text pictures; empty: stale
  qreal picture_key_ratio_ = 0;
};

}  // namespace widgets
