// Preparing, describing and executing statements; transactions.
#include "oci_fixture.h"

#include "ocisim/ocisim_controls.h"

using namespace ocisim_test;

using StatementTest = OciSimTest;

namespace {

ub2 statementType(Connection& c, const std::string& sql) {
  Statement s(c);
  EXPECT_EQ(s.prepare(sql), OCI_SUCCESS);
  ub2 type = 0;
  EXPECT_EQ(OCIAttrGet(s.stmt, OCI_HTYPE_STMT, &type, nullptr, OCI_ATTR_STMT_TYPE, c.err), OCI_SUCCESS);
  return type;
}

struct Column {
  std::string name;
  ub2 type = 0, size = 0;
  sb2 precision = 0;
  sb1 scale = 0;
  ub1 nullable = 0;
};

std::vector<Column> describe(Statement& s) {
  ub4 count = 0;
  EXPECT_EQ(OCIAttrGet(s.stmt, OCI_HTYPE_STMT, &count, nullptr, OCI_ATTR_PARAM_COUNT, s.conn.err), OCI_SUCCESS);
  std::vector<Column> columns;
  for (ub4 p = 1; p <= count; ++p) {
    void* param = nullptr;
    EXPECT_EQ(OCIParamGet(s.stmt, OCI_HTYPE_STMT, s.conn.err, &param, p), OCI_SUCCESS);
    Column c;
    text* name = nullptr;
    ub4 length = 0;
    OCIAttrGet(param, OCI_DTYPE_PARAM, &c.type, nullptr, OCI_ATTR_DATA_TYPE, s.conn.err);
    OCIAttrGet(param, OCI_DTYPE_PARAM, &name, &length, OCI_ATTR_NAME, s.conn.err);
    OCIAttrGet(param, OCI_DTYPE_PARAM, &c.size, nullptr, OCI_ATTR_DATA_SIZE, s.conn.err);
    OCIAttrGet(param, OCI_DTYPE_PARAM, &c.precision, nullptr, OCI_ATTR_PRECISION, s.conn.err);
    OCIAttrGet(param, OCI_DTYPE_PARAM, &c.scale, nullptr, OCI_ATTR_SCALE, s.conn.err);
    OCIAttrGet(param, OCI_DTYPE_PARAM, &c.nullable, nullptr, OCI_ATTR_IS_NULL, s.conn.err);
    c.name.assign(reinterpret_cast<char*>(name), length);
    columns.push_back(c);
  }
  return columns;
}

}  // namespace

TEST_F(StatementTest, TheStatementTypeComesFromTheFirstKeyword) {
  Connection c;
  c.open();
  EXPECT_EQ(statementType(c, "  select * from dual"), OCI_STMT_SELECT);
  EXPECT_EQ(statementType(c, "/* why */ UPDATE t set a = 1"), OCI_STMT_UPDATE);
  EXPECT_EQ(statementType(c, "delete from t"), OCI_STMT_DELETE);
  EXPECT_EQ(statementType(c, "insert into t values (1)"), OCI_STMT_INSERT);
  EXPECT_EQ(statementType(c, "create table t (a number)"), OCI_STMT_CREATE);
  EXPECT_EQ(statementType(c, "drop table t"), OCI_STMT_DROP);
  EXPECT_EQ(statementType(c, "alter system kill session'12,345'"), OCI_STMT_ALTER);
  EXPECT_EQ(statementType(c, "-- note\nbegin null; end;"), OCI_STMT_BEGIN);
  EXPECT_EQ(statementType(c, "declare x number; begin null; end;"), OCI_STMT_DECLARE);
  EXPECT_EQ(statementType(c, "explain plan for select 1 from dual"), 0);
}

TEST_F(StatementTest, AnEmptyTextCannotBePreparedAndAnUnpreparedStatementNotRun) {
  Connection c;
  c.open();
  Statement s(c);
  EXPECT_EQ(s.prepare(""), OCI_ERROR);
  EXPECT_EQ(c.error(), "ORA-24373: invalid length specified for statement");
  EXPECT_EQ(s.execute(), OCI_ERROR);
  EXPECT_EQ(c.error(), "ORA-24337: statement handle not prepared");
}

