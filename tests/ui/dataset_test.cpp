// The record-set framework over an in-memory record set: opening, the buffer
// window, navigation, bookmarks, search, fields, editing and notifications.
#include <gtest/gtest.h>

#include <QLocale>
#include <QSignalSpy>

#include "tests/ui/memdataset.h"
#include "ui/datasource.h"
#include "ui/datetime.h"

namespace {

QList<QVariantList> NumberedRows(int count) {
  QList<QVariantList> rows;
  for (int i = 1; i <= count; ++i) rows.append({i, QStringLiteral("row %1").arg(i)});
  return rows;
}

std::unique_ptr<TMemDataSet> Numbered(int count) {
  return std::make_unique<TMemDataSet>(QList<TMemDataSet::Column>{{"ID", ftInteger}, {"NAME", ftString, 20}},
                                       NumberedRows(count));
}

// The IDs met while calling `step` until `atEdge` holds, starting with the current one.
template <class Step, class Edge>
QList<int> Walk(TDataSet& ds, Step step, Edge atEdge) {
  QList<int> ids;
  for (int guard = 0; guard < 100 && !atEdge(); ++guard) {
    ids << ds.FieldByName("id")->AsInteger();
    step();
  }
  return ids;
}

// Where a record set stands, as one text: the ends it is at and whether it is
// empty ("bof eof empty"), so that a failed check names what differs.
std::string Ends(const TDataSet& ds) {
  QStringList flags;
  if (ds.Bof()) flags << "bof";
  if (ds.Eof()) flags << "eof";
  if (ds.IsEmpty()) flags << "empty";
  return flags.join(u' ').toStdString();
}

template <class F>
QString ErrorOf(F&& f) {
  try {
    f();
  } catch (const EDatabaseError& e) {
    return e.Message();
  }
  return QStringLiteral("<no error>");
}

}  // namespace

TEST(RecordSetOpen, RunsTheHooksAndEventsInOrderAndFreesEveryBuffer) {
  auto ds = Numbered(3);
  ds->LogEvents();
  ds->Open();
  EXPECT_EQ(ds->Log, QStringList({"BeforeOpen", "InternalOpen", "InternalInitFieldDefs", "AllocRecordBuffer",
                                  "AllocRecordBuffer", "GetRecord next", "AfterOpen", "AfterScroll"}));
  EXPECT_EQ(ds->State(), dsBrowse);
  EXPECT_TRUE(ds->Bof());
  EXPECT_FALSE(ds->Eof());
  ASSERT_EQ(ds->FieldCount(), 2);
  EXPECT_EQ(ds->Fields()[1]->FieldNo(), 2);
  EXPECT_TRUE(ds->DefaultFields());

  ds->Log.clear();
  ds->Close();
  EXPECT_EQ(ds->Log, QStringList({"BeforeClose", "FreeRecordBuffer", "FreeRecordBuffer", "InternalClose", "AfterClose"}));
  EXPECT_EQ(ds->FieldCount(), 0);
  EXPECT_EQ(Ends(*ds), "bof eof empty");
  EXPECT_EQ(ds->Allocated, ds->Freed);
}

TEST(RecordSetOpen, AFailedOpenLeavesTheRecordSetClosedWithNothingHeld) {
  auto failing = Numbered(3);
  failing->FailOpen = true;
  EXPECT_EQ(ErrorOf([&] { failing->Open(); }), "open failed");
  EXPECT_FALSE(failing->Active());
  EXPECT_EQ(failing->FieldCount(), 0);

  // Running out of buffers half-way through the window.
  auto starved = Numbered(10);
  TDataSource source;
  source.SetBufferCount(5);
  source.SetDataSet(starved.get());
  starved->FailAllocationAfter = 3;
  EXPECT_EQ(ErrorOf([&] { starved->Open(); }), "out of buffers");
  EXPECT_FALSE(starved->Active());
  EXPECT_EQ(starved->Allocated, 3);
  EXPECT_EQ(starved->Freed, 3);
}

TEST(RecordSetOpen, DestroyingAnOpenRecordSetFreesItsBuffersWithoutEvents) {
  TDataSource source;
  int held = 0, freed = 0;
  bool closeEvents = false;
  {
    auto ds = Numbered(5);
    source.SetBufferCount(4);
    source.SetDataSet(ds.get());
    ds->Open();
    ds->BeforeClose = ds->AfterClose = [&](TDataSet*) { closeEvents = true; };
    ds->FreedCounter = &freed;
    held = ds->Allocated - ds->Freed;
  }
  EXPECT_EQ(held, 5);
  EXPECT_EQ(freed, held);
  EXPECT_FALSE(closeEvents);
  EXPECT_EQ(source.DataSet(), nullptr);
  EXPECT_FALSE(source.Active());
}

class RecordSetWindow : public ::testing::TestWithParam<int> {};

