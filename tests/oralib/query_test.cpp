// The query over the stand-in client: statement lifecycle, fetching and the
// row cache, the record-set hooks, parameters, LOBs and the grid reading it.
#include <gtest/gtest.h>

#include <QHeaderView>
#include <QScrollBar>
#include <QTest>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "oralib/o_class.h"
#include "oralib/o_class_query.h"
#include "oralib/o_error.h"
#include "oralib/o_utils.h"
#include "tests/support/app_fixture.h"
#include "tests/support/stand_in.h"
#include "ui/application.h"
#include "ui/datasource.h"
#include "ui/dbgrid.h"
#include "ui/exception.h"
#include "ui/screen.h"

namespace {

stand_in::PrivateInstance instance;

using stand_in::LoggedOn;

void SetSql(TOQuery& query, const QString& sql) {
  query.SQL().Clear();
  query.SQL().Add(sql);
}

void Execute(TOSession& session, const QString& sql) {
  TOQuery query;
  query.SetSession(&session);
  SetSql(query, sql);
  query.ExecuteStatement();
}

int CountOf(TOSession& session, const QString& sql) {
  TOQuery query;
  query.SetSession(&session);
  SetSql(query, sql);
  query.Open();
  return query.Fields()[0]->AsInteger();
}

// Every row of a query, its fields joined by "|", a null as "null".
QStringList AllRows(TOSession& session, const QString& sql) {
  TOQuery query;
  query.SetSession(&session);
  SetSql(query, sql);
  query.Open();
  QStringList rows;
  for (; !query.Eof(); query.Next()) {
    QStringList fields;
    for (const auto& field : query.Fields()) fields << (field->IsNull() ? QStringLiteral("null") : field->AsString());
    rows << fields.join(QLatin1Char('|'));
  }
  return rows;
}

// How often the shared pool holds exactly `text`: the statement the server received.
int InSharedPool(const QString& text) {
  auto system = LoggedOn(QStringLiteral("SYSTEM"), QStringLiteral("MANAGER"));  // who may read v$sql
  TOQuery query;
  query.SetSession(system.get());
  SetSql(query, QStringLiteral("select count(*) from v$sql where sql_text = :t"));
  query.Params().CreateParam(QStringLiteral("t"), ftString, optIn).SetAsString(text);
  query.Open();
  return query.Fields()[0]->AsInteger();
}

// Tables of SCOTT's that the tests read, made once for the binary:
// qt_rows holds 100 numbered rows, one of them named "system";
// qt_values one row of a date, a full VARCHAR2(30), a NULL and a number;
// qt_plain two rows of a NUMBER without precision (3000000000 and 2.5).
class QueryTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static bool created = false;
    if (created) return;
    created = true;
    auto scott = LoggedOn(QStringLiteral("SCOTT"), QStringLiteral("TIGER"));
    Execute(*scott, QStringLiteral("create table qt_rows (n number(5), name varchar2(30), grp varchar2(10))"));
    for (int n = 1; n <= 100; ++n) {
      const QString name = n == 40 ? QStringLiteral("system") : n == 10 ? QStringLiteral("SYNONYM")
                                                                        : QStringLiteral("user%1").arg(n);
      Execute(*scott, QStringLiteral("insert into qt_rows values (%1, '%2', 'g%3')").arg(n).arg(name).arg(n % 7));
    }
    Execute(*scott, QStringLiteral("create table qt_values (d date, v varchar2(30), e varchar2(10), k number(5))"));
    Execute(*scott, QStringLiteral("insert into qt_values values (to_date('2001-03-04 05:06:07', "
                               "'YYYY-MM-DD HH24:MI:SS'), 'abcdefghijklmnopqrstuvwxyz0123', null, 7)"));
    Execute(*scott, QStringLiteral("create table qt_effects (n number(5))"));
    Execute(*scott, QStringLiteral("create table qt_plain (n number, k number(5))"));
    Execute(*scott, QStringLiteral("insert into qt_plain values (3000000000, 7)"));
    Execute(*scott, QStringLiteral("insert into qt_plain values (2.5, 8)"));
  }

  void SetUp() override {
    session = LoggedOn(QStringLiteral("SCOTT"), QStringLiteral("TIGER"));
    query = std::make_unique<TOQuery>();
    query->SetName(QStringLiteral("TestQuery"));
    query->SetSession(session.get());
  }

  void TearDown() override {
    query.reset();
    session.reset();
  }

  int N() const { return query->FieldByName(QStringLiteral("N"))->AsInteger(); }

  std::unique_ptr<TOSession> session;
  std::unique_ptr<TOQuery> query;
};

TBookmark BookmarkOf(int32_t row) { return TBookmark(reinterpret_cast<const char*>(&row), sizeof row); }

// The message of what `action` raises; empty when it raises nothing.
template <class Action>
QString RaisedBy(Action action) {
  try {
    action();
  } catch (const Exception& e) {
    return e.Message();
  }
  return QString();
}

// Makes one later request of the counted allocator fail as if memory were exhausted.
class ExhaustedMemory {
 public:
  // The request of `size` bytes after `skip` such requests fails.
  ExhaustedMemory(std::size_t size, int skip) {
    size_ = size;
    skip_ = skip;
    saved_ = SetBlockSource([](std::size_t count, std::size_t bytes) -> void* {
      if (bytes == size_ && skip_-- == 0) return nullptr;
      return std::calloc(count, bytes);
    });
  }
  ~ExhaustedMemory() { SetBlockSource(saved_); }
  bool Failed() const { return skip_ < 0; }

 private:
  static inline std::size_t size_ = 0;
  static inline int skip_ = 0;
  TBlockSource saved_;
};

// Records what reaches the application's exception handler while it lives.
using HandlerRecorder = app_test::ExceptionRecorder;

// A grid on a data source over the query, shown and sized to show about 20 rows.
struct ShownGrid {
  explicit ShownGrid(TDataSet* dataSet) {
    source.SetDataSet(dataSet);
    grid.SetDataSource(&source);
    const int rowHeight = grid.verticalHeader()->defaultSectionSize();
    grid.resize(400, grid.horizontalHeader()->sizeHint().height() + 20 * rowHeight + 2 * grid.frameWidth());
    grid.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&grid));
  }
  TDataSource source;
  TDBGrid grid;
};

}  // namespace

TEST_F(QueryTest, ASelectOpenedTwicePreparesAndDescribesOnceAndExecutesTwice) {
  SetSql(*query, QStringLiteral("select n, name from qt_rows where n <= 3"));
  stand_in::ResetCounts();
  query->Open();
  EXPECT_EQ(N(), 1);
  query->Close();
  EXPECT_TRUE(query->Prepared());
  query->Open();
  EXPECT_EQ(N(), 1);
  EXPECT_EQ(stand_in::CallCount("OCIStmtPrepare"), 1);
  EXPECT_EQ(stand_in::CallCount("OCIParamGet"), 2);  // one describe of two columns
  EXPECT_EQ(stand_in::CallCount("OCIStmtExecute"), 3);  // describe-only, then one per open
  EXPECT_EQ(stand_in::CallCount("OCIStmtFetch"), 2);    // the first row of each open, one fetch each
}

