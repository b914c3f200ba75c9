// The main window's tool button pictures, drawn in code.
#include "app/Unit1_images.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <functional>

#include "ui/imagelist.h"

namespace {

using Drawing = std::function<void(QPainter&)>;

QPixmap Picture(const Drawing& draw) {
  QPixmap pixmap(16, 16);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  draw(painter);
  return pixmap;
}

void HandWithPen(QPainter& p) {
  // The pen, slanting from top right to the hand.
  p.setPen(QPen(QColor(40, 40, 160), 2, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(13.5, 1.5), QPointF(7, 8));
  p.setPen(QPen(Qt::black, 1));
  p.drawLine(QPointF(7, 8), QPointF(5.5, 9.5));
  // The hand holding it: palm and fingers.
  p.setPen(QPen(QColor(120, 70, 30), 1));
  p.setBrush(QColor(245, 200, 150));
  QPainterPath hand;
  hand.moveTo(2, 15);
  hand.lineTo(2, 10);
  hand.quadTo(3, 7, 6, 7);
  hand.lineTo(10, 7);
  hand.quadTo(11, 8, 10, 9);
  hand.lineTo(8, 9);
  hand.lineTo(11, 10);
  hand.quadTo(12, 11, 11, 12);
  hand.lineTo(8, 12);
  hand.lineTo(8, 15);
  hand.closeSubpath();
  p.drawPath(hand);
}

void ProhibitionSign(QPainter& p) {
  p.setPen(QPen(QColor(210, 0, 0), 2.5));
  p.setBrush(Qt::white);
  p.drawEllipse(QRectF(2, 2, 12, 12));
  p.drawLine(QPointF(4.2, 4.2), QPointF(11.8, 11.8));
}

void RedCross(QPainter& p) {
  p.setPen(QPen(QColor(210, 0, 0), 3, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(3.5, 3.5), QPointF(12.5, 12.5));
  p.drawLine(QPointF(12.5, 3.5), QPointF(3.5, 12.5));
}

void Sheet(QPainter& p) {
  p.setPen(QPen(Qt::black, 1));
  p.setBrush(Qt::white);
  p.drawRect(QRectF(2.5, 0.5, 11, 15));
}

void PageWithGreenMark(QPainter& p) {
  Sheet(p);
  p.setPen(QPen(QColor(0, 150, 0), 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(Qt::NoBrush);
  QPainterPath tick;
  tick.moveTo(5, 8);
  tick.lineTo(7.5, 11);
  tick.lineTo(12, 4);
  p.drawPath(tick);
}

void RuledSheet(QPainter& p) {
  Sheet(p);
  p.setPen(QPen(QColor(70, 110, 200), 1));
  for (int y = 3; y <= 13; y += 2) p.drawLine(QPointF(4, y + 0.5), QPointF(12, y + 0.5));
  p.setPen(QPen(QColor(210, 60, 60), 1));
  p.drawLine(QPointF(5.5, 1), QPointF(5.5, 15));
}

// The images that no button uses: a small coloured square each, so that the
// list has its full length and every picture is visible.
Drawing PlainMark(int index) {
  return [index](QPainter& p) {
    p.setPen(QPen(Qt::darkGray, 1));
    p.setBrush(QColor::fromHsv((index * 37) % 360, 120, 220));
    p.drawRoundedRect(QRectF(3.5, 3.5, 9, 9), 2, 2);
  };
}

}  // namespace

void FillMainImages(TImageList& images) {
  for (int index = 0; index < 21; ++index) {
    switch (index) {
      case 0: images.Add(Picture(HandWithPen)); break;
      case 4: images.Add(Picture(ProhibitionSign)); break;
      case 14: images.Add(Picture(RedCross)); break;
      case 18: images.Add(Picture(PageWithGreenMark)); break;
      case 20: images.Add(Picture(RuledSheet)); break;
      default: images.Add(Picture(PlainMark(index))); break;
    }
  }
}
