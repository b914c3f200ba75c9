// Tests of the data-bound grid: the rows it reads, keys, clicks, titles and
// cell drawing.
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QHeaderView>
#include <QScrollBar>
#include <QHelpEvent>
#include <QSignalSpy>
#include <QStyledItemDelegate>
#include <QTest>
#include <QToolTip>

#include "tests/support/shown_text.h"
#include "tests/ui/memdataset.h"
#include "ui/dbgrid.h"

namespace {

QList<QVariantList> Sessions(int count) {
  QList<QVariantList> rows;
  for (int i = 1; i <= count; ++i)
    rows.append({QStringLiteral("USER%1").arg(i), double(i), double(1000 + i), QVariant()});
  return rows;
}

const QList<TMemDataSet::Column> kSessionColumns = {
    {"USERNAME", ftString, 30}, {"SID", ftFloat}, {"SERIAL#", ftFloat}, {"STATUS", ftString, 8}};

// A shown grid over a session-like record set.
struct GridFixture : ::testing::Test {
  explicit GridFixture(int rows = 100) : ds(kSessionColumns, Sessions(rows)) {
    source.SetDataSet(&ds);
    grid.SetDataSource(&source);
    grid.resize(400, 300);
    grid.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&grid));
  }
  void Settle() {
    for (int i = 0; i < 5; ++i) QApplication::processEvents();
  }
  QPoint CellCentre(int row, int column) { return grid.visualRect(grid.model()->index(row, column)).center(); }
  QString Cell(int row, int column) { return grid.model()->index(row, column).data().toString(); }
  // Whether the row indicator marks `row` as the current record.
  bool Marked(int row) {
    const QVariant marker = grid.model()->headerData(row, Qt::Vertical, Qt::DecorationRole);
    return marker.canConvert<QPixmap>() && !marker.value<QPixmap>().isNull();
  }

  TMemDataSet ds;
  TDataSource source;
  TDBGrid grid;
};

}  // namespace

TEST_F(GridFixture, ModelStaysConsistentThroughOpeningScrollingAndClosing) {
  QAbstractItemModelTester tester(grid.model(), QAbstractItemModelTester::FailureReportingMode::Fatal);
  ds.Open();
  Settle();
  grid.scrollToBottom();
  Settle();
  ds.Last();
  Settle();
  // An edited record's row shows the new text at once.
  ds.Edit();
  ds.FieldByName("USERNAME")->SetAsString("EDITED");
  EXPECT_EQ(Cell(99, 0), "EDITED");
  ds.Post();
  Settle();
  EXPECT_EQ(Cell(99, 0), "EDITED");
  ds.Refresh();
  Settle();
  ds.Close();
  Settle();
  EXPECT_EQ(grid.model()->rowCount(), 0);
  ds.Open();
  Settle();
  EXPECT_GT(grid.model()->rowCount(), 0);
}

// The grid reads the rows its viewport shows (the last one even when only a
// part of it shows) and one more; each scroll to the bottom reads as many again.
TEST_F(GridFixture, ReadsTheRowsItShowsAndOneMoreAndAsManyAgainPerScroll) {
  ds.Open();  // the titles take their height
  Settle();
  const int rowHeight = grid.verticalHeader()->defaultSectionSize();
  const int chrome = grid.height() - grid.viewport()->height();
  for (const int part : {0, rowHeight / 2}) {
    SCOPED_TRACE(part == 0 ? "whole rows" : "a part of the last row");
    ds.Close();
    grid.resize(400, chrome + 10 * rowHeight + part);
    Settle();
    const int pulled = ds.Pulled;
    ds.Open();
    Settle();
    const int shown = grid.rowAt(grid.viewport()->height() - 1) + 1;
    ASSERT_EQ(shown, part == 0 ? 10 : 11);
    EXPECT_EQ(grid.VisibleRowCount(), shown);
    EXPECT_EQ(grid.model()->rowCount(), shown + 1);
    EXPECT_EQ(ds.Pulled - pulled, shown + 1);
    EXPECT_EQ(ds.RecordCount(), shown + 1);

    grid.scrollToBottom();
    Settle();
    EXPECT_EQ(grid.model()->rowCount(), 2 * (shown + 1));
    EXPECT_EQ(ds.Pulled - pulled, 2 * (shown + 1));
  }
  for (int i = 0; i < 30 && !grid.GridModel()->AtEnd(); ++i) {
    grid.scrollToBottom();
    Settle();
  }
  EXPECT_TRUE(grid.GridModel()->AtEnd());
  EXPECT_EQ(grid.model()->rowCount(), 100);
  EXPECT_EQ(Cell(99, 0), "USER100");
  // Reading rows for the grid leaves the record set on its current record.
  EXPECT_EQ(ds.FieldByName("USERNAME")->AsString(), "USER1");
  EXPECT_EQ(ds.RecNo(), 1);
}

