// Tests of the row cache: define types, row blocks, indicators, LONG pieces and
// sizes at their limits.
#include <gtest/gtest.h>

#include <cstring>

#include "oralib/O_SMCli.h"
#include "oralib/o_class.h"
#include "oralib/o_class_lob.h"
#include "oralib/o_class_rows.h"
#include "oralib/o_error.h"
#include "oralib/o_utils.h"
#include "ui/exception.h"

namespace {

// A query as the row cache sees it, without a server.
class FakeQuery : public TOQueryContext {
 public:
  TOSession* QuerySession() const override { return session; }
  TFieldDefs& QueryFieldDefs() override { return defs; }
  int QueryCalcFieldsSize() const override { return calcSize; }

  TOSession* session = nullptr;
  TFieldDefs defs;
  int calcSize = 0;
};

struct Described {
  ub2 defineType;
  sb4 bufferSize;
  TFieldType fieldType;
};

Described Describe(ub2 type, sb1 scale, sb2 precision, sb4 size) {
  FakeQuery query;
  TORowDesc desc(&query);
  const TOColumnDesc& column = desc.AddColumn(QStringLiteral("C"), type, 1, scale, precision, size);
  return {column.DefineType, column.BufferSize, column.FieldType};
}

// Fills a LONG value the way OCI does: asks for pieces and fills them.
void DeliverLong(TOColumnDesc& desc, const TOColumn& column, const QByteArray& value) {
  qsizetype offset = 0;
  do {
    void* buffer;
    ub4* length;
    void* indicator;
    ub2* rcode;
    ub1 piece = OCI_NEXT_PIECE;
    EXPECT_EQ(AddPiece(desc, column, &buffer, &length, &piece, &indicator, &rcode), OCI_CONTINUE);
    const ub4 n = static_cast<ub4>(std::min<qsizetype>(*length, value.size() - offset));
    std::memcpy(buffer, value.constData() + offset, n);
    *length = n;
    *static_cast<sb2*>(indicator) = 0;
    offset += n;
  } while (offset < value.size());
}

}  // namespace

TEST(AddColumn, ChoosesDefineTypesBuffersAndFieldTypes) {
  auto same = [](Described d, ub2 type, sb4 size, TFieldType field) {
    return d.defineType == type && d.bufferSize == size && d.fieldType == field;
  };
  EXPECT_TRUE(same(Describe(SQLT_NUM, 0, 5, 22), SQLT_INT, 4, ftInteger));     // NUMBER(5)
  EXPECT_TRUE(same(Describe(SQLT_NUM, 0, 9, 22), SQLT_INT, 4, ftInteger));     // NUMBER(9), the widest integer
  EXPECT_TRUE(same(Describe(SQLT_NUM, 0, 10, 22), SQLT_FLT, 8, ftFloat));      // NUMBER(10)
  EXPECT_TRUE(same(Describe(SQLT_NUM, 1, 9, 22), SQLT_FLT, 8, ftFloat));       // NUMBER(9,1)
  EXPECT_TRUE(same(Describe(SQLT_NUM, 0, 1, 22), SQLT_INT, 4, ftInteger));     // NUMBER(1)
  EXPECT_TRUE(same(Describe(SQLT_NUM, 2, 8, 22), SQLT_FLT, 8, ftFloat));       // NUMBER(8,2)
  EXPECT_TRUE(same(Describe(SQLT_NUM, 0, 0, 22), SQLT_FLT, 8, ftFloat));       // NUMBER
  EXPECT_TRUE(same(Describe(SQLT_NUM, -2, 5, 22), SQLT_INT, 4, ftInteger));    // NUMBER(5,-2)
  EXPECT_TRUE(same(Describe(SQLT_NUM, -127, 0, 22), SQLT_FLT, 8, ftFloat));    // NUMBER, as current servers say
  EXPECT_TRUE(same(Describe(SQLT_NUM, -127, 5, 22), SQLT_FLT, 8, ftFloat));    // FLOAT(5)
  EXPECT_TRUE(same(Describe(SQLT_NUM, -84, 5, 22), SQLT_INT, 4, ftInteger));   // NUMBER(5,-84)
  EXPECT_TRUE(same(Describe(SQLT_CHR, 0, 0, 30), SQLT_STR, 31, ftString));     // VARCHAR2(30)
  EXPECT_TRUE(same(Describe(SQLT_BIN, 0, 0, 16), SQLT_STR, 33, ftString));     // RAW(16)
  EXPECT_TRUE(same(Describe(SQLT_RID, 0, 0, 8), SQLT_STR, 19, ftString));      // ROWID
  EXPECT_TRUE(same(Describe(SQLT_DAT, 0, 0, 7), SQLT_DAT, 7, ftDateTime));
  EXPECT_TRUE(same(Describe(SQLT_CFILEE, 0, 0, 530), SQLT_STR, 531, ftString));
  EXPECT_TRUE(same(Describe(SQLT_LNG, 0, 0, 0), SQLT_LNG, 4, ftMemo));
  EXPECT_TRUE(same(Describe(SQLT_BLOB, 0, 0, 4000), SQLT_BLOB, 4, ftBlob));
  EXPECT_TRUE(same(Describe(SQLT_RSET, 0, 0, 0), SQLT_RSET, 4, ftUnknown));
}

