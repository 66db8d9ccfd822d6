#pragma once

// The result pictures and the application icon, known by their resource numbers and embedded in the
// program through quill_resources.qrc. The files under resources/ are the source of truth; the
// generator in tools/bitmaps only made them.

#include <QRgb>
#include <QString>
#include <array>

#include "resources/bitmap_ids.h"

class QIcon;

namespace resources {

constexpr QRgb kPassBackground = qRgb(0, 255, 0);
constexpr QRgb kFailBackground = qRgb(254, 0, 0);
constexpr QRgb kCaptionColour = qRgb(0, 0, 0);

// One 24-bit result picture: a black caption centred on a solid background.
struct ResultBitmap {
  int id;
  int width;
  int height;
  const char* caption;
  QRgb background;
};

constexpr std::array<ResultBitmap, 14> kResultBitmaps{{
    {138, 167, 49, "FAIL", kFailBackground},
    {139, 171, 48, "PASS", kPassBackground},
    {144, 167, 49, "#1 PASS", kPassBackground},
    {146, 167, 49, "#2 PASS", kPassBackground},
    {147, 167, 49, "#3 PASS", kPassBackground},
    {148, 167, 49, "#4 PASS", kPassBackground},
    {149, 167, 49, "#5 PASS", kPassBackground},
    {150, 167, 49, "#6 PASS", kPassBackground},
    {151, 167, 49, "#1 FAIL", kFailBackground},
    {152, 167, 49, "#2 FAIL", kFailBackground},
    {153, 167, 49, "#3 FAIL", kFailBackground},
    {155, 167, 49, "#4 FAIL", kFailBackground},
    {156, 167, 49, "#5 FAIL", kFailBackground},
    {157, 167, 49, "#6 FAIL", kFailBackground},
}};

// The entry of a result picture, or null for a number that is not one.
constexpr const ResultBitmap* find_result_bitmap(int id) {
  for (const ResultBitmap& bitmap : kResultBitmaps) {
    if (bitmap.id == id) return &bitmap;
  }
  return nullptr;
}

// File names relative to resources/, which are also the names inside the resource tree.
inline QString bitmap_file_name(int id) {
  return QStringLiteral("bitmaps/%1.bmp").arg(id);
}
inline QString application_icon_file_name(int size) {
  return QStringLiteral("icons/%1_%2.png").arg(kApplicationIconId).arg(size);
}

// ":/bitmaps/<id>.bmp" for a result picture; empty for any other number.
QString bitmap_resource_path(int id);

// The application icon with every size.
QIcon application_icon();

}  // namespace resources
