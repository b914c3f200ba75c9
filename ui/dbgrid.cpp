// The data-bound grid and its model over a data source.
#include "ui/dbgrid.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QScopedValueRollback>
#include <QStyledItemDelegate>
#include <QTimer>
#include <algorithm>
#include <exception>
#include <limits>

#include "ui/application.h"

namespace {

// Marks the current record in the row indicator: a small black triangle
// pointing right, drawn rather than taken from a font, which may lack it (the
// layouts' font does) and would then make the grid look for another one.
const QPixmap& CurrentRowMarker() {
  static const QPixmap marker = [] {
    QImage image(6, 9, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::black);
    const QPoint corners[] = {{0, 0}, {5, 9 / 2}, {0, 8}};
    painter.drawPolygon(corners, 3);
    painter.end();
    return QPixmap::fromImage(image);
  }();
  return marker;
}

// Draws cells as the style does, except that text wider than its cell starts
// at the cell's left edge whatever its alignment, so that the start of a
// number in a narrow column (its leading digits) stays readable; the rest is
// cut off at the edge.
class TDBGridDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    if ((option->displayAlignment & Qt::AlignLeft) != 0 || option->text.isEmpty()) return;
    const QStyle* style = option->widget != nullptr ? option->widget->style() : QApplication::style();
    // The style keeps this margin on either side of the text.
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, option->widget) + 1;
    if (option->fontMetrics.horizontalAdvance(option->text) > option->rect.width() - 2 * margin)
      option->displayAlignment = (option->displayAlignment & ~Qt::AlignHorizontal_Mask) | Qt::AlignLeft;
  }
};

}  // namespace

// ---------------------------------------------------------------- TDBGridModel

TDBGridModel::TDBGridModel(QObject* parent) : QAbstractTableModel(parent) {}

void TDBGridModel::SetDataSource(TDataSource* source) {
  if (source == source_) return;
  for (const QMetaObject::Connection& connection : std::as_const(connections_)) disconnect(connection);
  connections_.clear();
  source_ = source;
  if (source != nullptr) {
    const auto reset = [this] { Guarded(this, [this] { Reset(); }); };
    const auto moved = [this] { Guarded(this, [this] { OnCursorMoved(); }); };
    connections_ << connect(source, &TDataSource::ActiveChanged, this, reset)
                 << connect(source, &TDataSource::LayoutChanged, this, reset)
                 << connect(source, &TDataSource::DataSetReset, this, reset)
                 << connect(source, &TDataSource::DataSetChanged, this, moved)
                 << connect(source, &TDataSource::DataSetScrolled, this, moved)
                 << connect(source, &TDataSource::RecordChanged, this,
                            [this] { Guarded(this, [this] { OnRecordChanged(); }); })
                 << connect(source, &QObject::destroyed, this, reset);
  }
  Reset();
}

void TDBGridModel::SetColumns(const QList<TColumn>& columns) {
  columns_ = columns;
  defaultColumns_ = columns.isEmpty();
  Reset();
}

void TDBGridModel::SetColumnWidth(int column, int width) {
  if (column >= 0 && column < columns_.size()) columns_[column].Width = width;
}

QString TDBGridModel::ColumnTitle(int column) const {
  if (column < 0 || column >= columns_.size()) return {};
  const TColumn& c = columns_[column];
  if (!c.Title.isEmpty()) return c.Title;
  TDataSet* dataSet = source_ ? source_->DataSet() : nullptr;
  TField* field = dataSet != nullptr ? dataSet->FindField(c.FieldName) : nullptr;
  return field != nullptr ? field->DisplayLabel() : c.FieldName;
}

TDataSet* TDBGridModel::BrowsingDataSet() const {
  if (!source_ || !source_->Active()) return nullptr;
  TDataSet* dataSet = source_->DataSet();
  return dataSet->State() == dsBrowse ? dataSet : nullptr;
}

void TDBGridModel::Reset() {
  const bool active = source_ && source_->Active();
  {
    QScopedValueRollback<bool> announcing(announcing_, true);
    beginResetModel();
    rows_.clear();
    currentRow_ = -1;
    fetchFailed_ = false;
    atEnd_ = !active;
    if (defaultColumns_) {
      columns_.clear();
      if (active)
        for (const auto& field : source_->DataSet()->Fields())
          if (field->Visible()) columns_.append(TColumn{field->FieldName(), QString(), 64});
    }
    alignRight_.assign(columns_.size(), false);
    endResetModel();
  }
  emit CurrentRowChanged(-1);
  if (active) ScheduleSync();
}

