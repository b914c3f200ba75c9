// Defines and fetching: external types, indicators, truncation, LONG pieces.
#include "oci_fixture.h"

#include <bit>
#include <cstring>

using namespace ocisim_test;

using FetchTest = OciSimTest;

namespace {

// A connection with a table of one row of each kind.
struct Sample : Connection {
  Sample() {
    open();
    Statement s(*this);
    EXPECT_EQ(s.run("create table sample (n number(8,2), i number(5), v varchar2(30), d date, l long,"
                    " r raw(4), e varchar2(10))"),
              OCI_SUCCESS);
    EXPECT_EQ(s.run("insert into sample values (1234.5, 42, 'hello world',"
                    " to_date('2001-03-04 05:06:07', 'YYYY-MM-DD HH24:MI:SS'), null, null, null)",
                    OCI_COMMIT_ON_SUCCESS),
              OCI_SUCCESS)
        << error();
  }
};

sword define(Statement& s, ub4 pos, void* buf, sb4 size, ub2 type, sb2* ind, ub2* rlen = nullptr,
             ub4 mode = OCI_DEFAULT) {
  OCIDefine* d = nullptr;
  return OCIDefineByPos(s.stmt, &d, s.conn.err, pos, buf, size, type, ind, rlen, nullptr, mode);
}

sword fetch(Statement& s) { return OCIStmtFetch(s.stmt, s.conn.err, 1, OCI_FETCH_NEXT, OCI_DEFAULT); }

}  // namespace

TEST_F(FetchTest, NumbersArriveAsIntegersOrFloatingPoint) {
  Sample c;
  Statement s(c);
  ASSERT_EQ(s.run("select n, i, n, i from sample"), OCI_SUCCESS) << c.error();
  double asDouble = 0;
  float asFloat = 0;
  int asInt = 0;
  long long asLong = 0;
  sb2 ind[4] = {9, 9, 9, 9};
  define(s, 1, &asDouble, 8, SQLT_FLT, &ind[0]);
  define(s, 2, &asInt, 4, SQLT_INT, &ind[1]);
  define(s, 3, &asLong, 8, SQLT_INT, &ind[2]);
  define(s, 4, &asFloat, 4, SQLT_FLT, &ind[3]);
  ASSERT_EQ(fetch(s), OCI_SUCCESS) << c.error();
  EXPECT_DOUBLE_EQ(asDouble, 1234.5);
  EXPECT_EQ(asInt, 42);
  EXPECT_EQ(asLong, 1234);  // the fraction is cut off
  EXPECT_FLOAT_EQ(asFloat, 42.0f);
  for (sb2 i : ind) EXPECT_EQ(i, 0);
  EXPECT_EQ(fetch(s), OCI_NO_DATA);
  EXPECT_EQ(c.error(), "ORA-01403: no data found");
  EXPECT_EQ(s.rowCount(), 1u);
}

TEST_F(FetchTest, DatesRoundTripThroughTheSevenByteForm) {
  Sample c;
  Statement s(c);
  ASSERT_EQ(s.run("select d, d from sample"), OCI_SUCCESS);
  unsigned char date[7] = {};
  char asText[32] = {};
  sb2 ind = 0, ind2 = 0;
  define(s, 1, date, 7, SQLT_DAT, &ind);
  define(s, 2, asText, sizeof asText, SQLT_STR, &ind2);
  ASSERT_EQ(fetch(s), OCI_SUCCESS) << c.error();
  const unsigned char expected[7] = {120, 101, 3, 4, 6, 7, 8};
  EXPECT_EQ(std::memcmp(date, expected, 7), 0);
  EXPECT_STREQ(asText, "04-MAR-01");  // the default date format

  // Bound back in, the same bytes find the row.
  Statement back(c);
  ASSERT_EQ(back.prepare("select count(*) from sample where d = :d"), OCI_SUCCESS);
  OCIBind* b = nullptr;
  ASSERT_EQ(OCIBindByName(back.stmt, &b, c.err, reinterpret_cast<const text*>("d"), 1, date, 7, SQLT_DAT,
                          nullptr, nullptr, nullptr, 0, nullptr, OCI_DEFAULT),
            OCI_SUCCESS);
  ASSERT_EQ(back.execute(), OCI_SUCCESS) << c.error();
  EXPECT_EQ(back.fetchAll()[0][0], "1");
}

