// A status bar of fixed-width text panels, numbered from 0, left to right.
#pragma once

#include <QList>
#include <QStatusBar>

class QLabel;

class TStatusBar : public QStatusBar {
  Q_OBJECT

 public:
  explicit TStatusBar(QWidget* parent = nullptr);

  // Appends a panel `width` pixels wide; returns its index.
  int AddPanel(int width);
  int PanelCount() const { return static_cast<int>(panels_.size()); }

  // The panel at `index`; raises Exception for an index out of range.
  QLabel* Panel(int index) const;
  QString PanelText(int index) const;
  void SetPanelText(int index, const QString& text);

 private:
  QList<QLabel*> panels_;
};
