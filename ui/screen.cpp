// The screen: the application-wide mouse cursor and the screen size.
#include "screen.h"

#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QScreen>

namespace {
TCursor current = crDefault;

Qt::CursorShape ShapeOf(TCursor cursor) {
  switch (cursor) {
    case crSQLWait: return Qt::WaitCursor;
    case crArrow: return Qt::ArrowCursor;
    default: return Qt::ArrowCursor;
  }
}
}  // namespace

namespace Screen {

TCursor Cursor() { return current; }

void SetCursor(TCursor cursor) {
  if (cursor == current) return;
  // One override cursor at most: replace or lift the one we set before.
  if (qApp != nullptr) {
    if (current != crDefault) QGuiApplication::restoreOverrideCursor();
    if (cursor != crDefault) QGuiApplication::setOverrideCursor(QCursor(ShapeOf(cursor)));
  }
  current = cursor;
}

QSize Size() {
  QScreen* screen = QGuiApplication::primaryScreen();
  return screen != nullptr ? screen->size() : QSize();
}

}  // namespace Screen
