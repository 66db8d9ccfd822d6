#include "ui/dialog_units.h"

#include <QFont>
#include <QFontMetrics>
#include <cstdint>
#include <cstdlib>

namespace ui {

DialogBaseUnits base_units_from_metrics(int letters_width, int character_height) {
  // The average of 52 widths, rounded: (width / 26 + 1) / 2.
  return {(letters_width / 26 + 1) / 2, character_height};
}

DialogBaseUnits base_units_of(const QFont& font) {
  const QFontMetrics metrics(font);
  return base_units_from_metrics(metrics.horizontalAdvance(QString::fromLatin1(kBaseUnitLetters)),
                                 metrics.height());
}

int mul_div(int value, int numerator, int denominator) {
  if (denominator == 0) return 0;
  const int64_t product = int64_t{value} * numerator;
  const int64_t magnitude = (std::llabs(product) + std::llabs(int64_t{denominator}) / 2) /
                            std::llabs(int64_t{denominator});
  const bool negative = (product < 0) != (denominator < 0);
  return static_cast<int>(negative ? -magnitude : magnitude);
}

int dialog_x_to_pixels(int units, DialogBaseUnits base) {
  return mul_div(units, base.x, 4);
}

int dialog_y_to_pixels(int units, DialogBaseUnits base) {
  return mul_div(units, base.y, 8);
}

QRect dialog_rect_to_pixels(const QRect& units, DialogBaseUnits base) {
  return QRect(dialog_x_to_pixels(units.x(), base), dialog_y_to_pixels(units.y(), base),
               dialog_x_to_pixels(units.width(), base), dialog_y_to_pixels(units.height(), base));
}

QSize dialog_size_to_pixels(const QSize& units, DialogBaseUnits base) {
  return QSize(dialog_x_to_pixels(units.width(), base), dialog_y_to_pixels(units.height(), base));
}

}  // namespace ui