TEST_F(QueryTest, ChangingTheSqlWhileOpenClosesUnpreparesAndTheNextOpenUsesTheNewText) {
  SetSql(*query, QStringLiteral("select n from qt_rows where n = 5"));
  query->Open();
  ASSERT_EQ(N(), 5);
  SetSql(*query, QStringLiteral("select name from qt_rows where n = 40"));
  EXPECT_FALSE(query->Active());
  EXPECT_FALSE(query->Prepared());
  EXPECT_EQ(query->StatementHandle(), nullptr);
  EXPECT_TRUE(session->AttachedQueries().isEmpty());
  stand_in::ResetCounts();
  query->Open();
  EXPECT_EQ(stand_in::CallCount("OCIStmtPrepare"), 1);
  EXPECT_EQ(query->FieldCount(), 1);
  EXPECT_EQ(query->FieldByName(QStringLiteral("NAME"))->AsString(), QStringLiteral("system"));
}

TEST_F(QueryTest, SessionsAreFoundByNameWhateverTheLetterCaseOrRefusedByName) {
  session->SetSessionName(QStringLiteral("QueryTests"));
  TOQuery named;
  named.SetName(QStringLiteral("Named"));
  named.SessionName = QStringLiteral("querytests");
  SetSql(named, QStringLiteral("select n from qt_rows where n = 2"));
  named.Open();
  EXPECT_EQ(named.Session(), session.get());
  EXPECT_EQ(named.FieldByName(QStringLiteral("N"))->AsInteger(), 2);
  named.Close();

  TOQuery lost;
  lost.SetName(QStringLiteral("Lost"));
  SetSql(lost, QStringLiteral("select n from qt_rows"));
  try {
    lost.Open();
    ADD_FAILURE() << "opened without a session";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), QStringLiteral("Session not assigned for Lost"));
  }
  lost.SessionName = QStringLiteral("nosuch");
  try {
    lost.Open();
    ADD_FAILURE() << "opened without a session";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), QStringLiteral("Can not find session \"nosuch\""));
  }
  EXPECT_FALSE(lost.Active());
}

TEST_F(QueryTest, BlankLinesAreRefusedAsEmptySqlWithoutReachingTheServer) {
  query->SQL().Add(QString());
  query->SQL().Add(QStringLiteral("   \t "));
  query->SQL().Add(QString());
  stand_in::ResetCounts();
  try {
    query->Open();
    ADD_FAILURE() << "opened blank SQL";
  } catch (const EOError& e) {
    EXPECT_EQ(e.Message(), QStringLiteral("Can't execute empty SQL."));
  }
  EXPECT_EQ(stand_in::CallCount("OCIStmtPrepare"), 0);
  EXPECT_FALSE(query->Active());
  EXPECT_FALSE(query->Prepared());
  EXPECT_EQ(query->StatementHandle(), nullptr);
  // The query is usable again once it has a statement.
  query->SQL().Add(QStringLiteral("select n from qt_rows where n = 1"));
  query->Open();
  EXPECT_EQ(N(), 1);
}

TEST_F(QueryTest, OnlyTheFirstOccurrenceOfAMacroIsReplaced) {
  SetSql(*query, QStringLiteral("select '%tag' a, '%tag' b from dual"));
  ASSERT_EQ(query->Macros().Count(), 1);
  query->Macros()[0].SetAsString(QStringLiteral("x"));
  query->Open();
  const QString sent = QStringLiteral("select 'x' a, '%tag' b from dual\n");
  EXPECT_EQ(query->ExpandedSQL(), sent);
  EXPECT_EQ(InSharedPool(sent), 1);
  EXPECT_EQ(query->FieldByName(QStringLiteral("A"))->AsString(), QStringLiteral("x"));
  EXPECT_EQ(query->FieldByName(QStringLiteral("B"))->AsString(), QStringLiteral("%tag"));

  // Lines are joined by line feeds, carriage returns dropped, a macro on any line.
  query->SQL().Clear();
  query->SQL().Add(QStringLiteral("select n, name\r"));
  query->SQL().Add(QStringLiteral("from qt_rows where n between 38 and 41"));
  query->SQL().Add(QStringLiteral("order by %col desc"));
  query->Macros()[0].SetAsString(QStringLiteral("name"));
  query->Open();
  const QString ordered = QStringLiteral("select n, name\nfrom qt_rows where n between 38 and 41\norder by name desc\n");
  EXPECT_EQ(query->ExpandedSQL(), ordered);
  EXPECT_EQ(InSharedPool(ordered), 1);
  EXPECT_EQ(N(), 41);
  query->Next();
  EXPECT_EQ(N(), 39);
}

TEST_F(QueryTest, AStatementRunForItsEffectExecutesOnceCommitsAndReportsTheTransactionOnce) {
  int transChanges = 0;
  session->OnTransChange = [&](TOSession* sender) {
    EXPECT_EQ(sender, session.get());
    ++transChanges;
  };
  SetSql(*query, QStringLiteral("insert into qt_effects values (1)"));
  stand_in::ResetCounts();
  query->ExecuteStatement();
  EXPECT_EQ(stand_in::CallCount("OCIStmtExecute"), 1);
  EXPECT_EQ(stand_in::CallCount("OCIStmtFetch"), 0);
  EXPECT_EQ(transChanges, 1);
  EXPECT_FALSE(query->Active());
  // Committed on success: another session sees the row.
  auto other = LoggedOn(QStringLiteral("SCOTT"), QStringLiteral("TIGER"));
  EXPECT_EQ(CountOf(*other, QStringLiteral("select count(*) from qt_effects where n = 1")), 1);
}

TEST_F(QueryTest, ANonSelectWithAutoCloseRunsOnEveryOpen) {
  query->AutoClose = true;
  SetSql(*query, QStringLiteral("insert into qt_effects values (2)"));
  query->Open();
  EXPECT_TRUE(query->Active());
  EXPECT_TRUE(query->IsEmpty());
  EXPECT_EQ(query->RecordCount(), 0);
  query->Close();
  // The statement was released after it ran; the next run prepares it again.
  query->ExecuteStatement();
  EXPECT_EQ(CountOf(*session, QStringLiteral("select count(*) from qt_effects where n = 2")), 2);
}

TEST_F(QueryTest, UnderAGridOnlyTheRowsTheGridNeedsAreFetchedUntilEveryRowIsAskedFor) {
  ShownGrid shown(query.get());
  const int visible = shown.grid.VisibleRowCount();
  ASSERT_GE(visible, 19);
  ASSERT_LE(visible, 21);
  SetSql(*query, QStringLiteral("select n, name from qt_rows order by n"));
  stand_in::ResetCounts();
  query->Open();
  ASSERT_TRUE(QTest::qWaitFor([&] { return shown.grid.GridModel()->rowCount() > 0; }, 5000));
  QCoreApplication::processEvents();
  const int cached = query->Rows().Count();
  EXPECT_GE(cached, visible);
  EXPECT_LE(cached, visible + 3);
  EXPECT_EQ(stand_in::CallCount("OCIStmtFetch"), cached);  // one fetch per row, none wasted
  EXPECT_EQ(query->RecordCount(), cached);
  EXPECT_EQ(N(), 1);
  query->QueryAll = true;
  EXPECT_EQ(query->RecordCount(), 100);
  EXPECT_TRUE(query->EndOfData());
  EXPECT_EQ(stand_in::CallCount("OCIStmtFetch"), 101);  // and one that found the end
  // Counting moved nothing the user sees.
  EXPECT_EQ(N(), 1);
  EXPECT_EQ(query->RecNo(), 1);
  query->Next();
  EXPECT_EQ(N(), 2);
}

