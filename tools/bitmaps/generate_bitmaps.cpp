// Draws the result pictures and the application icon into a resources folder:
//   quill_generate_bitmaps <resources folder>
// The pictures are checked in; a build never runs this program. Run it only to change a picture,
// then look at the files and check them in.
#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <cstdio>

#include "resources/result_bitmaps.h"

namespace {

// A black caption centred on the solid background, with hard edges so that the picture holds only
// its two colours.
QImage draw_result_bitmap(const resources::ResultBitmap& bitmap) {
  QImage image(bitmap.width, bitmap.height, QImage::Format_RGB32);
  image.fill(bitmap.background);
  QPainter painter(&image);
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPixelSize(26);
  font.setBold(true);
  font.setStyleStrategy(QFont::NoAntialias);
  painter.setFont(font);
  painter.setPen(QColor(resources::kCaptionColour));
  painter.drawText(image.rect(), Qt::AlignCenter | Qt::TextSingleLine,
                   QString::fromLatin1(bitmap.caption));
  return image;
}

// A module on a blue tile with an arrow going into it: a file being written into the module.
QImage draw_application_icon(int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.scale(size / 64.0, size / 64.0);

  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(31, 95, 168));
  painter.drawRoundedRect(QRectF(2, 2, 60, 60), 12, 12);

  // The module with its pins.
  painter.setBrush(QColor(236, 240, 244));
  painter.drawRoundedRect(QRectF(14, 34, 36, 20), 3, 3);
  for (int pin = 0; pin < 5; ++pin) painter.drawRect(QRectF(17 + pin * 7, 54, 3, 5));
  painter.setBrush(QColor(0, 200, 0));
  painter.drawEllipse(QRectF(42, 38, 5, 5));

  // The arrow.
  painter.setBrush(QColor(255, 255, 255));
  QPainterPath arrow;
  arrow.moveTo(27, 7);
  arrow.lineTo(37, 7);
  arrow.lineTo(37, 19);
  arrow.lineTo(45, 19);
  arrow.lineTo(32, 31);
  arrow.lineTo(19, 19);
  arrow.lineTo(27, 19);
  arrow.closeSubpath();
  painter.drawPath(arrow);
  return image;
}

bool save(const QImage& image, const QDir& folder, const QString& name, const char* format) {
  const QString path = folder.filePath(name);
  if (!folder.mkpath(QFileInfo(path).path()) || !image.save(path, format)) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
  }
  std::printf("%s\n", qPrintable(path));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  // Only images are drawn: no display is needed.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <resources folder>\n", argv[0]);
    return 2;
  }
  const QDir folder(QString::fromLocal8Bit(argv[1]));

  bool ok = true;
  for (const resources::ResultBitmap& bitmap : resources::kResultBitmaps) {
    // A 32-bit image is written as a 24-bit bitmap file.
    ok &= save(draw_result_bitmap(bitmap), folder, resources::bitmap_file_name(bitmap.id), "BMP");
  }
  for (int size : resources::kApplicationIconSizes) {
    ok &= save(draw_application_icon(size), folder, resources::application_icon_file_name(size),
               "PNG");
  }
  return ok ? 0 : 1;
}