// Without a view the model reads only what it is asked for: a batch when the
// record set opens, a batch per request for more, and, when the cursor moves
// beyond the rows read, exactly the rows up to the current record.
TEST(GridModel, ReadsABatchPerRequestAndExactlyUpToTheCurrentRecord) {
  TMemDataSet ds(kSessionColumns, Sessions(100));
  TDataSource source;
  source.SetDataSet(&ds);
  TDBGridModel model;
  model.SetFetchBatch(20);
  model.SetDataSource(&source);
  const auto settle = [] {
    for (int i = 0; i < 5; ++i) QApplication::processEvents();
  };
  ds.Open();
  settle();
  EXPECT_EQ(model.rowCount(), 20);
  EXPECT_EQ(ds.Pulled, 20);
  EXPECT_EQ(model.CurrentRow(), 0);

  ds.MoveBy(50);
  settle();
  EXPECT_EQ(model.rowCount(), 51);
  EXPECT_EQ(ds.Pulled, 51);
  EXPECT_EQ(model.CurrentRow(), 50);
  EXPECT_EQ(model.data(model.index(50, 0)).toString(), "USER51");

  const struct {
    int rows;
    bool atEnd;
  } requests[] = {{71, false}, {91, false}, {100, true}};
  for (const auto& request : requests) {
    ASSERT_TRUE(model.canFetchMore(QModelIndex()));
    model.fetchMore(QModelIndex());
    EXPECT_EQ(model.rowCount(), request.rows);
    EXPECT_EQ(ds.Pulled, request.rows);
    EXPECT_EQ(model.AtEnd(), request.atEnd);
    EXPECT_EQ(ds.FieldByName("SID")->AsInteger(), 51);  // the cursor stays where it was
  }
  EXPECT_FALSE(model.canFetchMore(QModelIndex()));
  EXPECT_EQ(model.data(model.index(99, 2)).toString(), "1100");
  model.MoveToRow(99);
  EXPECT_EQ(ds.FieldByName("SID")->AsInteger(), 100);
  EXPECT_EQ(model.CurrentRow(), 99);
  // Rows the model does not have move nothing.
  for (const int row : {100, -1}) {
    model.MoveToRow(row);
    EXPECT_EQ(ds.FieldByName("SID")->AsInteger(), 100) << row;
    EXPECT_EQ(model.CurrentRow(), 99) << row;
  }
}

// Without fixed columns each visible field is a column, in field order, under its label.
TEST(GridModel, DefaultColumnsAreTheVisibleFieldsUnderTheirLabels) {
  TMemDataSet ds(kSessionColumns, Sessions(3));
  for (const auto& column : kSessionColumns)
    ds.Fields().Add(NewField(column.Type, column.Size))->SetFieldName(column.Name);
  ds.FieldByName("SID")->SetVisible(false);
  ds.FieldByName("SERIAL#")->SetDisplayLabel("Serial");
  TDataSource source;
  source.SetDataSet(&ds);
  TDBGridModel model;
  model.SetDataSource(&source);
  ds.Open();
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
  ASSERT_EQ(model.columnCount(), 3);
  EXPECT_EQ(model.headerData(0, Qt::Horizontal).toString(), "USERNAME");
  EXPECT_EQ(model.headerData(1, Qt::Horizontal).toString(), "Serial");
  EXPECT_EQ(model.headerData(2, Qt::Horizontal).toString(), "STATUS");
  EXPECT_EQ(model.data(model.index(1, 1)).toString(), "1002");
}

