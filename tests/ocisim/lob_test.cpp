// LOB locators filled by defines, and the LOB calls on them.
#include "oci_fixture.h"

#include <cstring>
#include <filesystem>
#include <fstream>

using namespace ocisim_test;

using LobTest = OciSimTest;

namespace {

struct Locator {
  explicit Locator(Connection& c, ub4 type = OCI_DTYPE_LOB) : conn(c), type(type) {
    EXPECT_EQ(OCIDescriptorAlloc(c.env, reinterpret_cast<void**>(&lob), type, 0, nullptr), OCI_SUCCESS);
  }
  ~Locator() {
    if (conn.env) OCIDescriptorFree(lob, type);
  }
  ub4 length() {
    ub4 n = 0;
    EXPECT_EQ(OCILobGetLength(conn.svc, conn.err, lob, &n), OCI_SUCCESS) << conn.error();
    return n;
  }
  // Reads amount characters (CLOB) or bytes; a CLOB's text ends at its NUL.
  std::string read(ub4 offset, ub4 amount, bool text = false) {
    std::string buf(amount * 4, '\0');  // room for multi-byte characters
    EXPECT_EQ(OCILobRead(conn.svc, conn.err, lob, &amount, offset, buf.data(), static_cast<ub4>(buf.size()),
                         nullptr, nullptr, 0, SQLCS_IMPLICIT),
              OCI_SUCCESS)
        << conn.error();
    buf.resize(text ? std::strlen(buf.c_str()) : amount);
    return buf;
  }
  Connection& conn;
  ub4 type;
  OCILobLocator* lob = nullptr;
};

// Runs a one-column query and defines the column onto a locator.
sword fetchLob(Statement& s, const std::string& sql, Locator& loc, ub2 dty, sb2* ind) {
  EXPECT_EQ(s.run(sql), OCI_SUCCESS) << s.error();
  OCIDefine* d = nullptr;
  EXPECT_EQ(OCIDefineByPos(s.stmt, &d, s.conn.err, 1, &loc.lob, sizeof(void*), dty, ind, nullptr, nullptr,
                           OCI_DEFAULT),
            OCI_SUCCESS);
  return OCIStmtFetch(s.stmt, s.conn.err, 1, OCI_FETCH_NEXT, OCI_DEFAULT);
}

}  // namespace

TEST_F(LobTest, FetchedLocatorsGiveLengthAndContent) {
  Connection c;
  c.open();
  Statement s(c);
  ASSERT_EQ(s.run("create table t (id number, c clob, b blob)"), OCI_SUCCESS);
  ASSERT_EQ(s.run("insert into t values (1, 'caf\xc3\xa9 au lait', null)"), OCI_SUCCESS);
  Locator loc(c);
  sb2 ind = 9;
  ASSERT_EQ(fetchLob(s, "select c from t", loc, SQLT_CLOB, &ind), OCI_SUCCESS) << c.error();
  EXPECT_EQ(ind, 0);
  EXPECT_EQ(loc.length(), 12u);  // characters, not bytes
  EXPECT_EQ(loc.read(1, 12, true), "caf\xc3\xa9 au lait");
  EXPECT_EQ(loc.read(4, 1, true), "\xc3\xa9");
  ub4 amount = 5;
  char buf[8];
  EXPECT_EQ(OCILobRead(c.svc, c.err, loc.lob, &amount, 20, buf, sizeof buf, nullptr, nullptr, 0, SQLCS_IMPLICIT),
            OCI_NO_DATA);
  EXPECT_EQ(amount, 0u);

  Locator blob(c);
  ASSERT_EQ(fetchLob(s, "select b from t", blob, SQLT_BLOB, &ind), OCI_SUCCESS);
  EXPECT_EQ(ind, -1);
  ub4 n = 0;
  EXPECT_EQ(OCILobGetLength(c.svc, c.err, blob.lob, &n), OCI_ERROR);
  EXPECT_EQ(c.error(), "ORA-22275: invalid LOB locator specified");
}

