// Binding by name: input values, arrays, and output of PL/SQL blocks.
#include "oci_fixture.h"

#include <cstring>

using namespace ocisim_test;

using BindTest = OciSimTest;

namespace {

sword bind(Statement& s, const char* name, void* value, sb4 size, ub2 type, sb2* ind = nullptr,
           ub2* alen = nullptr, OCIBind** out = nullptr) {
  OCIBind* b = nullptr;
  const sword rc = OCIBindByName(s.stmt, &b, s.conn.err, reinterpret_cast<const text*>(name),
                                 static_cast<sb4>(std::strlen(name)), value, size, type, ind, alen, nullptr,
                                 0, nullptr, OCI_DEFAULT);
  if (out) *out = b;
  return rc;
}

}  // namespace

TEST_F(BindTest, InputValuesAreReadByNameAtExecution) {
  Connection c;
  c.open();
  Statement s(c);
  ASSERT_EQ(s.run("create table t (n number, v varchar2(20), f number)"), OCI_SUCCESS);
  ASSERT_EQ(s.prepare("insert into t values (:N, :v, :Val)"), OCI_SUCCESS);
  int n = 0;
  char v[20] = {};
  double f = 0;
  sb2 vind = 0;
  // With or without the colon, in any letter case.
  ASSERT_EQ(bind(s, ":n", &n, 4, SQLT_INT), OCI_SUCCESS);
  ASSERT_EQ(bind(s, "V", v, sizeof v, SQLT_STR, &vind), OCI_SUCCESS);
  ASSERT_EQ(bind(s, ":val", &f, 8, SQLT_FLT), OCI_SUCCESS);
  n = 7;
  std::strcpy(v, "seven");
  f = 0.5;
  ASSERT_EQ(s.execute(1), OCI_SUCCESS) << c.error();
  n = 8;
  vind = -1;  // NULL
  f = 2;
  ASSERT_EQ(s.execute(1), OCI_SUCCESS) << c.error();
  EXPECT_EQ(query(c, "select n, v, f from t order by n"),
            (std::vector<std::vector<std::string>>{{"7", "seven", ".5"}, {"8", "<null>", "2"}}));
}

TEST_F(BindTest, AnArrayBindInsertsOneRowPerIterationAndStopsAtAFailingRow) {
  Connection c;
  c.open();
  Statement s(c);
  ASSERT_EQ(s.run("create table t (id number primary key, name varchar2(8))"), OCI_SUCCESS);
  ASSERT_EQ(s.prepare("insert into t values (:id, :name)"), OCI_SUCCESS);
  struct Row {
    int id;
    char name[8];
  } rows[4] = {{1, "one"}, {2, "two"}, {2, "dup"}, {4, "four"}};
  sb2 ind[4] = {0, 0, 0, 0};
  OCIBind *id = nullptr, *name = nullptr;
  ASSERT_EQ(bind(s, ":id", &rows[0].id, 4, SQLT_INT, nullptr, nullptr, &id), OCI_SUCCESS);
  ASSERT_EQ(bind(s, ":name", rows[0].name, 8, SQLT_STR, ind, nullptr, &name), OCI_SUCCESS);
  ASSERT_EQ(OCIBindArrayOfStruct(id, c.err, sizeof(Row), 0, 0, 0), OCI_SUCCESS);
  ASSERT_EQ(OCIBindArrayOfStruct(name, c.err, sizeof(Row), sizeof(sb2), 0, 0), OCI_SUCCESS);
  EXPECT_EQ(s.execute(4), OCI_ERROR);
  EXPECT_EQ(c.error(), "ORA-00001: unique constraint (SCOTT.T.ID) violated");
  EXPECT_EQ(s.rowCount(), 2u);
  EXPECT_EQ(query(c, "select id, name from t order by id"),
            (std::vector<std::vector<std::string>>{{"1", "one"}, {"2", "two"}}));
}