TEST_F(QueryTest, TheGridReadsAndPaintsRowsWithoutMovingTheCursor) {
  ShownGrid shown(query.get());
  TDBGridModel* model = shown.grid.GridModel();
  SetSql(*query, QStringLiteral("select n from qt_rows order by n"));
  query->Open();
  ASSERT_TRUE(QTest::qWaitFor([&] { return model->rowCount() > 0; }, 5000));
  QCoreApplication::processEvents();
  query->MoveBy(4);
  QCoreApplication::processEvents();
  ASSERT_EQ(N(), 5);
  ASSERT_EQ(model->CurrentRow(), 4);
  const int rowIndex = query->RowIndex();
  int scrollEvents = 0;
  query->BeforeScroll = [&](TDataSet*) { ++scrollEvents; };
  query->AfterScroll = [&](TDataSet*) { ++scrollEvents; };

  // Scrolling the view to the end reads, fetches and paints every row.
  for (int i = 0; i < 20 && !model->AtEnd(); ++i) {
    shown.grid.scrollToBottom();
    QCoreApplication::processEvents();
  }
  shown.grid.viewport()->repaint();
  EXPECT_TRUE(model->AtEnd());
  EXPECT_EQ(query->Rows().Count(), 100);
  EXPECT_EQ(model->data(model->index(99, 0)).toString(), QStringLiteral("100"));

  EXPECT_EQ(scrollEvents, 0);
  EXPECT_EQ(query->RowIndex(), rowIndex);
  EXPECT_EQ(query->RecNo(), 5);
  EXPECT_EQ(N(), 5);
  EXPECT_EQ(model->CurrentRow(), 4);
  query->BeforeScroll = nullptr;
  query->AfterScroll = nullptr;
  query->Next();
  EXPECT_EQ(N(), 6);
}

TEST_F(QueryTest, AnEmptyResultCountsNoRecordsAndStandsOnRecordZero) {
  SetSql(*query, QStringLiteral("select n from qt_rows where n < 0"));
  query->Open();
  EXPECT_EQ(query->RecordCount(), 0);
  EXPECT_EQ(query->RecNo(), 0);
  EXPECT_TRUE(query->Bof());
  EXPECT_TRUE(query->Eof());
  EXPECT_TRUE(query->FieldByName(QStringLiteral("N"))->IsNull());
  stand_in::ResetCounts();
  query->Next();
  EXPECT_EQ(stand_in::CallCount("OCIStmtFetch"), 0);  // the end is known
}

TEST_F(QueryTest, BookmarksCompareByRowAndLeadBackToTheirRow) {
  SetSql(*query, QStringLiteral("select n from qt_rows order by n"));
  query->Open();
  query->MoveBy(2);
  const TBookmark third = query->GetBookmark();
  query->MoveBy(2);
  const TBookmark fifth = query->GetBookmark();
  ASSERT_EQ(N(), 5);
  EXPECT_EQ(query->CompareBookmarks(third, fifth), -1);
  EXPECT_EQ(query->CompareBookmarks(fifth, third), 1);
  EXPECT_EQ(query->CompareBookmarks(third, third), 0);
  EXPECT_EQ(query->CompareBookmarks(TBookmark(), fifth), 1);
  EXPECT_EQ(query->CompareBookmarks(fifth, TBookmark()), -1);
  EXPECT_EQ(query->CompareBookmarks(TBookmark(), TBookmark()), 0);
  query->GotoBookmark(third);
  EXPECT_EQ(N(), 3);
  EXPECT_EQ(query->RecNo(), 3);
  // Record numbers reach only cached rows: the sixth row was never fetched.
  query->SetRecNo(6);
  EXPECT_EQ(N(), 3);
  query->SetRecNo(5);
  EXPECT_EQ(N(), 5);
  stand_in::ResetCounts();
  query->First();
  query->Prior();
  EXPECT_TRUE(query->Bof());
  EXPECT_EQ(stand_in::CallCount("OCIStmtFetch"), 0);
}

TEST_F(QueryTest, EveryChangeIsRefusedAndTheRowsStay) {
  SetSql(*query, QStringLiteral("select n, name from qt_rows where n <= 3 order by n"));
  query->Open();
  query->Next();
  const auto refused = [&](const char* what, const std::function<void()>& change) {
    try {
      change();
      ADD_FAILURE() << what << " accepted";
    } catch (const Exception& e) {
      return e.Message();
    }
    return QString();
  };
  EXPECT_EQ(refused("edit", [&] { query->Edit(); }), QStringLiteral("Cannot modify a read-only dataset"));
  EXPECT_EQ(refused("insert", [&] { query->Insert(); }), QStringLiteral("Cannot modify a read-only dataset"));
  EXPECT_EQ(refused("append", [&] { query->Append(); }), QStringLiteral("Cannot modify a read-only dataset"));
  EXPECT_EQ(refused("delete", [&] { query->Delete(); }), QStringLiteral("Sorry, deleting not supported."));
  EXPECT_EQ(refused("assignment", [&] { query->FieldByName(QStringLiteral("NAME"))->SetAsString(QStringLiteral("x")); }),
            QStringLiteral("Read only - can't set data into field"));
  EXPECT_EQ(query->State(), dsBrowse);
  EXPECT_EQ(N(), 2);
  query->QueryAll = true;
  EXPECT_EQ(query->RecordCount(), 3);

  query->Close();
  SetSql(*query, QStringLiteral("select n from qt_rows where n < 0"));
  query->Open();
  EXPECT_EQ(refused("delete", [&] { query->Delete(); }),
            QStringLiteral("Cannot perform this operation on an empty dataset"));
}

TEST_F(QueryTest, ValuesReadBackAsTheServerHoldsThem) {
  SetSql(*query, QStringLiteral("select d, v, e, k from qt_values"));
  query->Open();
  const TFieldDefs& defs = query->FieldDefs();
  ASSERT_EQ(defs.Count(), 4);
  EXPECT_EQ(defs[0].DataType, ftDateTime);
  EXPECT_EQ(defs[1].DataType, ftString);
  EXPECT_EQ(defs[1].Size, 31);
  EXPECT_EQ(defs[3].DataType, ftInteger);
  EXPECT_EQ(query->FieldByName(QStringLiteral("D"))->AsDateTime(),
            QDateTime(QDate(2001, 3, 4), QTime(5, 6, 7)));
  EXPECT_EQ(query->FieldByName(QStringLiteral("V"))->AsString(), QStringLiteral("abcdefghijklmnopqrstuvwxyz0123"));
  TField* empty = query->FieldByName(QStringLiteral("E"));
  EXPECT_TRUE(empty->IsNull());
  EXPECT_FALSE(empty->Value().isValid());
  EXPECT_TRUE(empty->AsString().isEmpty());
  EXPECT_EQ(query->FieldByName(QStringLiteral("K"))->AsInteger(), 7);
}

TEST_F(QueryTest, ADateDescribedSmallerThanSevenBytesIsRefusedWhenDescribed) {
  SetSql(*query, QStringLiteral("select k, d from qt_values"));
  {
    stand_in::DateDescribeSize narrow(3);
    EXPECT_EQ(RaisedBy([&] { query->Open(); }),
              QStringLiteral("Column D is described as a DATE of 3 bytes; a DATE takes 7"));
    EXPECT_FALSE(query->Active());
    EXPECT_FALSE(query->Prepared());
  }
  query->Open();
  EXPECT_EQ(query->FieldByName(QStringLiteral("D"))->AsDateTime(), QDateTime(QDate(2001, 3, 4), QTime(5, 6, 7)));
}