void TDBGridModel::ScheduleSync() {
  if (syncQueued_) return;
  syncQueued_ = true;
  // The record set may be in the middle of an operation (this runs from its
  // notifications); reading rows waits until that has finished.
  QTimer::singleShot(0, this, [this] {
    syncQueued_ = false;
    Guarded(this, [this] { Sync(true); });
  });
}

void TDBGridModel::SyncCurrentRow() { Sync(true); }

void TDBGridModel::MoveToFirst() {
  TDataSet* dataSet = BrowsingDataSet();
  if (dataSet == nullptr) return;
  fetchFailed_ = false;
  dataSet->First();
  Sync(true);
}

void TDBGridModel::MoveToLast() {
  TDataSet* dataSet = BrowsingDataSet();
  if (dataSet == nullptr) return;
  fetchFailed_ = false;
  // Every row first, so that the last record is among the grid's rows.
  FetchRows(std::numeric_limits<int>::max());
  dataSet->Last();
  Sync(true);
}

void TDBGridModel::OnCursorMoved() { Sync(false); }

void TDBGridModel::Sync(bool mayFetch) {
  TDataSet* dataSet = BrowsingDataSet();
  if (dataSet == nullptr) return;
  if (dataSet->IsEmpty()) {
    SetCurrentRow(-1);
    return;
  }
  const TBookmark bookmark = dataSet->GetBookmark();
  if (bookmark.isEmpty()) return;
  const int hint = dataSet->RecNo() - 1;
  int row = FindRow(dataSet, bookmark, hint, 0);
  while (row < 0 && mayFetch && !atEnd_ && !fetchFailed_) {
    const int before = static_cast<int>(rows_.size());
    const int wanted = std::max(fetchBatch_, hint + 1 - before);
    if (FetchRows(wanted) == 0) break;
    row = FindRow(dataSet, bookmark, hint, before);
  }
  if (row < 0 && !mayFetch && !atEnd_) {
    ScheduleSync();
    return;
  }
  SetCurrentRow(row);
}

int TDBGridModel::FindRow(TDataSet* dataSet, const TBookmark& bookmark, int hint, int from) const {
  const int count = static_cast<int>(rows_.size());
  if (hint >= from && hint < count && dataSet->CompareBookmarks(rows_[hint], bookmark) == 0) return hint;
  for (int row = from; row < count; ++row)
    if (dataSet->CompareBookmarks(rows_[row], bookmark) == 0) return row;
  return -1;
}

void TDBGridModel::SetCurrentRow(int row) {
  if (row == currentRow_) return;
  const int old = currentRow_;
  currentRow_ = row;
  if (old >= 0 && old < rowCount()) emit headerDataChanged(Qt::Vertical, old, old);
  if (row >= 0) emit headerDataChanged(Qt::Vertical, row, row);
  emit CurrentRowChanged(row);
}

void TDBGridModel::MoveToRow(int row) {
  if (row < 0 || row >= rowCount() || row == currentRow_) return;
  TDataSet* dataSet = BrowsingDataSet();
  if (dataSet == nullptr) return;
  fetchFailed_ = false;
  dataSet->GotoBookmark(rows_[row]);
  SetCurrentRow(row);
}

QList<TField*> TDBGridModel::ColumnFields(TDataSet* dataSet) const {
  QList<TField*> fields;
  for (const TColumn& column : columns_) fields.append(dataSet->FindField(column.FieldName));
  return fields;
}

int TDBGridModel::FetchRows(int count) {
  TDataSet* dataSet = BrowsingDataSet();
  if (dataSet == nullptr || atEnd_ || count <= 0) return 0;
  std::vector<TBookmark> fetched;
  std::exception_ptr failure;
  try {
    const QList<TField*> fields = ColumnFields(dataSet);
    for (int i = 0; i < fields.size(); ++i) alignRight_[i] = fields[i] != nullptr && fields[i]->AlignRight();
    const int first = static_cast<int>(rows_.size());
    while (static_cast<int>(fetched.size()) < count) {
      TBookmark bookmark;
      const bool read = dataSet->ReadRecordAt(first + static_cast<int>(fetched.size()), [&] {
        bookmark = dataSet->GetBookmark();
        // Each value is converted once as its row arrives, so that one that
        // cannot be shown is reported here, once, and not at every paint.
        for (TField* field : fields)
          if (field != nullptr) field->DisplayText();
      });
      if (!read) {
        atEnd_ = true;
        break;
      }
      fetched.push_back(std::move(bookmark));
    }
  } catch (...) {
    failure = std::current_exception();
    fetchFailed_ = true;
  }
  if (!fetched.empty()) {
    const int first = static_cast<int>(rows_.size());
    QScopedValueRollback<bool> announcing(announcing_, true);
    beginInsertRows(QModelIndex(), first, first + static_cast<int>(fetched.size()) - 1);
    for (TBookmark& bookmark : fetched) rows_.push_back(std::move(bookmark));
    endInsertRows();
  }
  if (failure) std::rethrow_exception(failure);
  return static_cast<int>(fetched.size());
}