TEST_F(StatementTest, DescribeReportsOracleTypesOfDeclaredColumns) {
  Connection c;
  c.open();
  Statement s(c);
  ASSERT_EQ(s.run("create table kinds (n5 number(5) not null, n10 number(10), n82 number(8,2), n number,"
                  " v30 varchar2(30), d date, r raw(16), rid rowid, l long, cl clob, ch char(3),"
                  " bl blob, neg number(5,-2))"),
            OCI_SUCCESS)
      << s.error();
  ASSERT_EQ(s.prepare("select * from kinds"), OCI_SUCCESS);
  ASSERT_EQ(s.execute(1, OCI_DESCRIBE_ONLY), OCI_SUCCESS) << s.error();
  const auto cols = describe(s);
  ASSERT_EQ(cols.size(), 13u);
  const auto expect = [&](size_t i, const char* name, ub2 type, ub2 size, sb2 precision, sb1 scale) {
    SCOPED_TRACE(name);
    EXPECT_EQ(cols[i].name, name);
    EXPECT_EQ(cols[i].type, type);
    EXPECT_EQ(cols[i].size, size);
    EXPECT_EQ(cols[i].precision, precision);
    EXPECT_EQ(cols[i].scale, scale);
  };
  expect(0, "N5", 2, 22, 5, 0);
  expect(1, "N10", 2, 22, 10, 0);
  expect(2, "N82", 2, 22, 8, 2);
  expect(3, "N", 2, 22, 0, 0);
  expect(4, "V30", 1, 30, 0, 0);
  expect(5, "D", 12, 7, 0, 0);
  expect(6, "R", 23, 16, 0, 0);
  expect(7, "RID", 11, 18, 0, 0);
  expect(8, "L", 8, 0, 0, 0);
  expect(9, "CL", 112, 4000, 0, 0);
  expect(10, "CH", 96, 3, 0, 0);
  expect(11, "BL", 113, 4000, 0, 0);
  expect(12, "NEG", 2, 22, 5, -2);
  EXPECT_EQ(cols[0].nullable, 0);
  EXPECT_EQ(cols[1].nullable, 1);
}

TEST_F(StatementTest, NumbersWithoutPrecisionCanBeDescribedAsCurrentServersDo) {
  Connection c;
  c.open();
  Statement s(c);
  ASSERT_EQ(s.run("create table plain (n number, n5 number(5), f float)"), OCI_SUCCESS) << s.error();
  const auto scales = [&] {
    EXPECT_EQ(s.prepare("select n, n5, f, count(*), userenv('sessionid') from plain"), OCI_SUCCESS);
    EXPECT_EQ(s.execute(1, OCI_DESCRIBE_ONLY), OCI_SUCCESS) << s.error();
    std::vector<int> found;
    for (const Column& col : describe(s)) found.push_back(col.precision * 1000 + col.scale);
    return found;
  };
  EXPECT_EQ(scales(), (std::vector<int>{0, 5000, 126000 - 127, 0, 0}));
  ASSERT_EQ(ocisim_set_number_describe(OCISIM_NUMBER_DESCRIBE_CURRENT), OCISIM_NUMBER_DESCRIBE_OLD);
  EXPECT_EQ(scales(), (std::vector<int>{-127, 5000, 126000 - 127, -127, -127}));
  EXPECT_EQ(ocisim_set_number_describe(7), -1);
  EXPECT_EQ(ocisim_set_number_describe(OCISIM_NUMBER_DESCRIBE_OLD), OCISIM_NUMBER_DESCRIBE_CURRENT);
  EXPECT_EQ(scales(), (std::vector<int>{0, 5000, 126000 - 127, 0, 0}));
}

TEST_F(StatementTest, ColumnNamesAreUpperCasedAliasesHonouredExpressionsNamedByTheirText) {
  Connection c;
  c.open();
  Statement s(c);
  ASSERT_EQ(s.run("select dummy, dummy d2, dummy as \"Mixed\", 1 + 1, userenv('sessionid') ssid,"
                  " sysdate, 'x' || dummy from dual"),
            OCI_SUCCESS)
      << s.error();
  const auto cols = describe(s);
  ASSERT_EQ(cols.size(), 7u);
  EXPECT_EQ(cols[0].name, "DUMMY");
  EXPECT_EQ(cols[1].name, "D2");
  EXPECT_EQ(cols[2].name, "Mixed");
  EXPECT_EQ(cols[3].name, "1+1");
  EXPECT_EQ(cols[3].type, 2);
  EXPECT_EQ(cols[4].name, "SSID");
  EXPECT_EQ(cols[4].type, 2);
  EXPECT_EQ(cols[5].name, "SYSDATE");
  EXPECT_EQ(cols[5].type, 12);
  EXPECT_EQ(cols[6].name, "'X'||DUMMY");
  EXPECT_EQ(cols[6].type, 1);
}

