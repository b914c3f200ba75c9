// The monitor's log: every received line with its arrival time and client.
#pragma once

#include <QAbstractTableModel>
#include <QDateTime>
#include <QList>
#include <QString>

class QIODevice;

struct TSMLogLine {
  QDateTime time;
  QString client;
  QString text;
};

class TSMLog : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { TimeColumn, ClientColumn, LineColumn, ColumnCount };

  using QAbstractTableModel::QAbstractTableModel;

  void Append(TSMLogLine line);
  void Clear();
  int Count() const { return static_cast<int>(lines_.size()); }
  const TSMLogLine& Line(int row) const { return lines_.at(row); }

  // One line of text per entry: time, client and the line's full text,
  // separated by tabs.
  static QString Format(const TSMLogLine& line);
  // Writes every entry; false when the device fails.
  bool Save(QIODevice& device) const;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  QList<TSMLogLine> lines_;
};