TEST_F(QueryTest, ALobLargerThanASizeCanCountIsRefusedAndTheRowDropped) {
  Execute(*session, QStringLiteral("create table qt_big (n number(5), body blob, note clob)"));
  Execute(*session, QStringLiteral("insert into qt_big values (1, empty_blob(), 'hi')"));
  SetSql(*query, QStringLiteral("select n, body, note from qt_big"));
  const int32_t closed = AllocCount() - FreeCount();
  for (const unsigned int length : {0x80000000u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(length);
    stand_in::LobLengthNext(length);
    EXPECT_EQ(RaisedBy([&] { query->Open(); }),
              QStringLiteral("Value of column BODY is larger than 2147483647 bytes"));
    EXPECT_EQ(query->Rows().Count(), 0);
    query->Close();
  }
  EXPECT_EQ(AllocCount() - FreeCount(), closed);
  query->Open();
  EXPECT_TRUE(query->FieldByName(QStringLiteral("BODY"))->AsString().isEmpty());
  EXPECT_EQ(query->FieldByName(QStringLiteral("NOTE"))->AsString(), QStringLiteral("hi"));
}

TEST_F(QueryTest, LocateComparesAsTextWithItsOptionsAndNeedsEveryKeyToMatch) {
  SetSql(*query, QStringLiteral("select n, name, grp from qt_rows order by n"));
  query->Open();
  EXPECT_TRUE(query->Locate(QStringLiteral("NAME"), QStringLiteral("SYS"), loPartialKey | loCaseInsensitive));
  EXPECT_EQ(N(), 40);
  EXPECT_FALSE(query->Locate(QStringLiteral("NAME"), QStringLiteral("SYS"), loPartialKey));
  EXPECT_EQ(N(), 100);  // nothing matched: the search stopped on the last record
  EXPECT_FALSE(query->Locate(QStringLiteral("NAME"), QStringLiteral("SYSTEM"), {}));
  EXPECT_TRUE(query->Locate(QStringLiteral("NAME"), QStringLiteral("SYSTEM"), loCaseInsensitive));
  EXPECT_EQ(N(), 40);

  const auto keys = [](const char* name, const char* grp) {
    return QVariant(QVariantList{QString::fromLatin1(name), QString::fromLatin1(grp)});
  };
  EXPECT_FALSE(query->Locate(QStringLiteral("NAME;GRP"), keys("user41", "g5"), {}));
  EXPECT_TRUE(query->Locate(QStringLiteral("NAME;GRP"), keys("user41", "g6"), {}));
  EXPECT_EQ(N(), 41);
}

TEST_F(QueryTest, AutoCloseReleasesTheStatementAtTheEndAndKeepsTheRows) {
  query->AutoClose = true;
  SetSql(*query, QStringLiteral("select n, name from qt_rows where n <= 3 order by n"));
  stand_in::ResetCounts();
  query->Open();
  EXPECT_NE(query->StatementHandle(), nullptr);
  query->Last();
  EXPECT_EQ(query->StatementHandle(), nullptr);
  EXPECT_EQ(stand_in::CallCount("OCIStmtFetch"), 4);
  EXPECT_EQ(stand_in::CallCount("OCIHandleFree"), 1);
  EXPECT_EQ(N(), 3);
  query->First();
  EXPECT_EQ(N(), 1);
  EXPECT_EQ(query->FieldByName(QStringLiteral("NAME"))->AsString(), QStringLiteral("user1"));
  EXPECT_EQ(query->RecordCount(), 3);
  // Opening again runs the statement anew.
  query->Close();
  query->Open();
  query->QueryAll = true;
  EXPECT_EQ(query->RecordCount(), 3);
  EXPECT_EQ(N(), 1);
}

TEST_F(QueryTest, LongAndClobValuesArriveWholeAndStayReadableAfterTheStatementIsReleased) {
  Execute(*session, QStringLiteral("create table qt_texts (n number(5), body long, note clob)"));
  const QString body = QStringLiteral("a") + QString(2500, QLatin1Char('x')) + QStringLiteral("z");
  Execute(*session, QStringLiteral("insert into qt_texts values (1, '%1', 'first note')").arg(body));
  Execute(*session, QStringLiteral("insert into qt_texts values (2, null, null)"));
  Execute(*session, QStringLiteral("insert into qt_texts values (3, 'short', 'h\u00e9llo w\u00f6rld \u20ac')"));
  query->AutoClose = true;
  SetSql(*query, QStringLiteral("select n, body, note from qt_texts order by n"));
  query->Open();
  query->Last();
  ASSERT_EQ(query->StatementHandle(), nullptr);
  TField* bodyField = query->FieldByName(QStringLiteral("BODY"));
  TField* noteField = query->FieldByName(QStringLiteral("NOTE"));
  EXPECT_EQ(bodyField->DataType(), ftMemo);
  EXPECT_EQ(noteField->DataType(), ftMemo);
  EXPECT_EQ(bodyField->AsString(), QStringLiteral("short"));
  EXPECT_EQ(noteField->AsString(), QStringLiteral("h\u00e9llo w\u00f6rld \u20ac"));  // characters of 1 to 3 bytes
  query->First();
  EXPECT_EQ(bodyField->AsString(), body);
  EXPECT_EQ(noteField->AsString(), QStringLiteral("first note"));
  std::unique_ptr<QIODevice> stream = query->CreateBlobStream(bodyField, bmRead);
  ASSERT_TRUE(stream->open(QIODevice::ReadOnly));
  EXPECT_EQ(stream->size(), body.size());
  EXPECT_TRUE(stream->seek(2500));
  EXPECT_EQ(stream->readAll(), QByteArray("xz"));
  query->Next();
  EXPECT_TRUE(bodyField->IsNull());
  EXPECT_TRUE(noteField->IsNull());
  EXPECT_EQ(query->CreateBlobStream(noteField, bmRead)->size(), 0);

  // A stream keeps its value when the query closes under it.
  query->First();
  stream = query->CreateBlobStream(noteField, bmRead);
  query->Close();
  ASSERT_TRUE(stream->open(QIODevice::ReadOnly));
  EXPECT_EQ(stream->readAll(), QByteArray("first note"));

  // Two LONG values per row while the filter drops rows: each piece reaches its own column.
  query->SetFiltered(true);
  query->OnFilterRecord = [](TDataSet* dataSet, bool& accept) {
    accept = dataSet->FieldByName(QStringLiteral("N"))->AsInteger() != 1;
  };
  SetSql(*query, QStringLiteral("select a.n, a.body, b.body other from qt_texts a, qt_texts b "
                                "where a.n = b.n order by a.n"));
  query->Open();
  EXPECT_EQ(N(), 2);
  query->Next();
  EXPECT_EQ(query->FieldByName(QStringLiteral("BODY"))->AsString(), QStringLiteral("short"));
  EXPECT_EQ(query->FieldByName(QStringLiteral("OTHER"))->AsString(), QStringLiteral("short"));
}

TEST_F(QueryTest, ASelectWithAnArrayParameterStillDeliversEveryRowOnEachOpen) {
  SetSql(*query, QStringLiteral("select n from qt_rows where n <= :top order by n"));
  TOParam& top = query->Params().CreateParam(QStringLiteral("top"), ftInteger, optIn);
  top.SetArraySize(3);
  for (int i = 0; i < 3; ++i) top.SetAsInteger(5, i);
  for (int open = 0; open < 2; ++open) {
    query->Open();
    EXPECT_EQ(N(), 1);
    query->QueryAll = true;
    EXPECT_EQ(query->RecordCount(), 5);
    query->QueryAll = false;
    query->Close();
  }
}

TEST_F(QueryTest, AnArrayInsertNeedsAsManyElementsInEveryParameterAsItRunsTimes) {
  Execute(*session, QStringLiteral("create table qt_pairs (n number(5), name varchar2(10))"));
  SetSql(*query, QStringLiteral("insert into qt_pairs values (:n, :name)"));
  TOParam& n = query->Params().CreateParam(QStringLiteral("n"), ftInteger, optIn);
  TOParam& name = query->Params().CreateParam(QStringLiteral("name"), ftString, optIn);
  n.SetArraySize(5);
  for (int i = 0; i < 5; ++i) n.SetAsInteger(i + 1, i);
  name.SetAsString(QStringLiteral("one"));  // a single value beside five
  const QString scalar = RaisedBy([&] { query->ExecuteStatement(); });
  EXPECT_EQ(scalar, QStringLiteral("TOParam: parameter 'name' has 1 element(s) where the statement runs 5 times"));
  name.SetArraySize(3);
  for (int i = 0; i < 3; ++i) name.SetAsString(QStringLiteral("v%1").arg(i), i);
  EXPECT_EQ(RaisedBy([&] { query->ExecuteStatement(); }),
            QStringLiteral("TOParam: parameter 'name' has 3 element(s) where the statement runs 5 times"));
  // The order of the parameters makes no difference.
  n.SetArraySize(2);
  EXPECT_EQ(RaisedBy([&] { query->ExecuteStatement(); }),
            QStringLiteral("TOParam: parameter 'n' has 2 element(s) where the statement runs 3 times"));
  // Two elements are already an array run: the scalar beside them is refused too.
  name.SetArraySize(1);
  name.SetAsString(QStringLiteral("one"));
  EXPECT_EQ(RaisedBy([&] { query->ExecuteStatement(); }),
            QStringLiteral("TOParam: parameter 'name' has 1 element(s) where the statement runs 2 times"));
  name.SetArraySize(3);
  for (int i = 0; i < 3; ++i) name.SetAsString(QStringLiteral("v%1").arg(i), i);
  EXPECT_EQ(CountOf(*session, QStringLiteral("select count(*) from qt_pairs")), 0);

  // Equal sizes insert a row per element, each with its own values, nulls included.
  n.SetArraySize(3);
  n.SetAsInteger(10, 0);
  n.SetAsInteger(20, 2);
  name.SetAsString(QStringLiteral("zwei \u00fc"), 2);
  stand_in::ResetCounts();
  query->ExecuteStatement();
  EXPECT_EQ(query->IterationCount(), 3);
  EXPECT_EQ(stand_in::CallCount("OCIStmtExecute"), 1);
  EXPECT_EQ(AllRows(*session, QStringLiteral("select n, name from qt_pairs order by name")),
            (QStringList{QStringLiteral("10|v0"), QStringLiteral("null|v1"), QStringLiteral("20|zwei \u00fc")}));

  // The smallest array, two elements, runs twice too; a table beside it runs nothing more.
  Execute(*session, QStringLiteral("delete from qt_pairs"));
  n.SetArraySize(2);
  name.SetArraySize(2);
  for (int i = 0; i < 2; ++i) {
    n.SetAsInteger(i + 1, i);
    name.SetAsString(QStringLiteral("w%1").arg(i + 1), i);
  }
  query->ExecuteStatement();
  EXPECT_EQ(query->IterationCount(), 2);
  EXPECT_EQ(AllRows(*session, QStringLiteral("select n, name from qt_pairs order by n")),
            (QStringList{QStringLiteral("1|w1"), QStringLiteral("2|w2")}));
  SetSql(*query, QStringLiteral("begin :r := :t; end;"));
  TOParam& table = query->Params().CreateParam(QStringLiteral("t"), ftInteger, optIn);
  table.IsTable = true;
  table.SetArraySize(5);
  for (int i = 0; i < 3; ++i) table.SetAsInteger(100 + i, i);
  query->Params().Delete(1);
  query->Params().Delete(0);
  TOParam& r = query->Params().CreateParam(QStringLiteral("r"), ftInteger, optOut);
  query->ExecuteStatement();
  EXPECT_EQ(query->IterationCount(), 1);
  EXPECT_EQ(table.ElementCount, 3u);
  EXPECT_EQ(r.GetValue(), QVariant(100));

  Execute(*session, QStringLiteral("drop table qt_pairs"));

  // A LOB parameter holds one locator: it takes no part in a statement run more than once.
  Execute(*session, QStringLiteral("create table qt_blobs (n number(5), body blob)"));
  SetSql(*query, QStringLiteral("insert into qt_blobs values (:n, :body)"));
  query->Params().Clear();
  query->Params().CreateParam(QStringLiteral("n"), ftInteger, optIn).SetArraySize(3);
  TOParam& body = query->Params().CreateParam(QStringLiteral("body"), ftBlob, optIn);
  body.SetArraySize(3);
  EXPECT_EQ(RaisedBy([&] { query->ExecuteStatement(); }),
            QStringLiteral("TOParam: parameter 'body' holds one LOB and cannot take part in an array bind"));
  EXPECT_EQ(CountOf(*session, QStringLiteral("select count(*) from qt_blobs")), 0);
  Execute(*session, QStringLiteral("drop table qt_blobs"));
}

TEST_F(QueryTest, TheFilterEventDecidesAboutEachFetchedRow) {
  int offered = 0;
  query->SetFiltered(true);
  query->OnFilterRecord = [&](TDataSet*, bool& accept) {
    ++offered;
    accept = false;
  };
  SetSql(*query, QStringLiteral("select n from qt_rows"));
  query->Open();
  EXPECT_TRUE(query->IsEmpty());
  EXPECT_EQ(query->RecordCount(), 0);
  EXPECT_EQ(query->Rows().Count(), 0);
  EXPECT_TRUE(query->EndOfData());
  EXPECT_EQ(offered, 100);

  query->Close();
  query->OnFilterRecord = [&](TDataSet* dataSet, bool& accept) {
    accept = dataSet->FieldByName(QStringLiteral("N"))->AsInteger() % 2 == 0;
  };
  SetSql(*query, QStringLiteral("select n from qt_rows order by n"));
  query->Open();
  EXPECT_EQ(N(), 2);
  query->Next();
  EXPECT_EQ(N(), 4);
  query->QueryAll = true;
  EXPECT_EQ(query->RecordCount(), 50);

  // Without Filtered the event is not asked.
  query->Close();
  query->SetFiltered(false);
  offered = 0;
  query->OnFilterRecord = [&](TDataSet*, bool& accept) {
    ++offered;
    accept = false;
  };
  query->Open();
  EXPECT_EQ(query->RecordCount(), 100);
  EXPECT_EQ(offered, 0);

  // A row whose filter event fails is not kept.
  query->Close();
  query->SetFiltered(true);
  query->OnFilterRecord = [&](TDataSet* dataSet, bool& accept) {
    const int n = dataSet->FieldByName(QStringLiteral("N"))->AsInteger();
    if (n == 3) throw Exception(QStringLiteral("filter failed"));
    accept = true;
  };
  query->Open();
  query->Next();
  EXPECT_THROW(query->Next(), Exception);
  EXPECT_EQ(query->Rows().Count(), 2);
  EXPECT_EQ(N(), 2);
}

TEST_F(QueryTest, AFailedFetchKeepsNoHalfRowAndTheNextMoveTriesAgain) {
  SetSql(*query, QStringLiteral("select n from qt_rows order by n"));
  query->Open();
  ASSERT_EQ(query->Rows().Count(), 1);
  stand_in::FailNext("OCIStmtFetch", 3113);
  try {
    query->Next();
    ADD_FAILURE() << "the failed fetch went unreported";
  } catch (const EOError& e) {
    EXPECT_TRUE(e.Message().startsWith(QStringLiteral("ORA-03113"))) << e.what();
  }
  EXPECT_EQ(query->Rows().Count(), 1);
  EXPECT_FALSE(query->EndOfData());
  EXPECT_EQ(N(), 1);
  query->Next();
  EXPECT_EQ(N(), 2);  // no row was lost
}

TEST_F(QueryTest, AFetchFailingUnderTheGridIsReportedOnceAndLosesNoRow) {
  HandlerRecorder handler;
  ShownGrid shown(query.get());
  TDBGridModel* model = shown.grid.GridModel();
  SetSql(*query, QStringLiteral("select n from qt_rows order by n"));
  query->Open();
  ASSERT_TRUE(QTest::qWaitFor([&] { return model->rowCount() > 0; }, 5000));
  QCoreApplication::processEvents();
  const int cached = query->Rows().Count();
  const int shownRows = model->rowCount();

  stand_in::FailNext("OCIStmtFetch", 3113);
  shown.grid.scrollToBottom();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !handler.messages.isEmpty(); }, 5000));
  // Whatever the grid queued meanwhile runs now, and reports nothing more.
  for (int pass = 0; pass < 3; ++pass) QCoreApplication::processEvents();
  ASSERT_EQ(handler.messages.size(), 1) << handler.messages.join(QStringLiteral("; ")).toStdString();
  EXPECT_TRUE(handler.messages[0].startsWith(QStringLiteral("ORA-03113"))) << handler.messages[0].toStdString();
  EXPECT_EQ(query->Rows().Count(), cached);
  EXPECT_EQ(model->rowCount(), shownRows);

  // Asked again, the grid reads on where it stopped.
  model->fetchMore(QModelIndex());
  ASSERT_GT(model->rowCount(), shownRows);
  for (int row = 0; row < model->rowCount(); ++row)
    ASSERT_EQ(model->data(model->index(row, 0)).toString(), QString::number(row + 1)) << row;
  EXPECT_EQ(handler.messages.size(), 1);
}