TEST_F(FetchTest, NullsSetTheIndicatorAndAreAnErrorWithoutOne) {
  Sample c;
  Statement s(c);
  ASSERT_EQ(s.run("select e, e from sample"), OCI_SUCCESS);
  char a[8] = "keep", b[8] = "keep";
  sb2 ind = 0;
  ub2 len = 99;
  define(s, 1, a, sizeof a, SQLT_STR, &ind, &len);
  ASSERT_EQ(fetch(s), OCI_SUCCESS);
  EXPECT_EQ(ind, -1);
  EXPECT_EQ(len, 0);

  ASSERT_EQ(s.run("select e from sample"), OCI_SUCCESS);
  define(s, 1, b, sizeof b, SQLT_STR, nullptr);
  EXPECT_EQ(fetch(s), OCI_ERROR);
  EXPECT_EQ(c.error(), "ORA-01405: fetched column value is NULL");
}

TEST_F(FetchTest, EachRowCanBeDefinedOntoFreshBuffers) {
  Connection c;
  c.open();
  Statement s(c);
  ASSERT_EQ(s.run("create table t (a number(5), b varchar2(5))"), OCI_SUCCESS);
  for (int i = 1; i <= 3; ++i)
    ASSERT_EQ(s.run("insert into t values (" + std::to_string(i) + ", 'r" + std::to_string(i) + "')"),
              OCI_SUCCESS);
  ASSERT_EQ(s.run("select a, b from t order by a"), OCI_SUCCESS);
  struct Row {
    int a = 0;
    char b[6] = {};
    sb2 ia = 0, ib = 0;
  } rows[3];
  for (Row& r : rows) {
    define(s, 1, &r.a, 4, SQLT_INT, &r.ia);
    define(s, 2, r.b, sizeof r.b, SQLT_STR, &r.ib);
    ASSERT_EQ(fetch(s), OCI_SUCCESS) << c.error();
  }
  EXPECT_EQ(fetch(s), OCI_NO_DATA);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(rows[i].a, i + 1);
    EXPECT_EQ(std::string(rows[i].b), "r" + std::to_string(i + 1));
  }
}

TEST_F(FetchTest, SeveralRowsInOneFetchFillArrays) {
  Connection c;
  c.open();
  Statement s(c);
  ASSERT_EQ(s.run("create table t (a number(5))"), OCI_SUCCESS);
  for (int i = 1; i <= 5; ++i) ASSERT_EQ(s.run("insert into t values (" + std::to_string(i) + ")"), OCI_SUCCESS);
  ASSERT_EQ(s.run("select a from t order by a"), OCI_SUCCESS);
  int values[3] = {};
  sb2 ind[3] = {};
  define(s, 1, values, 4, SQLT_INT, ind);
  ASSERT_EQ(OCIStmtFetch(s.stmt, c.err, 3, OCI_FETCH_NEXT, OCI_DEFAULT), OCI_SUCCESS);
  EXPECT_EQ(values[2], 3);
  EXPECT_EQ(OCIStmtFetch(s.stmt, c.err, 3, OCI_FETCH_NEXT, OCI_DEFAULT), OCI_NO_DATA);
  EXPECT_EQ(values[0], 4);
  EXPECT_EQ(values[1], 5);
  EXPECT_EQ(s.rowCount(), 5u);
}

namespace {

// Collects LONG pieces as a caller of OCIDefineDynamic does: a fresh buffer
// of 1024 bytes for each piece.
struct Pieces {
  std::vector<std::vector<char>> buffers;
  std::vector<ub4> sizes;
  std::vector<ub1> kinds;
  sb2 indicator = 7;

  static sb4 callback(dvoid* ctx, OCIDefine*, ub4, dvoid** bufpp, ub4** alenp, ub1* piecep, dvoid** indp,
                      ub2** rcodep) {
    auto* self = static_cast<Pieces*>(ctx);
    self->kinds.push_back(*piecep);
    self->buffers.emplace_back(1024);
    self->sizes.push_back(1024);
    *bufpp = self->buffers.back().data();
    // The size vector does not move while a piece is filled: reserved ahead.
    *alenp = &self->sizes.back();
    *indp = &self->indicator;
    *rcodep = nullptr;
    return OCI_CONTINUE;
  }
};

}  // namespace

