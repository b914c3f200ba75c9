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