TEST(AddColumn, CreatesFieldDefinitionsPiecesAndLobs) {
  FakeQuery query;
  TORowDesc desc(&query);
  desc.AddColumn(QStringLiteral("A_VERY_LONG_COLUMN_NAME_OVER_THIRTY_CHARS"), SQLT_CHR, 0, 0, 0, 30);
  desc.AddColumn(QStringLiteral("N"), SQLT_NUM, 1, 0, 5, 22);
  desc.AddColumn(QStringLiteral("L"), SQLT_LNG, 1, 0, 0, 0);
  desc.AddColumn(QStringLiteral("F"), SQLT_BFILEE, 1, 0, 0, 530);
  ASSERT_EQ(query.defs.Count(), 4);
  EXPECT_EQ(query.defs[0].Name, QStringLiteral("A_VERY_LONG_COLUMN_NAME_OVER_T"));
  EXPECT_EQ(query.defs[0].Size, 31);
  EXPECT_TRUE(query.defs[0].Required);
  EXPECT_EQ(query.defs[1].Size, 0);
  EXPECT_FALSE(query.defs[1].Required);
  EXPECT_EQ(query.defs[3].FieldNo, 4);
  EXPECT_TRUE(desc[2].Pieces);
  EXPECT_FALSE(desc[2].LOB);
  ASSERT_TRUE(desc[3].LOB);
  EXPECT_EQ(desc[3].LOB->DescriptorType(), OCI_DTYPE_FILE);
  EXPECT_EQ(TLOB(&query, SQLT_CLOB).DescriptorType(), OCI_DTYPE_LOB);
  EXPECT_THROW(TLOB(&query, SQLT_CHR), Exception);
}