TEST_F(QueryTest, AStatementErrorCarriesItsPositionAndText) {
  SetSql(*query, QStringLiteral("select * from nosuchtable"));
  try {
    query->Open();
    ADD_FAILURE() << "opened a missing table";
  } catch (const EOError& e) {
    EXPECT_TRUE(e.Message().startsWith(QStringLiteral("ORA-00942"))) << e.what();
    EXPECT_EQ(e.ErrorPos, 14);
    EXPECT_EQ(e.ProblemSQL, query->ExpandedSQL());
    EXPECT_EQ(e.ProblemSQL.trimmed(), QStringLiteral("select * from nosuchtable"));
  }
  EXPECT_FALSE(query->Active());
  EXPECT_FALSE(query->Prepared());
  EXPECT_EQ(query->StatementHandle(), nullptr);
  SetSql(*query, QStringLiteral("select n from qt_rows where n = 9"));
  query->Open();
  EXPECT_EQ(N(), 9);
}

TEST_F(QueryTest, TheWaitCursorIsLiftedWhenTheDescribeOrTheExecuteFails) {
  Screen::SetCursor(crArrow);
  SetSql(*query, QStringLiteral("select * from nosuchtable"));
  EXPECT_THROW(query->Open(), EOError);  // refused by the describe
  EXPECT_EQ(Screen::Cursor(), crArrow);

  SetSql(*query, QStringLiteral("select n from qt_rows order by n"));
  query->PrepareStatement();
  stand_in::FailNext("OCIStmtExecute", 3113);
  EXPECT_THROW(query->Open(), EOError);  // refused by the execute
  EXPECT_EQ(Screen::Cursor(), crArrow);
  EXPECT_FALSE(query->Active());
  query->Open();
  EXPECT_EQ(N(), 1);
  EXPECT_EQ(Screen::Cursor(), crArrow);
  Screen::SetCursor(crDefault);
}

