// The client character set named by NLS_LANG: the database keeps its text in
// UTF-8, and everything crossing the client boundary is converted.
#include "oci_fixture.h"

#include <cstdlib>
#include <cstring>

using namespace ocisim_test;

namespace {

// Each environment reads NLS_LANG as it is made.
class CharsetTest : public OciSimTest {
 protected:
  static void use(const char* charset) {
    setenv("NLS_LANG", (std::string("AMERICAN_AMERICA.") + charset).c_str(), 1);
  }
  // A connection made under a client set, SCOTT's unless told otherwise.
  static std::unique_ptr<Connection> client(const char* charset, const std::string& user = "scott",
                                            const std::string& password = "tiger") {
    use(charset);
    auto c = std::make_unique<Connection>();
    c->open(user, password);
    return c;
  }
  static std::string one(Connection& c, const std::string& sql) {
    const auto rows = query(c, sql);
    return rows.empty() || rows[0].empty() ? "<none>" : rows[0][0];
  }
  static void run(Connection& c, const std::string& sql) {
    Statement s(c);
    EXPECT_EQ(s.run(sql, OCI_COMMIT_ON_SUCCESS), OCI_SUCCESS) << sql << ": " << c.error();
  }
};

const std::string kLatinGruesse = "Gr\xfc\xdf" "e";            // Grüße in ISO 8859-1
const std::string kUtf8Gruesse = "Gr\xc3\xbc\xc3\x9f" "e";     // and in UTF-8
const std::string kUtf8Smile = "\xf0\x9f\x98\x80";               // U+1F600
const std::string kCesuSmile = "\xed\xa0\xbd\xed\xb8\x80";       // the same in Oracle's UTF8

}  // namespace

TEST_F(CharsetTest, AnUnknownSetFailsTheEnvironmentWithOra12705) {
  use("KLINGON8");
  EXPECT_EQ(OCIInitialize(OCI_DEFAULT, nullptr, nullptr, nullptr, nullptr), OCI_SUCCESS);
  OCIEnv* env = nullptr;
  EXPECT_EQ(OCIEnvInit(&env, OCI_DEFAULT, 0, nullptr), OCI_ERROR);
  ASSERT_NE(env, nullptr);  // handed out so that the caller can read why
  EXPECT_EQ(errorText(env, OCI_HTYPE_ENV),
            "ORA-12705: Cannot access NLS data files or invalid environment specified");
  EXPECT_EQ(OCIHandleFree(env, OCI_HTYPE_ENV), OCI_SUCCESS);

  // Names are read without regard to letter case; no set part means the default.
  for (const char* value : {"american_america.we8iso8859p1", "AMERICAN_AMERICA", "", ".AL32UTF8"}) {
    setenv("NLS_LANG", value, 1);
    EXPECT_EQ(OCIEnvInit(&env, OCI_DEFAULT, 0, nullptr), OCI_SUCCESS) << value;
    OCIHandleFree(env, OCI_HTYPE_ENV);
  }
}