TEST(RowCache, JoinsLongPiecesAndTracesEachColumn) {
  FakeQuery query;
  TOSession session;
  ToSQLMon monitor;
  query.session = &session;
  query.calcSize = 12;
  TORowDesc desc(&query);
  desc.AddColumn(QStringLiteral("SID"), SQLT_NUM, 0, 0, 5, 22);
  desc.AddColumn(QStringLiteral("TEXT"), SQLT_LNG, 1, 0, 0, 0);
  TORows rows(&query, &desc);
  ASSERT_EQ(rows.AppendRow(), 0);
  TORow& row = rows[0];
  ASSERT_NE(row.CalcBuffer, nullptr);
  const TOColumn sid = row.Columns[0];
  const TOColumn text = row.Columns[1];
  EXPECT_EQ(sid.Size(), 4);
  EXPECT_EQ(text.Buffer(), nullptr);
  EXPECT_EQ(&rows.DescOf(text), &desc[1]);

  const int32_t value = 12;
  std::memcpy(sid.Buffer(), &value, 4);
  QByteArray longValue(2500, 'x');
  longValue[0] = 'a';
  longValue[2499] = 'z';
  DeliverLong(desc[1], text, longValue);
  ASSERT_EQ(desc[1].Pieces->size(), 3u);
  EXPECT_EQ((*desc[1].Pieces)[2].Size, 452u);
  row.Columns.FinishRow();
  EXPECT_FALSE(sid.IsNull());
  EXPECT_FALSE(text.IsNull());
  EXPECT_EQ(text.Size(), 2500);
  EXPECT_EQ(QByteArray(static_cast<const char*>(text.Buffer()), text.Size()), longValue);
  EXPECT_TRUE(desc[1].Pieces->empty());
}

TEST(AddColumn, ADateOfFewerThanSevenBytesIsRefused) {
  FakeQuery query;
  TORowDesc desc(&query);
  try {
    desc.AddColumn(QStringLiteral("HIREDATE"), SQLT_DAT, 1, 0, 0, 6);
    ADD_FAILURE() << "a 6-byte DATE was taken";
  } catch (const EOError& e) {
    EXPECT_EQ(e.Message(), QStringLiteral("Column HIREDATE is described as a DATE of 6 bytes; a DATE takes 7"));
  }
  EXPECT_EQ(desc.Count(), 0);
  EXPECT_EQ(query.defs.Count(), 0);
}

TEST(RowCache, ALongValueLargerThanASizeCanCountIsRefusedNotEmptied) {
  FakeQuery query;
  TORowDesc desc(&query);
  desc.AddColumn(QStringLiteral("TEXT"), SQLT_LNG, 1, 0, 0, 0);
  TORows rows(&query, &desc);
  rows.AppendRow();
  const TOColumn text = rows[0].Columns[0];
  text.Indicator() = 0;
  // 2 GiB in full pieces, one byte more than a 32-bit signed size counts. The
  // pieces hold no data: the size alone must stop the join.
  desc[0].Pieces->resize(std::size_t{1} << 21, TLOBPart{nullptr, 1024});
  const int32_t held = AllocCount() - FreeCount();
  try {
    rows[0].Columns.FinishRow();
    ADD_FAILURE() << "the value was kept with size " << text.Size();
  } catch (const EOError& e) {
    EXPECT_EQ(e.Message(), QStringLiteral("Value of column TEXT is larger than 2147483647 bytes"));
  }
  EXPECT_EQ(AllocCount() - FreeCount(), held);
  rows.Delete(0);
  rows.AppendRow();
  EXPECT_TRUE(desc[0].Pieces->empty());
}

TEST(RowCache, DeletingOutsideTheRowsChangesNothing) {
  FakeQuery query;
  TORowDesc desc(&query);
  desc.AddColumn(QStringLiteral("SID"), SQLT_NUM, 0, 0, 5, 22);
  TORows rows(&query, &desc);
  for (int i = 0; i < 3; ++i) rows.AppendRow();
  const int32_t held = AllocCount() - FreeCount();
  for (const int index : {-1, 3, 4}) {
    rows.Delete(index);
    EXPECT_EQ(rows.Count(), 3) << index;
  }
  EXPECT_EQ(AllocCount() - FreeCount(), held);
  rows.Delete(2);  // the last one
  ASSERT_EQ(rows.Count(), 2);
  EXPECT_EQ(rows[1].Index(), 1);
}