TEST_F(GridFixture, FixedColumnsAreBoundByNameWithTitlesAndWidths) {
  grid.SetColumns({{"Username", "", 65}, {"sid", "Sid", 20}, {"Serial#", "", 40}, {"Program", "", 80},
                   {"Status", "", 60}});
  ds.Open();
  Settle();
  const QAbstractItemModel* model = grid.model();
  EXPECT_EQ(model->headerData(0, Qt::Horizontal).toString(), "USERNAME");  // as the record set names it
  EXPECT_EQ(model->headerData(1, Qt::Horizontal).toString(), "Sid");
  EXPECT_EQ(model->headerData(3, Qt::Horizontal).toString(), "Program");  // no such field
  EXPECT_EQ(Cell(1, 0), "USER2");
  EXPECT_EQ(Cell(1, 1), "2");
  EXPECT_EQ(Cell(1, 2), "1002");
  EXPECT_EQ(Cell(1, 3), "");
  EXPECT_EQ(Cell(1, 4), "");  // NULL
  EXPECT_TRUE(model->index(1, 1).data(Qt::TextAlignmentRole).value<Qt::Alignment>() & Qt::AlignRight);
  EXPECT_EQ(grid.horizontalHeader()->sectionSize(0), 65);
  EXPECT_EQ(grid.horizontalHeader()->sectionSize(3), 80);
  EXPECT_EQ(model->flags(model->index(0, 0)) & Qt::ItemIsEditable, Qt::NoItemFlags);

  // A dragged width lasts until the widths are set again.
  grid.horizontalHeader()->resizeSection(0, 150);
  EXPECT_EQ(grid.Column(0).Width, 150);
  grid.SetColumnWidth(0, 65);
  EXPECT_EQ(grid.horizontalHeader()->sectionSize(0), 65);
}

TEST_F(GridFixture, TitleClickComesFromALeftClickOnATitleButNotFromAResize) {
  grid.SetColumns({{"Username", "", 100}, {"sid", "Sid", 100}});
  ds.Open();
  Settle();
  QSignalSpy titleClick(&grid, &TDBGrid::TitleClick);
  QSignalSpy contextMenu(&grid, &TDBGrid::ColumnContextMenu);
  QWidget* header = grid.horizontalHeader()->viewport();
  const int y = grid.horizontalHeader()->height() / 2;

  QTest::mouseClick(header, Qt::LeftButton, {}, QPoint(150, y));
  ASSERT_EQ(titleClick.count(), 1);
  EXPECT_EQ(titleClick[0][0].toInt(), 1);

  // Dragging the border between the two titles resizes the first column.
  QTest::mousePress(header, Qt::LeftButton, {}, QPoint(100, y));
  QMouseEvent move(QEvent::MouseMove, QPointF(130, y), header->mapToGlobal(QPointF(130, y)), Qt::NoButton,
                   Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(header, &move);
  QTest::mouseRelease(header, Qt::LeftButton, {}, QPoint(130, y));
  EXPECT_EQ(grid.horizontalHeader()->sectionSize(0), 130);
  EXPECT_EQ(titleClick.count(), 1);

  QTest::mouseClick(header, Qt::RightButton, {}, QPoint(20, y));
  EXPECT_EQ(titleClick.count(), 1);
  ASSERT_EQ(contextMenu.count(), 1);
  EXPECT_EQ(contextMenu[0][0].toInt(), 0);
}

TEST_F(GridFixture, TheSelectedRowFollowsTheCursorAndTheCursorFollowsTheSelection) {
  ds.Open();
  Settle();
  EXPECT_EQ(grid.currentIndex().row(), 0);
  EXPECT_TRUE(Marked(0));

  ds.Next();
  ds.Next();
  Settle();
  EXPECT_EQ(grid.currentIndex().row(), 2);
  EXPECT_TRUE(grid.selectionModel()->isRowSelected(2, QModelIndex()));
  EXPECT_FALSE(Marked(0));
  EXPECT_TRUE(Marked(2));

  QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, CellCentre(4, 1));
  EXPECT_EQ(ds.FieldByName("SID")->AsString(), "5");

  // A right click makes its row current before the context menu is asked for.
  QSignalSpy contextMenu(&grid, &TDBGrid::ColumnContextMenu);
  QTest::mouseClick(grid.viewport(), Qt::RightButton, {}, CellCentre(1, 2));
  EXPECT_EQ(ds.FieldByName("SID")->AsString(), "2");
  ASSERT_EQ(contextMenu.count(), 1);
  EXPECT_EQ(contextMenu[0][0].toInt(), 2);
  // The menu belongs to the column where the button is released.
  QTest::mousePress(grid.viewport(), Qt::RightButton, {}, CellCentre(1, 2));
  QTest::mouseRelease(grid.viewport(), Qt::RightButton, {}, CellCentre(1, 0));
  ASSERT_EQ(contextMenu.count(), 2);
  EXPECT_EQ(contextMenu[1][0].toInt(), 0);

  QTest::keyClick(grid.viewport(), Qt::Key_Down);
  EXPECT_EQ(ds.FieldByName("SID")->AsString(), "3");

  // Moving to a record the grid has not read yet reads up to it.
  ds.Last();
  Settle();
  EXPECT_EQ(grid.model()->rowCount(), 100);
  EXPECT_EQ(grid.currentIndex().row(), 99);
}