TEST_F(FetchTest, ALongValueArrivesInPiecesOfTheCallersBuffers) {
  Connection c;
  c.open();
  Statement s(c);
  ASSERT_EQ(s.run("create table t (id number(5), l long)"), OCI_SUCCESS);
  std::string value(2500, ' ');
  for (size_t i = 0; i < value.size(); ++i) value[i] = static_cast<char>('a' + i % 26);
  ASSERT_EQ(s.prepare("insert into t values (1, :l)"), OCI_SUCCESS);
  OCIBind* b = nullptr;
  ASSERT_EQ(OCIBindByName(s.stmt, &b, c.err, reinterpret_cast<const text*>(":l"), 2, value.data(),
                          static_cast<sb4>(value.size()), SQLT_LNG, nullptr, nullptr, nullptr, 0, nullptr,
                          OCI_DEFAULT),
            OCI_SUCCESS);
  ASSERT_EQ(s.execute(1), OCI_SUCCESS) << c.error();
  ASSERT_EQ(s.run("insert into t values (2, null)"), OCI_SUCCESS);

  ASSERT_EQ(s.run("select l from t order by id"), OCI_SUCCESS);
  Pieces pieces;
  pieces.sizes.reserve(16);
  sb2 ind = 5;
  OCIDefine* d = nullptr;
  ASSERT_EQ(OCIDefineByPos(s.stmt, &d, c.err, 1, nullptr, 2147483647, SQLT_LNG, &ind, nullptr, nullptr,
                           OCI_DYNAMIC_FETCH),
            OCI_SUCCESS);
  ASSERT_EQ(OCIDefineDynamic(d, c.err, &pieces, Pieces::callback), OCI_SUCCESS);
  ASSERT_EQ(fetch(s), OCI_SUCCESS) << c.error();
  EXPECT_EQ(pieces.sizes, (std::vector<ub4>{1024, 1024, 452}));
  EXPECT_EQ(pieces.kinds, (std::vector<ub1>{OCI_FIRST_PIECE, OCI_NEXT_PIECE, OCI_NEXT_PIECE}));
  std::string joined;
  for (size_t i = 0; i < pieces.buffers.size(); ++i) joined.append(pieces.buffers[i].data(), pieces.sizes[i]);
  EXPECT_EQ(joined, value);
  EXPECT_EQ(ind, 0);

  // A NULL LONG asks for no piece and sets the indicator.
  pieces = Pieces{};
  pieces.sizes.reserve(16);
  ASSERT_EQ(fetch(s), OCI_SUCCESS);
  EXPECT_TRUE(pieces.buffers.empty());
  EXPECT_EQ(ind, -1);
}

TEST_F(FetchTest, ConversionsThatCannotBeMadeAreErrors) {
  Sample c;
  Statement s(c);
  ASSERT_EQ(s.run("select v from sample"), OCI_SUCCESS);
  int n = 0;
  sb2 ind = 0;
  define(s, 1, &n, 4, SQLT_INT, &ind);
  EXPECT_EQ(fetch(s), OCI_ERROR);
  EXPECT_EQ(c.error(), "ORA-01722: invalid number");

  ASSERT_EQ(s.run("select 100000 from dual"), OCI_SUCCESS);
  short small = 0;
  define(s, 1, &small, 2, SQLT_INT, &ind);
  EXPECT_EQ(fetch(s), OCI_ERROR);
  EXPECT_EQ(c.error(), "ORA-01455: converting column overflows integer datatype");

  OCIDefine* d = nullptr;
  EXPECT_EQ(OCIDefineByPos(s.stmt, &d, c.err, 1, &n, 4, 250, &ind, nullptr, nullptr, OCI_DEFAULT), OCI_ERROR);
  EXPECT_EQ(c.error(), "ORA-03115: unsupported network datatype or representation");
}