TEST_F(CharsetTest, TextIsKeptInUtf8AndSentInTheClientsSet) {
  auto latin = client("WE8ISO8859P1");
  run(*latin, "create table t (n number, v varchar2(40))");
  run(*latin, "insert into t values (1, '" + kLatinGruesse + "')");
  EXPECT_EQ(one(*latin, "select v from t where n = 1"), kLatinGruesse);
  EXPECT_EQ(one(*latin, "select length(v) from t where n = 1"), "5");  // characters in the database

  auto utf8 = client("AL32UTF8");
  EXPECT_EQ(one(*utf8, "select v from t where n = 1"), kUtf8Gruesse);
  // What the client's set cannot hold arrives as '?'.
  run(*utf8, "insert into t values (2, '\xe2\x82\xac" "uro')");
  EXPECT_EQ(one(*latin, "select v from t where n = 2"), "?uro");
  use("US7ASCII");
  Connection ascii;
  ascii.open();
  EXPECT_EQ(one(ascii, "select v from t where n = 1"), "Gr??e");

  // Bind values come in and output values go out in the client's set.
  Statement insert(*latin);
  ASSERT_EQ(insert.prepare("insert into t values (3, :v)"), OCI_SUCCESS);
  char value[] = "M\xfcller";
  sb2 indicator = 0;
  OCIBind* bind = nullptr;
  ASSERT_EQ(OCIBindByName(insert.stmt, &bind, latin->err, reinterpret_cast<const text*>(":v"), 2, value,
                          sizeof value, SQLT_STR, &indicator, nullptr, nullptr, 0, nullptr, OCI_DEFAULT),
            OCI_SUCCESS);
  ASSERT_EQ(insert.execute(1, OCI_COMMIT_ON_SUCCESS), OCI_SUCCESS) << latin->error();
  EXPECT_EQ(one(*utf8, "select v from t where n = 3"), "M\xc3\xbcller");
  Statement block(*latin);
  ASSERT_EQ(block.prepare("begin :r := 'Gr\xfcn'; end;"), OCI_SUCCESS);
  char result[16] = {};
  ASSERT_EQ(OCIBindByName(block.stmt, &bind, latin->err, reinterpret_cast<const text*>(":r"), 2, result,
                          sizeof result, SQLT_STR, &indicator, nullptr, nullptr, 0, nullptr, OCI_DEFAULT),
            OCI_SUCCESS);
  ASSERT_EQ(block.execute(1), OCI_SUCCESS) << latin->error();
  EXPECT_STREQ(result, "Gr\xfcn");

  // Column names and error messages too.
  Statement named(*latin);
  ASSERT_EQ(named.run("select v \"" + kLatinGruesse + "\" from t"), OCI_SUCCESS) << latin->error();
  void* param = nullptr;
  ASSERT_EQ(OCIParamGet(named.stmt, OCI_HTYPE_STMT, latin->err, &param, 1), OCI_SUCCESS);
  text* name = nullptr;
  ub4 nameLength = 0;
  ASSERT_EQ(OCIAttrGet(param, OCI_DTYPE_PARAM, &name, &nameLength, OCI_ATTR_NAME, latin->err), OCI_SUCCESS);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(name), nameLength), kLatinGruesse);
}

TEST_F(CharsetTest, CredentialsAndMessagesCrossInTheClientsSet) {
  {
    auto dba = client("AL32UTF8", "system", "manager");
    run(*dba, "create user \"M\xc3\x9cLLER\" identified by \"" + kUtf8Gruesse + "\"");
    Statement again(*dba);
    EXPECT_EQ(again.run("create user \"M\xc3\x9cLLER\" identified by x"), OCI_ERROR);
    // A message cut to the caller's buffer ends on a whole character: "Ü" takes
    // bytes 24 and 25, which fit beside the terminator in 26 bytes but not in 25.
    for (const auto& [size, expected] : {std::pair<ub4, std::string>{25, "ORA-01920: user name 'M"},
                                         {26, "ORA-01920: user name 'M\xc3\x9c"},
                                         {27, "ORA-01920: user name 'M\xc3\x9cL"}}) {
      text buffer[32];
      std::memset(buffer, '#', sizeof buffer);
      sb4 code = 0;
      ASSERT_EQ(OCIErrorGet(dba->err, 1, nullptr, &code, buffer, size, OCI_HTYPE_ERROR), OCI_SUCCESS);
      EXPECT_EQ(code, 1920);
      EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer)), expected) << size;
      EXPECT_EQ(buffer[size], '#') << size;
    }
  }
  auto latin = client("WE8ISO8859P1");
  Connection muller;
  muller.open("M\xdcLLER", kLatinGruesse);
  EXPECT_EQ(one(muller, "select user from dual"), "M\xdcLLER");
  ub4 size = 0;
  text* name = nullptr;
  ASSERT_EQ(OCIAttrGet(muller.ses, OCI_HTYPE_SESSION, &name, &size, OCI_ATTR_USERNAME, muller.err), OCI_SUCCESS);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(name), size), "M\xdcLLER");

  Connection dba;
  dba.open("system", "manager");
  Statement again(dba);
  EXPECT_EQ(again.run("create user \"M\xdcLLER\" identified by x"), OCI_ERROR);
  EXPECT_EQ(dba.error(), "ORA-01920: user name 'M\xdcLLER' conflicts with another user or role name");
}