TEST_F(LobTest, WritingNeedsARowSelectedForUpdate) {
  Connection c;
  c.open();
  Statement s(c);
  ASSERT_EQ(s.run("create table t (id number, b blob)"), OCI_SUCCESS);
  ASSERT_EQ(s.run("insert into t values (1, empty_blob())", OCI_COMMIT_ON_SUCCESS), OCI_SUCCESS);
  Locator loc(c);
  sb2 ind = 0;
  ASSERT_EQ(fetchLob(s, "select b from t where id = 1", loc, SQLT_BLOB, &ind), OCI_SUCCESS);
  EXPECT_EQ(loc.length(), 0u);
  ub4 amount = 3;
  char data[] = {'\x01', '\x00', '\x02'};
  EXPECT_EQ(OCILobWrite(c.svc, c.err, loc.lob, &amount, 1, data, 3, OCI_ONE_PIECE, nullptr, nullptr, 0,
                        SQLCS_IMPLICIT),
            OCI_ERROR);
  EXPECT_EQ(c.error(), "ORA-22920: row containing the LOB value is not locked");

  ASSERT_EQ(fetchLob(s, "select b from t where id = 1 for update", loc, SQLT_BLOB, &ind), OCI_SUCCESS)
      << c.error();
  ASSERT_EQ(OCILobWrite(c.svc, c.err, loc.lob, &amount, 1, data, 3, OCI_ONE_PIECE, nullptr, nullptr, 0,
                        SQLCS_IMPLICIT),
            OCI_SUCCESS)
      << c.error();
  EXPECT_EQ(amount, 3u);
  amount = 1;
  ASSERT_EQ(OCILobWrite(c.svc, c.err, loc.lob, &amount, 6, data + 2, 1, OCI_ONE_PIECE, nullptr, nullptr, 0,
                        SQLCS_IMPLICIT),
            OCI_SUCCESS);
  ASSERT_EQ(OCITransCommit(c.svc, c.err, OCI_DEFAULT), OCI_SUCCESS);
  Locator again(c);
  ASSERT_EQ(fetchLob(s, "select b from t where id = 1", again, SQLT_BLOB, &ind), OCI_SUCCESS);
  EXPECT_EQ(again.read(1, 10), std::string("\x01\x00\x02\x00\x00\x02", 6));
  ASSERT_EQ(OCILobTrim(c.svc, c.err, again.lob, 2), OCI_ERROR);  // not locked

  // The lock ends with the transaction, and so does writing through the locator:
  // by then the row may be gone and its rowid another row's.
  amount = 1;
  EXPECT_EQ(OCILobWrite(c.svc, c.err, loc.lob, &amount, 1, data, 1, OCI_ONE_PIECE, nullptr, nullptr, 0,
                        SQLCS_IMPLICIT),
            OCI_ERROR);
  EXPECT_EQ(c.error(), "ORA-22990: LOB locators cannot span transactions");

  // A subquery's LOB is not a value of the locked row.
  ASSERT_EQ(s.run("insert into t values (2, empty_blob())", OCI_COMMIT_ON_SUCCESS), OCI_SUCCESS);
  Locator other(c);
  ASSERT_EQ(fetchLob(s, "select (select b from t where id = 2) from t where id = 1 for update", other, SQLT_BLOB,
                     &ind),
            OCI_SUCCESS)
      << c.error();
  EXPECT_EQ(OCILobWrite(c.svc, c.err, other.lob, &amount, 1, data, 1, OCI_ONE_PIECE, nullptr, nullptr, 0,
                        SQLCS_IMPLICIT),
            OCI_ERROR);
  EXPECT_EQ(c.error(), "ORA-22920: row containing the LOB value is not locked");
}