TEST(RowCache, EveryIndicatorButZeroMakesTheValueNull) {
  // 0 whole, -1 null, above 0 the length of a value cut to fit, -2 a cut value too long to say.
  const std::pair<sb2, bool> cases[] = {{0, false}, {-1, true}, {7, true}, {32767, true}, {-2, true}};
  FakeQuery query;
  TORowDesc desc(&query);
  desc.AddColumn(QStringLiteral("NAME"), SQLT_CHR, 1, 0, 0, 5);
  desc.AddColumn(QStringLiteral("TEXT"), SQLT_LNG, 1, 0, 0, 0);
  TORows rows(&query, &desc);
  for (const auto& [indicator, null] : cases) {
    SCOPED_TRACE(indicator);
    TORow& row = rows[rows.AppendRow()];
    std::memcpy(row.Columns[0].Buffer(), "abcde", 6);
    row.Columns[0].Indicator() = indicator;
    DeliverLong(desc[1], row.Columns[1], QByteArray(1500, 'l'));
    row.Columns[1].Indicator() = indicator;
    row.Columns.FinishRow();
    EXPECT_EQ(row.Columns[0].IsNull(), null);
    EXPECT_EQ(row.Columns[0].Size(), 6);  // a value in the row's block keeps its room
    EXPECT_EQ(row.Columns[1].IsNull(), null);
    EXPECT_EQ(row.Columns[1].Size(), null ? 0 : 1500);
    EXPECT_EQ(row.Columns[1].Buffer() == nullptr, null);
    EXPECT_TRUE(desc[1].Pieces->empty());
  }
}

TEST(RowCache, NullLongLeavesNoBufferAndNoPiecesForTheNextRow) {
  FakeQuery query;
  TORowDesc desc(&query);
  desc.AddColumn(QStringLiteral("TEXT"), SQLT_LNG, 1, 0, 0, 0);
  TORows rows(&query, &desc);
  rows.AppendRow();
  const TOColumn first = rows[0].Columns[0];
  DeliverLong(desc[0], first, QByteArray(100, 'a'));
  first.Indicator() = -1;  // OCI asked for a piece, then said the value is null
  rows[0].Columns.FinishRow();
  EXPECT_TRUE(first.IsNull());
  EXPECT_EQ(first.Buffer(), nullptr);
  EXPECT_EQ(first.Size(), 0);
  EXPECT_TRUE(desc[0].Pieces->empty());

  // A failed fetch leaves pieces behind; the next row starts without them.
  rows.AppendRow();
  DeliverLong(desc[0], rows[1].Columns[0], QByteArray(10, 'b'));
  rows.Delete(1);
  rows.AppendRow();
  EXPECT_TRUE(desc[0].Pieces->empty());
  DeliverLong(desc[0], rows[1].Columns[0], QByteArray(5, 'c'));
  rows[1].Columns.FinishRow();
  EXPECT_EQ(QByteArray(static_cast<const char*>(rows[1].Columns[0].Buffer()), rows[1].Columns[0].Size()),
            QByteArray(5, 'c'));
}

