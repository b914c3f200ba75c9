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
  Statement(c).run("create table t (a number, b number)");
  const std::string withNul("select * from dual \0 where 1 = 0", 32);
  struct Case {
    std::string sql;
    std::string error;
    ub2 offset;
  };
  const Case cases[] = {
      {"select * from nosuchtable", "ORA-00942: table or view does not exist", 14},
      {"select dummy,\n  -- comment\n  nosuchcol from dual", "ORA-00904: invalid column name", 29},
      {"select dummy x y from dual", "ORA-00923: FROM keyword not found where expected", 15},
      {"select * from dual where 1 = 1 garbage", "ORA-00933: SQL command not properly ended", 31},
      {"frobnicate the database", "ORA-00900: invalid SQL statement", 0},
      {"select * from dual;", "ORA-00911: invalid character", 18},
      {"select * from dual where dummy = 'X' ?", "ORA-00911: invalid character", 37},
      // A NUL byte inside the text is refused, not taken as its end.
      {withNul, "ORA-00911: invalid character", 19},
      {"select 'open from dual", "ORA-01756: quoted string not properly terminated", 7},
      {"select 1 \"open from dual", "ORA-01740: missing double quote in identifier", 9},
      {"select 1 \"\" from dual", "ORA-01740: missing double quote in identifier", 9},
      {"select 1 from dual /* open", "ORA-01742: comment not properly terminated", 19},
      {"select nosuchfunc(1) from dual", "ORA-00904: invalid column name", 7},
      {"select * from dual where (1 = 1", "ORA-00921: unexpected end of SQL command", 31},
      {"select d.nosuch from dual d", "ORA-00904: invalid column name", 7},
      {"select upper(1, 2) from dual", "ORA-00909: invalid number of arguments", 7},
      {"commit work now", "ORA-00933: SQL command not properly ended", 7},
      {"insert into t values (1)", "ORA-00947: not enough values", 0},
      {"insert into t values (1, 2, 3)", "ORA-00913: too many values", 0},
      {"insert into t (a) values (1, 2)", "ORA-00913: too many values", 0},
      {"insert into t (a, b) select 1 from dual", "ORA-00947: not enough values", 0},
      {"alter session set nls_date_format = 'YYYY'", "ORA-03001: unimplemented feature", 0},
      {"alter table t add (x number)", "ORA-00940: invalid ALTER command", 6},
  };
  for (const Case& k : cases) {
    const Failure f = fails(c, k.sql);
    EXPECT_EQ(f.error, k.error) << k.sql;
    EXPECT_EQ(f.offset, k.offset) << k.sql;
  }
}

