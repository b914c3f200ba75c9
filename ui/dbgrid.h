// The data-bound grid: a read-only table over a data source whose rows are
// the record set's records, read by index as the user scrolls without moving
// the record set's cursor, and whose selected row is the current record.
#pragma once

#include <QAbstractTableModel>
#include <QList>
#include <QPointer>
#include <QTableView>
#include <vector>

#include "ui/dataset.h"
#include "ui/datasource.h"

// A fixed grid column, bound to its field by name.
struct TColumn {
  QString FieldName;
  // Empty: the field's display label, or the field name when there is no such field.
  QString Title;
  int Width = 64;
};

// The rows that the grid has read so far, each known by its record's
// bookmark. Cell texts are read from the record set whenever a view asks for
// them (ReadRecordAt), so the model keeps no copy of the values; it moves the
// record set's cursor only when the user picks a row or goes to an end.
class TDBGridModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit TDBGridModel(QObject* parent = nullptr);

  TDataSource* DataSource() const { return source_; }
  void SetDataSource(TDataSource* source);

  // No columns given: one column per visible field of the open record set.
  const QList<TColumn>& Columns() const { return columns_; }
  void SetColumns(const QList<TColumn>& columns);
  void SetColumnWidth(int column, int width);
  QString ColumnTitle(int column) const;

  // Rows read per request for more.
  int FetchBatch() const { return fetchBatch_; }
  void SetFetchBatch(int rows) { fetchBatch_ = std::max(rows, 1); }
  // Whether every record has been read.
  bool AtEnd() const { return atEnd_; }
  // Row of the record set's current record, -1 when none.
  int CurrentRow() const { return currentRow_; }
  // Makes the record of `row` the record set's current record.
  void MoveToRow(int row);
  // Reads rows until the current record is among them and reports its row.
  void SyncCurrentRow();
  // Makes the record set's first (last) record current, reading the rows up to it.
  void MoveToFirst();
  void MoveToLast();

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  bool canFetchMore(const QModelIndex& parent) const override;
  void fetchMore(const QModelIndex& parent) override;

 signals:
  void CurrentRowChanged(int row);

 private:
  TDataSet* BrowsingDataSet() const;
  void Reset();
  void OnCursorMoved();
  void OnRecordChanged();
  void ScheduleSync();
  void Sync(bool mayFetch);
  int FindRow(TDataSet* dataSet, const TBookmark& bookmark, int hint, int from) const;
  int FetchRows(int count);
  // The display text of a cell, read from its record; empty when it cannot be read.
  QString CellText(int row, int column) const;
  QList<TField*> ColumnFields(TDataSet* dataSet) const;
  void SetCurrentRow(int row);

  QPointer<TDataSource> source_;
  QList<QMetaObject::Connection> connections_;
  QList<TColumn> columns_;
  bool defaultColumns_ = true;
  std::vector<TBookmark> rows_;
  std::vector<bool> alignRight_;
  int fetchBatch_ = 20;
  int currentRow_ = -1;
  bool atEnd_ = true;
  // A failed read stops the automatic requests for more until the user acts.
  bool fetchFailed_ = false;
  bool syncQueued_ = false;
  // Rows are not read while a change is being announced: views and testers
  // may ask for more from inside the announcement.
  bool announcing_ = false;
};

class TDBGrid : public QTableView {
  Q_OBJECT

 public:
  explicit TDBGrid(QWidget* parent = nullptr);

  TDataSource* DataSource() const { return model_->DataSource(); }
  void SetDataSource(TDataSource* source);
  TDBGridModel* GridModel() const { return model_; }

  void SetColumns(const QList<TColumn>& columns);
  int ColumnCount() const { return static_cast<int>(model_->Columns().size()); }
  TColumn Column(int index) const { return model_->Columns().value(index); }
  void SetColumnWidth(int index, int width);
  // Rows the viewport shows at once.
  int VisibleRowCount() const;

 signals:
  // Left button released over a column title, except at the end of a resize.
  void TitleClick(int column);
  // Right button released over a column's title or one of its cells; the
  // pressed row is already current.
  void ColumnContextMenu(int column, const QPoint& globalPos);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void ApplyWidths();
  void UpdateVisibleRows();
  void SelectRow(int row);
  void SelectColumn(int column);
  void OnCurrentChanged(const QModelIndex& current);

  TDBGridModel* model_;
  bool selecting_ = false;
};
