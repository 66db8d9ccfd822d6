#pragma once

#include <QBasicTimer>
#include <QColor>
#include <QFont>
#include <QPixmap>
#include <QPoint>
#include <QPushButton>
#include <cstdint>

class QStyleOptionButton;

namespace widgets {

enum SkinState : int32_t {
  SKIN_NORMAL = 0,
  SKIN_HOVER = 1,
  SKIN_PRESSED = 2,
  SKIN_DISABLED = 3,
};

// A push button that shows one picture from the result bitmaps for each of four states, with an
// optional caption over it. It notices the pointer by itself: a mouse move draws the hover picture
// at once, and timer 1 polls the pointer's screen position every 10 ms until it has left.
class CSkinBtn : public QPushButton {
  Q_OBJECT

 public:
  explicit CSkinBtn(QWidget* parent = nullptr);
  ~CSkinBtn() override;

  // Loads the normal, hover and pressed pictures by resource number; the disabled picture is the
  // normal one again. Does not repaint: follow it with RefreshSkin.
  void SetBitmaps(int normal_id, int hover_id, int pressed_id);
  // Asks for a repaint of the whole button.
  void RefreshSkin();
  // Picks the state from the button's focus, pressed and enabled state, then draws.
  void DrawItem(const QStyleOptionButton& item);
  // Draws the button in its current state at once.
  void DrawSkin();

  SkinState state() const { return state_; }
  bool hovering() const { return hovering_; }

 protected:
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void timerEvent(QTimerEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  bool pointer_inside() const;
  void capture_background();
  QPixmap compose_skin() const;

  QPixmap normal_picture_;
  QPixmap hover_picture_;
  QPixmap pressed_picture_;
  QPixmap disabled_picture_;
  SkinState state_ = SKIN_NORMAL;
  QColor normal_text_colour_{0, 0, 0};
  QColor pressed_text_colour_{255, 255, 255};
  bool hovering_ = false;
  bool enabled_ = true;
  QFont font_;
  bool background_captured_ = false;
  QPoint caption_position_{21, 0};
  QPixmap background_;

  QBasicTimer hover_timer_;  // timer 1
  QPixmap skin_;             // the last picture composed by DrawSkin
  bool painting_ = false;    // inside paintEvent: DrawSkin only composes
  bool skin_ready_ = false;  // the next paint shows skin_ as it is
};

}  // namespace widgets