TEST_F(StatementTest, AnExpressionIsDescribedByWhatItGives) {
  Connection c;
  c.open();
  // expression -> the Oracle type a describe reports, before any row is fetched
  const std::pair<const char*, ub2> cases[] = {
      {"sysdate", 12},        {"last_day(sysdate)", 12},       {"add_months(sysdate, 1)", 12},
      {"to_date('01-JAN-01')", 12}, {"count(*)", 2},          {"length(dummy)", 2},
      {"1 + 1", 2},           {"'x' || dummy", 1},             {"to_char(sysdate)", 1},
      {"nvl(dummy, 'y')", 1}, {"dummy", 1},
  };
  for (const auto& [expression, type] : cases) {
    Statement s(c);
    ASSERT_EQ(s.prepare(std::string("select ") + expression + " from dual"), OCI_SUCCESS);
    ASSERT_EQ(s.execute(0, OCI_DESCRIBE_ONLY), OCI_SUCCESS) << expression << ": " << c.error();
    const auto cols = describe(s);
    ASSERT_EQ(cols.size(), 1u) << expression;
    EXPECT_EQ(cols[0].type, type) << expression;
  }
}

TEST_F(StatementTest, DescribeOnlyParsesWithoutRunningOrRecording) {
  Connection c;
  c.open("system", "manager");
  Statement s(c);
  ASSERT_EQ(s.run("create table t (a number)"), OCI_SUCCESS);
  ASSERT_EQ(s.prepare("insert into t values (1)"), OCI_SUCCESS);
  ASSERT_EQ(s.execute(1, OCI_DESCRIBE_ONLY), OCI_SUCCESS) << s.error();
  EXPECT_EQ(query(c, "select count(*) from t"), (std::vector<std::vector<std::string>>{{"0"}}));
  ASSERT_EQ(s.prepare("select a from t where a = 42"), OCI_SUCCESS);
  ASSERT_EQ(s.execute(1, OCI_DESCRIBE_ONLY), OCI_SUCCESS);
  EXPECT_TRUE(query(c, "select 1 from v$sql where sql_text = 'select a from t where a = 42'").empty());
  // Fetching needs a real execution.
  EXPECT_EQ(OCIStmtFetch(s.stmt, c.err, 1, OCI_FETCH_NEXT, OCI_DEFAULT), OCI_ERROR);
  EXPECT_EQ(c.error(), "ORA-24338: statement handle not executed");
}

TEST_F(StatementTest, EachEntryPointCallIsCounted) {
  Connection c;
  c.open();
  ocisim_reset_counts();
  query(c, "select dummy from dual");
  EXPECT_EQ(ocisim_call_count("OCIStmtPrepare"), 1);
  EXPECT_EQ(ocisim_call_count("OCIStmtExecute"), 1);
  EXPECT_EQ(ocisim_call_count("OCIDefineByPos"), 1);
  EXPECT_EQ(ocisim_call_count("OCIStmtFetch"), 2);  // one row, then the end
}

TEST_F(StatementTest, AnArmedFailureStopsTheExecuteBeforeItRuns) {
  Connection c;
  c.open();
  Statement s(c);
  ASSERT_EQ(s.run("create table t (a number)"), OCI_SUCCESS);
  ASSERT_EQ(s.prepare("insert into t values (1)"), OCI_SUCCESS);
  ocisim_fail_next("OCIStmtExecute", 3113);
  EXPECT_EQ(s.execute(1), OCI_ERROR);
  EXPECT_EQ(c.error(), "ORA-03113: end-of-file on communication channel");
  EXPECT_EQ(query(c, "select count(*) from t")[0][0], "0");
}