// Moving through the records reads them in order whatever the window size,
// including windows larger than the record set. After every move the record
// number, the records read so far (what a query reports before it has fetched
// everything) and both ends are exact; a window of several records leaves the
// subclass's cursor on the window's last record, not on the current one.
TEST_P(RecordSetWindow, NavigatesThroughEveryRecordAndKnowsWhereItIs) {
  const int window = GetParam();
  auto ds = Numbered(6);
  TDataSource source;
  source.SetBufferCount(window);
  source.SetDataSet(ds.get());
  ds->Open();
  const struct {
    const char* move;
    std::function<int()> act;  // the records moved
    int moved, id, read;       // read: through a window of one record
    bool bof, eof;
  } steps[] = {
      {"open", [] { return 0; }, 0, 1, 1, true, false},
      {"MoveBy(2)", [&] { return ds->MoveBy(2); }, 2, 3, 3, false, false},
      {"MoveBy(2) again", [&] { return ds->MoveBy(2); }, 2, 5, 5, false, false},
      {"to the last", [&] { return ds->MoveBy(1); }, 1, 6, 6, false, false},
      {"past the end", [&] { return ds->MoveBy(1); }, 0, 6, 6, false, true},
      {"back one", [&] { return ds->MoveBy(-1); }, -1, 5, 6, false, false},
      {"First", [&] { ds->First(); return 0; }, 0, 1, 6, true, false},
      {"before the start", [&] { return ds->MoveBy(-1); }, 0, 1, 6, true, false},
      {"MoveBy(10)", [&] { return ds->MoveBy(10); }, 5, 6, 6, false, true},
      {"MoveBy(-10)", [&] { return ds->MoveBy(-10); }, -5, 1, 6, true, false},
      {"Last", [&] { ds->Last(); return 0; }, 0, 6, 6, false, true},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.move);
    EXPECT_EQ(step.act(), step.moved);
    EXPECT_EQ(ds->FieldByName("ID")->AsInteger(), step.id);
    EXPECT_EQ(ds->RecNo(), step.id);
    EXPECT_EQ(ds->RecordCount(), std::max(step.read, std::min(window, 6)));
    EXPECT_EQ(ds->Bof(), step.bof);
    EXPECT_EQ(ds->Eof(), step.eof);
  }
  EXPECT_EQ(Walk(*ds, [&] { ds->Prior(); }, [&] { return ds->Bof(); }), QList<int>({6, 5, 4, 3, 2, 1}));
  EXPECT_EQ(Walk(*ds, [&] { ds->Next(); }, [&] { return ds->Eof(); }), QList<int>({1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(ds->FieldByName("ID")->AsInteger(), 6);  // Eof leaves the cursor on the last record

  ds->Close();
  EXPECT_EQ(ds->Allocated, ds->Freed);
}

INSTANTIATE_TEST_SUITE_P(WindowSizes, RecordSetWindow, ::testing::Values(1, 3, 4, 10));

TEST(RecordSetWindow, ChangingTheWindowWhileOpenKeepsTheCurrentRecord) {
  auto ds = Numbered(20);
  TDataSource source;
  source.SetBufferCount(8);
  source.SetDataSet(ds.get());
  ds->Open();
  EXPECT_EQ(ds->Pulled, 8);  // the window is filled, nothing more
  ds->MoveBy(6);
  source.SetBufferCount(2);
  EXPECT_EQ(ds->FieldByName("ID")->AsInteger(), 7);
  EXPECT_EQ(ds->Allocated - ds->Freed, 3);
  source.SetBufferCount(12);
  EXPECT_EQ(ds->FieldByName("ID")->AsInteger(), 7);
  ds->Next();
  EXPECT_EQ(ds->FieldByName("ID")->AsInteger(), 8);
  ds->Close();
  EXPECT_EQ(ds->Allocated, ds->Freed);
}

// A query's SetRecNo reaches only the records already read; the framework's
// own walks there from the first record and stops at the last. A number below
// one names no record and leaves the cursor where it is.
TEST(RecordSetPosition, SetRecNoGoesToTheRecordOfThatNumber) {
  for (const bool walk : {false, true}) {
    SCOPED_TRACE(walk ? "walking from the first" : "records read so far");
    auto ds = Numbered(6);
    ds->WalkToRecNo = walk;
    ds->Open();
    ds->MoveBy(3);
    ASSERT_EQ(ds->Pulled, 4);
    const struct {
      int value, id;
      bool eof;
    } cases[] = {{2, 2, false}, {4, 4, false}, {0, 4, false}, {1, 1, false}, {0, 1, false},
                 {6, walk ? 6 : 1, false}, {7, walk ? 6 : 1, walk}, {3, 3, false}};
    for (const auto& c : cases) {
      ds->SetRecNo(c.value);
      EXPECT_EQ(ds->FieldByName("ID")->AsInteger(), c.id) << c.value;
      EXPECT_EQ(ds->RecNo(), c.id) << c.value;
      EXPECT_EQ(ds->Eof(), c.eof) << c.value;
    }
    EXPECT_EQ(ds->Pulled, walk ? 6 : 4);
  }
}

// Counting every record moves the subclass's cursor to the end; the next
// move must still continue from the current record.
TEST(RecordSetPosition, CountingEveryRecordDoesNotLoseTheCurrentRecord) {
  auto ds = Numbered(5);
  ds->QueryAll = true;
  ds->Open();
  ds->Next();
  EXPECT_EQ(ds->RecordCount(), 5);
  ds->Next();
  EXPECT_EQ(ds->FieldByName("ID")->AsInteger(), 3);
  EXPECT_EQ(ds->RecNo(), 3);
}

// A record read by its index is the record the fields show while it is read;
// the cursor, the record number and the data sources see nothing of it.
TEST(RecordSetPosition, ARecordReadByIndexLeavesTheCursorAndTheSourcesAlone) {
  auto ds = Numbered(30);
  TDataSource source;
  source.SetDataSet(ds.get());
  QSignalSpy scrolled(&source, &TDataSource::DataSetScrolled);
  QSignalSpy changed(&source, &TDataSource::DataSetChanged);
  ds->Open();
  ds->MoveBy(2);
  ds->LogEvents();
  ds->Log.clear();
  scrolled.clear();
  changed.clear();

  QStringList read;
  EXPECT_TRUE(ds->ReadRecordAt(19, [&] {
    read << ds->FieldByName("name")->AsString();
    // A read inside a read has a record of its own; the outer one's stays.
    EXPECT_TRUE(ds->ReadRecordAt(0, [&] { read << ds->FieldByName("name")->AsString(); }));
    read << ds->FieldByName("name")->AsString();
    EXPECT_EQ(ds->CompareBookmarks(ds->GetBookmark(), {}), -1);
  }));
  EXPECT_EQ(read, QStringList({"row 20", "row 1", "row 20"}));
  EXPECT_EQ(ds->Pulled, 20);  // fetched up to it and no further
  EXPECT_FALSE(ds->ReadRecordAt(30, [&] { ADD_FAILURE() << "read past the end"; }));
  EXPECT_FALSE(ds->ReadRecordAt(-1, [&] { ADD_FAILURE() << "read before the start"; }));

  EXPECT_EQ(ds->FieldByName("id")->AsInteger(), 3);
  EXPECT_EQ(ds->RecNo(), 3);
  EXPECT_TRUE(ds->Log.filter("Scroll").isEmpty()) << ds->Log.join(", ").toStdString();
  EXPECT_EQ(scrolled.count(), 0);
  EXPECT_EQ(changed.count(), 0);
  ds->Next();
  EXPECT_EQ(ds->FieldByName("id")->AsInteger(), 4);
  ds->Close();
  EXPECT_EQ(ds->Allocated, ds->Freed);
  EXPECT_FALSE(ds->ReadRecordAt(0, [&] { ADD_FAILURE() << "read a closed record set"; }));
}

TEST(RecordSetPosition, AnEmptyRecordSetIsAtBothEnds) {
  auto ds = Numbered(0);
  ds->Open();
  EXPECT_EQ(Ends(*ds), "bof eof empty");
  EXPECT_EQ(ds->RecordCount(), 0);
  EXPECT_EQ(ds->RecNo(), 0);
  EXPECT_TRUE(ds->FieldByName("ID")->IsNull());
  EXPECT_EQ(ds->FieldByName("NAME")->AsString(), "");
  EXPECT_TRUE(ds->GetBookmark().isEmpty());
  EXPECT_EQ(ErrorOf([&] { ds->Delete(); }), "Cannot perform this operation on an empty dataset");
  ds->Close();
  EXPECT_EQ(ErrorOf([&] { ds->Next(); }), "Cannot perform this operation on a closed dataset");
}

TEST(RecordSetBookmarks, GoBackToTheMarkedRecordAndCompareByPosition) {
  auto ds = Numbered(30);
  TDataSource source;
  source.SetBufferCount(4);
  source.SetDataSet(ds.get());
  ds->Open();
  ds->MoveBy(2);
  const TBookmark third = ds->GetBookmark();
  ds->MoveBy(2);
  const TBookmark fifth = ds->GetBookmark();
  ds->MoveBy(20);
  ds->GotoBookmark(third);
  EXPECT_EQ(ds->FieldByName("ID")->AsInteger(), 3);
  ds->Next();
  EXPECT_EQ(ds->FieldByName("ID")->AsInteger(), 4);
  EXPECT_EQ(ds->CompareBookmarks(third, fifth), -1);
  EXPECT_EQ(ds->CompareBookmarks(fifth, third), 1);
  EXPECT_EQ(ds->CompareBookmarks(TBookmark(), fifth), 1);
  EXPECT_EQ(ds->CompareBookmarks(fifth, fifth), 0);
  EXPECT_EQ(ErrorOf([&] { ds->GotoBookmark(QByteArray("12")); }), "Invalid bookmark");

  // Only a bookmark of exactly the record set's size is valid, and only while it is open.
  EXPECT_TRUE(ds->BookmarkValid(third));
  EXPECT_FALSE(ds->BookmarkValid(third + 'x'));
  EXPECT_FALSE(ds->BookmarkValid(third.left(3)));
  EXPECT_FALSE(ds->BookmarkValid(TBookmark()));
  ds->GotoBookmark(TBookmark());  // no bookmark: nowhere to go, nothing to refuse
  EXPECT_EQ(ds->RecNo(), 4);

  // A marked record comes back second in a window of four: one record before
  // it, two after, so the window scrolls on the second step back but not on
  // the second step forward.
  QSignalSpy scrolled(&source, &TDataSource::DataSetScrolled);
  const struct {
    int by, distance;
  } steps[] = {{-2, 1}, {2, 0}};
  for (const auto& step : steps) {
    ds->GotoBookmark(fifth);
    scrolled.clear();
    ds->MoveBy(step.by);
    ASSERT_EQ(scrolled.count(), 1);
    EXPECT_EQ(scrolled[0][0].toInt(), step.distance) << step.by;
  }

  // The first and the last record: the cursor lands on them, not beside them.
  ds->First();
  const TBookmark first = ds->GetBookmark();
  ds->Last();
  const TBookmark last = ds->GetBookmark();
  ds->GotoBookmark(first);
  EXPECT_EQ(ds->RecNo(), 1);
  EXPECT_EQ(ds->MoveBy(-1), 0);
  EXPECT_TRUE(ds->Bof());
  ds->GotoBookmark(last);
  EXPECT_EQ(ds->FieldByName("ID")->AsInteger(), 30);
  EXPECT_FALSE(ds->Eof());
  EXPECT_EQ(ds->MoveBy(1), 0);
  EXPECT_TRUE(ds->Eof());
  EXPECT_EQ(ds->FieldByName("ID")->AsInteger(), 30);
  ds->Close();
  EXPECT_FALSE(ds->BookmarkValid(third));
}

TEST(RecordSetLocate, FindsByTextWithPartialAndCaseInsensitiveKeys) {
  TMemDataSet ds({{"USERNAME", ftString, 30}, {"OSUSER", ftString, 30}, {"SID", ftFloat}},
                 {{"system", "oracle", 12.0}, {"SCOTT", "tiger", 345.0}, {"scott", "oracle", 7.0},
                  {QStringLiteral("j\u00f6rg"), QStringLiteral("m\u00fcller"), 99.0}});
  ds.Open();
  int afterScroll = 0;
  ds.AfterScroll = [&](TDataSet*) { ++afterScroll; };

  EXPECT_TRUE(ds.Locate("username", QStringLiteral("SYS"), loCaseInsensitive | loPartialKey));
  EXPECT_EQ(ds.FieldByName("SID")->AsString(), "12");
  EXPECT_EQ(afterScroll, 1);
  EXPECT_FALSE(ds.Locate("USERNAME", QStringLiteral("SYS"), loPartialKey));
  EXPECT_EQ(ds.FieldByName("SID")->AsString(), "99");  // no match leaves the last record current
  EXPECT_EQ(afterScroll, 1);
  // Keys are compared by characters, letters beyond ASCII as well.
  EXPECT_TRUE(ds.Locate("OSUSER", QStringLiteral("M\u00dc"), loCaseInsensitive | loPartialKey));
  EXPECT_EQ(ds.RecNo(), 4);
  EXPECT_TRUE(ds.Locate("USERNAME", QStringLiteral("J\u00d6RG"), loCaseInsensitive));
  EXPECT_EQ(ds.RecNo(), 4);

  EXPECT_TRUE(ds.Locate("USERNAME;OSUSER", QVariantList{"scott", "ORACLE"}, loCaseInsensitive));
  EXPECT_EQ(ds.FieldByName("SID")->AsString(), "7");
  EXPECT_TRUE(ds.Locate("SID", 345, {}));
  EXPECT_EQ(ds.RecNo(), 2);
  EXPECT_EQ(ErrorOf([&] { ds.Locate("NOPE", 1, {}); }), "Field 'NOPE' not found");
  EXPECT_EQ(ErrorOf([&] { ds.Locate("USERNAME;OSUSER", "scott", {}); }), "1 key values given for 2 key fields");
}

TEST(RecordSetFields, CalculatedValuesAreStoredWithEachRecord) {
  auto ds = Numbered(6);
  ds->Fields().Add(std::make_unique<TIntegerField>())->SetFieldName("ID");
  TField* doubled = ds->Fields().Add(std::make_unique<TFloatField>());
  doubled->SetFieldName("Doubled");
  doubled->SetCalculated(true);
  TField* label = ds->Fields().Add(std::make_unique<TStringField>(10));
  label->SetFieldName("Label");
  label->SetCalculated(true);
  int calculations = 0;
  ds->OnCalcFields = [&](TDataSet* set) {
    ++calculations;
    const int id = set->FieldByName("ID")->AsInteger();
    set->FieldByName("Doubled")->SetAsFloat(id * 2.5);
    set->FieldByName("Label")->SetAsString(QStringLiteral("#%1").arg(id));
  };
  TDataSource source;
  source.SetBufferCount(3);
  source.SetDataSet(ds.get());
  ds->Open();

  EXPECT_FALSE(ds->DefaultFields());
  EXPECT_EQ(ds->FindField("NAME"), nullptr);
  EXPECT_EQ(ds->CalcFieldsSize(), 8 + 11);
  EXPECT_LT(doubled->FieldNo(), 0);
  EXPECT_EQ(label->Offset(), 8);
  ds->MoveBy(4);
  ds->MoveBy(-3);
  EXPECT_EQ(ds->FieldByName("Doubled")->AsString(), "5");
  EXPECT_EQ(ds->FieldByName("Label")->AsString(), "#2");
  ds->Next();
  EXPECT_EQ(ds->FieldByName("Doubled")->AsFloat(), 7.5);
  EXPECT_GT(calculations, 0);
  EXPECT_EQ(ErrorOf([&] { doubled->SetAsFloat(1); }), "Field 'Doubled' cannot be modified");
  ds->Close();
  EXPECT_EQ(ds->FieldCount(), 3);  // persistent fields outlive the close
}

TEST(RecordSetFields, FilterEventDecidesWhichRowsAreKept) {
  auto ds = Numbered(7);
  int offered = 0;
  ds->OnFilterRecord = [&](TDataSet* set, bool& accept) {
    ++offered;
    EXPECT_EQ(set->State(), dsFilter);
    accept = set->FieldByName("ID")->AsInteger() % 2 == 0;
  };
  ds->Open();
  EXPECT_EQ(offered, 0);  // not Filtered: never asked
  ds->Close();

  ds->SetFiltered(true);
  ds->Open();
  EXPECT_EQ(Walk(*ds, [&] { ds->Next(); }, [&] { return ds->Eof(); }), QList<int>({2, 4, 6}));
  EXPECT_EQ(offered, 7);
}

TEST(RecordSetFields, FieldByNameIgnoresCaseAndNamesAMissingField) {
  auto ds = Numbered(1);
  ds->Open();
  EXPECT_EQ(ds->FieldByName("name"), ds->FieldByName("NAME"));
  EXPECT_EQ(ds->FieldByName("Name")->AsString(), "row 1");
  EXPECT_EQ(ErrorOf([&] { ds->FieldByName("Serial#"); }), "Field 'Serial#' not found");
  EXPECT_EQ(ErrorOf([&] { ds->FieldByName("NAME")->AsInteger(); }), "'row 1' is not a valid integer value");

  // A select list may repeat a name: the fields are numbered on, in order.
  TMemDataSet repeated({{"SID", ftInteger}, {"SID", ftInteger}, {"SID", ftInteger}, {"S", ftString, 5}},
                       {{1, 2, 3, QStringLiteral("")}});
  repeated.Open();
  ASSERT_EQ(repeated.FieldCount(), 4);
  EXPECT_EQ(repeated.FieldByName("SID")->AsInteger(), 1);
  EXPECT_EQ(repeated.FieldByName("SID_1")->AsInteger(), 2);
  EXPECT_EQ(repeated.FieldByName("SID_2")->AsInteger(), 3);
  // Empty text that is not NULL is no number.
  EXPECT_FALSE(repeated.FieldByName("S")->IsNull());
  EXPECT_EQ(ErrorOf([&] { repeated.FieldByName("S")->AsInteger(); }), "'' is not a valid integer value");
  EXPECT_EQ(ErrorOf([&] { repeated.FieldByName("S")->AsFloat(); }), "'' is not a valid floating point value");
}

// A number's text is the shortest that reads back as the same number, written
// out in full from 0.0001 up to below 1e15 and in exponent form outside; as an
// integer it is rounded and must lie within the 32-bit range.
TEST(RecordSetFields, NumbersReadAsTheShortestTextAndAsIntegersWithinTheirRange) {
  const QString range = QStringLiteral(" is not a valid value for field 'F'. The allowed range is -2147483648 to 2147483647");
  const struct {
    double value;
    QString text, asInteger;
  } cases[] = {
      {12, "12", "12"},
      {0, "0", "0"},
      {0.5, "0.5", "1"},
      {-2.5, "-2.5", "-3"},
      {100000, "100000", "100000"},
      {999999999999999, "999999999999999", "999999999999999" + range},
      {1e15, "1e+15", "1e+15" + range},
      {1e20, "1e+20", "1e+20" + range},
      {0.0001, "0.0001", "0"},
      {-0.0001, "-0.0001", "0"},
      {0.000099, "9.9e-05", "0"},
      {1.5e-7, "1.5e-07", "0"},
      {2147483647, "2147483647", "2147483647"},
      {2147483647.4, "2147483647.4", "2147483647"},
      {2147483647.5, "2147483647.5", "2147483647.5" + range},
      {-2147483648, "-2147483648", "-2147483648"},
      {-2147483648.5, "-2147483648.5", "-2147483648.5" + range},
  };
  QList<QVariantList> rows;
  for (const auto& c : cases) rows.append(QVariantList{c.value});
  TMemDataSet ds({{"F", ftFloat}}, rows);
  ds.Open();
  for (const auto& c : cases) {
    TField* field = ds.FieldByName("F");
    EXPECT_EQ(field->AsString(), c.text);
    EXPECT_EQ(field->AsFloat(), c.value) << c.text.toStdString();
    QString asInteger = ErrorOf([&] { field->AsInteger(); });
    if (asInteger == "<no error>") asInteger = QString::number(field->AsInteger());
    EXPECT_EQ(asInteger, c.asInteger);
    ds.Next();
  }
  EXPECT_TRUE(ds.Eof());
}

TEST(RecordSetFields, IntegersDatesAndNullsReadAsTheTextsUsersExpect) {
  QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
  const QDateTime logon(QDate(2001, 3, 4), QTime(5, 6, 7));
  TMemDataSet ds({{"F", ftFloat}, {"N", ftInteger}, {"LOGON_TIME", ftDateTime}, {"MISSING", ftFloat}},
                 {{0.5, -7, logon, QVariant()}, {1.0 / 3, 0, QVariant(), 2.0}});
  ds.Open();
  EXPECT_EQ(ds.FieldByName("N")->AsString(), "-7");
  EXPECT_EQ(ds.FieldByName("LOGON_TIME")->AsString(), "3/4/01 5:06:07 AM");
  EXPECT_EQ(ds.FieldByName("LOGON_TIME")->AsDateTime(), logon);
  EXPECT_EQ(ds.FieldByName("LOGON_TIME")->AsFloat(), 36954 + (5 * 3600 + 6 * 60 + 7) / 86400.0);
  EXPECT_TRUE(ds.FieldByName("MISSING")->IsNull());
  EXPECT_FALSE(ds.FieldByName("MISSING")->Value().isValid());
  EXPECT_EQ(ds.FieldByName("MISSING")->AsString(), "");
  EXPECT_EQ(ds.FieldByName("MISSING")->AsInteger(), 0);
  ds.Next();
  EXPECT_EQ(ds.FieldByName("F")->AsFloat(), 1.0 / 3);
  EXPECT_EQ(ds.FieldByName("F")->AsString().toDouble(), 1.0 / 3);
  EXPECT_EQ(ds.FieldByName("N")->AsString(), "0");
  EXPECT_EQ(ds.FieldByName("LOGON_TIME")->AsString(), "");
  EXPECT_EQ(ds.FieldByName("LOGON_TIME")->AsFloat(), 0);
  QLocale::setDefault(QLocale::c());
}

// Text is held as UTF-8 in a field of so many bytes: a value that fills it
// exactly reads back whole, a longer one is cut before the character that
// does not fit, never inside it.
TEST(RecordSetFields, TextIsCutAtACharacterBoundaryWhenItExceedsTheFieldsBytes) {
  const QString full = QStringLiteral("a\u00e9\u00e9");  // five bytes
  TMemDataSet ds({{"NAME", ftString, 5}}, {{full}});
  ds.Open();
  TStringField* name = dynamic_cast<TStringField*>(ds.FieldByName("NAME"));
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(name->AsString(), full);
  EXPECT_EQ(name->AsUtf8(), full.toUtf8());
  const struct {
    QString typed, kept;
  } cases[] = {
      {full, full},
      {QStringLiteral("a\u00e9\u00e9\u00e9"), full},
      {QStringLiteral("\u00e9\u00e9\u00e9"), QStringLiteral("\u00e9\u00e9")},
      {QStringLiteral("abcdefg"), QStringLiteral("abcde")},
      {QStringLiteral("\u20ac\u20ac"), QStringLiteral("\u20ac")},
  };
  for (const auto& c : cases) {
    ds.Edit();
    name->SetAsString(c.typed);
    EXPECT_EQ(name->AsString(), c.kept) << c.typed.toStdString();
    ds.Post();
    EXPECT_EQ(ds.SourceRows()[0][0].toString(), c.kept) << c.typed.toStdString();
  }
}

TEST(RecordSetFields, BlobAndMemoValuesReadThroughStreamsAndShowTheirKind) {
  const QByteArray bytes("\x00\xff\xc3", 3);
  const QString memo = QStringLiteral("Gr\u00fc\u00dfe");
  TMemDataSet ds({{"B", ftBlob}, {"M", ftMemo}}, {{bytes, memo}, {QVariant(), QVariant()}});
  ds.Open();
  auto* blob = dynamic_cast<TBlobField*>(ds.FieldByName("B"));
  ASSERT_NE(blob, nullptr);
  TField* text = ds.FieldByName("M");
  EXPECT_EQ(blob->AsBytes(), bytes);
  EXPECT_EQ(blob->AsString(), QString::fromLatin1(bytes));
  EXPECT_EQ(blob->DisplayText(), "(BLOB)");
  EXPECT_EQ(text->AsString(), memo);
  EXPECT_EQ(text->Value(), QVariant(memo));
  EXPECT_EQ(text->DisplayText(), "(MEMO)");
  ds.Next();
  EXPECT_TRUE(blob->IsNull());
  EXPECT_EQ(blob->AsBytes(), QByteArray());
  EXPECT_FALSE(blob->Value().isValid());
  EXPECT_EQ(blob->DisplayText(), "(Blob)");
  EXPECT_EQ(text->AsString(), "");
  EXPECT_EQ(text->DisplayText(), "(Memo)");
}

TEST(RecordSetDateTime, ReadsBackItsOwnTextAndTwoDigitYearsAroundToday) {
  const QLocale us(QLocale::English, QLocale::UnitedStates);
  const QDateTime logon(QDate(2001, 3, 4), QTime(5, 6, 7));
  EXPECT_EQ(ParseDateTimeText(DateTimeText(logon, us), us), logon);
  EXPECT_EQ(ParseDateTimeText(QStringLiteral("2001-03-04T05:06:07"), us), logon);
  EXPECT_FALSE(ParseDateTimeText(QStringLiteral("yesterday"), us).isValid());
  // A two-digit year is the one from fifty years back to forty-nine ahead.
  const int thisYear = QDate::currentDate().year();
  for (const int year : {thisYear - 50, thisYear - 1, thisYear, thisYear + 1, thisYear + 49}) {
    const QString text = QStringLiteral("3/4/%1").arg(year % 100, 2, 10, QLatin1Char('0'));
    EXPECT_EQ(ParseDateTimeText(text, us), QDateTime(QDate(year, 3, 4), QTime(0, 0))) << text.toStdString();
  }
}

TEST(RecordSetDateTime, ConvertsBetweenDayCountsStoredMillisecondsAndQDateTime) {
  const QDateTime logon(QDate(2001, 3, 4), QTime(5, 6, 7));
  const double msecs = (693594.0 + 36954) * 86400000 + (5 * 3600 + 6 * 60 + 7) * 1000.0;
  EXPECT_EQ(QDateTimeToMSecs(logon), msecs);
  EXPECT_EQ(MSecsToQDateTime(msecs), logon);
  EXPECT_EQ(DateTimeToMSecs(QDateTimeToDateTime(logon)), msecs);
  EXPECT_EQ(QDateTimeToMSecs(QDateTime(QDate(1, 1, 1), QTime(0, 0))), 86400000.0);
  // Around 30 December 1899, day 0: before it the fraction still counts
  // forward from midnight.
  const struct {
    TDateTime days;
    QDateTime moment;
  } cases[] = {
      {0, QDateTime(QDate(1899, 12, 30), QTime(0, 0))},
      {0.25, QDateTime(QDate(1899, 12, 30), QTime(6, 0))},
      {0.75, QDateTime(QDate(1899, 12, 30), QTime(18, 0))},
      {1, QDateTime(QDate(1899, 12, 31), QTime(0, 0))},
      {-1, QDateTime(QDate(1899, 12, 29), QTime(0, 0))},
      {-1.25, QDateTime(QDate(1899, 12, 29), QTime(6, 0))},
      {-1.75, QDateTime(QDate(1899, 12, 29), QTime(18, 0))},
  };
  QList<QVariantList> rows;
  for (const auto& c : cases) rows.append(QVariantList{c.moment});
  TMemDataSet ds({{"T", ftDateTime}}, rows);
  ds.Open();
  for (const auto& c : cases) {
    EXPECT_EQ(DateTimeToQDateTime(c.days), c.moment) << c.days;
    EXPECT_EQ(QDateTimeToDateTime(c.moment), c.days) << c.days;
    EXPECT_EQ(ds.FieldByName("T")->AsFloat(), c.days);
    ds.Next();
  }
}

TEST(RecordSetEditing, AReadOnlyRecordSetRefusesChangesWithTheFrameworkTexts) {
  auto ds = Numbered(3);
  ds->ReadOnly = true;
  ds->Open();
  ds->LogEvents();
  EXPECT_EQ(ErrorOf([&] { ds->Edit(); }), "Cannot modify a read-only dataset");
  EXPECT_EQ(ErrorOf([&] { ds->Insert(); }), "Cannot modify a read-only dataset");
  EXPECT_EQ(ErrorOf([&] { ds->Append(); }), "Cannot modify a read-only dataset");
  EXPECT_EQ(ds->State(), dsBrowse);
  EXPECT_EQ(ErrorOf([&] { ds->FieldByName("ID")->SetAsInteger(5); }), "Dataset not in edit or insert mode");

  ds->Log.clear();
  EXPECT_EQ(ErrorOf([&] { ds->Delete(); }), "Sorry, deleting not supported.");
  EXPECT_EQ(ds->Log, QStringList({"BeforeDelete", "BeforeScroll", "InternalDelete"}));
  EXPECT_EQ(ds->FieldByName("ID")->AsInteger(), 1);
}

TEST(RecordSetEditing, EditPostAndCancelGoThroughTheHooks) {
  auto ds = Numbered(3);
  ds->Open();
  TDataSource source;
  source.SetDataSet(ds.get());
  QSignalSpy recordChanged(&source, &TDataSource::RecordChanged);
  ds->Next();
  ds->Edit();
  ds->FieldByName("NAME")->SetAsString("renamed");
  EXPECT_TRUE(ds->Modified());
  EXPECT_EQ(recordChanged.count(), 2);  // entering edit, then the field
  ds->Post();
  EXPECT_EQ(ds->State(), dsBrowse);
  EXPECT_EQ(ds->SourceRows()[1][1].toString(), "renamed");

  ds->Edit();
  ds->FieldByName("NAME")->SetAsString("dropped");
  ds->Cancel();
  EXPECT_EQ(ds->FieldByName("NAME")->AsString(), "renamed");

  ds->Delete();
  EXPECT_EQ(ds->FieldByName("ID")->AsInteger(), 3);
  EXPECT_EQ(ds->SourceRows().size(), 2);
}

TEST(RecordSetNotifications, DataSourcesHearMovesAndStateButNothingWhileControlsAreDisabled) {
  auto ds = Numbered(5);
  TDataSource source;
  source.SetDataSet(ds.get());
  QSignalSpy active(&source, &TDataSource::ActiveChanged);
  QSignalSpy scrolled(&source, &TDataSource::DataSetScrolled);
  QSignalSpy changed(&source, &TDataSource::DataSetChanged);
  ds->Open();
  EXPECT_EQ(active.count(), 1);
  ds->Next();
  EXPECT_EQ(scrolled.count(), 1);
  ds->First();
  EXPECT_EQ(changed.count(), 1);

  ds->DisableControls();
  ds->DisableControls();
  EXPECT_TRUE(ds->ControlsDisabled());
  ds->Next();
  ds->Last();
  ds->EnableControls();
  EXPECT_EQ(scrolled.count() + changed.count(), 2);
  ds->EnableControls();
  EXPECT_FALSE(ds->ControlsDisabled());
  EXPECT_EQ(scrolled.count(), 1);
  EXPECT_EQ(changed.count(), 2);

  // A close while the controls are disabled is told once they are enabled again.
  ds->DisableControls();
  ds->Close();
  EXPECT_EQ(active.count(), 1);
  ds->EnableControls();
  EXPECT_EQ(active.count(), 2);
  EXPECT_FALSE(source.Active());
  ds->Open();
  EXPECT_EQ(active.count(), 3);

  source.SetEnabled(false);
  EXPECT_EQ(active.count(), 4);
  ds->Prior();
  EXPECT_EQ(scrolled.count(), 1);
  ds->Close();
  ds.reset();
  EXPECT_EQ(source.DataSet(), nullptr);
}

// A move tells the sources how far the window's records moved (0 within the
// window, -1 for each record read past its end, +1 for each read before its
// start) and runs the scroll events once; a move beyond either end, once
// there, does neither.
TEST(RecordSetNotifications, MovesReportHowFarTheWindowScrolledAndMovesBeyondAnEndAreSilent) {
  auto ds = Numbered(6);
  TDataSource source;
  source.SetBufferCount(3);
  source.SetDataSet(ds.get());
  ds->Open();
  QSignalSpy scrolled(&source, &TDataSource::DataSetScrolled);
  int before = 0, after = 0;
  ds->BeforeScroll = [&](TDataSet*) { ++before; };
  ds->AfterScroll = [&](TDataSet*) { ++after; };
  const struct {
    int by, moved, id;
    QList<int> distances;  // what the sources heard; empty: nothing, and no scroll events
  } moves[] = {
      {-1, 0, 1, {}},  {1, 1, 2, {0}},  {1, 1, 3, {0}},   {1, 1, 4, {-1}}, {2, 2, 6, {-2}},
      {1, 0, 6, {0}},  {1, 0, 6, {}},   {-1, -1, 5, {0}}, {-3, -3, 2, {2}}, {-5, -1, 1, {1}},
      {-1, 0, 1, {}},
  };
  for (const auto& m : moves) {
    scrolled.clear();
    before = after = 0;
    EXPECT_EQ(ds->MoveBy(m.by), m.moved) << m.by << " to " << m.id;
    EXPECT_EQ(ds->FieldByName("ID")->AsInteger(), m.id);
    QList<int> heard;
    for (const QList<QVariant>& signal : std::as_const(scrolled)) heard << signal[0].toInt();
    EXPECT_EQ(heard, m.distances) << m.by << " to " << m.id;
    EXPECT_EQ(before, m.distances.isEmpty() ? 0 : 1) << m.by << " to " << m.id;
    EXPECT_EQ(after, before);
  }
}

TEST(RecordSetNotifications, RefreshReopensThroughTheHookAndTellsTheSources) {
  auto ds = Numbered(4);
  TDataSource source;
  source.SetDataSet(ds.get());
  QSignalSpy reset(&source, &TDataSource::DataSetReset);
  ds->Open();
  ds->SourceRows().append({5, "row 5"});
  ds->Refresh();
  EXPECT_EQ(reset.count(), 1);
  EXPECT_TRUE(ds->Active());
  ds->Last();
  EXPECT_EQ(ds->FieldByName("ID")->AsInteger(), 5);
  ds->Close();
  EXPECT_EQ(ds->Allocated, ds->Freed);
}
