#pragma once

// Dialog units, as the dialog manager converts them: the horizontal base unit is the average width
// of the 52 letters A-Z and a-z of the dialog font, the vertical base unit is the font's character
// height; a horizontal dialog unit is a quarter of the first, a vertical one an eighth of the
// second. The arithmetic needs no window: only the measuring of a font does.

#include <QRect>
#include <QSize>

class QFont;

namespace ui {

struct DialogBaseUnits {
  int x = 0;  // pixels
  int y = 0;  // pixels
};

// The 52 letters whose total width gives the horizontal base unit.
constexpr const char* kBaseUnitLetters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

// The base units from the total width of the 52 letters and the character height, in pixels: the
// average width is rounded to the nearest pixel, halves up.
DialogBaseUnits base_units_from_metrics(int letters_width, int character_height);

// The base units of a font, measured on the screen's logical resolution (needs a GUI application).
DialogBaseUnits base_units_of(const QFont& font);

// value × numerator ÷ denominator, rounded to the nearest integer with halves away from zero, as
// the system's MulDiv rounds; 0 for a zero denominator.
int mul_div(int value, int numerator, int denominator);

// Horizontal and vertical lengths; each coordinate and each length is mapped on its own, as the
// dialog manager maps a control of a template.
int dialog_x_to_pixels(int units, DialogBaseUnits base);
int dialog_y_to_pixels(int units, DialogBaseUnits base);
QRect dialog_rect_to_pixels(const QRect& units, DialogBaseUnits base);
QSize dialog_size_to_pixels(const QSize& units, DialogBaseUnits base);

}  // namespace ui
