// A status bar of fixed-width text panels.
#include "ui/statusbar.h"

#include <QLabel>

#include "ui/exception.h"

TStatusBar::TStatusBar(QWidget* parent) : QStatusBar(parent) {}

int TStatusBar::AddPanel(int width) {
  auto* panel = new QLabel(this);
  panel->setFixedWidth(width);
  panel->setFrameShape(QFrame::Panel);
  panel->setFrameShadow(QFrame::Sunken);
  panel->setTextFormat(Qt::PlainText);
  addWidget(panel);
  panels_.append(panel);
  return PanelCount() - 1;
}

QLabel* TStatusBar::Panel(int index) const {
  if (index < 0 || index >= PanelCount())
    throw Exception(QStringLiteral("List index out of bounds (%1)").arg(index));
  return panels_.at(index);
}

QString TStatusBar::PanelText(int index) const { return Panel(index)->text(); }

void TStatusBar::SetPanelText(int index, const QString& text) { Panel(index)->setText(text); }