TEST_F(GridFixture, ShowsNothingForAClosedOrEmptyRecordSet) {
  EXPECT_EQ(grid.model()->rowCount(), 0);
  EXPECT_FALSE(grid.model()->canFetchMore(QModelIndex()));
  ds.SourceRows().clear();
  ds.Open();
  Settle();
  EXPECT_EQ(grid.model()->rowCount(), 0);
  EXPECT_FALSE(grid.model()->canFetchMore(QModelIndex()));
  EXPECT_EQ(grid.GridModel()->CurrentRow(), -1);
  EXPECT_EQ(grid.model()->columnCount(), 4);  // no fixed columns: one per field
}

TEST_F(GridFixture, ControlHomeAndEndGoToTheWholeResultsEndsAndHomeAndEndToTheOuterColumns) {
  // The keypad's keys (number lock off) do the same as the others.
  for (const Qt::KeyboardModifiers pad : {Qt::KeyboardModifiers(), Qt::KeyboardModifiers(Qt::KeypadModifier)}) {
    SCOPED_TRACE(pad == Qt::NoModifier ? "main keys" : "keypad");
    ds.Close();
    ds.Open();
    Settle();
    ASSERT_FALSE(grid.GridModel()->AtEnd());  // only the rows shown have been read
    grid.setFocus();
    QTest::keyClick(&grid, Qt::Key_Right);
    ASSERT_EQ(grid.currentIndex().column(), 1);

    QTest::keyClick(&grid, Qt::Key_End, Qt::ControlModifier | pad);
    Settle();
    EXPECT_EQ(ds.FieldByName("SID")->AsString(), "100");
    EXPECT_TRUE(ds.Eof());
    EXPECT_EQ(grid.model()->rowCount(), 100);
    EXPECT_EQ(grid.currentIndex(), grid.model()->index(99, 1));

    QTest::keyClick(&grid, Qt::Key_End, pad);
    EXPECT_EQ(grid.currentIndex(), grid.model()->index(99, 3));
    QTest::keyClick(&grid, Qt::Key_Home, pad);
    EXPECT_EQ(grid.currentIndex(), grid.model()->index(99, 0));
    EXPECT_EQ(ds.FieldByName("SID")->AsString(), "100");  // the record stays

    ds.Next();  // a move of the record set's own in between
    QTest::keyClick(&grid, Qt::Key_Up);
    Settle();
    ASSERT_EQ(ds.FieldByName("SID")->AsString(), "99");
    QTest::keyClick(&grid, Qt::Key_Home, Qt::ControlModifier | pad);
    Settle();
    EXPECT_EQ(ds.FieldByName("SID")->AsString(), "1");
    EXPECT_TRUE(ds.Bof());
    EXPECT_EQ(grid.currentIndex(), grid.model()->index(0, 0));
    EXPECT_TRUE(grid.selectionModel()->isRowSelected(0, QModelIndex()));
  }
}