TEST_F(CharsetTest, TheParseErrorOffsetCountsTheBytesAsSent) {
  {
    auto utf8 = client("AL32UTF8");
    Statement s(*utf8);
    EXPECT_EQ(s.run("select '" + kUtf8Gruesse + "' x from nosuchtable"), OCI_ERROR);
    EXPECT_EQ(s.errorOffset(), 24);
  }
  auto latin = client("WE8ISO8859P1");
  Statement s(*latin);
  EXPECT_EQ(s.run("select '" + kLatinGruesse + "' x from nosuchtable"), OCI_ERROR);
  EXPECT_EQ(s.errorOffset(), 22);
  use("UTF8");
  Connection cesu;
  cesu.open();
  Statement t(cesu);
  EXPECT_EQ(t.run("select '" + kCesuSmile + "' x from nosuchtable"), OCI_ERROR);
  EXPECT_EQ(t.errorOffset(), 23);
}

TEST_F(CharsetTest, Utf8CarriesCharactersBeyondTheBasicPlaneAsSurrogates) {
  auto cesu = client("UTF8");
  run(*cesu, "create table t (v varchar2(40))");
  run(*cesu, "insert into t values ('a" + kCesuSmile + "b')");
  EXPECT_EQ(one(*cesu, "select v from t"), "a" + kCesuSmile + "b");
  EXPECT_EQ(one(*cesu, "select length(v) from t"), "3");
  auto utf8 = client("AL32UTF8");
  EXPECT_EQ(one(*utf8, "select v from t"), "a" + kUtf8Smile + "b");
  // Neither a lone surrogate nor an overlong form of 'A' is a character.
  run(*cesu, "delete from t");
  run(*cesu, "insert into t values ('x\xed\xa0\xbd|\xc1\x81')");
  EXPECT_EQ(one(*utf8, "select v from t"), "x?|?");
}

TEST_F(CharsetTest, ClobsCountCharactersAndMoveThemInTheClientsSet) {
  auto latin = client("WE8ISO8859P1");
  run(*latin, "create table t (c clob)");
  const std::string value = kLatinGruesse + " \xa7 M\xfcller";  // "§" is a continuation byte in UTF-8
  run(*latin, "insert into t values ('" + value + "')");

  Statement s(*latin);
  OCILobLocator* lob = nullptr;
  ASSERT_EQ(OCIDescriptorAlloc(latin->env, reinterpret_cast<void**>(&lob), OCI_DTYPE_LOB, 0, nullptr), OCI_SUCCESS);
  ASSERT_EQ(s.run("select c from t for update"), OCI_SUCCESS) << latin->error();
  OCIDefine* define = nullptr;
  sb2 indicator = 0;
  ASSERT_EQ(OCIDefineByPos(s.stmt, &define, latin->err, 1, &lob, sizeof lob, SQLT_CLOB, &indicator, nullptr,
                           nullptr, OCI_DEFAULT),
            OCI_SUCCESS);
  ASSERT_EQ(OCIStmtFetch(s.stmt, latin->err, 1, OCI_FETCH_NEXT, OCI_DEFAULT), OCI_SUCCESS) << latin->error();
  ub4 length = 0;
  ASSERT_EQ(OCILobGetLength(latin->svc, latin->err, lob, &length), OCI_SUCCESS);
  EXPECT_EQ(length, value.size());
  char buffer[64] = {};
  ub4 amount = length;
  ASSERT_EQ(OCILobRead(latin->svc, latin->err, lob, &amount, 1, buffer, sizeof buffer, nullptr, nullptr, 0,
                       SQLCS_IMPLICIT),
            OCI_SUCCESS);
  EXPECT_EQ(amount, length);
  EXPECT_EQ(std::string(buffer, amount), value);

  // Written in the client's set, counted in characters.
  char written[] = "\xe4\xf6";
  amount = 2;
  ASSERT_EQ(OCILobWrite(latin->svc, latin->err, lob, &amount, 1, written, 2, OCI_ONE_PIECE, nullptr, nullptr, 0,
                        SQLCS_IMPLICIT),
            OCI_SUCCESS)
      << latin->error();
  EXPECT_EQ(amount, 2u);
  run(*latin, "commit");
  OCIDescriptorFree(lob, OCI_DTYPE_LOB);
  auto utf8 = client("AL32UTF8");
  EXPECT_EQ(one(*utf8, "select c from t"), "\xc3\xa4\xc3\xb6\xc3\xbc\xc3\x9f" "e \xc2\xa7 M\xc3\xbcller");
}