QString TDBGridModel::CellText(int row, int column) const {
  TDataSet* dataSet = source_ && source_->Active() ? source_->DataSet() : nullptr;
  if (dataSet == nullptr) return {};
  TField* field = dataSet->FindField(columns_[column].FieldName);
  if (field == nullptr) return {};
  QString text;
  try {
    // The record being edited shows its new values.
    if (row == currentRow_ && dataSet->State() != dsBrowse)
      text = field->DisplayText();
    else
      dataSet->ReadRecordAt(row, [&] { text = field->DisplayText(); });
  } catch (...) {
    // Painting never raises: a row whose values failed was reported when it was read.
    return {};
  }
  return text;
}

void TDBGridModel::OnRecordChanged() {
  if (currentRow_ < 0) return;
  // The texts are read anew when the views paint the row.
  emit dataChanged(index(currentRow_, 0), index(currentRow_, columnCount() - 1));
}

int TDBGridModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TDBGridModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

QVariant TDBGridModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount()) return {};
  switch (role) {
    case Qt::DisplayRole:
      return CellText(index.row(), index.column());
    case Qt::TextAlignmentRole:
      return QVariant::fromValue(Qt::Alignment(Qt::AlignVCenter) |
                                 (alignRight_[index.column()] ? Qt::AlignRight : Qt::AlignLeft));
    default:
      return {};
  }
}

QVariant TDBGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation == Qt::Vertical && role == Qt::DecorationRole)
    return section == currentRow_ ? QVariant(CurrentRowMarker()) : QVariant();
  if (role != Qt::DisplayRole) return QAbstractTableModel::headerData(section, orientation, role);
  if (orientation == Qt::Horizontal) return ColumnTitle(section);
  return QString();
}

Qt::ItemFlags TDBGridModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

bool TDBGridModel::canFetchMore(const QModelIndex& parent) const {
  return !parent.isValid() && !atEnd_ && !fetchFailed_ && !announcing_ && BrowsingDataSet() != nullptr;
}

void TDBGridModel::fetchMore(const QModelIndex& parent) {
  if (parent.isValid() || announcing_) return;
  Guarded(this, [this] { FetchRows(fetchBatch_); });
}

// ---------------------------------------------------------------- TDBGrid

TDBGrid::TDBGrid(QWidget* parent) : QTableView(parent), model_(new TDBGridModel(this)) {
  setModel(model_);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setTabKeyNavigation(true);
  setSortingEnabled(false);
  setWordWrap(false);
  // Text wider than its cell is cut off at the cell's edge rather than
  // shortened with an ellipsis, so that narrow columns still show its start.
  setTextElideMode(Qt::ElideNone);
  setItemDelegate(new TDBGridDelegate(this));
  horizontalHeader()->setSectionsClickable(true);
  horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  // Column widths are the layout's, however narrow; the style's minimum would widen them.
  horizontalHeader()->setMinimumSectionSize(1);
  horizontalHeader()->setHighlightSections(false);
  horizontalHeader()->viewport()->installEventFilter(this);
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  // Rows as high as a line of text, like a classic data grid.
  verticalHeader()->setMinimumSectionSize(1);
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
  verticalHeader()->setFixedWidth(CurrentRowMarker().width() + 12);
  verticalHeader()->setSectionsClickable(true);

  // The selection stays visible when the grid loses focus.
  QPalette colours = palette();
  colours.setColor(QPalette::Inactive, QPalette::Highlight, colours.color(QPalette::Active, QPalette::Highlight));
  colours.setColor(QPalette::Inactive, QPalette::HighlightedText,
                   colours.color(QPalette::Active, QPalette::HighlightedText));
  setPalette(colours);

  connect(horizontalHeader(), &QHeaderView::sectionClicked, this, [this](int section) { emit TitleClick(section); });
  connect(horizontalHeader(), &QHeaderView::sectionResized, this,
          [this](int section, int, int size) { model_->SetColumnWidth(section, size); });
  connect(model_, &QAbstractItemModel::modelReset, this, [this] { ApplyWidths(); });
  connect(model_, &TDBGridModel::CurrentRowChanged, this, [this](int row) { SelectRow(row); });
  connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& current) { OnCurrentChanged(current); });
}

