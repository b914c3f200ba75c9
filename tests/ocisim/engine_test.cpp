// What a statement may ask of the engine: the functions of the dialect, a
// bounded time, and values that fit the columns that hold them.
#include "oci_fixture.h"

#include "ocisim/ocisim_controls.h"

#include <filesystem>

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

// Each select-list column's name and the size the describe announces.
std::vector<std::pair<std::string, ub2>> describedSizes(Statement& s) {
  ub4 count = 0;
  OCIAttrGet(s.stmt, OCI_HTYPE_STMT, &count, nullptr, OCI_ATTR_PARAM_COUNT, s.conn.err);
  std::vector<std::pair<std::string, ub2>> columns;
  for (ub4 p = 1; p <= count; ++p) {
    void* param = nullptr;
    EXPECT_EQ(OCIParamGet(s.stmt, OCI_HTYPE_STMT, s.conn.err, &param, p), OCI_SUCCESS);
    text* name = nullptr;
    ub4 length = 0;
    ub2 size = 0;
    OCIAttrGet(param, OCI_DTYPE_PARAM, &name, &length, OCI_ATTR_NAME, s.conn.err);
    OCIAttrGet(param, OCI_DTYPE_PARAM, &size, nullptr, OCI_ATTR_DATA_SIZE, s.conn.err);
    columns.emplace_back(std::string(reinterpret_cast<char*>(name), length), size);
  }
  return columns;
}

// A statement that never ends on its own.
const std::string kEndless =
    "with r(n) as (select 1 from dual union all select n + 1 from r) select count(*) from r";

const std::string kTooLarge = "ORA-01401: inserted value too large for column";

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

TEST_F(EngineTest, AValueWiderThanItsColumnIsRefusedWhenWritten) {
  Connection c;
  c.open();
  Statement s(c);
  ASSERT_EQ(s.run("create table w (v varchar2(5), c char(2), r raw(2), n number, l long, c1 char)"), OCI_SUCCESS)
      << c.error();
  ASSERT_EQ(s.run("insert into w values ('abcde', 'ab', '0A0B', 1, 'a long text, as long as it likes', null)"),
            OCI_SUCCESS)
      << c.error();
  for (const char* sql : {"insert into w (v) values ('abcdef')", "insert into w (c) values ('abc')",
                          "insert into w (r) values ('0A0B0C')", "update w set v = v || 'x'",
                          "insert into w (v) values (123456)",
                          // Widths count bytes: three letters of two bytes each.
                          "insert into w (v) values ('\xC3\xA4\xC3\xB6\xC3\xBC')",
                          "insert into w select v || v, c, r, n, l, c1 from w",
                          // A CHAR without a width holds one byte.
                          "insert into w (c1) values ('ab')"})
    EXPECT_EQ(failure(c, sql), kTooLarge) << sql;
  EXPECT_EQ(failure(c, "insert into w (v) values ('\xC3\xA4\xC3\xB6')"), "");
  EXPECT_EQ(failure(c, "delete from w where c1 is null and v is null"), "");
  EXPECT_EQ(failure(c, "update w set c1 = 'z' where v = 'abcde'"), "");
  // Bound values are held to the same widths.
  ASSERT_EQ(s.prepare("insert into w (v, r) values (:v, :r)"), OCI_SUCCESS);
  char word[] = "abcdefg";
  unsigned char bytes[3] = {1, 2, 3};
  OCIBind* bv = nullptr;
  OCIBind* br = nullptr;
  ASSERT_EQ(OCIBindByName(s.stmt, &bv, c.err, reinterpret_cast<const text*>(":v"), 2, word, sizeof word,
                          SQLT_STR, nullptr, nullptr, nullptr, 0, nullptr, OCI_DEFAULT),
            OCI_SUCCESS);
  ASSERT_EQ(OCIBindByName(s.stmt, &br, c.err, reinterpret_cast<const text*>(":r"), 2, bytes, 2, SQLT_BIN,
                          nullptr, nullptr, nullptr, 0, nullptr, OCI_DEFAULT),
            OCI_SUCCESS);
  EXPECT_EQ(s.execute(1), OCI_ERROR);
  EXPECT_EQ(c.error(), kTooLarge);
  word[5] = '\0';
  ASSERT_EQ(OCIBindByName(s.stmt, &br, c.err, reinterpret_cast<const text*>(":r"), 2, bytes, 3, SQLT_BIN,
                          nullptr, nullptr, nullptr, 0, nullptr, OCI_DEFAULT),
            OCI_SUCCESS);
  EXPECT_EQ(s.execute(1), OCI_ERROR);
  EXPECT_EQ(c.error(), kTooLarge);
  // Nothing too wide got in: every value fits what the describe announces.
  ASSERT_EQ(s.run("select v, c, r, c1 from w order by v"), OCI_SUCCESS) << c.error();
  const auto sizes = describedSizes(s);
  ASSERT_EQ(sizes.size(), 4u);
  EXPECT_EQ(sizes[0].second, 5);
  EXPECT_EQ(sizes[1].second, 2);
  EXPECT_EQ(sizes[2].second, 2);
  EXPECT_EQ(sizes[3].second, 1);
  const Rows rows = s.fetchAll();
  EXPECT_EQ(rows, (Rows{{"abcde", "ab", "0A0B", "z"}, {"\xC3\xA4\xC3\xB6", "<null>", "<null>", "<null>"}}));
}