TEST_F(CharsetTest, SqlTextPiecesNeverSplitACharacter) {
  auto utf8 = client("AL32UTF8", "system", "manager");
  const std::string sid = one(*utf8, "select sid from v$session where audsid = userenv('sessionid')");
  // "ü" falls on the 64th and 65th byte.
  const std::string statement = "select '" + std::string(53, 'x') + kUtf8Gruesse + "' from dual";
  run(*utf8, statement);
  auto latin = client("WE8ISO8859P1", "system", "manager");
  const auto rows = query(*latin,
                          "select s.sql_text from v$sqltext s, v$session n where s.address = n.sql_address"
                          " and n.sid = " + sid + " order by s.piece");
  // The first piece stops before "ü" at 63 bytes; the second holds the other 16.
  EXPECT_EQ(rows, (std::vector<std::vector<std::string>>{{"select '" + std::string(53, 'x') + "Gr"},
                                                         {"\xfc\xdf" "e' from dual"}}));
}

TEST_F(CharsetTest, ASingleByteSetHoldsExactlyItsOwnCharacters) {
  auto utf8 = client("AL32UTF8");
  run(*utf8, "create table t (n number, v varchar2(40))");
  // U+007F and U+0080, U+00FF and U+0100: the last of each set and the first beyond it.
  run(*utf8, "insert into t values (1, 'a\x7f|\xc2\x80|\xc3\xbf|\xc4\x80')");
  auto latin = client("WE8ISO8859P1");
  EXPECT_EQ(one(*latin, "select v from t"), "a\x7f|\x80|\xff|?");
  EXPECT_EQ(one(*latin, "select length(v) from t"), "8");
  use("US7ASCII");
  Connection ascii;
  ascii.open();
  EXPECT_EQ(one(ascii, "select v from t"), "a\x7f|?|?|?");
  // What a client sends in its set arrives as the same characters.
  run(*latin, "insert into t values (2, '\x80\xff')");
  EXPECT_EQ(one(*utf8, "select v from t where n = 2"), "\xc2\x80\xc3\xbf");
  run(ascii, "insert into t values (3, 'z\x80')");
  EXPECT_EQ(one(*utf8, "select v from t where n = 3"), "z?");
  // The character that does not fit a column's width in bytes is refused whole.
  run(*utf8, "create table w (v varchar2(3))");
  Statement s(*latin);
  EXPECT_EQ(s.run("insert into w values ('a\xff')"), OCI_SUCCESS) << latin->error();
  EXPECT_EQ(s.run("insert into w values ('\xff\xff')"), OCI_ERROR);
  EXPECT_EQ(latin->error(), "ORA-01401: inserted value too large for column");
}
