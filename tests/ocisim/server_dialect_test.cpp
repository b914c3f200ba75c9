// What an Oracle 8i server answers that SQLite would answer otherwise: letter
// case beyond ASCII, character codes, searches from a position, division by
// zero, NULL and the empty string in concatenation, integer division and date
// arithmetic.
#include "oci_fixture.h"

using namespace ocisim_test;

using ServerDialectTest = OciSimTest;

namespace {

using Rows = std::vector<std::vector<std::string>>;

std::string valueOf(Connection& c, const std::string& expression) {
  const Rows rows = query(c, "select " + expression + " from dual");
  return rows.size() == 1 && rows[0].size() == 1 ? rows[0][0] : "<no single value>";
}

std::string errorOf(Connection& c, const std::string& sql) {
  Statement s(c);
  EXPECT_EQ(s.run(sql), OCI_ERROR) << sql;
  return c.error();
}

}  // namespace

TEST_F(ServerDialectTest, LetterCaseCoversEveryLetterNotJustAscii) {
  Connection c;
  c.open();
  const std::pair<const char*, const char*> cases[] = {
      {"upper('m\xc3\xbcller')", "M\xc3\x9cLLER"},
      {"lower('\xc3\x85STR\xc3\x96M')", "\xc3\xa5str\xc3\xb6m"},
      {"upper('\xce\xb1\xce\xb2\xce\xb3')", "\xce\x91\xce\x92\xce\x93"},  // Greek
      {"lower('\xd0\x9c\xd0\x9e\xd0\xa1\xd0\x9a\xd0\x92\xd0\x90')", "\xd0\xbc\xd0\xbe\xd1\x81\xd0\xba\xd0\xb2\xd0\xb0"},
      // One character stays one character.
      {"upper('stra\xc3\x9f" "e')", "STRA\xc3\x9f" "E"},
      {"initcap('\xc3\xa9t\xc3\xa9 \xc3\xa0 z\xc3\xbcrich')", "\xc3\x89t\xc3\xa9 \xc3\x80 Z\xc3\xbcrich"},
      {"upper(null)", "<null>"},
      {"lower('')", "<null>"},
  };
  for (const auto& [expression, value] : cases) EXPECT_EQ(valueOf(c, expression), value) << expression;
}

TEST_F(ServerDialectTest, ChrGivesTheCharacterOfItsCodeInTheDatabaseCharacterSet) {
  Connection c;
  c.open();
  EXPECT_EQ(valueOf(c, "chr(65)"), "A");
  EXPECT_EQ(valueOf(c, "chr(50084)"), "\xc3\xa4");          // C3 A4
  EXPECT_EQ(valueOf(c, "chr(14844588)"), "\xe2\x82\xac");   // E2 82 AC
  EXPECT_EQ(valueOf(c, "chr('66')"), "B");
  // A single byte beyond ASCII is no character of AL32UTF8.
  EXPECT_EQ(valueOf(c, "chr(228)"), "\xef\xbf\xbd");
  EXPECT_EQ(valueOf(c, "length(chr(228) || 'x')"), "2");
  EXPECT_EQ(valueOf(c, "chr(null)"), "<null>");
  EXPECT_EQ(errorOf(c, "select chr(-1) from dual"), "ORA-01722: invalid number");
}

