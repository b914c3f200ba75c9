// The Oracle SQL the server understands, and its errors with their offsets.
#include "oci_fixture.h"

using namespace ocisim_test;

using DialectTest = OciSimTest;

namespace {

using Rows = std::vector<std::vector<std::string>>;

struct Failure {
  std::string error;
  ub2 offset;
};

Failure fails(Connection& c, const std::string& sql) {
  Statement s(c);
  EXPECT_EQ(s.run(sql), OCI_ERROR) << sql;
  return {c.error(), s.errorOffset()};
}

}  // namespace

TEST_F(DialectTest, ErrorsPointAtTheirPlaceInTheOriginalText) {
  Connection c;
  c.open();
  Failure f = fails(c, "select * from nosuchtable");
  EXPECT_EQ(f.error, "ORA-00942: table or view does not exist");
  EXPECT_EQ(f.offset, 14);
  f = fails(c, "select dummy,\n  -- comment\n  nosuchcol from dual");
  EXPECT_EQ(f.error, "ORA-00904: invalid column name");
  EXPECT_EQ(f.offset, 29);
  f = fails(c, "select dummy x y from dual");
  EXPECT_EQ(f.error, "ORA-00923: FROM keyword not found where expected");
  EXPECT_EQ(f.offset, 15);
  f = fails(c, "select * from dual where 1 = 1 garbage");
  EXPECT_EQ(f.error, "ORA-00933: SQL command not properly ended");
  EXPECT_EQ(f.offset, 31);
  f = fails(c, "frobnicate the database");
  EXPECT_EQ(f.error, "ORA-00900: invalid SQL statement");
  f = fails(c, "select * from dual;");
  EXPECT_EQ(f.error, "ORA-00911: invalid character");
  EXPECT_EQ(f.offset, 18);
  f = fails(c, "select 'open from dual");
  EXPECT_EQ(f.error, "ORA-01756: quoted string not properly terminated");
  EXPECT_EQ(f.offset, 7);
  f = fails(c, "select nosuchfunc(1) from dual");
  EXPECT_EQ(f.error, "ORA-00904: invalid column name");
  EXPECT_EQ(f.offset, 7);
  // A NUL byte inside the text is refused, not taken as its end.
  const char withNul[] = "select * from dual \0 where 1 = 0";
  f = fails(c, std::string(withNul, sizeof withNul - 1));
  EXPECT_EQ(f.error, "ORA-00911: invalid character");
  EXPECT_EQ(f.offset, 19);
}

TEST_F(DialectTest, OracleFunctionsAndLiteralsMeanWhatTheyMeanInOracle) {
  Connection c;
  c.open();
  EXPECT_EQ(query(c, "SELECT nvl(NULL, 'a'), NVL('b', 'c'), decode(2, 1, 'one', 2, 'two', 'many'),"
                     " 7/2, mod(7, 3), 'x' || 'y', to_number('12.50'), upper('abc') FROM DUAL"),
            (Rows{{"a", "b", "two", "3.5", "1", "xy", "12.5", "ABC"}}));
  EXPECT_EQ(query(c, "select to_char(to_date('04.03.2001 17:06', 'DD.MM.YYYY HH24:MI'),"
                     " 'YYYY-MM-DD HH:MI:SS PM DY MON') from dual"),
            (Rows{{"2001-03-04 05:06:00 PM SUN MAR"}}));
  EXPECT_EQ(query(c, "select count(*) from dual where '' is null"), (Rows{{"1"}}));
  EXPECT_EQ(query(c, "select count(*) from dual where 'ABC' like 'a%'"), (Rows{{"0"}}));
  EXPECT_EQ(query(c, "select user from dual"), (Rows{{"SCOTT"}}));
  EXPECT_EQ(fails(c, "select to_number('12x') from dual").error, "ORA-01722: invalid number");
  // Arithmetic at the edges of the integers neither traps nor overflows.
  EXPECT_EQ(query(c, "select mod('-9223372036854775808', -1) from dual"), (Rows{{"0"}}));
  EXPECT_EQ(fails(c, "select add_months(sysdate, 9223372036854775807) from dual").error.substr(0, 9), "ORA-01841");
}

TEST_F(DialectTest, UserenvSessionidIsTheSessionsAudsid) {
  Connection c;
  c.open("system", "manager");
  const Rows rows = query(c, "select audsid, userenv('sessionid') from v$session where sid ="
                             " (select sid from v$session where audsid = userenv('SESSIONID'))");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0], rows[0][1]);
}

TEST_F(DialectTest, CatalogViewsNeedTheCatalogRole) {
  Connection scott, monitor;
  scott.open();
  monitor.open("monitor", "monitor");
  Failure f = fails(scott, "select sid from   v$session");
  EXPECT_EQ(f.error, "ORA-01031: insufficient privileges");
  EXPECT_EQ(f.offset, 18);
  EXPECT_EQ(fails(scott, "select banner from v$version").error, "ORA-01031: insufficient privileges");
  // Named in ways the text check does not see, a view is simply not there for the session.
  for (const char* sql : {"select username from \"V$SESSION\"", "select sql_text from temp.v$sql",
                          "select 1 from dual where exists (select 1 from \"v$sqltext\")",
                          "create table stolen as select username from \"V$SESSION\""})
    EXPECT_EQ(fails(scott, sql).error, "ORA-00942: table or view does not exist") << sql;
  EXPECT_EQ(query(scott, "select * from session_roles where role='SELECT_CATALOG_ROLE'"), Rows{});
  EXPECT_EQ(query(scott, "select role from session_roles order by role"), (Rows{{"CONNECT"}, {"RESOURCE"}}));
  EXPECT_EQ(query(monitor, "select * from session_roles where role='SELECT_CATALOG_ROLE'"),
            (Rows{{"SELECT_CATALOG_ROLE"}}));
  EXPECT_EQ(query(monitor, "select banner from v$version")[0][0],
            "Oracle8i Enterprise Edition Release 8.1.7.0.0 - Production");
}

TEST_F(DialectTest, TheInstancesOwnTablesAreNotVisible) {
  Connection c;
  c.open("system", "manager");
  Failure f = fails(c, "select password from users");
  EXPECT_EQ(f.error, "ORA-00942: table or view does not exist");
  EXPECT_EQ(f.offset, 21);
  EXPECT_EQ(fails(c, "select * from sys.sessions").error, "ORA-00942: table or view does not exist");
  EXPECT_NE(fails(c, "delete from sessions").error.find("ORA-0"), std::string::npos);
  EXPECT_EQ(query(c, "select count(*) from v$session where type = 'USER'"), (Rows{{"1"}}));
}

TEST_F(DialectTest, ALongColumnKeepsNumericLookingTextAsWritten) {
  Connection c;
  c.open();
  Statement s(c);
  ASSERT_EQ(s.run("create table t (l long, n number)"), OCI_SUCCESS);
  ASSERT_EQ(s.run("insert into t values ('1.50', '1.50')"), OCI_SUCCESS) << c.error();
  EXPECT_EQ(query(c, "select l, n from t"), (Rows{{"1.50", "1.5"}}));
}