TEST_F(LobTest, BfilesAreReadFromTheirDirectory) {
  Connection c;
  c.open("system", "manager");
  const std::string folder = dir_ + "/files";
  std::filesystem::create_directories(folder);
  std::ofstream(folder + "/note.txt") << "file content";
  Statement s(c);
  ASSERT_EQ(s.run("create directory docs as '" + folder + "'"), OCI_SUCCESS) << c.error();
  ASSERT_EQ(s.run("create table t (id number, f bfile)"), OCI_SUCCESS);
  ASSERT_EQ(s.run("insert into t values (1, bfilename('DOCS', 'note.txt'))"), OCI_SUCCESS);
  ASSERT_EQ(s.run("insert into t values (2, bfilename('DOCS', '../secret'))"), OCI_SUCCESS);
  Locator loc(c, OCI_DTYPE_FILE);
  sb2 ind = 0;
  ASSERT_EQ(fetchLob(s, "select f from t order by id", loc, SQLT_BFILEE, &ind), OCI_SUCCESS) << c.error();
  EXPECT_EQ(loc.length(), 12u);
  EXPECT_EQ(loc.read(6, 7), "content");
  ASSERT_EQ(OCIStmtFetch(s.stmt, c.err, 1, OCI_FETCH_NEXT, OCI_DEFAULT), OCI_SUCCESS);
  ub4 n = 0;
  EXPECT_EQ(OCILobGetLength(c.svc, c.err, loc.lob, &n), OCI_ERROR);
  EXPECT_EQ(c.error(), "ORA-22288: file or LOB operation FILEOPEN failed\nNo such file or directory");

  Connection scott;
  scott.open();
  Statement t(scott);
  EXPECT_EQ(t.run("create directory mine as '/'"), OCI_ERROR);
  EXPECT_EQ(scott.error(), "ORA-01031: insufficient privileges");
}

TEST_F(LobTest, AWriteThatWouldGrowTheLobPastItsLimitIsRefusedBeforeAnyPadding) {
  constexpr ub4 kLimit = 64u * 1024 * 1024;  // characters of a CLOB, bytes of a BLOB
  Connection c;
  c.open();
  Statement s(c);
  ASSERT_EQ(s.run("create table t (id number, c clob, b blob)"), OCI_SUCCESS);
  ASSERT_EQ(s.run("insert into t values (1, 'abc', empty_blob())", OCI_COMMIT_ON_SUCCESS), OCI_SUCCESS);
  Locator clob(c), blob(c);
  sb2 ind = 0;
  ASSERT_EQ(fetchLob(s, "select c from t where id = 1 for update", clob, SQLT_CLOB, &ind), OCI_SUCCESS)
      << c.error();
  Statement s2(c);
  ASSERT_EQ(fetchLob(s2, "select b from t where id = 1 for update", blob, SQLT_BLOB, &ind), OCI_SUCCESS)
      << c.error();

  // The furthest offset there is: gigabytes of gap, refused at once.
  char data[] = "xyz";
  for (Locator* loc : {&clob, &blob}) {
    ub4 amount = 3;
    EXPECT_EQ(OCILobWrite(c.svc, c.err, loc->lob, &amount, 0xFFFFFFFFu, data, 3, OCI_ONE_PIECE, nullptr, nullptr,
                          0, SQLCS_IMPLICIT),
              OCI_ERROR);
    EXPECT_EQ(c.error(), "ORA-22925: operation would exceed maximum size allowed for a LOB value");
  }
  EXPECT_EQ(clob.length(), 3u);
  EXPECT_EQ(blob.length(), 0u);

  // One character past the limit is refused, however it is reached.
  ub4 amount = 1;
  EXPECT_EQ(OCILobWrite(c.svc, c.err, clob.lob, &amount, kLimit + 1, data, 1, OCI_ONE_PIECE, nullptr, nullptr, 0,
                        SQLCS_IMPLICIT),
            OCI_ERROR);
  amount = 2;
  EXPECT_EQ(OCILobWrite(c.svc, c.err, clob.lob, &amount, kLimit, data, 2, OCI_ONE_PIECE, nullptr, nullptr, 0,
                        SQLCS_IMPLICIT),
            OCI_ERROR);
  EXPECT_EQ(c.error(), "ORA-22925: operation would exceed maximum size allowed for a LOB value");
  EXPECT_EQ(clob.length(), 3u);

  // Below it, a gap of a megabyte is filled with blanks and zero bytes.
  constexpr ub4 kFar = 1024 * 1024;
  amount = 1;
  ASSERT_EQ(OCILobWrite(c.svc, c.err, clob.lob, &amount, kFar, data, 1, OCI_ONE_PIECE, nullptr, nullptr, 0,
                        SQLCS_IMPLICIT),
            OCI_SUCCESS)
      << c.error();
  EXPECT_EQ(clob.length(), kFar);
  EXPECT_EQ(clob.read(1, 5, true), "abc  ");
  EXPECT_EQ(clob.read(kFar - 1, 2, true), " x");
  amount = 1;
  ASSERT_EQ(OCILobWrite(c.svc, c.err, blob.lob, &amount, kFar, data + 1, 1, OCI_ONE_PIECE, nullptr, nullptr, 0,
                        SQLCS_IMPLICIT),
            OCI_SUCCESS)
      << c.error();
  EXPECT_EQ(blob.length(), kFar);
  EXPECT_EQ(blob.read(kFar - 2, 3), std::string("\0\0y", 3));
  ASSERT_EQ(OCITransRollback(c.svc, c.err, OCI_DEFAULT), OCI_SUCCESS);
}