TEST_F(FetchTest, RawValuesReadAsHexText) {
  Connection c;
  c.open();
  Statement s(c);
  ASSERT_EQ(s.run("create table t (r raw(4))"), OCI_SUCCESS);
  const unsigned char bytes[3] = {0x01, 0xAB, 0xFF};
  ASSERT_EQ(s.prepare("insert into t values (:r)"), OCI_SUCCESS);
  OCIBind* b = nullptr;
  ASSERT_EQ(OCIBindByName(s.stmt, &b, c.err, reinterpret_cast<const text*>("r"), 1,
                          const_cast<unsigned char*>(bytes), 3, SQLT_BIN, nullptr, nullptr, nullptr, 0,
                          nullptr, OCI_DEFAULT),
            OCI_SUCCESS);
  ASSERT_EQ(s.execute(1), OCI_SUCCESS) << c.error();
  EXPECT_EQ(query(c, "select r from t")[0][0], "01ABFF");
}

TEST_F(FetchTest, TheRowidDescriptorCanBeFilledAfterEveryRow) {
  Sample c;
  Statement s(c);
  OCIRowid* rowid = nullptr;
  ASSERT_EQ(OCIDescriptorAlloc(c.env, reinterpret_cast<void**>(&rowid), OCI_DTYPE_ROWID, 0, nullptr), OCI_SUCCESS);
  ASSERT_EQ(s.prepare("select i from sample"), OCI_SUCCESS);
  EXPECT_EQ(OCIAttrGet(s.stmt, OCI_HTYPE_STMT, rowid, nullptr, OCI_ATTR_ROWID, c.err), OCI_ERROR);
  ASSERT_EQ(s.execute(), OCI_SUCCESS);
  int i = 0;
  sb2 ind = 0;
  define(s, 1, &i, 4, SQLT_INT, &ind);
  ASSERT_EQ(fetch(s), OCI_SUCCESS);
  EXPECT_EQ(OCIAttrGet(s.stmt, OCI_HTYPE_STMT, rowid, nullptr, OCI_ATTR_ROWID, c.err), OCI_SUCCESS);
  int notADescriptor = 0;
  EXPECT_EQ(OCIAttrGet(s.stmt, OCI_HTYPE_STMT, &notADescriptor, nullptr, OCI_ATTR_ROWID, c.err), OCI_ERROR);
  EXPECT_EQ(OCIDescriptorFree(rowid, OCI_DTYPE_ROWID), OCI_SUCCESS);
}

TEST_F(FetchTest, AnArrayFetchGivesEachRowItsOwnIndicatorLengthAndReturnCode) {
  Connection c;
  c.open();
  Statement s(c);
  ASSERT_EQ(s.run("create table t (id number(5), v varchar2(10))"), OCI_SUCCESS);
  ASSERT_EQ(s.run("insert into t values (1, 'abc')"), OCI_SUCCESS);
  ASSERT_EQ(s.run("insert into t values (2, null)"), OCI_SUCCESS);
  ASSERT_EQ(s.run("insert into t values (3, 'abcdefgh')"), OCI_SUCCESS);
  ASSERT_EQ(s.run("insert into t values (4, 'x')"), OCI_SUCCESS);
  ASSERT_EQ(s.run("select v from t order by id"), OCI_SUCCESS);
  char values[4][6];
  std::memset(values, '#', sizeof values);
  sb2 ind[4] = {9, 9, 9, 9};
  ub2 len[4] = {99, 99, 99, 99}, code[4] = {99, 99, 99, 99};
  OCIDefine* d = nullptr;
  ASSERT_EQ(OCIDefineByPos(s.stmt, &d, c.err, 1, values, 6, SQLT_STR, ind, len, code, OCI_DEFAULT), OCI_SUCCESS);
  // The third value does not fit: the fetch warns, and says which row in its arrays.
  ASSERT_EQ(OCIStmtFetch(s.stmt, c.err, 4, OCI_FETCH_NEXT, OCI_DEFAULT), OCI_SUCCESS_WITH_INFO);
  EXPECT_EQ(c.error(), "ORA-01406: fetched column value was truncated");
  EXPECT_STREQ(values[0], "abc");
  EXPECT_STREQ(values[2], "abcde");
  EXPECT_STREQ(values[3], "x");
  EXPECT_EQ(std::vector<sb2>(ind, ind + 4), (std::vector<sb2>{0, -1, 8, 0}));
  EXPECT_EQ(std::vector<ub2>(len, len + 4), (std::vector<ub2>{3, 0, 5, 1}));
  EXPECT_EQ(std::vector<ub2>(code, code + 4), (std::vector<ub2>{0, 0, 1406, 0}));
  EXPECT_EQ(s.rowCount(), 4u);
  EXPECT_EQ(OCIStmtFetch(s.stmt, c.err, 4, OCI_FETCH_NEXT, OCI_DEFAULT), OCI_NO_DATA);
  EXPECT_EQ(s.rowCount(), 4u);
}