TEST_F(QueryTest, RefreshRunsTheStatementAnewAndSeesNewRows) {
  Execute(*session, QStringLiteral("create table qt_refresh (n number(5))"));
  Execute(*session, QStringLiteral("insert into qt_refresh values (1)"));
  SetSql(*query, QStringLiteral("select n from qt_refresh order by n"));
  query->Open();
  query->QueryAll = true;
  ASSERT_EQ(query->RecordCount(), 1);
  auto other = LoggedOn(QStringLiteral("SCOTT"), QStringLiteral("TIGER"));
  Execute(*other, QStringLiteral("insert into qt_refresh values (2)"));
  stand_in::ResetCounts();
  query->Refresh();
  EXPECT_EQ(stand_in::CallCount("OCIStmtPrepare"), 1);
  EXPECT_TRUE(query->Active());
  EXPECT_EQ(query->RecordCount(), 2);
  EXPECT_EQ(N(), 1);
}

TEST_F(QueryTest, AnotherSessionOrTheSessionsEndUnpreparesTheQuery) {
  SetSql(*query, QStringLiteral("select n from qt_rows where n <= 3"));
  query->Open();
  auto other = LoggedOn(QStringLiteral("SCOTT"), QStringLiteral("TIGER"));
  query->SetSession(other.get());
  EXPECT_FALSE(query->Active());
  EXPECT_FALSE(query->Prepared());
  EXPECT_TRUE(session->AttachedQueries().isEmpty());
  query->Open();
  EXPECT_EQ(other->AttachedQueries().size(), 1);

  // The session going away closes the query and leaves it without a session.
  other.reset();
  EXPECT_FALSE(query->Active());
  EXPECT_FALSE(query->Prepared());
  EXPECT_EQ(query->Session(), nullptr);
  try {
    query->Open();
    ADD_FAILURE() << "opened without a session";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), QStringLiteral("Session not assigned for TestQuery"));
  }
}

TEST_F(QueryTest, NumbersWithoutPrecisionKeepTheirSizeAndFractionsUnderEitherDescribe) {
  const auto check = [&](const char* describe) {
    SCOPED_TRACE(describe);
    SetSql(*query, QStringLiteral("select n, k, 3000000000 big, 2.5 half from qt_plain order by k"));
    query->Open();
    EXPECT_EQ(query->FieldByName(QStringLiteral("N"))->DataType(), ftFloat);
    EXPECT_EQ(query->FieldByName(QStringLiteral("K"))->DataType(), ftInteger);
    EXPECT_EQ(query->FieldByName(QStringLiteral("N"))->AsFloat(), 3000000000.0);
    EXPECT_EQ(query->FieldByName(QStringLiteral("BIG"))->AsString(), QStringLiteral("3000000000"));
    EXPECT_EQ(query->FieldByName(QStringLiteral("HALF"))->AsFloat(), 2.5);
    query->Next();
    EXPECT_EQ(query->FieldByName(QStringLiteral("N"))->AsFloat(), 2.5);
    EXPECT_EQ(query->FieldByName(QStringLiteral("N"))->AsString(), QStringLiteral("2.5"));
    EXPECT_EQ(query->FieldByName(QStringLiteral("K"))->AsInteger(), 8);
    query->Close();
  };
  check("older servers: precision 0, scale 0");
  {
    stand_in::CurrentNumberDescribe current;
    query->SQL().Clear();  // described anew
    check("current servers: precision 0, scale -127");
  }
}