TEST_F(EngineTest, TheDynamicViewsHoldNoMoreThanTheirColumnsAnnounce) {
  // A client program whose name is longer than v$session.PROGRAM holds.
  const std::string name = "ocisim_logon_helper_under_a_name_longer_than_the_program_column";
  const std::string program = dir_ + "/" + name;
  std::filesystem::copy_file(OCISIM_LOGON_HELPER, program);
  HelperProcess helper(program, {"DEMO", "scott", "tiger"});
  ASSERT_EQ(helper.readLine().substr(0, 3), "OK ");
  Connection dba;
  dba.open("system", "manager");
  Statement s(dba);
  ASSERT_EQ(s.run("select username, schemaname, osuser, machine, terminal, program, process, type, server,"
                  " status from v$session where process = '" + std::to_string(helper.pid()) + "'"),
            OCI_SUCCESS)
      << dba.error();
  const auto sizes = describedSizes(s);
  const Rows rows = s.fetchAll();
  ASSERT_EQ(rows.size(), 1u);
  ASSERT_EQ(sizes.size(), rows[0].size());
  EXPECT_EQ(rows[0][5], name.substr(0, 48));
  EXPECT_EQ(sizes[5], (std::pair<std::string, ub2>{"PROGRAM", 48}));
  EXPECT_EQ(sizes[2], (std::pair<std::string, ub2>{"OSUSER", 15}));
  for (size_t i = 0; i < sizes.size(); ++i)
    EXPECT_LE(rows[0][i].size(), sizes[i].second) << sizes[i].first << " " << rows[0][i];

  // v$sql shows the first 1000 bytes of a statement; v$sqltext all of it.
  const std::string sql = "select dummy from dual where 'x' <> '" + std::string(1500, 'y') + "'";
  ASSERT_EQ(query(dba, sql).size(), 1u);
  ASSERT_EQ(s.run("select sql_text from v$sql"
                  " where sql_text like 'select dummy from dual where ''x'' <> ''yyy%'"),
            OCI_SUCCESS)
      << dba.error();
  EXPECT_EQ(describedSizes(s)[0].second, 1000);
  EXPECT_EQ(s.fetchAll(), (Rows{{sql.substr(0, 1000)}}));
  EXPECT_EQ(query(dba, "select count(*) from v$sql where sql_text like 'select dummy from dual where%'"),
            (Rows{{"1"}}));
  std::string pieces;
  for (const auto& row : query(dba, "select t.sql_text from v$sqltext t, v$sql q where t.address = q.address"
                                    " and q.sql_text like 'select dummy from dual where%' order by piece"))
    pieces += row[0];
  EXPECT_EQ(pieces, sql);
  // Running it again finds it in the shared area rather than adding it twice.
  ASSERT_EQ(query(dba, sql).size(), 1u);
  EXPECT_EQ(query(dba, "select executions from v$sql where sql_text like 'select dummy from dual where%'"),
            (Rows{{"2"}}));
}