TEST_F(BindTest, MissingAndUnknownPlaceholdersAreRefused) {
  Connection c;
  c.open();
  Statement s(c);
  ASSERT_EQ(s.prepare("select dummy from dual where dummy = :a and :b is null"), OCI_SUCCESS);
  char a[2] = "X";
  EXPECT_EQ(bind(s, ":nosuch", a, 2, SQLT_STR), OCI_ERROR);
  EXPECT_EQ(c.error(), "ORA-01036: illegal variable name/number");
  ASSERT_EQ(bind(s, ":a", a, 2, SQLT_STR), OCI_SUCCESS);
  EXPECT_EQ(s.execute(), OCI_ERROR);
  EXPECT_EQ(c.error(), "ORA-01008: not all variables bound");
  EXPECT_EQ(s.errorOffset(), 44);
}

TEST_F(BindTest, AnEmptyStringIsNull) {
  Connection c;
  c.open();
  Statement s(c);
  ASSERT_EQ(s.prepare("select count(*) from dual where :v is null"), OCI_SUCCESS);
  char v[4] = "";
  ASSERT_EQ(bind(s, ":v", v, sizeof v, SQLT_STR), OCI_SUCCESS);
  ASSERT_EQ(s.execute(), OCI_SUCCESS);
  EXPECT_EQ(s.fetchAll()[0][0], "1");
}

TEST_F(BindTest, APlsqlBlockAssignsOutputAndInOutVariables) {
  Connection c;
  c.open();
  Statement s(c);
  ASSERT_EQ(s.prepare("begin :x := :y + 1; :s := upper(:s); null; end;"), OCI_SUCCESS);
  int x = 0, y = 41;
  char str[16] = "hello";
  sb2 xind = -1, sind = 0;
  ub2 slen = 0;
  ASSERT_EQ(bind(s, ":x", &x, 4, SQLT_INT, &xind), OCI_SUCCESS);
  ASSERT_EQ(bind(s, ":y", &y, 4, SQLT_INT), OCI_SUCCESS);
  ASSERT_EQ(bind(s, ":s", str, sizeof str, SQLT_STR, &sind, &slen), OCI_SUCCESS);
  ASSERT_EQ(s.execute(1), OCI_SUCCESS) << c.error();
  EXPECT_EQ(x, 42);
  EXPECT_EQ(xind, 0);
  EXPECT_STREQ(str, "HELLO");
  EXPECT_EQ(slen, 5);
}

TEST_F(BindTest, APlsqlOutputThatDoesNotFitIsAnError) {
  Connection c;
  c.open();
  Statement s(c);
  ASSERT_EQ(s.prepare("begin :n := 'abc'; end;"), OCI_SUCCESS);
  int n = 0;
  sb2 ind = 0;
  ASSERT_EQ(bind(s, ":n", &n, 4, SQLT_INT, &ind), OCI_SUCCESS);
  EXPECT_EQ(s.execute(1), OCI_ERROR);
  EXPECT_EQ(c.error(), "ORA-06502: PL/SQL: numeric or value error: character to number conversion error");
  ASSERT_EQ(s.prepare("begin :n := 1 end;"), OCI_SUCCESS);
  EXPECT_EQ(s.execute(1), OCI_ERROR);
  EXPECT_EQ(c.error(), "ORA-06550: line 1, column 1:\nPLS-00103: syntax error");
  EXPECT_EQ(s.errorOffset(), 14);
}