TEST_F(QueryTest, NumbersReadAsTheDecimalsTheServerHolds) {
  SetSql(*query, QStringLiteral("select 100000 a, 4200000000 b, 0.25 c, 1234567.5 d from dual"));
  query->Open();
  ASSERT_EQ(query->FieldDefs()[0].DataType, ftFloat);
  EXPECT_EQ(query->FieldByName(QStringLiteral("A"))->AsString(), QStringLiteral("100000"));
  EXPECT_EQ(query->FieldByName(QStringLiteral("B"))->AsString(), QStringLiteral("4200000000"));
  EXPECT_EQ(query->FieldByName(QStringLiteral("C"))->AsString(), QStringLiteral("0.25"));
  EXPECT_EQ(query->FieldByName(QStringLiteral("D"))->AsString(), QStringLiteral("1234567.5"));
}

TEST_F(QueryTest, ABookmarkThatNamesNoCachedRowIsRefusedAndTheCursorStaysWhereItWas) {
  SetSql(*query, QStringLiteral("select n from qt_rows order by n"));
  query->Open();
  query->MoveBy(4);
  const TBookmark fifth = query->GetBookmark();
  // After a refresh the cache starts again, shorter than the bookmark's row.
  query->Refresh();
  query->Next();
  ASSERT_EQ(N(), 2);
  ASSERT_LT(query->Rows().Count(), 5);
  EXPECT_EQ(RaisedBy([&] { query->GotoBookmark(fifth); }), QStringLiteral("Record not found"));
  EXPECT_EQ(N(), 2);
  EXPECT_EQ(query->RecNo(), 2);
  query->Next();
  EXPECT_EQ(N(), 3);

  // With every row cached, values past either end name nothing either.
  query->QueryAll = true;
  ASSERT_EQ(query->RecordCount(), 100);
  for (const int32_t row : {100, 1000, -1, -2, INT32_MIN, INT32_MAX}) {
    EXPECT_EQ(RaisedBy([&] { query->GotoBookmark(BookmarkOf(row)); }), QStringLiteral("Record not found")) << row;
    EXPECT_EQ(N(), 3) << row;
  }
  query->Prior();
  EXPECT_EQ(N(), 2);
  query->GotoBookmark(fifth);  // a row the cache holds again
  EXPECT_EQ(N(), 5);
  query->Last();
  EXPECT_EQ(N(), 100);
}

TEST_F(QueryTest, AfterAFetchTheRowIndexNamesTheRowJustFetched) {
  SetSql(*query, QStringLiteral("select n from qt_rows order by n"));
  query->Open();
  query->MoveBy(4);
  query->First();
  ASSERT_EQ(query->Rows().Count(), 5);
  ASSERT_EQ(query->RowIndex(), 0);
  ASSERT_TRUE(query->FetchRow());
  EXPECT_EQ(query->RowIndex(), 5);
  query->QueryAll = true;
  EXPECT_EQ(query->RecordCount(), 100);  // fetches the rest
  EXPECT_EQ(query->RowIndex(), 99);
  // The framework puts its cursor back before it moves.
  EXPECT_EQ(N(), 1);
  query->Next();
  EXPECT_EQ(N(), 2);

  // A row the filter drops leaves the cursor where it was.
  query->Close();
  query->SetFiltered(true);
  query->OnFilterRecord = [](TDataSet* dataSet, bool& accept) {
    accept = dataSet->FieldByName(QStringLiteral("N"))->AsInteger() % 10 == 0;
  };
  query->Open();
  query->MoveBy(2);
  ASSERT_EQ(N(), 30);
  query->First();
  ASSERT_TRUE(query->FetchRow());  // offers 31 to 40 and keeps 40
  EXPECT_EQ(query->Rows().Count(), 4);
  EXPECT_EQ(query->RowIndex(), 3);
}

TEST_F(QueryTest, ALastThatStopsOnAnUnexpectedStatusLeavesTheCursorOnARealRow) {
  SetSql(*query, QStringLiteral("select n from qt_rows where n <= 3 order by n"));
  // The very first fetch answers a status that is neither a row nor the end.
  stand_in::StatusNext("OCIStmtFetch", OCI_NEED_DATA);
  query->Open();
  ASSERT_TRUE(query->IsEmpty());
  ASSERT_FALSE(query->EndOfData());
  stand_in::StatusNext("OCIStmtFetch", OCI_STILL_EXECUTING);
  query->Last();
  EXPECT_TRUE(query->IsEmpty());
  EXPECT_EQ(query->RowIndex(), -1);
  EXPECT_EQ(query->RecNo(), 0);
  // Reading the window again fetches the first row and shows it.
  query->Resync({});
  EXPECT_EQ(query->Rows().Count(), 1);
  EXPECT_EQ(query->RowIndex(), 0);
  EXPECT_EQ(N(), 1);

  // With rows cached, such a Last ends on the last of them.
  stand_in::StatusNext("OCIStmtFetch", OCI_NEED_DATA);
  query->Last();
  EXPECT_EQ(N(), 1);
  EXPECT_EQ(query->RowIndex(), 0);
  query->Resync({});
  EXPECT_EQ(N(), 1);
  query->Last();
  EXPECT_EQ(N(), 3);
  EXPECT_EQ(query->RecNo(), 3);
}

TEST_F(QueryTest, AFailedPieceOfALongValueEndsTheFetchCleanlyAndDropsTheRow) {
  Execute(*session, QStringLiteral("create table qt_longs (n number(5), body long)"));
  Execute(*session, QStringLiteral("insert into qt_longs values (1, 'short')"));
  Execute(*session, QStringLiteral("insert into qt_longs values (2, '%1')").arg(QString(2500, QLatin1Char('y'))));
  Execute(*session, QStringLiteral("insert into qt_longs values (3, 'after')"));
  SetSql(*query, QStringLiteral("select n, body from qt_longs order by n"));
  const int32_t closed = AllocCount() - FreeCount();
  query->Open();
  ASSERT_EQ(N(), 1);
  const int32_t held = AllocCount() - FreeCount();
  {
    // The second piece of row 2 finds no memory, inside the client's fetch.
    ExhaustedMemory exhausted(1024, 1);
    EXPECT_THROW(query->Next(), std::bad_alloc);
    EXPECT_TRUE(exhausted.Failed());
  }
  EXPECT_EQ(AllocCount() - FreeCount(), held);
  EXPECT_EQ(query->Rows().Count(), 1);
  EXPECT_FALSE(query->EndOfData());
  EXPECT_EQ(N(), 1);
  EXPECT_EQ(query->FieldByName(QStringLiteral("BODY"))->AsString(), QStringLiteral("short"));
  // The query goes on and closes with every block released.
  query->QueryAll = true;
  EXPECT_GE(query->RecordCount(), 1);
  query->Close();
  EXPECT_EQ(AllocCount() - FreeCount(), closed);
}

