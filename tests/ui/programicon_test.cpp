// Tests of the program's icon: every size, in-between sizes, the disabled form and painting.
#include <gtest/gtest.h>

#include <QIcon>
#include <QImage>
#include <QPainter>
#include <QPixmap>

#include "ui/programicon.h"

namespace {

QImage Drawing(int side) {
  return QImage(QStringLiteral(":/icons/%1x%1/apps/org.example.quenlow.png").arg(side))
      .convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

QImage Shown(const QIcon& icon, int side, QIcon::Mode mode = QIcon::Normal) {
  return icon.pixmap(QSize(side, side), 1.0, mode).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

}  // namespace

TEST(ProgramIcon, EachThemeSizeIsItsOwnDrawing) {
  const QIcon icon = ProgramIcon();
  ASSERT_FALSE(icon.isNull());
  QList<QSize> sizes;
  for (const int side : {16, 22, 24, 32, 48, 64, 128, 256}) {
    sizes.append(QSize(side, side));
    ASSERT_FALSE(Drawing(side).isNull()) << side;
    EXPECT_EQ(Shown(icon, side), Drawing(side)) << side;
  }
  EXPECT_EQ(icon.availableSizes(), sizes);
}

TEST(ProgramIcon, OtherSizesComeFromTheNextLargerDrawingAndNoneIsEnlarged) {
  const QIcon icon = ProgramIcon();
  const QImage twenty = Shown(icon, 20);
  EXPECT_EQ(twenty.size(), QSize(20, 20));
  EXPECT_EQ(twenty, Drawing(22).scaled(20, 20, Qt::KeepAspectRatio, Qt::SmoothTransformation));
  EXPECT_EQ(icon.actualSize(QSize(512, 512)), QSize(256, 256));
  EXPECT_EQ(Shown(icon, 512), Drawing(256));
  // A box that is not square holds the square icon.
  EXPECT_EQ(icon.actualSize(QSize(100, 40)), QSize(40, 40));
}

TEST(ProgramIcon, ADisabledIconIsDrawnAsTheStyleGreysItAndPaintingFillsTheRectangle) {
  const QIcon icon = ProgramIcon();
  const QImage disabled = Shown(icon, 48, QIcon::Disabled);
  EXPECT_EQ(disabled.size(), QSize(48, 48));
  EXPECT_NE(disabled, Drawing(48));

  QImage canvas(64, 64, QImage::Format_ARGB32_Premultiplied);
  canvas.fill(Qt::transparent);
  {
    QPainter painter(&canvas);
    icon.paint(&painter, QRect(8, 8, 48, 48));
  }
  EXPECT_EQ(canvas.copy(8, 8, 48, 48), Drawing(48));
  EXPECT_EQ(canvas.pixel(2, 2), 0u);
}