TEST_F(DialectTest, OracleFunctionsAndLiteralsMeanWhatTheyMeanInOracle) {
  Connection c;
  c.open();
  // expression -> its value as a SQLT_STR define receives it ("<null>" for NULL)
  const std::pair<const char*, const char*> cases[] = {
      {"nvl(NULL, 'a')", "a"},
      {"NVL('b', 'c')", "b"},
      {"7/2", "3.5"},
      {"mod(7, 3)", "1"},
      {"'x' || 'y'", "xy"},
      {"to_number('12.50')", "12.5"},
      {"upper('abc')", "ABC"},
      {"user", "SCOTT"},
      {"(select count(*) from dual where '' is null)", "1"},
      {"(select count(*) from dual where 'ABC' like 'a%')", "0"},
      // Arithmetic at the edges of the integers neither traps nor overflows.
      {"mod('-9223372036854775808', -1)", "0"},
      {"1e-3", ".001"},
      {"1E+2 + .5e1 + 2.", "107"},
      {"(select count(*) from (select 1 from dual union select 2 from dual minus select 2 from dual))", "1"},
      // decode: the default only when an argument is left over after the pairs
      {"decode(2, 1, 'one', 2, 'two', 'many')", "two"},
      {"decode(3, 1, 'one', 2, 'two', 'many')", "many"},
      {"decode(3, 1, 'one', 2, 'two')", "<null>"},
      {"decode(null, 1, 'one', null, 'none')", "none"},
      {"nvl2(null, 'set', 'unset')", "unset"},
      {"nvl2(0, 'set', 'unset')", "set"},
      {"mod(7, 0)", "7"},
      {"mod(-7, 3)", "-1"},
      {"mod(7.5, 2)", "1.5"},
      {"greatest(3, 10, 7)", "10"},
      {"least('b', 'a', 'c')", "a"},
      {"greatest(1, null)", "<null>"},
      {"trunc(123.456, 2)", "123.45"},
      {"trunc(-123.456)", "-123"},
      {"trunc(1234, -2)", "1200"},
      {"ceil(-1.5)", "-1"},
      {"floor(-1.5)", "-2"},
      {"power(2, 10)", "1024"},
      {"0.5", ".5"},
      {"-0.5", "-.5"},
      {"1/4 - 1", "-.75"},
      {"to_char(1e21)", "1000000000000000000000"},
      {"lpad('ab', 5, 'xy')", "xyxab"},
      {"rpad('abcdef', 3)", "abc"},
      {"lpad('ab', 0)", "<null>"},
      {"initcap('hello wORLD-x')", "Hello World-X"},
      // Characters, not bytes: "ü" and "ß" take two bytes each.
      {"lpad('\xc3\xbc', 3, '*')", "**\xc3\xbc"},
      {"rpad('Gr\xc3\xbc\xc3\x9f" "e', 3)", "Gr\xc3\xbc"},
      {"lpad('ab', 4, '\xc3\x9f')", "\xc3\x9f\xc3\x9f" "ab"},
      {"rpad('a', 4, 'x\xc3\xbc')", "ax\xc3\xbcx"},
      {"initcap('gr\xc3\xbc\xc3\x9f" "e aus k\xc3\xb6ln')", "Gr\xc3\xbc\xc3\x9f" "e Aus K\xc3\xb6ln"},
      {"initcap('stra\xc3\x9f" "e')", "Stra\xc3\x9f" "e"},
      {"(select count(*) from dual where 1 ^= 2 and 1 != 2 and 1 <> 2 and not 1 ^= 1)", "1"},
      {"chr(65) || chr(97)", "Aa"},
      {"concat(null, 'x')", "x"},
      {"instr('banana', 'an')", "2"},
      {"substr('Gr\xc3\xbc\xc3\x9f" "e', 3, 2)", "\xc3\xbc\xc3\x9f"},
      {"length('Gr\xc3\xbc\xc3\x9f" "e')", "5"},
      // dates: leap years, month ends, the twelve-hour clock
      {"to_char(to_date('29-02-2000', 'DD-MM-YYYY'), 'YYYY-MM-DD')", "2000-02-29"},
      {"to_char(to_date('31.12.1999 23:59:59', 'DD.MM.YYYY HH24:MI:SS'), 'DD-MON-YYYY HH24:MI:SS')",
       "31-DEC-1999 23:59:59"},
      {"to_char(to_date('12:30 AM', 'HH:MI AM'), 'HH24:MI')", "00:30"},
      {"to_char(to_date('12:30 PM', 'HH:MI PM'), 'HH24:MI')", "12:30"},
      {"to_char(to_date('01:05 PM', 'HH12:MI PM'), 'HH24:MI')", "13:05"},
      {"to_char(to_date('2001-03-04 00:07', 'YYYY-MM-DD HH24:MI'), 'HH12:MI AM HH:MI')", "12:07 AM 12:07"},
      {"to_char(to_date('2001-03-04 12:07', 'YYYY-MM-DD HH24:MI'), 'HH12 PM DDD DAY')", "12 PM 063 SUNDAY"},
      {"to_char(to_date('2001-01-31', 'YYYY-MM-DD'), 'MONTH DY')", "JANUARY WED"},
      {"to_char(add_months(to_date('2001-01-31', 'YYYY-MM-DD'), 1), 'YYYY-MM-DD')", "2001-02-28"},
      {"to_char(add_months(to_date('2000-01-31', 'YYYY-MM-DD'), 1), 'YYYY-MM-DD')", "2000-02-29"},
      {"to_char(add_months(to_date('2000-03-31', 'YYYY-MM-DD'), -13), 'YYYY-MM-DD')", "1999-02-28"},
      {"to_char(last_day(to_date('1900-02-10', 'YYYY-MM-DD')), 'YYYY-MM-DD')", "1900-02-28"},
      {"to_char(last_day(to_date('2004-02-10', 'YYYY-MM-DD')), 'YYYY-MM-DD')", "2004-02-29"},
      {"to_char(trunc(to_date('2004-02-10 13:14:15', 'YYYY-MM-DD HH24:MI:SS')), 'YYYY-MM-DD HH24:MI:SS')",
       "2004-02-10 00:00:00"},
      {"to_char(to_date('04-MAR-2001'))", "04-MAR-01"},
      {"to_char(add_months(to_date('9999-11-30', 'YYYY-MM-DD'), 1), 'YYYY-MM-DD')", "9999-12-30"},
      {"to_char(to_date('04.03.2001 17:06', 'DD.MM.YYYY HH24:MI'), 'YYYY-MM-DD HH:MI:SS PM DY MON')",
       "2001-03-04 05:06:00 PM SUN MAR"},
  };
  for (const auto& [expression, value] : cases) {
    const Rows rows = query(c, std::string("select ") + expression + " from dual");
    EXPECT_EQ(rows, (Rows{{value}})) << expression;
  }
  const std::string noMatch = "ORA-01861: literal does not match format string";
  const std::pair<const char*, std::string> errors[] = {
      // Text that is no date of the format, or no date at all.
      {"to_date('29-02-1900', 'DD-MM-YYYY')", noMatch},
      {"to_date('31-04-2001', 'DD-MM-YYYY')", noMatch},
      {"to_date('13:00 PM', 'HH:MI PM')", noMatch},
      {"to_date('00:10 AM', 'HH12:MI AM')", noMatch},
      {"to_date('2001-01-01 24:00', 'YYYY-MM-DD HH24:MI')", noMatch},
      {"to_date('2001-01-01x', 'YYYY-MM-DD')", noMatch},
      {"to_number('12x')", "ORA-01722: invalid number"},
      // The last date there is, and a month after it.
      {"add_months(to_date('9999-12-31', 'YYYY-MM-DD'), 1)",
       "ORA-01841: (full) year must be between -4713 and +9999, and not be 0"},
      {"add_months(sysdate, 9223372036854775807)", "ORA-01841: (full) year must be between -4713 and +9999, and not be 0"},
  };
  for (const auto& [expression, error] : errors)
    EXPECT_EQ(fails(c, std::string("select ") + expression + " from dual").error, error) << expression;
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
  EXPECT_EQ(fails(c, "delete from sessions").error, "ORA-00942: table or view does not exist");
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