TEST_F(LobTest, ReadsWritesAndTrimsStopExactlyAtTheLastCharacter) {
  Connection c;
  c.open();
  Statement s(c);
  ASSERT_EQ(s.run("create table t (id number, c clob, b blob)"), OCI_SUCCESS);
  // Five characters in seven bytes, three bytes.
  ASSERT_EQ(s.prepare("insert into t values (1, 'Gr\xc3\xbc\xc3\x9f" "e', :b)"), OCI_SUCCESS);
  char bytes[] = "\x0a\x0b\x0c";
  OCIBind* bind = nullptr;
  ASSERT_EQ(OCIBindByName(s.stmt, &bind, c.err, reinterpret_cast<const text*>(":b"), 2, bytes, 3, SQLT_BIN, nullptr,
                          nullptr, nullptr, 0, nullptr, OCI_DEFAULT),
            OCI_SUCCESS);
  ASSERT_EQ(s.execute(1, OCI_COMMIT_ON_SUCCESS), OCI_SUCCESS) << c.error();
  Locator clob(c), blob(c);
  sb2 ind = 0;
  ASSERT_EQ(fetchLob(s, "select c from t where id = 1 for update", clob, SQLT_CLOB, &ind), OCI_SUCCESS)
      << c.error();
  Statement s2(c);
  ASSERT_EQ(fetchLob(s2, "select b from t where id = 1 for update", blob, SQLT_BLOB, &ind), OCI_SUCCESS)
      << c.error();
  ASSERT_EQ(clob.length(), 5u);
  ASSERT_EQ(blob.length(), 3u);

  // The last character can be read; one past it there is nothing.
  EXPECT_EQ(clob.read(5, 1, true), "e");
  EXPECT_EQ(clob.read(4, 5, true), "\xc3\x9f" "e");
  EXPECT_EQ(blob.read(3, 1), "\x0c");
  for (Locator* loc : {&clob, &blob}) {
    ub4 amount = 1;
    char buf[8] = {};
    EXPECT_EQ(OCILobRead(c.svc, c.err, loc->lob, &amount, loc->length() + 1, buf, sizeof buf, nullptr, nullptr, 0,
                         SQLCS_IMPLICIT),
              OCI_NO_DATA);
    EXPECT_EQ(amount, 0u);
    amount = 1;
    EXPECT_EQ(OCILobRead(c.svc, c.err, loc->lob, &amount, 0, buf, sizeof buf, nullptr, nullptr, 0, SQLCS_IMPLICIT),
              OCI_ERROR);
    EXPECT_EQ(c.error(), "ORA-21560: argument 5 is null, invalid, or out of range");
  }
  // An amount of 0 reads to the end; a buffer too small for a whole character reads none of it.
  ub4 amount = 0;
  char buf[8] = {};
  ASSERT_EQ(OCILobRead(c.svc, c.err, clob.lob, &amount, 2, buf, sizeof buf, nullptr, nullptr, 0, SQLCS_IMPLICIT),
            OCI_SUCCESS);
  EXPECT_EQ(amount, 4u);
  EXPECT_EQ(std::string(buf), "r\xc3\xbc\xc3\x9f" "e");
  amount = 2;
  std::memset(buf, 0, sizeof buf);
  ASSERT_EQ(OCILobRead(c.svc, c.err, clob.lob, &amount, 3, buf, 3, nullptr, nullptr, 0, SQLCS_IMPLICIT), OCI_SUCCESS);
  EXPECT_EQ(amount, 1u);
  EXPECT_EQ(std::string(buf), "\xc3\xbc");

  // Writing at the last character replaces it; right after it appends without a gap.
  char x[] = "xy";
  amount = 1;
  ASSERT_EQ(OCILobWrite(c.svc, c.err, clob.lob, &amount, 5, x, 1, OCI_ONE_PIECE, nullptr, nullptr, 0, SQLCS_IMPLICIT),
            OCI_SUCCESS)
      << c.error();
  amount = 1;
  ASSERT_EQ(OCILobWrite(c.svc, c.err, clob.lob, &amount, 6, x + 1, 1, OCI_ONE_PIECE, nullptr, nullptr, 0,
                        SQLCS_IMPLICIT),
            OCI_SUCCESS)
      << c.error();
  EXPECT_EQ(clob.length(), 6u);
  EXPECT_EQ(clob.read(1, 6, true), "Gr\xc3\xbc\xc3\x9fxy");
  // Writing over a two-byte character with a one-byte one keeps the rest in place.
  amount = 1;
  ASSERT_EQ(OCILobWrite(c.svc, c.err, clob.lob, &amount, 3, x, 1, OCI_ONE_PIECE, nullptr, nullptr, 0, SQLCS_IMPLICIT),
            OCI_SUCCESS);
  EXPECT_EQ(clob.read(1, 6, true), "Grx\xc3\x9fxy");

  // Trimming to the length it has changes nothing; one more is refused.
  EXPECT_EQ(OCILobTrim(c.svc, c.err, clob.lob, 6), OCI_SUCCESS) << c.error();
  EXPECT_EQ(OCILobTrim(c.svc, c.err, clob.lob, 7), OCI_ERROR);
  EXPECT_EQ(c.error(), "ORA-22926: specified trim length is greater than current LOB value's length");
  EXPECT_EQ(OCILobTrim(c.svc, c.err, clob.lob, 4), OCI_SUCCESS) << c.error();
  EXPECT_EQ(OCILobTrim(c.svc, c.err, blob.lob, 3), OCI_SUCCESS) << c.error();
  EXPECT_EQ(OCILobTrim(c.svc, c.err, blob.lob, 4), OCI_ERROR);
  EXPECT_EQ(OCILobTrim(c.svc, c.err, blob.lob, 1), OCI_SUCCESS) << c.error();
  ASSERT_EQ(OCITransCommit(c.svc, c.err, OCI_DEFAULT), OCI_SUCCESS);
  EXPECT_EQ(query(c, "select c, b, length(c) from t"), (std::vector<std::vector<std::string>>{{"Grx\xc3\x9f", "0A", "4"}}));
}
