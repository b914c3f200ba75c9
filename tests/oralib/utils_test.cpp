// Tests of the library's helpers: type names, the message catalogue, DATE
// conversion and counted allocation.
#include <gtest/gtest.h>

#include <cmath>
#include <new>

#include "oralib/o_lang.h"
#include "oralib/o_trace.h"
#include "oralib/o_utils.h"
#include "ui/exception.h"

TEST(Names, StatementAndFieldTypes) {
  EXPECT_EQ(StatementTypeName(0), QStringLiteral("not defined statement"));
  EXPECT_EQ(StatementTypeName(4), QStringLiteral("Insert Statement"));
  EXPECT_EQ(StatementTypeName(8), QStringLiteral("begin ... (pl/sql statement)"));
  EXPECT_EQ(StatementTypeName(9), QStringLiteral("declare .. (pl/sql statement)"));
  EXPECT_EQ(StatementTypeName(10), QStringLiteral("statement type 10"));
  EXPECT_EQ(StatementTypeName(-1), QStringLiteral("statement type -1"));
  EXPECT_EQ(FieldTypeName(ftString), QStringLiteral("ftString"));
  EXPECT_EQ(FieldTypeName(ftCursor), QStringLiteral("ftCursor"));
  EXPECT_EQ(FieldTypeName(ftSmallint), QStringLiteral("???"));
  EXPECT_EQ(FieldTypeName(200), QStringLiteral("???"));
}

TEST(Names, TraceCategoriesInTheirPublishedOrder) {
  const QStringList names = {QStringLiteral("Prepare"), QStringLiteral("Execute"), QStringLiteral("Error"),
                             QStringLiteral("Stmt"),    QStringLiteral("Connect"), QStringLiteral("Transact"),
                             QStringLiteral("Blob"),    QStringLiteral("Misc"),    QStringLiteral("Vendor"),
                             QStringLiteral("DataIn"),  QStringLiteral("DataOut")};
  for (int i = 0; i < names.size(); ++i)
    EXPECT_EQ(TraceCategoryName(static_cast<TTraceCategory>(i)), names[i]) << i;
  EXPECT_TRUE(TraceCategoryName(static_cast<TTraceCategory>(11)).isEmpty());
}

TEST(Catalogue, HoldsTheTextsById) {
  EXPECT_EQ(LoadStr(65232), QStringLiteral("Error"));
  EXPECT_EQ(LoadStr(65254), QStringLiteral("Can't execute empty SQL."));
  EXPECT_EQ(LoadStr(65279), QStringLiteral("No Records in dataset"));
  EXPECT_TRUE(LoadStr(1).isEmpty());
}

TEST(OracleDate, ConvertsToTheDayCount) {
  const unsigned char newYear[7] = {120, 101, 1, 1, 1, 1, 1};
  EXPECT_DOUBLE_EQ(OraDateToDateTime(newYear), 36892.0);  // 2001-01-01 00:00:00
  const unsigned char lastSecond[7] = {120, 101, 12, 31, 24, 60, 60};
  EXPECT_DOUBLE_EQ(OraDateToDateTime(lastSecond), 37256.0 + 86399.0 / 86400.0);
  // Before the epoch the time moves the value further down.
  const unsigned char oldNoon[7] = {118, 150, 6, 1, 13, 1, 1};  // 1850-06-01 12:00
  const double noon = OraDateToDateTime(oldNoon);
  EXPECT_DOUBLE_EQ(noon, -18109.5);
  unsigned char back[7];
  DateTimeToOraDate(noon, back);
  EXPECT_EQ(std::vector<unsigned char>(back, back + 7), std::vector<unsigned char>(oldNoon, oldNoon + 7));
  DateTimeToOraDate(OraDateToDateTime(lastSecond), back);
  EXPECT_EQ(std::vector<unsigned char>(back, back + 7), std::vector<unsigned char>(lastSecond, lastSecond + 7));

  // Every field at its edges: the last valid value is taken, one past it refused.
  struct Edge {
    unsigned char bytes[7];
    bool valid;
  };
  const Edge edges[] = {
      {{120, 101, 12, 31, 24, 60, 60}, true},   {{120, 101, 12, 31, 24, 60, 61}, false},
      {{120, 101, 12, 31, 24, 61, 60}, false},  {{120, 101, 12, 31, 25, 60, 60}, false},
      {{120, 101, 1, 1, 0, 1, 1}, false},       {{120, 101, 1, 1, 1, 0, 1}, false},
      {{120, 101, 1, 1, 1, 1, 0}, false},       {{120, 101, 0, 1, 1, 1, 1}, false},
      {{120, 101, 13, 1, 1, 1, 1}, false},      {{120, 101, 1, 32, 1, 1, 1}, false},
      {{120, 101, 2, 29, 1, 1, 1}, false},      {{120, 100, 2, 29, 1, 1, 1}, true},  // 2001, 2000
  };
  for (const Edge& edge : edges) {
    const std::vector<unsigned char> bytes(edge.bytes, edge.bytes + 7);
    if (edge.valid)
      EXPECT_NO_THROW(OraDateToDateTime(edge.bytes)) << ::testing::PrintToString(bytes);
    else
      EXPECT_THROW(OraDateToDateTime(edge.bytes), Exception) << ::testing::PrintToString(bytes);
  }

  // The last moment of a day stays on that day, and the last day a DATE holds
  // (31 December 9999, day 2958465) is written; the day after it is refused.
  const unsigned char lastMoment[7] = {199, 199, 12, 31, 24, 60, 60};
  DateTimeToOraDate(2958465.0 + 86399.6 / 86400.0, back);
  EXPECT_EQ(std::vector<unsigned char>(back, back + 7), std::vector<unsigned char>(lastMoment, lastMoment + 7));
  EXPECT_DOUBLE_EQ(OraDateToDateTime(lastMoment), 2958465.0 + 86399.0 / 86400.0);
  EXPECT_THROW(DateTimeToOraDate(2958466.0, back), Exception);

  // Days no DATE can hold are refused and leave the value as it was.
  for (double refused : {3e6, -3e6, 1e12, std::nan(""), HUGE_VAL}) {
    DateTimeToOraDate(noon, back);
    EXPECT_THROW(DateTimeToOraDate(refused, back), Exception) << refused;
    EXPECT_EQ(std::vector<unsigned char>(back, back + 7), std::vector<unsigned char>(oldNoon, oldNoon + 7));
  }
}