TEST_F(BindTest, AnArrayBindOfPlainArraysTakesEachElementWithItsOwnLengthAndIndicator) {
  Connection c;
  c.open();
  Statement s(c);
  ASSERT_EQ(s.run("create table t (id number, name varchar2(8))"), OCI_SUCCESS);
  ASSERT_EQ(s.prepare("insert into t values (:id, :name)"), OCI_SUCCESS);
  // Without OCIBindArrayOfStruct an element is as long as the bind's value size.
  int ids[4] = {1, 2, 3, 4};
  char names[4][6] = {"alpha", "be", "gam", "delta"};
  ub2 lengths[4] = {5, 2, 1, 5};  // the third is cut to its first character by its length
  sb2 ind[4] = {0, 0, 0, -1};     // the fourth is NULL
  OCIBind *id = nullptr, *name = nullptr;
  ASSERT_EQ(OCIBindByName(s.stmt, &id, c.err, reinterpret_cast<const text*>(":id"), 3, ids, 4, SQLT_INT, nullptr,
                          nullptr, nullptr, 0, nullptr, OCI_DEFAULT),
            OCI_SUCCESS);
  ASSERT_EQ(OCIBindByName(s.stmt, &name, c.err, reinterpret_cast<const text*>(":name"), 5, names, 6, SQLT_CHR,
                          ind, lengths, nullptr, 0, nullptr, OCI_DEFAULT),
            OCI_SUCCESS);
  ASSERT_EQ(s.execute(4), OCI_SUCCESS) << c.error();
  EXPECT_EQ(s.rowCount(), 4u);
  EXPECT_EQ(query(c, "select id, name from t order by id"),
            (std::vector<std::vector<std::string>>{{"1", "alpha"}, {"2", "be"}, {"3", "g"}, {"4", "<null>"}}));
  // An update run for several elements counts every row it changed.
  ASSERT_EQ(s.prepare("update t set name = 'x' where id >= :lo"), OCI_SUCCESS);
  int lows[2] = {3, 1};
  ASSERT_EQ(OCIBindByName(s.stmt, &id, c.err, reinterpret_cast<const text*>(":lo"), 3, lows, 4, SQLT_INT, nullptr,
                          nullptr, nullptr, 0, nullptr, OCI_DEFAULT),
            OCI_SUCCESS);
  ASSERT_EQ(s.execute(2), OCI_SUCCESS) << c.error();
  EXPECT_EQ(s.rowCount(), 6u);
  EXPECT_EQ(s.execute(0), OCI_ERROR);
  EXPECT_EQ(c.error(), "ORA-24333: zero iteration count");
}

TEST_F(BindTest, APlsqlOutputTooLongForItsBufferIsCutAndMarked) {
  Connection c;
  c.open();
  Statement s(c);
  ASSERT_EQ(s.prepare("begin :s := 'abcdefghij'; :t := 'ok'; :n := null; end;"), OCI_SUCCESS);
  char str[5], ok[5], none[5] = "keep";
  std::memset(str, '#', sizeof str);
  sb2 sind = 9, tind = 9, nind = 9;
  ub2 slen = 99, tlen = 99, nlen = 99, scode = 99;
  OCIBind* b = nullptr;
  ASSERT_EQ(OCIBindByName(s.stmt, &b, c.err, reinterpret_cast<const text*>(":s"), 2, str, sizeof str, SQLT_STR,
                          &sind, &slen, &scode, 0, nullptr, OCI_DEFAULT),
            OCI_SUCCESS);
  ASSERT_EQ(bind(s, ":t", ok, sizeof ok, SQLT_STR, &tind, &tlen), OCI_SUCCESS);
  ASSERT_EQ(bind(s, ":n", none, sizeof none, SQLT_STR, &nind, &nlen), OCI_SUCCESS);
  ASSERT_EQ(s.execute(1), OCI_SUCCESS_WITH_INFO) << c.error();
  EXPECT_EQ(c.error(), "ORA-01406: fetched column value was truncated");
  EXPECT_EQ(std::string(str, sizeof str), std::string("abcd\0", 5));
  EXPECT_EQ(sind, 10);
  EXPECT_EQ(slen, 4);
  EXPECT_EQ(scode, 1406);
  EXPECT_STREQ(ok, "ok");
  EXPECT_EQ(tind, 0);
  EXPECT_EQ(tlen, 2);
  EXPECT_EQ(nind, -1);
  EXPECT_EQ(nlen, 0);
}
