// The program's icon: each size read from its file when it is first drawn.
#include "ui/programicon.h"

#include <QApplication>
#include <QIconEngine>
#include <QPainter>
#include <QPaintDevice>
#include <QPixmap>
#include <QString>
#include <QStyle>
#include <QStyleOption>
#include <algorithm>
#include <array>

namespace {

constexpr std::array<int, 8> kSizes = {16, 22, 24, 32, 48, 64, 128, 256};

// The icon as the resources hold it, one PNG a size, each read only when it is
// first drawn. A plain QIcon made from the files would look for icon-engine
// plugins and read every file as soon as it is made, which is a good part of
// the program's start-up on the way to the login dialog; this one costs
// nothing until a window system draws it.
class TProgramIconEngine final : public QIconEngine {
 public:
  QIconEngine* clone() const override { return new TProgramIconEngine; }
  QString key() const override { return QStringLiteral("QuenlowProgramIcon"); }
  bool isNull() override { return false; }

  QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override {
    QList<QSize> sizes;
    for (const int side : kSizes) sizes.append(QSize(side, side));
    return sizes;
  }

  // The icon is square and never drawn larger than its largest drawing.
  QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override {
    const int side = std::min({size.width(), size.height(), kSizes.back()});
    return side > 0 ? QSize(side, side) : QSize();
  }

  // The drawing of the size asked for, else the next larger one scaled down
  // (small sizes are drawn for their size, not shrunk from a large one).
  QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
    const QSize actual = actualSize(size, mode, state);
    if (actual.isEmpty()) return {};
    const auto drawing = std::lower_bound(kSizes.begin(), kSizes.end(), actual.width());
    QPixmap pixmap(QStringLiteral(":/icons/%1x%1/apps/org.example.quenlow.png").arg(*drawing));
    if (pixmap.size() != actual) pixmap = pixmap.scaled(actual, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    // Disabled, active and selected icons as the style shows them.
    if (mode != QIcon::Normal && qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr) {
      QStyleOption option(0);
      option.palette = QApplication::palette();
      pixmap = QApplication::style()->generatedIconPixmap(mode, pixmap, &option);
    }
    return pixmap;
  }

  void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override {
    const qreal ratio = painter->device() != nullptr ? painter->device()->devicePixelRatioF() : 1.0;
    QPixmap drawn = pixmap(rect.size() * ratio, mode, state);
    drawn.setDevicePixelRatio(ratio);
    painter->drawPixmap(rect, drawn);
  }
};

}  // namespace

QIcon ProgramIcon() { return QIcon(new TProgramIconEngine); }
