// What a statement may ask of the engine: the functions of the dialect and a
// bounded time.
#include "oci_fixture.h"

#include "ocisim/ocisim_controls.h"

using namespace ocisim_test;

namespace {

using Rows = std::vector<std::vector<std::string>>;

class EngineTest : public OciSimTest {
 protected:
  void TearDown() override {
    ocisim_set_statement_time_limit(0);
    OciSimTest::TearDown();
  }
};

std::string failure(Connection& c, const std::string& sql) {
  Statement s(c);
  if (s.run(sql) == OCI_SUCCESS) return "";
  return c.error();
}

// A statement that never ends on its own.
const std::string kEndless =
    "with r(n) as (select 1 from dual union all select n + 1 from r) select count(*) from r";

}  // namespace

TEST_F(EngineTest, FunctionsOutsideTheDialectAreUnknown) {
  Connection scott, system;
  scott.open();
  system.open("system", "manager");
  for (Connection* c : {&scott, &system}) {
    Statement s(*c);
    EXPECT_EQ(s.run("select fts3_tokenizer('simple') from dual"), OCI_ERROR);
    EXPECT_EQ(c->error(), "ORA-00904: invalid column name");
    EXPECT_EQ(s.errorOffset(), 7);
    for (const char* sql : {"select load_extension('libc.so.6') from dual", "select zeroblob(10) from dual",
                            "select randomblob(4) from dual", "select printf('%s', dummy) from dual",
                            "select sqlite_version() from dual", "select typeof(dummy) from dual",
                            "select json_array(1) from dual", "select date('now') from dual",
                            "select 1 from dual where hex(dummy) = '58'",
                            "select count(*) from dual group by unicode(dummy)"})
      EXPECT_EQ(failure(*c, sql), "ORA-00904: invalid column name") << sql;
    // The engine's table-valued functions are no tables of any schema.
    for (const char* sql : {"select count(*) from dbstat", "select * from json_each('[1]')",
                            "select * from pragma_table_info('t')"})
      EXPECT_NE(failure(*c, sql), "") << sql;
  }
  // The dialect's own functions, Oracle's and the engine's, are there.
  EXPECT_EQ(query(scott, "select nvl(null, 'a'), upper(dummy), length('abc'), substr('abc', 2),"
                         " round(2.5), count(*), max(dummy) from dual where dummy like 'X%'"),
            (Rows{{"a", "X", "3", "bc", "3", "1", "X"}}));
}

TEST_F(EngineTest, ARunawayQueryIsCancelledAndTheSessionGoesOn) {
  ocisim_set_statement_time_limit(200);
  Connection c, other;
  c.open();
  other.open();
  Statement s(c);
  ASSERT_EQ(s.run("create table t (a number)"), OCI_SUCCESS) << c.error();
  ASSERT_EQ(s.run("insert into t values (1)"), OCI_SUCCESS) << c.error();
  EXPECT_EQ(s.run(kEndless), OCI_ERROR);
  EXPECT_EQ(c.error(), "ORA-01013: user requested cancel of current operation");
  // The cancelled query took nothing of the transaction with it.
  EXPECT_EQ(query(c, "select count(*) from t"), (Rows{{"1"}}));
  ASSERT_EQ(OCITransCommit(c.svc, c.err, OCI_DEFAULT), OCI_SUCCESS) << c.error();
  EXPECT_EQ(query(other, "select count(*) from t"), (Rows{{"1"}}));
  // A query whose rows come one by one is not cut short between them.
  ASSERT_EQ(s.run("with r(n) as (select 1 from dual union all select n + 1 from r where n < 3)"
                  " select n from r"),
            OCI_SUCCESS)
      << c.error();
  EXPECT_EQ(s.fetchAll(), (Rows{{"1"}, {"2"}, {"3"}}));
}

TEST_F(EngineTest, ARunawayChangeIsCancelledAndTheSessionCanCarryOn) {
  ocisim_set_statement_time_limit(200);
  Connection c, other;
  c.open();
  other.open();
  Statement s(c);
  ASSERT_EQ(s.run("create table t (a number)"), OCI_SUCCESS) << c.error();
  EXPECT_EQ(s.run("insert into t with r(n) as (select 1 from dual union all select n + 1 from r)"
                  " select n from r"),
            OCI_ERROR);
  EXPECT_EQ(c.error(), "ORA-01013: user requested cancel of current operation");
  EXPECT_EQ(query(c, "select count(*) from t"), (Rows{{"0"}}));
  ASSERT_EQ(s.run("insert into t values (7)"), OCI_SUCCESS) << c.error();
  ASSERT_EQ(OCITransCommit(c.svc, c.err, OCI_DEFAULT), OCI_SUCCESS) << c.error();
  EXPECT_EQ(query(other, "select a from t"), (Rows{{"7"}}));
}
