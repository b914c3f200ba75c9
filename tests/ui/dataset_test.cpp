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
  EXPECT_TRUE(ds->Bof() && ds->Eof());
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
// including windows larger than the record set.
TEST_P(RecordSetWindow, NavigatesForwardAndBackThroughEveryRecord) {
  auto ds = Numbered(6);
  TDataSource source;
  source.SetBufferCount(GetParam());
  source.SetDataSet(ds.get());
  ds->Open();

  EXPECT_EQ(Walk(*ds, [&] { ds->Next(); }, [&] { return ds->Eof(); }), QList<int>({1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(ds->FieldByName("ID")->AsInteger(), 6);  // Eof leaves the cursor on the last record
  EXPECT_EQ(Walk(*ds, [&] { ds->Prior(); }, [&] { return ds->Bof(); }), QList<int>({6, 5, 4, 3, 2, 1}));

  ds->Last();
  EXPECT_TRUE(ds->Eof());
  EXPECT_EQ(ds->FieldByName("ID")->AsInteger(), 6);
  ds->First();
  EXPECT_TRUE(ds->Bof());
  EXPECT_EQ(ds->MoveBy(3), 3);
  EXPECT_EQ(ds->FieldByName("ID")->AsInteger(), 4);
  EXPECT_EQ(ds->MoveBy(10), 2);
  EXPECT_TRUE(ds->Eof());
  EXPECT_EQ(ds->MoveBy(-10), -5);
  EXPECT_TRUE(ds->Bof());
  EXPECT_EQ(ds->FieldByName("ID")->AsInteger(), 1);

  ds->Close();
  EXPECT_EQ(ds->Allocated, ds->Freed);
}

INSTANTIATE_TEST_SUITE_P(WindowSizes, RecordSetWindow, ::testing::Values(1, 3, 10));

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

TEST(RecordSetPosition, CountsAndNumbersTheRecordsReadSoFar) {
  auto ds = Numbered(5);
  ds->Open();
  EXPECT_EQ(ds->RecordCount(), 1);
  EXPECT_EQ(ds->RecNo(), 1);
  ds->MoveBy(2);
  EXPECT_EQ(ds->RecordCount(), 3);
  EXPECT_EQ(ds->RecNo(), 3);

  ds->SetRecNo(2);
  EXPECT_EQ(ds->FieldByName("ID")->AsInteger(), 2);
  ds->SetRecNo(5);  // beyond the records read: nothing happens
  EXPECT_EQ(ds->RecNo(), 2);
  EXPECT_EQ(ds->Pulled, 3);
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

TEST(RecordSetPosition, AnEmptyRecordSetIsAtBothEnds) {
  auto ds = Numbered(0);
  ds->Open();
  EXPECT_TRUE(ds->Bof() && ds->Eof() && ds->IsEmpty());
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
  EXPECT_EQ(ErrorOf([&] { ds->GotoBookmark(QByteArray("12")); }), "Invalid bookmark");
}

TEST(RecordSetLocate, FindsByTextWithPartialAndCaseInsensitiveKeys) {
  TMemDataSet ds({{"USERNAME", ftString, 30}, {"OSUSER", ftString, 30}, {"SID", ftFloat}},
                 {{"system", "oracle", 12.0}, {"SCOTT", "tiger", 345.0}, {"scott", "oracle", 7.0}});
  ds.Open();
  int afterScroll = 0;
  ds.AfterScroll = [&](TDataSet*) { ++afterScroll; };

  EXPECT_TRUE(ds.Locate("username", QStringLiteral("SYS"), loCaseInsensitive | loPartialKey));
  EXPECT_EQ(ds.FieldByName("SID")->AsString(), "12");
  EXPECT_EQ(afterScroll, 1);
  EXPECT_FALSE(ds.Locate("USERNAME", QStringLiteral("SYS"), loPartialKey));
  EXPECT_EQ(ds.FieldByName("SID")->AsString(), "7");  // no match leaves the last record current
  EXPECT_EQ(afterScroll, 1);

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
}

TEST(RecordSetFields, NumbersAndDatesReadAsTheTextsUsersExpect) {
  QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
  const QDateTime logon(QDate(2001, 3, 4), QTime(5, 6, 7));
  TMemDataSet ds({{"SID", ftFloat}, {"SERIAL#", ftFloat}, {"F", ftFloat}, {"N", ftInteger}, {"LOGON_TIME", ftDateTime},
                  {"MISSING", ftFloat}},
                 {{12.0, 345.0, 0.5, -7, logon, QVariant()}, {1e20, 1.5e-7, 1.0 / 3, 0, QVariant(), 2.0}});
  ds.Open();
  EXPECT_EQ(ds.FieldByName("SID")->AsString(), "12");
  EXPECT_EQ(ds.FieldByName("SERIAL#")->AsString(), "345");
  EXPECT_EQ(ds.FieldByName("F")->AsString(), "0.5");
  EXPECT_EQ(ds.FieldByName("N")->AsString(), "-7");
  EXPECT_EQ(ds.FieldByName("LOGON_TIME")->AsString(), "3/4/01 5:06:07 AM");
  EXPECT_EQ(ds.FieldByName("LOGON_TIME")->AsDateTime(), logon);
  EXPECT_EQ(ds.FieldByName("LOGON_TIME")->AsFloat(), 36954 + (5 * 3600 + 6 * 60 + 7) / 86400.0);
  EXPECT_TRUE(ds.FieldByName("MISSING")->IsNull());
  EXPECT_FALSE(ds.FieldByName("MISSING")->Value().isValid());
  EXPECT_EQ(ds.FieldByName("MISSING")->AsString(), "");
  ds.Next();
  EXPECT_EQ(ds.FieldByName("SID")->AsString(), "1e+20");
  EXPECT_EQ(ds.FieldByName("SERIAL#")->AsString(), "1.5e-07");
  EXPECT_EQ(ds.FieldByName("F")->AsFloat(), 1.0 / 3);
  EXPECT_EQ(ds.FieldByName("F")->AsString().toDouble(), 1.0 / 3);
  EXPECT_EQ(ds.FieldByName("LOGON_TIME")->AsString(), "");
  QLocale::setDefault(QLocale::c());
}

TEST(RecordSetDateTime, ReadsBackItsOwnTextAndTwoDigitYearsOfThisCentury) {
  const QLocale us(QLocale::English, QLocale::UnitedStates);
  const QDateTime logon(QDate(2001, 3, 4), QTime(5, 6, 7));
  EXPECT_EQ(ParseDateTimeText(DateTimeText(logon, us), us), logon);
  // A two-digit year is the one within 50 years before today or after it.
  const auto windowed = [](int twoDigits) {
    int year = 1900 + twoDigits;
    while (year < QDate::currentDate().year() - 50) year += 100;
    return year;
  };
  EXPECT_EQ(ParseDateTimeText(QStringLiteral("3/4/01"), us), QDateTime(QDate(windowed(1), 3, 4), QTime(0, 0)));
  EXPECT_EQ(ParseDateTimeText(QStringLiteral("3/4/99"), us).date(), QDate(windowed(99), 3, 4));
  EXPECT_EQ(ParseDateTimeText(QStringLiteral("2001-03-04T05:06:07"), us), logon);
  EXPECT_FALSE(ParseDateTimeText(QStringLiteral("yesterday"), us).isValid());
}

TEST(RecordSetDateTime, ConvertsBetweenDayCountsStoredMillisecondsAndQDateTime) {
  const QDateTime logon(QDate(2001, 3, 4), QTime(5, 6, 7));
  const double msecs = (693594.0 + 36954) * 86400000 + (5 * 3600 + 6 * 60 + 7) * 1000.0;
  EXPECT_EQ(QDateTimeToMSecs(logon), msecs);
  EXPECT_EQ(MSecsToQDateTime(msecs), logon);
  EXPECT_EQ(DateTimeToMSecs(QDateTimeToDateTime(logon)), msecs);
  EXPECT_EQ(QDateTimeToMSecs(QDateTime(QDate(1, 1, 1), QTime(0, 0))), 86400000.0);
  // Before 30 December 1899 the fraction still counts forward from midnight.
  EXPECT_EQ(DateTimeToQDateTime(-1.25), QDateTime(QDate(1899, 12, 29), QTime(6, 0)));
  EXPECT_EQ(QDateTimeToDateTime(QDateTime(QDate(1899, 12, 29), QTime(6, 0))), -1.25);
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

  source.SetEnabled(false);
  EXPECT_EQ(active.count(), 2);
  ds->Prior();
  EXPECT_EQ(scrolled.count(), 1);
  ds->Close();
  ds.reset();
  EXPECT_EQ(source.DataSet(), nullptr);
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