TEST_F(ServerDialectTest, InstrSearchesFromAPositionForAnOccurrenceForwardsOrBackwards) {
  Connection c;
  c.open();
  const std::pair<const char*, const char*> cases[] = {
      {"instr('banana', 'an')", "2"},
      {"instr('banana', 'an', 3)", "4"},
      {"instr('banana', 'an', 1, 2)", "4"},
      {"instr('banana', 'an', 1, 3)", "0"},
      {"instr('banana', 'an', -1)", "4"},
      {"instr('banana', 'an', -1, 2)", "2"},
      {"instr('banana', 'an', -3)", "4"},
      {"instr('banana', 'an', -4)", "2"},
      {"instr('banana', 'an', 0)", "0"},
      {"instr('banana', 'an', 99)", "0"},
      {"instr('M\xc3\xbcnchen M\xc3\xbcnchen', '\xc3\xbc', 1, 2)", "10"},  // characters, not bytes
      {"instr('banana', 'an', null)", "<null>"},
      {"instr('banana', '')", "<null>"},
      {"instr('banana', 'an', '2', '1')", "2"},
  };
  for (const auto& [expression, value] : cases) EXPECT_EQ(valueOf(c, expression), value) << expression;
  EXPECT_EQ(errorOf(c, "select instr('banana', 'an', 1, 0) from dual"),
            "ORA-01428: argument '0' is out of range");
  EXPECT_EQ(errorOf(c, "select instr('banana', 'an', 1, 1, 1) from dual"),
            "ORA-00909: invalid number of arguments");
}

TEST_F(ServerDialectTest, ArithmeticConcatenationAndDatesAnswerAsTheServerDoes) {
  Connection c;
  c.open();
  const std::pair<const char*, const char*> cases[] = {
      // Division is exact, never integer division.
      {"7/2", "3.5"},
      {"-7/2", "-3.5"},
      {"(select count(*) from dual) / 4", ".25"},
      {"10 - 2 * 3", "4"},
      {"2 + 6 / 3 * 2", "6"},
      {"100 - 10 - 1", "89"},
      {"'3' + 4", "7"},
      {"9223372036854775807 + 1", "9223372036854775808"},
      // || treats NULL as the empty string; the empty result is NULL.
      {"'a' || null || 'b'", "ab"},
      {"null || null", "<null>"},
      {"'' || ''", "<null>"},
      {"1 || 2", "12"},
      {"0.5 || 'x'", ".5x"},
      {"'x' || 1 + 2", "<error>"},
      {"1 + 2 || 'x'", "3x"},
      {"upper('a' || 'b') || lower('C')", "ABc"},
      {"nvl(null || null, 'empty')", "empty"},
      {"length('ab' || null)", "2"},
      {"case when 1 = 1 then 'x' end || 'y'", "xy"},
      {"'n' || (1 + 1)", "n2"},
      // The empty string is NULL.
      {"nvl('', 'null')", "null"},
      {"(select count(*) from dual where '' = '')", "0"},
      // Dates and days.
      {"to_char(to_date('2001-01-31', 'YYYY-MM-DD') + 1, 'YYYY-MM-DD')", "2001-02-01"},
      {"to_char(to_date('2000-02-28', 'YYYY-MM-DD') + 1, 'YYYY-MM-DD')", "2000-02-29"},
      {"to_char(1 + to_date('2001-12-31', 'YYYY-MM-DD'), 'YYYY-MM-DD')", "2002-01-01"},
      {"to_char(to_date('2001-03-01', 'YYYY-MM-DD') - 1, 'YYYY-MM-DD')", "2001-02-28"},
      {"to_char(to_date('2001-01-01 00:00', 'YYYY-MM-DD HH24:MI') + 0.5, 'YYYY-MM-DD HH24:MI')", "2001-01-01 12:00"},
      {"to_char(to_date('2001-01-01', 'YYYY-MM-DD') + 1/24, 'HH24:MI')", "01:00"},
      {"to_date('2001-03-01', 'YYYY-MM-DD') - to_date('2001-02-01', 'YYYY-MM-DD')", "28"},
      {"to_date('2001-01-02 06:00', 'YYYY-MM-DD HH24:MI') - to_date('2001-01-01', 'YYYY-MM-DD')", "1.25"},
      {"to_char(to_date('2001-01-31', 'YYYY-MM-DD') + 1)", "01-FEB-01"},
      {"to_date('2001-01-31', 'YYYY-MM-DD') + null", "<null>"},
  };
  for (const auto& [expression, value] : cases) {
    if (std::string(value) == "<error>") {
      EXPECT_EQ(errorOf(c, std::string("select ") + expression + " from dual"), "ORA-01722: invalid number")
          << expression;
      continue;
    }
    EXPECT_EQ(valueOf(c, expression), value) << expression;
  }
  // A DATE moved by days is a DATE to the client, not text.
  EXPECT_EQ(valueOf(c, "to_date('2001-01-31', 'YYYY-MM-DD') + 1"), "01-FEB-01");
  EXPECT_EQ(errorOf(c, "select sysdate + sysdate from dual"), "ORA-00975: date + date not allowed");
  EXPECT_EQ(errorOf(c, "select 1 - sysdate from dual"), "ORA-00932: inconsistent datatypes");
  EXPECT_EQ(errorOf(c, "select 'x' + 1 from dual"), "ORA-01722: invalid number");
  EXPECT_EQ(errorOf(c, "select to_date('9999-12-31', 'YYYY-MM-DD') + 1 from dual"),
            "ORA-01841: (full) year must be between -4713 and +9999, and not be 0");
}

