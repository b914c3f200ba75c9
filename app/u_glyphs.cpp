// The pictures of the buttons with pictures, each drawn at 16 x 16 with its
// greyed form.
#include "app/u_glyphs.h"

#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <functional>

namespace {

constexpr int kGlyphSize = 16;

QImage Draw(const std::function<void(QPainter&)>& draw) {
  QImage image(kGlyphSize, kGlyphSize, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  draw(painter);
  return image;
}

// The disabled form, as classic buttons draw it: the picture's shape in dark
// grey over a white copy moved one pixel down and to the right.
QImage Greyed(const QImage& picture) {
  QImage shape(picture.size(), QImage::Format_ARGB32_Premultiplied);
  shape.fill(Qt::transparent);
  QPainter shaper(&shape);
  shaper.drawImage(0, 0, picture);
  shaper.setCompositionMode(QPainter::CompositionMode_SourceIn);
  shaper.fillRect(shape.rect(), QColor(128, 128, 128));
  shaper.end();

  QImage greyed(picture.size(), QImage::Format_ARGB32_Premultiplied);
  greyed.fill(Qt::transparent);
  QImage highlight = shape;
  QPainter lighter(&highlight);
  lighter.setCompositionMode(QPainter::CompositionMode_SourceIn);
  lighter.fillRect(highlight.rect(), Qt::white);
  lighter.end();
  QPainter painter(&greyed);
  painter.drawImage(1, 1, highlight);
  painter.drawImage(0, 0, shape);
  return greyed;
}

QIcon Glyph(const QImage& picture) {
  QIcon icon;
  icon.addPixmap(QPixmap::fromImage(picture), QIcon::Normal);
  icon.addPixmap(QPixmap::fromImage(Greyed(picture)), QIcon::Disabled);
  return icon;
}

void Tick(QPainter& p, const QColor& colour) {
  p.setPen(QPen(colour, 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  QPainterPath tick;
  tick.moveTo(2.5, 8.5);
  tick.lineTo(6, 12.5);
  tick.lineTo(13.5, 3);
  p.drawPath(tick);
}

}  // namespace

QIcon GreenTickGlyph() {
  return Glyph(Draw([](QPainter& p) { Tick(p, QColor(0, 150, 0)); }));
}

QIcon RedCrossGlyph() {
  return Glyph(Draw([](QPainter& p) {
    p.setPen(QPen(QColor(210, 0, 0), 2.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(3.5, 3.5), QPointF(12.5, 12.5));
    p.drawLine(QPointF(12.5, 3.5), QPointF(3.5, 12.5));
  }));
}

QIcon RedTickGlyph() {
  return Glyph(Draw([](QPainter& p) { Tick(p, QColor(210, 0, 0)); }));
}