TEST_F(QueryTest, RecordNumberZeroShowsTheFirstRecordWithoutFetching) {
  SetSql(*query, QStringLiteral("select n from qt_rows order by n"));
  query->Open();
  query->MoveBy(4);
  ASSERT_EQ(N(), 5);
  stand_in::ResetCounts();
  query->SetRecNo(0);
  EXPECT_EQ(N(), 1);
  EXPECT_EQ(query->RecNo(), 1);
  EXPECT_EQ(stand_in::CallCount("OCIStmtFetch"), 0);
  EXPECT_EQ(query->Rows().Count(), 5);
  query->Next();
  EXPECT_EQ(N(), 2);
  query->SetRecNo(-1);  // no such record: nothing moves
  EXPECT_EQ(N(), 2);
}

TEST_F(QueryTest, DataFieldsRefuseValuesInEveryStateAndCalculatedOnesAreStored) {
  const QString readOnly = QStringLiteral("Read only - can't set data into field");
  auto n = std::make_unique<TIntegerField>();
  n->SetFieldName(QStringLiteral("N"));
  TField* nField = query->Fields().Add(std::move(n));
  auto twice = std::make_unique<TIntegerField>();
  twice->SetFieldName(QStringLiteral("TWICE"));
  twice->SetCalculated(true);
  TField* twiceField = query->Fields().Add(std::move(twice));
  QStringList refusals;
  query->OnCalcFields = [&](TDataSet*) {
    refusals.append(RaisedBy([&] { nField->SetAsInteger(0); }));
    twiceField->SetAsInteger(nField->AsInteger() * 2);
  };
  query->SetFiltered(true);
  query->OnFilterRecord = [&](TDataSet*, bool& accept) {
    refusals.append(RaisedBy([&] { nField->Clear(); }));
    accept = true;
  };
  SetSql(*query, QStringLiteral("select n from qt_rows where n <= 3 order by n"));
  query->Open();
  query->Next();
  EXPECT_EQ(twiceField->AsInteger(), 4);
  ASSERT_FALSE(refusals.isEmpty());
  for (const QString& refusal : std::as_const(refusals)) EXPECT_EQ(refusal, readOnly);
  EXPECT_EQ(RaisedBy([&] { nField->SetAsInteger(9); }), readOnly);
  EXPECT_EQ(RaisedBy([&] { nField->Clear(); }), readOnly);
  EXPECT_EQ(N(), 2);
  try {
    nField->SetAsString(QStringLiteral("9"));
    ADD_FAILURE() << "a data field took a value";
  } catch (const EOError& e) {
    EXPECT_EQ(e.ErrorPos, 0);
    EXPECT_TRUE(e.ProblemSQL.isEmpty());
  }
  query->Prior();
  EXPECT_EQ(twiceField->AsInteger(), 2);
  query->Close();
  EXPECT_EQ(RaisedBy([&] { nField->SetAsInteger(9); }), readOnly);
}

TEST_F(QueryTest, OnlyBlanksAndControlCharactersMakeAStatementEmpty) {
  stand_in::ResetCounts();
  SetSql(*query, QStringLiteral("\x01"));
  EXPECT_EQ(RaisedBy([&] { query->Open(); }), QStringLiteral("Can't execute empty SQL."));
  SetSql(*query, QStringLiteral(" \x1f\t\x7f "));
  EXPECT_NE(RaisedBy([&] { query->Open(); }), QStringLiteral("Can't execute empty SQL."));
  EXPECT_EQ(stand_in::CallCount("OCIStmtPrepare"), 1);
  // A no-break space is text: the server judges it.
  SetSql(*query, QStringLiteral("\u00a0"));
  const QString message = RaisedBy([&] { query->Open(); });
  EXPECT_NE(message, QStringLiteral("Can't execute empty SQL."));
  EXPECT_FALSE(message.isEmpty());
  EXPECT_EQ(stand_in::CallCount("OCIStmtPrepare"), 2);
  EXPECT_FALSE(query->Active());
}

TEST_F(QueryTest, OutputParametersFollowTheirIndicatorsTruncatedValuesIncluded) {
  SetSql(*query, QStringLiteral("begin :cut := rpad('x', 5000, 'x'); :long := rpad('y', 20000, 'y') || "
                                "rpad('y', 20000, 'y'); :none := null; :n := 42; end;"));
  TOParams& params = query->Params();
  TOParam& cut = params.CreateParam(QStringLiteral("cut"), ftString, optOut);
  TOParam& huge = params.CreateParam(QStringLiteral("long"), ftString, optOut);
  TOParam& none = params.CreateParam(QStringLiteral("none"), ftString, optInOut);
  none.SetAsString(QStringLiteral("before"));
  TOParam& n = params.CreateParam(QStringLiteral("n"), ftInteger, optOut);
  query->ExecuteStatement();
  // A value cut to its 3999 bytes reads as what arrived; its indicator says how long it was.
  EXPECT_EQ(cut.Indicators()[0], 5000);
  EXPECT_EQ(cut.ValueAsText(), QString(3999, QLatin1Char('x')));
  EXPECT_EQ(huge.Indicators()[0], -2);
  EXPECT_EQ(huge.ValueAsText(), QString(3999, QLatin1Char('y')));
  EXPECT_EQ(none.Indicators()[0], -1);
  EXPECT_TRUE(none.ValueIsEmpty());
  EXPECT_EQ(n.GetValue(), QVariant(42));
}

TEST_F(QueryTest, AFetchedValueCutToFitItsBufferIsNullAndTheRestOfTheRowArrives) {
  SetSql(*query, QStringLiteral("select rpad('x', 5000, 'x') cut, rpad('y', 20000, 'y') || rpad('y', 20000, 'y') huge, "
                                "'z' whole, rpad('w', 4000, 'w') fits from dual"));
  stand_in::ResetCounts();
  query->Open();
  EXPECT_EQ(stand_in::CallCount("OCIStmtFetch"), 1);
  EXPECT_TRUE(query->FieldByName(QStringLiteral("CUT"))->IsNull());
  EXPECT_TRUE(query->FieldByName(QStringLiteral("HUGE"))->IsNull());
  EXPECT_EQ(query->FieldByName(QStringLiteral("WHOLE"))->AsString(), QStringLiteral("z"));
  EXPECT_EQ(query->FieldByName(QStringLiteral("FITS"))->AsString(), QString(4000, QLatin1Char('w')));
  EXPECT_EQ(query->RecordCount(), 1);
}

TEST_F(QueryTest, ColumnNamesAndIntegerWidthsAtTheirEdges) {
  Execute(*session, QStringLiteral("create table qt_widths (n9 number(9), n10 number(10), s number(9,-2))"));
  Execute(*session, QStringLiteral("insert into qt_widths values (-999999999, 9999999999, 123400)"));
  SetSql(*query, QStringLiteral("select n9, n10, s, 1 abcdefghijklmnopqrstuvwxyz0123 from qt_widths"));
  query->Open();
  const TFieldDefs& defs = query->FieldDefs();
  ASSERT_EQ(defs.Count(), 4);
  EXPECT_EQ(defs[0].DataType, ftInteger);
  EXPECT_EQ(defs[1].DataType, ftFloat);
  EXPECT_EQ(defs[2].DataType, ftInteger);
  EXPECT_EQ(defs[3].Name, QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123"));  // 30 characters, the most a name has
  EXPECT_EQ(query->Fields()[0]->AsInteger(), -999999999);
  EXPECT_EQ(query->Fields()[1]->AsString(), QStringLiteral("9999999999"));
  EXPECT_EQ(query->Fields()[2]->AsInteger(), 123400);
}