TEST_F(StatementTest, UncommittedChangesAreSeenOnlyByTheirSessionUntilCommit) {
  Connection a, b;
  a.open();
  b.open();
  Statement s(a);
  ASSERT_EQ(s.run("create table t (a number)"), OCI_SUCCESS);
  ASSERT_EQ(s.run("insert into t values (1)"), OCI_SUCCESS) << s.error();
  EXPECT_EQ(s.rowCount(), 1u);
  EXPECT_EQ(query(a, "select count(*) from t")[0][0], "1");
  EXPECT_EQ(query(b, "select count(*) from t")[0][0], "0");
  ASSERT_EQ(OCITransCommit(a.svc, a.err, OCI_DEFAULT), OCI_SUCCESS);
  EXPECT_EQ(query(b, "select count(*) from t")[0][0], "1");

  ASSERT_EQ(s.run("delete from t"), OCI_SUCCESS);
  ASSERT_EQ(OCITransRollback(a.svc, a.err, OCI_DEFAULT), OCI_SUCCESS);
  EXPECT_EQ(query(a, "select count(*) from t")[0][0], "1");

  ASSERT_EQ(s.run("insert into t values (2)", OCI_COMMIT_ON_SUCCESS), OCI_SUCCESS);
  EXPECT_EQ(query(b, "select count(*) from t")[0][0], "2");
  // A query run with commit-on-success commits what the session had pending.
  ASSERT_EQ(s.run("insert into t values (3)"), OCI_SUCCESS);
  ASSERT_EQ(s.run("select count(*) from t", OCI_COMMIT_ON_SUCCESS), OCI_SUCCESS);
  EXPECT_EQ(query(b, "select count(*) from t")[0][0], "3");
}

TEST_F(StatementTest, LoggingOffRollsBackWhatWasNotCommitted) {
  Connection a;
  a.open();
  Statement s(a);
  ASSERT_EQ(s.run("create table t (a number)"), OCI_SUCCESS);
  ASSERT_EQ(s.run("insert into t values (1)"), OCI_SUCCESS);
  ASSERT_EQ(a.logoff(), OCI_SUCCESS);
  Connection b;
  b.open();
  EXPECT_EQ(query(b, "select count(*) from t")[0][0], "0");
  // The ended session's statement no longer runs.
  EXPECT_EQ(s.execute(1), OCI_ERROR);
  EXPECT_EQ(a.error(), "ORA-01012: not logged on");
}

TEST_F(StatementTest, ChangesOfAnotherSessionWaitForItsCommitAndThenFail) {
  setenv("OCISIM_LOCK_WAIT_MS", "200", 1);
  Connection a, b;
  a.open();
  b.open();
  Statement sa(a), sb(b);
  ASSERT_EQ(sa.run("create table t (a number)"), OCI_SUCCESS);
  ASSERT_EQ(sa.run("insert into t values (1)"), OCI_SUCCESS);
  EXPECT_EQ(sb.run("insert into t values (2)"), OCI_ERROR);
  EXPECT_EQ(b.error(), "ORA-00054: resource busy and acquire with NOWAIT specified");
  ASSERT_EQ(OCITransCommit(a.svc, a.err, OCI_DEFAULT), OCI_SUCCESS);
  EXPECT_EQ(sb.run("insert into t values (2)", OCI_COMMIT_ON_SUCCESS), OCI_SUCCESS) << b.error();
}

TEST_F(StatementTest, DdlCommitsAndConstraintErrorsUndoOnlyTheFailingStatement) {
  Connection a;
  a.open();
  Statement s(a);
  ASSERT_EQ(s.run("create table t (a number primary key, b varchar2(10) not null)"), OCI_SUCCESS);
  ASSERT_EQ(s.run("insert into t values (1, 'one')"), OCI_SUCCESS);
  EXPECT_EQ(s.run("insert into t values (1, 'again')"), OCI_ERROR);
  EXPECT_EQ(a.error(), "ORA-00001: unique constraint (SCOTT.T.A) violated");
  EXPECT_EQ(s.run("insert into t values (2, null)"), OCI_ERROR);
  EXPECT_EQ(a.error(), "ORA-01400: cannot insert NULL into (\"T\".\"B\")");
  EXPECT_EQ(s.run("create table u (x number)"), OCI_SUCCESS);  // commits the first row
  ASSERT_EQ(OCITransRollback(a.svc, a.err, OCI_DEFAULT), OCI_SUCCESS);
  EXPECT_EQ(query(a, "select a, b from t"), (std::vector<std::vector<std::string>>{{"1", "one"}}));
  EXPECT_EQ(s.run("create table t (z number)"), OCI_ERROR);
  EXPECT_EQ(a.error(), "ORA-00955: name is already used by an existing object");
}

TEST_F(StatementTest, UsersWithoutCreateTableCannotCreateTables) {
  Connection c;
  c.open("monitor", "monitor");
  Statement s(c);
  EXPECT_EQ(s.run("create table t (a number)"), OCI_ERROR);
  EXPECT_EQ(c.error(), "ORA-01031: insufficient privileges");
}
