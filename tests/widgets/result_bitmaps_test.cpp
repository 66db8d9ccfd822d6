#include "resources/result_bitmaps.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QIcon>
#include <QImage>
#include <QtEndian>
#include <set>

namespace {

struct ExpectedBitmap {
  int id;
  QSize size;
  QRgb background;
};

const QRgb kGreen = qRgb(0, 255, 0);
const QRgb kRed = qRgb(254, 0, 0);
const QRgb kBlack = qRgb(0, 0, 0);

TEST(ResultBitmaps, EachIsA24BitPictureOfItsSizeWithABlackCaptionOnItsColour) {
  const QSize result(167, 49);
  const ExpectedBitmap expected[] = {
      {138, result, kRed},   {139, QSize(171, 48), kGreen}, {144, result, kGreen},
      {146, result, kGreen}, {147, result, kGreen},         {148, result, kGreen},
      {149, result, kGreen}, {150, result, kGreen},         {151, result, kRed},
      {152, result, kRed},   {153, result, kRed},           {155, result, kRed},
      {156, result, kRed},   {157, result, kRed},
  };
  std::set<QByteArray> distinct;
  for (const ExpectedBitmap& bitmap : expected) {
    SCOPED_TRACE(bitmap.id);
    QFile file(resources::bitmap_resource_path(bitmap.id));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray data = file.readAll();
    ASSERT_GT(data.size(), 54);
    EXPECT_TRUE(data.startsWith("BM"));
    EXPECT_EQ(qFromLittleEndian<quint16>(data.constData() + 28), 24);  // bits per pixel
    EXPECT_EQ(qFromLittleEndian<quint32>(data.constData() + 30), 0u);  // uncompressed

    const QImage image = QImage::fromData(data, "BMP").convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(image.size(), bitmap.size);
    int black = 0;
    for (int y = 0; y < image.height(); ++y) {
      for (int x = 0; x < image.width(); ++x) {
        const QRgb pixel = image.pixel(x, y);
        ASSERT_TRUE(pixel == bitmap.background || pixel == kBlack) << x << "," << y;
        black += pixel == kBlack;
      }
    }
    EXPECT_EQ(image.pixel(0, 0), bitmap.background);
    EXPECT_GT(black, 100);  // the caption
    distinct.insert(data);
  }
  EXPECT_EQ(distinct.size(), std::size(expected));
}

TEST(ResultBitmaps, EachModuleHasItsPassAndFailPicture) {
  EXPECT_EQ(resources::kPassBitmapIds, (std::array<int, 6>{144, 146, 147, 148, 149, 150}));
  EXPECT_EQ(resources::kFailBitmapIds, (std::array<int, 6>{151, 152, 153, 155, 156, 157}));
  EXPECT_TRUE(resources::bitmap_resource_path(145).isEmpty());
  EXPECT_TRUE(resources::bitmap_resource_path(154).isEmpty());
}

TEST(ApplicationIcon, OffersEverySize) {
  const QIcon icon = resources::application_icon();
  ASSERT_FALSE(icon.isNull());
  for (int size : {16, 24, 32, 48, 256}) {
    EXPECT_EQ(icon.pixmap(size).size(), QSize(size, size)) << size;
    EXPECT_TRUE(icon.availableSizes().contains(QSize(size, size))) << size;
  }
}

}  // namespace