TEST_F(FetchTest, EachExternalTypeReceivesExactlyItsBytes) {
  Sample c;
  Statement s(c);
  // v is 'hello world' (11 bytes), i is 42.
  ASSERT_EQ(s.run("select v, v, v, v, v, i, v from sample"), OCI_SUCCESS) << c.error();
  char chr[12], afc[14], avc[14], str[12], lng[11], vcs[9], bin[4];
  std::memset(chr, '#', sizeof chr);
  std::memset(afc, '#', sizeof afc);
  std::memset(avc, '#', sizeof avc);
  std::memset(vcs, '#', sizeof vcs);
  sb2 ind[7] = {9, 9, 9, 9, 9, 9, 9};
  ub2 len[7] = {};
  define(s, 1, chr, sizeof chr, SQLT_CHR, &ind[0], &len[0]);
  define(s, 2, afc, sizeof afc, SQLT_AFC, &ind[1], &len[1]);
  define(s, 3, avc, sizeof avc, SQLT_AVC, &ind[2], &len[2]);
  define(s, 4, str, sizeof str, SQLT_STR, &ind[3], &len[3]);
  define(s, 5, lng, sizeof lng, SQLT_LNG, &ind[4], &len[4]);
  define(s, 6, vcs, sizeof vcs, SQLT_VCS, &ind[5], &len[5]);
  define(s, 7, bin, sizeof bin, SQLT_BIN, &ind[6], &len[6]);
  ASSERT_EQ(fetch(s), OCI_SUCCESS_WITH_INFO) << c.error();
  // Plain characters: no terminator, the rest of the buffer untouched.
  EXPECT_EQ(std::string(chr, sizeof chr), "hello world#");
  // Fixed characters: padded with blanks to the buffer's end, without a terminator.
  EXPECT_EQ(std::string(afc, sizeof afc), "hello world   ");
  // Fixed and terminated: blanks up to the terminator in the last byte.
  EXPECT_EQ(std::string(avc, sizeof avc), std::string("hello world  \0", 14));
  EXPECT_EQ(std::string(str), "hello world");
  EXPECT_EQ(std::string(lng, sizeof lng), "hello world");
  // A two-byte length, then the characters of the number.
  ub2 prefix = 0;
  std::memcpy(&prefix, vcs, 2);
  EXPECT_EQ(prefix, 2);
  EXPECT_EQ(std::string(vcs + 2, 3), "42#");
  // Raw bytes: as many as fit, the value too long for the rest.
  EXPECT_EQ(std::string(bin, sizeof bin), "hell");
  EXPECT_EQ(std::vector<sb2>(ind, ind + 7), (std::vector<sb2>{0, 0, 0, 0, 0, 0, 11}));
  EXPECT_EQ(std::vector<ub2>(len, len + 7), (std::vector<ub2>{11, 14, 13, 11, 11, 4, 4}));
}