TEST(Text, CarriageReturnsGoLineFeedsStay) {
  EXPECT_EQ(RemoveCarriageReturns(QStringLiteral("a\r\nb\rc\n")), QStringLiteral("a\nbc\n"));
  EXPECT_EQ(IfElseStr(true, QStringLiteral("x"), QStringLiteral("y")), QStringLiteral("x"));
  EXPECT_EQ(IfElseInt(false, 1, 2), 2);
  EXPECT_TRUE(VarIsEmptyOrNull(QVariant()));
  EXPECT_TRUE(VarIsEmptyOrNull(QVariant(QMetaType::fromType<int>())));
  EXPECT_FALSE(VarIsEmptyOrNull(QVariant(0)));
}

TEST(CountedAllocation, CountsBlocksAndNotEmptyRequests) {
  const int32_t allocs = AllocCount(), frees = FreeCount();
  EXPECT_EQ(CountedAlloc(0), nullptr);
  EXPECT_EQ(AllocCount(), allocs);
  auto* block = static_cast<unsigned char*>(CountedAlloc(64));
  ASSERT_NE(block, nullptr);
  for (int i = 0; i < 64; ++i) EXPECT_EQ(block[i], 0);
  EXPECT_EQ(AllocCount(), allocs + 1);
  EXPECT_EQ(UnfreedMemoryText(), QStringLiteral("Not all allocated memory are freed (%1 of%2)")
                                     .arg(FreeCount()).arg(AllocCount()));
  CountedFree(block);
  EXPECT_EQ(FreeCount(), frees + 1);
}

TEST(CountedAllocation, ExhaustedMemoryRaisesAndCountsNothing) {
  const int32_t allocs = AllocCount(), frees = FreeCount();
  const TBlockSource saved = SetBlockSource([](std::size_t, std::size_t) -> void* { return nullptr; });
  EXPECT_THROW(CountedAlloc(64), std::bad_alloc);
  SetBlockSource(saved);
  EXPECT_EQ(AllocCount(), allocs);
  EXPECT_EQ(FreeCount(), frees);
  CountedFree(CountedAlloc(8));
  EXPECT_EQ(AllocCount(), FreeCount() + (allocs - frees));
}

TEST(Secrets, AWipeZeroesTheWholeBufferOnlyWhereTheStringAloneHoldsIt) {
  QString secret = QString::fromLatin1("Tiger1234");
  secret.chop(4);  // the chopped characters stay in the room behind the text
  const auto& data = secret.data_ptr();
  const qsizetype room = data.size + data.freeSpaceAtEnd();
  ASSERT_GE(room, 9);
  ASSERT_TRUE(WipeText(secret));
  EXPECT_EQ(secret.size(), 5);
  for (qsizetype i = 0; i < room; ++i) EXPECT_EQ(secret.constData()[i], QChar(0)) << i;
  ForgetText(secret);
  EXPECT_TRUE(secret.isEmpty());

  // Another string's copy, or a literal, is not this string's to overwrite.
  QString mine = QString::fromLatin1("manager");
  const QString theirs = mine;
  EXPECT_FALSE(WipeText(mine));
  ForgetText(mine);
  EXPECT_TRUE(mine.isEmpty());
  EXPECT_EQ(theirs, QStringLiteral("manager"));
  QString literal = QStringLiteral("literal");
  EXPECT_FALSE(WipeText(literal));
  EXPECT_EQ(literal, QStringLiteral("literal"));
  QString none;
  EXPECT_FALSE(WipeText(none));

  QByteArray bytes("Tiger");
  ASSERT_TRUE(WipeBytes(bytes));
  EXPECT_EQ(bytes, QByteArray(5, '\0'));
  QByteArray shared = bytes = QByteArray("again");
  EXPECT_FALSE(WipeBytes(bytes));
  ForgetBytes(bytes);
  EXPECT_TRUE(bytes.isEmpty());
  EXPECT_EQ(shared, QByteArray("again"));
}
