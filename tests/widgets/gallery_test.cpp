// Renders every result picture and bars at several positions into one window and saves it as a
// PNG under the build folder, for a person to look at.
#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QTest>

#include "resources/result_bitmaps.h"
#include "widgets/progress_bar_ctrl.h"
#include "widgets/skin_btn.h"

namespace {

TEST(Gallery, RendersEveryPictureAndBarsAtSeveralPositions) {
  QWidget gallery;
  gallery.setWindowTitle(QStringLiteral("widgets gallery"));
  auto* grid = new QGridLayout(&gallery);
  int cell = 0;
  for (const resources::ResultBitmap& bitmap : resources::kResultBitmaps) {
    auto* button = new widgets::CSkinBtn(&gallery);
    button->setFixedSize(bitmap.width, bitmap.height);
    button->SetBitmaps(bitmap.id, bitmap.id, bitmap.id);
    const int row = cell / 4 * 2, column = cell % 4;
    grid->addWidget(new QLabel(QString::number(bitmap.id), &gallery), row, column);
    grid->addWidget(button, row + 1, column);
    ++cell;
  }
  // A result picture at the size it has in the main window: shrunk and stretched to fit.
  auto* fitted = new widgets::CSkinBtn(&gallery);
  fitted->setFixedSize(92, 60);
  fitted->SetBitmaps(144, 144, 144);
  grid->addWidget(new QLabel(QStringLiteral("144 in 92 x 60"), &gallery), 6, 2);
  grid->addWidget(fitted, 7, 2);

  std::vector<widgets::CProgressBarCtrl*> bars;
  int row = 8;
  for (int position : {0, 1, 29, 50, 57, 58, 99, 100}) {
    auto* bar = new widgets::CProgressBarCtrl(&gallery);
    bar->setFixedSize(287, 15);
    grid->addWidget(new QLabel(QStringLiteral("SetPos(%1)").arg(position), &gallery), row, 0);
    grid->addWidget(bar, row++, 1, 1, 3);
    bar->SetPos(position);
  }

  gallery.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&gallery));
  const QString path = QStringLiteral(QUILL_GALLERY_PNG);
  ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
  ASSERT_TRUE(gallery.grab().save(path, "PNG")) << path.toStdString();
  EXPECT_GT(QFileInfo(path).size(), 0);
}

}  // namespace