TEST(RowCache, KeepsEachRowsValuesApartAlignedAndReadableAfterTheDescriptorsGo) {
  FakeQuery query;
  TORowDesc desc(&query);
  desc.AddColumn(QStringLiteral("NAME"), SQLT_CHR, 1, 0, 0, 5);  // 6-byte text first
  desc.AddColumn(QStringLiteral("SID"), SQLT_NUM, 0, 0, 5, 22);  // 4-byte integer
  desc.AddColumn(QStringLiteral("WAIT"), SQLT_NUM, 1, 2, 8, 22);  // 8-byte float
  desc.AddColumn(QStringLiteral("LOGON"), SQLT_DAT, 1, 0, 0, 7);
  desc.AddColumn(QStringLiteral("TEXT"), SQLT_LNG, 1, 0, 0, 0);
  desc.AddColumn(QStringLiteral("CUR"), SQLT_RSET, 1, 0, 0, 0);  // OCI writes a handle here
  TORows rows(&query, &desc);
  for (int r = 0; r < 3; ++r) {
    const int index = rows.AppendRow();
    TORow& row = rows[index];
    ASSERT_EQ(row.Columns.Count(), 6);
    ASSERT_GE(row.Columns[5].Size(), static_cast<sb4>(sizeof(void*)));
    const void* handle = &row;
    std::memcpy(row.Columns[5].Buffer(), &handle, sizeof handle);
    const QByteArray name = QByteArray::number(r) + "name";
    std::memcpy(row.Columns[0].Buffer(), name.constData(), static_cast<std::size_t>(name.size()) + 1);
    *static_cast<int32_t*>(row.Columns[1].Buffer()) = 100 + r;  // aligned, or UBSan objects
    *static_cast<double*>(row.Columns[2].Buffer()) = r + 0.5;
    std::memset(row.Columns[3].Buffer(), 0x70 + r, 7);
    DeliverLong(desc[4], row.Columns[4], QByteArray(3 + r, 'L'));
    row.Columns[2].Indicator() = static_cast<sb2>(r == 1 ? -1 : 0);
    row.Columns.FinishRow();
  }
  desc.Clear();  // as releasing the statement does while the rows stay cached
  for (int r = 0; r < 3; ++r) {
    const TOColumns& columns = rows[r].Columns;
    EXPECT_EQ(QByteArray(static_cast<const char*>(columns[0].Buffer())), QByteArray::number(r) + "name");
    EXPECT_EQ(columns[0].Size(), 6);
    EXPECT_EQ(*static_cast<const int32_t*>(columns[1].Buffer()), 100 + r);
    EXPECT_EQ(columns[2].IsNull(), r == 1);
    EXPECT_FALSE(columns[1].IsNull());
    EXPECT_EQ(*static_cast<const double*>(columns[2].Buffer()), r + 0.5);
    EXPECT_EQ(QByteArray(static_cast<const char*>(columns[3].Buffer()), 7), QByteArray(7, char(0x70 + r)));
    EXPECT_EQ(columns[3].DefineType(), SQLT_DAT);
    EXPECT_EQ(QByteArray(static_cast<const char*>(columns[4].Buffer()), columns[4].Size()), QByteArray(3 + r, 'L'));
  }
  rows.Delete(0);
  EXPECT_EQ(rows[0].Index(), 0);
  EXPECT_EQ(*static_cast<const int32_t*>(rows[0].Columns[1].Buffer()), 101);
}

TEST(BlobStream, ReadsAndSeeksOverTheCachedValue) {
  FakeQuery query;
  TORowDesc desc(&query);
  desc.AddColumn(QStringLiteral("RAW_DATA"), SQLT_LBI, 1, 0, 0, 0);
  TORows rows(&query, &desc);
  rows.AppendRow();
  QByteArray value(100, 0);
  for (int i = 0; i < 100; ++i) value[i] = static_cast<char>(i);
  const TOColumn column = rows[0].Columns[0];
  DeliverLong(desc[0], column, value);
  rows[0].Columns.FinishRow();
  TOBlobStream stream(&column, 0);
  EXPECT_EQ(stream.Size(), 100);
  EXPECT_EQ(stream.Seek(-10, soFromEnd), 90);
  EXPECT_EQ(stream.Seek(5, soFromCurrent), 95);
  char buffer[50];
  stream.Seek(90, soFromBeginning);
  EXPECT_EQ(stream.Read(buffer, 50), 10);
  EXPECT_EQ(buffer[0], 90);
  stream.Seek(120, soFromBeginning);
  EXPECT_EQ(stream.Read(buffer, 50), 0);
  stream.Seek(-5, soFromBeginning);
  EXPECT_EQ(stream.Read(buffer, 50), 0);  // never reads before the value
  EXPECT_EQ(stream.Write(buffer, 10), 0);

  TOBlobStream empty(nullptr, 0);
  EXPECT_EQ(empty.Size(), 0);
  EXPECT_EQ(empty.Read(buffer, 10), 0);
}