TEST_F(FetchTest, ATruncatedValueLongerThanAnIndicatorCanHoldIsMarkedMinusTwo) {
  Connection c;
  c.open();
  Statement s(c);
  ASSERT_EQ(s.run("create table t (id number(5), l long)"), OCI_SUCCESS);
  // 32767 bytes is the longest length an indicator holds; one more does not fit in it.
  for (const int length : {32767, 32768}) {
    std::string value(static_cast<size_t>(length), 'q');
    ASSERT_EQ(s.prepare("insert into t values (" + std::to_string(length) + ", :l)"), OCI_SUCCESS);
    OCIBind* b = nullptr;
    ASSERT_EQ(OCIBindByName(s.stmt, &b, c.err, reinterpret_cast<const text*>(":l"), 2, value.data(),
                            static_cast<sb4>(value.size()), SQLT_LNG, nullptr, nullptr, nullptr, 0, nullptr,
                            OCI_DEFAULT),
              OCI_SUCCESS);
    ASSERT_EQ(s.execute(1), OCI_SUCCESS) << c.error();
  }
  ASSERT_EQ(s.run("select l from t order by id"), OCI_SUCCESS);
  char buf[8];
  sb2 ind[2] = {};
  ub2 len[2] = {};
  OCIDefine* d = nullptr;
  ASSERT_EQ(OCIDefineByPos(s.stmt, &d, c.err, 1, buf, 4, SQLT_CHR, ind, len, nullptr, OCI_DEFAULT), OCI_SUCCESS);
  ASSERT_EQ(OCIStmtFetch(s.stmt, c.err, 2, OCI_FETCH_NEXT, OCI_DEFAULT), OCI_SUCCESS_WITH_INFO);
  EXPECT_EQ(ind[0], 32767);
  EXPECT_EQ(ind[1], -2);
  EXPECT_EQ(len[0], 4);
  EXPECT_EQ(len[1], 4);
  EXPECT_EQ(std::string(buf, 8), "qqqqqqqq");
}

TEST_F(FetchTest, IntegersFitTheirBufferUpToItsLastValueAndNoFurther) {
  Connection c;
  c.open();
  struct Case {
    const char* value;
    sb4 size;
    ub2 type;
    long long expected;  // or the Oracle error when not representable
    bool fits;
  };
  const Case cases[] = {
      {"127", 1, SQLT_INT, 127, true},          {"-128", 1, SQLT_INT, -128, true},
      {"128", 1, SQLT_INT, 0, false},           {"-129", 1, SQLT_INT, 0, false},
      {"255", 1, SQLT_UIN, 255, true},          {"256", 1, SQLT_UIN, 0, false},
      {"32767", 2, SQLT_INT, 32767, true},      {"-32768", 2, SQLT_INT, -32768, true},
      {"32768", 2, SQLT_INT, 0, false},         {"-32769", 2, SQLT_INT, 0, false},
      {"65535", 2, SQLT_UIN, 65535, true},      {"65536", 2, SQLT_UIN, 0, false},
      {"2147483647", 4, SQLT_INT, 2147483647, true}, {"-2147483648", 4, SQLT_INT, -2147483648LL, true},
      {"2147483648", 4, SQLT_INT, 0, false},    {"4294967295", 4, SQLT_UIN, 4294967295LL, true},
      {"-1", 4, SQLT_UIN, 0, false},            {"0", 1, SQLT_UIN, 0, true},
      {"-7.9", 4, SQLT_INT, -7, true},          {"9223372036854775807", 8, SQLT_INT, 9223372036854775807LL, true},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(std::string(k.value) + " in " + std::to_string(k.size) + (k.type == SQLT_UIN ? " unsigned" : ""));
    Statement s(c);
    ASSERT_EQ(s.run(std::string("select ") + k.value + " from dual"), OCI_SUCCESS) << c.error();
    unsigned char buf[8] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
    sb2 ind = 9;
    ub2 len = 0;
    define(s, 1, buf, k.size, k.type, &ind, &len);
    const sword rc = fetch(s);
    if (!k.fits) {
      EXPECT_EQ(rc, OCI_ERROR);
      EXPECT_EQ(c.error(), "ORA-01455: converting column overflows integer datatype");
      continue;
    }
    ASSERT_EQ(rc, OCI_SUCCESS) << c.error();
    // The value in the machine's own (little-endian) order: the low bytes of the expected one.
    static_assert(std::endian::native == std::endian::little);
    EXPECT_EQ(std::memcmp(buf, &k.expected, static_cast<size_t>(k.size)), 0);
    EXPECT_EQ(len, k.size);
    EXPECT_EQ(ind, 0);
    // Nothing is written past the integer.
    if (k.size < 8) {
      EXPECT_EQ(buf[k.size], 0xEE);
    }
  }
}