void TDBGrid::SetDataSource(TDataSource* source) {
  if (TDataSource* old = model_->DataSource(); old != nullptr && old != source)
    Guarded(this, [old] { old->SetBufferCount(0); });
  model_->SetDataSource(source);
  UpdateVisibleRows();
}

void TDBGrid::SetColumns(const QList<TColumn>& columns) {
  model_->SetColumns(columns);
  ApplyWidths();
}

void TDBGrid::SetColumnWidth(int index, int width) {
  if (index < 0 || index >= ColumnCount()) return;
  model_->SetColumnWidth(index, width);
  horizontalHeader()->resizeSection(index, width);
}

void TDBGrid::ApplyWidths() {
  const QList<TColumn> columns = model_->Columns();
  for (int i = 0; i < columns.size(); ++i) horizontalHeader()->resizeSection(i, columns[i].Width);
  updateGeometries();
}

int TDBGrid::VisibleRowCount() const {
  const int rowHeight = std::max(verticalHeader()->defaultSectionSize(), 1);
  return std::max(1, (viewport()->height() + rowHeight - 1) / rowHeight);
}

void TDBGrid::UpdateVisibleRows() {
  const int rows = VisibleRowCount();
  model_->SetFetchBatch(rows + 1);
  if (TDataSource* source = model_->DataSource()) source->SetBufferCount(rows);
}

void TDBGrid::resizeEvent(QResizeEvent* event) {
  QTableView::resizeEvent(event);
  Guarded(this, [this] { UpdateVisibleRows(); });
}

void TDBGrid::SelectRow(int row) {
  QScopedValueRollback<bool> selecting(selecting_, true);
  if (row < 0) {
    selectionModel()->clear();
    return;
  }
  const QModelIndex target = model_->index(row, std::max(currentIndex().column(), 0));
  selectionModel()->setCurrentIndex(target, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  scrollTo(target);
}

void TDBGrid::OnCurrentChanged(const QModelIndex& current) {
  if (selecting_ || !current.isValid()) return;
  if (!Guarded(this, [&] { model_->MoveToRow(current.row()); }))
    // The record set stayed where it was; so does the selection.
    QTimer::singleShot(0, this, [this] { SelectRow(model_->CurrentRow()); });
}

void TDBGrid::SelectColumn(int column) {
  if (column < 0 || column >= model_->columnCount() || model_->CurrentRow() < 0) return;
  const QModelIndex target = model_->index(model_->CurrentRow(), column);
  selectionModel()->setCurrentIndex(target, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  scrollTo(target);
}

void TDBGrid::keyPressEvent(QKeyEvent* event) {
  const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
  const bool home = event->key() == Qt::Key_Home;
  if ((home || event->key() == Qt::Key_End) && (modifiers == Qt::NoModifier || modifiers == Qt::ControlModifier)) {
    event->accept();
    if (modifiers == Qt::ControlModifier)
      // The first or last record of the whole result, not of the rows read so far.
      Guarded(this, [&] { home ? model_->MoveToFirst() : model_->MoveToLast(); });
    else
      SelectColumn(home ? 0 : model_->columnCount() - 1);
    return;
  }
  QTableView::keyPressEvent(event);
}

void TDBGrid::mousePressEvent(QMouseEvent* event) {
  const QModelIndex index = indexAt(event->position().toPoint());
  if (event->button() != Qt::LeftButton && index.isValid()) {
    // Any button makes the pressed row current, so that a context menu acts on it.
    setFocus(Qt::MouseFocusReason);
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    event->accept();
    return;
  }
  QTableView::mousePressEvent(event);
}

void TDBGrid::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::RightButton) {
    const QModelIndex index = indexAt(event->position().toPoint());
    if (index.isValid()) {
      event->accept();
      emit ColumnContextMenu(index.column(), event->globalPosition().toPoint());
      return;
    }
  }
  QTableView::mouseReleaseEvent(event);
}

bool TDBGrid::eventFilter(QObject* watched, QEvent* event) {
  if (watched == horizontalHeader()->viewport() && event->type() == QEvent::MouseButtonRelease) {
    auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() == Qt::RightButton) {
      const int column = horizontalHeader()->logicalIndexAt(mouse->position().toPoint());
      if (column >= 0) {
        emit ColumnContextMenu(column, mouse->globalPosition().toPoint());
        return true;
      }
    }
  }
  return QTableView::eventFilter(watched, event);
}