TEST_F(ServerDialectTest, DivisionByZeroIsAnErrorWhereverItHappens) {
  Connection c;
  c.open();
  Statement s(c);
  ASSERT_EQ(s.run("create table t (a number, b number)"), OCI_SUCCESS) << c.error();
  ASSERT_EQ(s.run("insert into t values (1, 0)"), OCI_SUCCESS) << c.error();
  for (const char* sql : {"select 1/0 from dual", "select 1 + 2 / (3 - 3) from dual", "select a / b from t",
                          "select -a / -b from t", "select count(*) from t where a / b > 1",
                          "update t set a = a / b", "select 1 / (select b from t) from dual"})
    EXPECT_EQ(errorOf(c, sql), "ORA-01476: divisor is equal to zero") << sql;
  EXPECT_EQ(valueOf(c, "1 / null"), "<null>");
  EXPECT_EQ(valueOf(c, "mod(7, 0)"), "7");
  EXPECT_EQ(query(c, "select a / 2, b / 2 from t"), (std::vector<std::vector<std::string>>{{".5", "0"}}));
}

TEST_F(ServerDialectTest, AMissingExpressionIsReportedWhereItIsMissing) {
  Connection c;
  c.open();
  const struct {
    const char* sql;
    ub2 offset;
  } cases[] = {
      {"select from dual", 7},
      {"select 1 + from dual", 11},
      {"select dummy, from dual", 14},
      {"select * from dual where", 24},
      {"select * from dual where dummy = ", 33},
      {"select * from dual order by", 27},
      {"select * from dual where dummy = 'X' and", 40},
  };
  for (const auto& k : cases) {
    Statement s(c);
    EXPECT_EQ(s.run(k.sql), OCI_ERROR) << k.sql;
    EXPECT_EQ(c.error(), "ORA-00936: missing expression") << k.sql;
    EXPECT_EQ(s.errorOffset(), k.offset) << k.sql;
  }
}

TEST_F(ServerDialectTest, EachStatementReportsTheServersCommandType) {
  Connection c;
  c.open("system", "manager");
  const std::pair<const char*, const char*> cases[] = {
      {"create table ct (a number)", "1"},
      {"create index ci on ct (a)", "9"},
      {"create or replace view cv as select a from ct", "21"},
      {"insert into ct values (1)", "2"},
      {"update ct set a = 2", "6"},
      {"delete from ct", "7"},
      {"truncate table ct", "85"},
      {"create user newbie identified by secret", "51"},
      {"drop view cv", "22"},
      {"drop index ci", "10"},
      {"drop table ct", "12"},
  };
  // Read by another session: this one's open transaction keeps its own view.
  Connection observer;
  observer.open("system", "manager");
  for (const auto& [sql, command] : cases) {
    Statement s(c);
    ASSERT_EQ(s.run(sql), OCI_SUCCESS) << sql << ": " << c.error();
    const auto rows =
        query(observer, "select command_type from v$sql where sql_text = '" + std::string(sql) + "'");
    EXPECT_EQ(rows, (std::vector<std::vector<std::string>>{{command}})) << sql;
  }
}