TEST(GridCells, TextWiderThanItsCellIsCutOffAtTheEdgeAndShowsItsStart) {
  // The same digits as a right-aligned number in a narrow column and as text
  // in a wide one: the narrow cell must show exactly the start of the wide one.
  QList<QVariantList> rows;
  for (int i = 0; i < 3; ++i) rows.append({1234567.0, QStringLiteral("1234567")});
  TMemDataSet ds({{"N", ftFloat}, {"S", ftString, 20}}, rows);
  TDataSource source;
  source.SetDataSet(&ds);
  TDBGrid grid;
  grid.SetDataSource(&source);
  grid.SetColumns({{"N", "", 20}, {"S", "", 200}});
  grid.resize(300, 150);
  grid.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&grid));
  ds.Open();
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
  ASSERT_TRUE(ds.FieldByName("N")->AlignRight());
  ASSERT_GT(grid.fontMetrics().horizontalAdvance(QStringLiteral("1234567")), 20);

  const QImage shown = grid.viewport()->grab().toImage();
  const QRect narrow = grid.visualRect(grid.model()->index(1, 0));  // not the current row
  const QRect wide = grid.visualRect(grid.model()->index(1, 1));
  ASSERT_EQ(narrow.width(), 19);  // the grid line takes the last pixel
  const QImage cut = shown.copy(narrow);
  const QImage start = shown.copy(QRect(wide.topLeft(), narrow.size()));
  EXPECT_TRUE(cut == start) << "the narrow cell does not show the digits' start";
  // And the cell is not blank: the digits' ink is there.
  bool ink = false;
  for (int y = 0; y < cut.height() && !ink; ++y)
    for (int x = 0; x < cut.width() && !ink; ++x) ink = cut.pixel(x, y) != cut.pixel(0, 0);
  EXPECT_TRUE(ink);
}

namespace {

// The options a grid's delegate hands to the style for a cell: the style
// draws their text as plain text.
struct DelegateOptions : QStyledItemDelegate {
  static QStyleOptionViewItem For(QAbstractItemDelegate* delegate, const QModelIndex& index) {
    QStyleOptionViewItem option;
    if (auto* styled = qobject_cast<QStyledItemDelegate*>(delegate))
      (styled->*(&DelegateOptions::initStyleOption))(&option, index);
    return option;
  }
};

// The tooltip, as it would read on the screen, for pointing at `pos` of `area`.
QString ToolTipAt(QWidget* area, const QPoint& pos) {
  QToolTip::hideText();
  QHelpEvent help(QEvent::ToolTip, pos, area->mapToGlobal(pos));
  QApplication::sendEvent(area, &help);
  const QString tip = QToolTip::isVisible() ? ShownText(QToolTip::text()) : QString();
  QToolTip::hideText();
  return tip;
}

}  // namespace

TEST(GridText, ACellAndATitleHoldingMarkupShowItsCharactersAsTheyAre) {
  TMemDataSet ds({{"PROGRAM", ftString, 64}, {"SID", ftFloat}}, {{MarkupLike(), 7.0}});
  TDataSource source;
  source.SetDataSet(&ds);
  TDBGrid grid;
  grid.SetDataSource(&source);
  grid.SetColumns({{"Program", MarkupLike(), 60}, {"Sid", "", 60}});
  grid.resize(400, 200);
  grid.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&grid));
  ds.Open();
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
  ASSERT_EQ(grid.model()->rowCount(), 1);

  const QModelIndex cell = grid.model()->index(0, 0);
  const QStyleOptionViewItem option = DelegateOptions::For(grid.itemDelegateForIndex(cell), cell);
  EXPECT_EQ(option.text, MarkupLike());
  EXPECT_EQ(grid.model()->headerData(0, Qt::Horizontal).toString(), MarkupLike());

  // The column is narrower than the text: whatever a tooltip shows of it is the text itself.
  const QString cellTip = ToolTipAt(grid.viewport(), grid.visualRect(cell).center());
  EXPECT_TRUE(cellTip.isEmpty() || cellTip == MarkupLike()) << cellTip.toStdString();
  QHeaderView* header = grid.horizontalHeader();
  const QString titleTip =
      ToolTipAt(header->viewport(), QPoint(header->sectionViewportPosition(0) + 5, header->height() / 2));
  EXPECT_TRUE(titleTip.isEmpty() || titleTip == MarkupLike()) << titleTip.toStdString();
}