TEST_F(ServerDialectTest, RownumNumbersTheRowsOfABlockBeforeItsOrderBySortsThem) {
  Connection c;
  c.open();
  Statement s(c);
  ASSERT_EQ(s.run("create table t (n number)"), OCI_SUCCESS) << c.error();
  for (int n : {30, 10, 50, 20, 40}) ASSERT_EQ(s.run("insert into t values (" + std::to_string(n) + ")"), OCI_SUCCESS);
  using Rows = std::vector<std::vector<std::string>>;
  EXPECT_EQ(query(c, "select rownum, n from t"), (Rows{{"1", "30"}, {"2", "10"}, {"3", "50"}, {"4", "20"}, {"5", "40"}}));
  EXPECT_EQ(query(c, "select n from t where rownum <= 2"), (Rows{{"30"}, {"10"}}));
  EXPECT_EQ(query(c, "select n from t where rownum < 3 and n > 10"), (Rows{{"30"}, {"50"}}));
  EXPECT_EQ(query(c, "select n from t where n > 10 and 2 >= rownum"), (Rows{{"30"}, {"50"}}));
  EXPECT_EQ(query(c, "select n from t where rownum = 1"), (Rows{{"30"}}));
  EXPECT_EQ(query(c, "select n from t where rownum = 2"), Rows{});
  EXPECT_EQ(query(c, "select n from t where rownum > 1"), Rows{});
  EXPECT_EQ(query(c, "select count(*) from t where rownum >= 1"), (Rows{{"5"}}));
  // The first rows as they come, then sorted; the numbers go with the rows.
  EXPECT_EQ(query(c, "select n from t where rownum <= 3 order by n"), (Rows{{"10"}, {"30"}, {"50"}}));
  EXPECT_EQ(query(c, "select rownum r, n from t order by n desc"),
            (Rows{{"3", "50"}, {"5", "40"}, {"1", "30"}, {"4", "20"}, {"2", "10"}}));
  // The top-n query: sorted in the inner block, the first rows taken outside.
  EXPECT_EQ(query(c, "select * from (select n from t order by n desc) where rownum <= 2"), (Rows{{"50"}, {"40"}}));
  EXPECT_EQ(query(c, "select rownum, x.n from (select n from t order by n) x where rownum < 3"),
            (Rows{{"1", "10"}, {"2", "20"}}));
  EXPECT_EQ(query(c, "select n from t where n in (select n from t where rownum = 1)"), (Rows{{"30"}}));
  // What the translation cannot give the server's meaning is refused, not mis-answered.
  for (const char* sql : {"select n from t where rownum <= 2 or n = 10", "select n from t where rownum <= :x",
                          "select count(*) from t where rownum <= 2", "select n from t order by rownum"}) {
    Statement q(c);
    EXPECT_EQ(q.run(sql), OCI_ERROR) << sql;
    EXPECT_EQ(c.error(), "ORA-03001: unimplemented feature") << sql;
  }
}

TEST_F(ServerDialectTest, DeeplyNestedExpressionsAreRefusedWithoutExhaustingTheStack) {
  Connection c;
  c.open();
  for (const std::string& inner : {std::string("1 + 1 || 'x'"), std::string("select rownum from dual where rownum < 2")}) {
    const std::string sql =
        "select " + std::string(200000, '(') + inner + std::string(200000, ')') + " from dual where rownum = 1";
    Statement s(c);
    EXPECT_EQ(s.run(sql), OCI_ERROR);
  }
  // Within what the server takes, nesting changes nothing.
  EXPECT_EQ(valueOf(c, std::string(50, '(') + "1 + 1 || 'x'" + std::string(50, ')')), "2x");
}
