// The catalog views the application reads, the shared SQL area and killing sessions.
#include "oci_fixture.h"

#include <cstdint>
#include <cstdio>
#include <memory>

using namespace ocisim_test;

using CatalogTest = OciSimTest;

namespace {

using Rows = std::vector<std::vector<std::string>>;

const std::string kSessionList =
    "select Username,sid,serial#,status, OSUSER, MACHINE,TERMINAL, PROGRAM , SCHEMANAME, LOGON_TIME,"
    " SQL_ADDRESS, SQL_HASH_VALUE,audsid,type,server,userenv('sessionid') ssid from v$session";

std::string sqlTextOf(Connection& c, const std::string& sid, const std::string& serial) {
  std::string text;
  for (const auto& row : query(c, "select s.sql_text from v$sqltext s,v$session sn where"
                                  " s.address=sn.sql_address and s.hash_value=sn.sql_hash_value and"
                                  " sn.sid=" + sid + " and sn.serial#=" + serial + " order by piece"))
    text += row[0];
  return text;
}

// A helper process logged on as SCOTT, with its session's sid and serial#.
struct OtherSession {
  std::unique_ptr<HelperProcess> process =
      std::make_unique<HelperProcess>(std::vector<std::string>{"DEMO", "scott", "tiger"});
  std::string sid, serial;
  explicit OtherSession(Connection& dba) {
    EXPECT_EQ(process->readLine(), "OK " + std::to_string(process->pid()));
    const Rows rows = query(dba, "select sid, serial# from v$session where process = '" +
                                     std::to_string(process->pid()) + "'");
    EXPECT_EQ(rows.size(), 1u);
    if (!rows.empty()) sid = rows[0][0], serial = rows[0][1];
  }
  std::string run(const std::string& sql) {
    process->send("sql " + sql);
    return process->readLine();
  }
};

}  // namespace

TEST_F(CatalogTest, TheSessionListDescribesAndShowsTheCallerActive) {
  Connection c;
  c.open("system", "manager");
  Statement s(c);
  ASSERT_EQ(s.run(kSessionList + " where type<>'BACKGROUND' and status<>'KILLED' order by sid"), OCI_SUCCESS)
      << c.error();
  const Rows rows = s.fetchAll();
  ASSERT_EQ(rows.size(), 1u);
  const auto& me = rows[0];
  EXPECT_EQ(me[0], "SYSTEM");
  EXPECT_EQ(me[3], "ACTIVE");
  EXPECT_EQ(me[13], "USER");
  EXPECT_EQ(me[14], "DEDICATED");
  EXPECT_EQ(me[12], me[15]);  // audsid and ssid: this is the caller's own row
  EXPECT_EQ(me[10].size(), 8u);
  // The caller's current statement is the session list itself, until it runs another.
  Connection other;
  other.open("system", "manager");
  EXPECT_EQ(sqlTextOf(other, me[1], me[2]),
            kSessionList + " where type<>'BACKGROUND' and status<>'KILLED' order by sid");
  // Background processes without the filter; the column types are Oracle's.
  EXPECT_EQ(query(c, kSessionList + " where type='BACKGROUND'").size(), 6u);
  void* param = nullptr;
  ub2 type = 0;
  ASSERT_EQ(OCIParamGet(s.stmt, OCI_HTYPE_STMT, c.err, &param, 10), OCI_SUCCESS);
  OCIAttrGet(param, OCI_DTYPE_PARAM, &type, nullptr, OCI_ATTR_DATA_TYPE, c.err);
  EXPECT_EQ(type, 12);  // LOGON_TIME
  ASSERT_EQ(OCIParamGet(s.stmt, OCI_HTYPE_STMT, c.err, &param, 2), OCI_SUCCESS);
  OCIAttrGet(param, OCI_DTYPE_PARAM, &type, nullptr, OCI_ATTR_DATA_TYPE, c.err);
  EXPECT_EQ(type, 2);  // SID
  ASSERT_EQ(OCIParamGet(s.stmt, OCI_HTYPE_STMT, c.err, &param, 4), OCI_SUCCESS);
  OCIAttrGet(param, OCI_DTYPE_PARAM, &type, nullptr, OCI_ATTR_DATA_TYPE, c.err);
  EXPECT_EQ(type, 1);  // STATUS
  EXPECT_EQ(OCIParamGet(s.stmt, OCI_HTYPE_STMT, c.err, &param, 17), OCI_ERROR);
}

TEST_F(CatalogTest, KillingNeedsTheAlterSystemPrivilegeAndALiveOtherUserSession) {
  Connection scott, dba;
  scott.open();
  dba.open("system", "manager");
  Statement s(scott), d(dba);
  EXPECT_EQ(s.run("alter system kill session'8,2'", OCI_COMMIT_ON_SUCCESS), OCI_ERROR);
  EXPECT_EQ(scott.error(), "ORA-01031: insufficient privileges");
  EXPECT_EQ(d.run("alter system kill session '999,1'"), OCI_ERROR);
  EXPECT_EQ(dba.error(), "ORA-00030: User session ID does not exist.");
  EXPECT_EQ(d.run("alter system kill session '1,1'"), OCI_ERROR);
  EXPECT_EQ(dba.error(), "ORA-00029: session is not a user session");
  EXPECT_EQ(d.run("alter system kill session 'x'"), OCI_ERROR);
  EXPECT_EQ(dba.error(), "ORA-00026: missing or invalid session ID");
  EXPECT_EQ(d.errorOffset(), 26);
  const Rows me = query(dba, "select sid, serial# from v$session where audsid = userenv('sessionid')");
  EXPECT_EQ(d.run("alter system kill session'" + me[0][0] + "," + me[0][1] + "'"), OCI_ERROR);
  EXPECT_EQ(dba.error(), "ORA-00027: cannot kill current session");
  // Its sid with another serial# names no session at all.
  EXPECT_EQ(d.run("alter system kill session'" + me[0][0] + ",99999'"), OCI_ERROR);
  EXPECT_EQ(dba.error(), "ORA-00030: User session ID does not exist.");
}

TEST_F(CatalogTest, AKilledSessionLearnsItAtItsNextCallAndItsRowGoes) {
  Connection dba;
  dba.open("system", "manager");
  OtherSession other(dba);
  ASSERT_FALSE(other.sid.empty());
  EXPECT_EQ(other.run("select * from dual"), "OK");
  Statement d(dba);
  ASSERT_EQ(d.run("alter system kill session'" + other.sid + "," + other.serial + "'", OCI_COMMIT_ON_SUCCESS),
            OCI_SUCCESS)
      << dba.error();
  EXPECT_EQ(query(dba, "select status, server from v$session where sid = " + other.sid),
            (Rows{{"KILLED", "PSEUDO"}}));
  EXPECT_EQ(d.run("alter system kill session'" + other.sid + "," + other.serial + "'"), OCI_ERROR);
  EXPECT_EQ(dba.error(), "ORA-00030: User session ID does not exist.");

  EXPECT_EQ(other.run("select * from dual"), "ERROR ORA-00028: your session has been killed");
  EXPECT_EQ(query(dba, "select count(*) from v$session where sid = " + other.sid), (Rows{{"0"}}));
  EXPECT_EQ(other.run("select * from dual"), "ERROR ORA-01012: not logged on");
}

TEST_F(CatalogTest, AKillInTheSameProcessReachesTheOtherHandle) {
  Connection victim, dba;
  victim.open();
  dba.open("system", "manager");
  Statement v(victim);
  ASSERT_EQ(v.run("select dummy from dual"), OCI_SUCCESS);
  const Rows rows = query(dba, "select sid, serial# from v$session where username = 'SCOTT'");
  ASSERT_EQ(rows.size(), 1u);
  Statement d(dba);
  ASSERT_EQ(d.run("alter system kill session '" + rows[0][0] + ", " + rows[0][1] + "' immediate"), OCI_SUCCESS)
      << dba.error();
  char buf[4];
  OCIDefine* def = nullptr;
  OCIDefineByPos(v.stmt, &def, victim.err, 1, buf, sizeof buf, SQLT_STR, nullptr, nullptr, nullptr, OCI_DEFAULT);
  EXPECT_EQ(OCIStmtFetch(v.stmt, victim.err, 1, OCI_FETCH_NEXT, OCI_DEFAULT), OCI_ERROR);
  EXPECT_EQ(victim.error(), "ORA-00028: your session has been killed");
  EXPECT_EQ(victim.logoff(), OCI_ERROR);
  EXPECT_EQ(victim.error(), "ORA-01012: not logged on");
}

TEST_F(CatalogTest, EachStatementIsSharedOnceWithItsCommandTypeAndTheSessionPointsAtIt) {
  Connection c, watcher;
  c.open("system", "manager");
  watcher.open("system", "manager");
  const Rows me = query(c, "select sid from v$session where audsid = userenv('sessionid')");
  ASSERT_EQ(me.size(), 1u);
  const std::string sid = me[0][0];
  // What v$session says the session runs now and ran before, as the address and
  // hash value of statements in v$sql.
  const auto current = [&] {
    return query(watcher, "select q.sql_text, s.command from v$session s, v$sql q where s.sid = " + sid +
                              " and q.address = s.sql_address and q.hash_value = s.sql_hash_value");
  };
  const auto previous = [&] {
    return query(watcher, "select q.sql_text from v$session s, v$sql q where s.sid = " + sid +
                              " and q.address = s.prev_sql_addr and q.hash_value = s.prev_hash_value");
  };
  struct Case {
    const char* sql;
    const char* command;
  };
  const Case cases[] = {
      {"create table t (a number)", "1"},
      {"insert into t values (1)", "2"},
      {"select a from t", "3"},
      {"update t set a = 2", "6"},
      {"delete from t", "7"},
      {"grant select on t to scott", "17"},
      {"revoke select on t from scott", "18"},
      {"begin :x := 1; end;", "47"},
      {"alter system kill session '999,1'", "49"},
      {"drop table t", "12"},
  };
  std::string before;
  for (const Case& k : cases) {
    SCOPED_TRACE(k.sql);
    Statement s(c);
    ASSERT_EQ(s.prepare(k.sql), OCI_SUCCESS);
    int x = 0;
    sb2 ind = 0;
    OCIBind* b = nullptr;
    if (std::string(k.sql).find(":x") != std::string::npos) {
      ASSERT_EQ(OCIBindByName(s.stmt, &b, c.err, reinterpret_cast<const text*>(":x"), 2, &x, 4, SQLT_INT, &ind,
                              nullptr, nullptr, 0, nullptr, OCI_DEFAULT),
                OCI_SUCCESS);
    }
    ub2 type = 0;
    OCIAttrGet(s.stmt, OCI_HTYPE_STMT, &type, nullptr, OCI_ATTR_STMT_TYPE, c.err);
    s.execute(type == OCI_STMT_SELECT ? 0 : 1);  // the kill fails, and is recorded all the same
    EXPECT_EQ(current(), (Rows{{k.sql, k.command}}));
    std::string literal;
    for (const char* p = k.sql; *p; ++p) literal += *p == '\'' ? std::string("''") : std::string(1, *p);
    EXPECT_EQ(query(watcher, "select command_type, executions from v$sql where sql_text = '" + literal + "'"),
              (Rows{{k.command, "1"}}));
    if (!before.empty()) {
      EXPECT_EQ(previous(), (Rows{{before}}));
    }
    before = k.sql;
  }
  // A statement that fails before it runs is not the session's current one.
  Statement bad(c);
  EXPECT_EQ(bad.run("select nosuch from dual"), OCI_ERROR);
  EXPECT_EQ(current(), (Rows{{"drop table t", "12"}}));
  EXPECT_EQ(query(watcher, "select count(*) from v$sql where sql_text = 'select nosuch from dual'"), (Rows{{"0"}}));
}

// A statement's address and hash value are what earlier clients stored for
// the same text in the same file: the address from the upper half of its
// 64-bit FNV-1a hash, the hash value its 32-bit FNV-1a hash. Others would
// leave the sessions of an existing instance pointing at no shared statement.
TEST_F(CatalogTest, AStatementKeepsTheAddressAndHashValueEarlierClientsGaveIt) {
  const std::string text = "select dummy from dual where 1 = 1";
  std::uint32_t h32 = 2166136261u;
  std::uint64_t h64 = 14695981039346656037ull;
  for (unsigned char c : text) {
    h32 = (h32 ^ c) * 16777619u;
    h64 = (h64 ^ c) * 1099511628211ull;
  }
  char address[9];
  std::snprintf(address, sizeof address, "%08X", static_cast<unsigned>(h64 >> 32));
  Connection c;
  c.open("system", "manager");
  Statement s(c);
  ASSERT_EQ(s.run(text), OCI_SUCCESS) << c.error();
  EXPECT_EQ(query(c, "select address, hash_value from v$sql where sql_text = '" + text + "'"),
            (Rows{{address, std::to_string(h32)}}));
}

TEST_F(CatalogTest, TheSessionToKillIsNamedByTwoPositiveNumbers) {
  Connection dba;
  dba.open("system", "manager");
  struct Case {
    std::string sql;
    std::string error;
    ub2 offset;
  };
  const std::string kill = "alter system kill session ";
  const std::string invalid = "ORA-00026: missing or invalid session ID";
  const Case cases[] = {
      {kill + "'0,1'", invalid, 26},
      {kill + "'1,0'", invalid, 26},
      {kill + "'-3,1'", invalid, 26},
      {kill + "'7'", invalid, 26},
      {kill + "'7,1,1'", invalid, 26},
      {kill + "''", invalid, 26},
      {kill + "7", invalid, 26},
      {"alter system kill session", invalid, 25},
      {"alter system kill  sessions '7,1'", "ORA-00922: missing or invalid option", 19},
      {kill + "'999,1' now", "ORA-00933: SQL command not properly ended", 34},
      {kill + "' 999 , 1 ' immediate", "ORA-00030: User session ID does not exist.", 0},
      {"alter systems kill session '7,1'", "ORA-00940: invalid ALTER command", 6},
  };
  for (const Case& k : cases) {
    Statement s(dba);
    EXPECT_EQ(s.run(k.sql), OCI_ERROR) << k.sql;
    EXPECT_EQ(dba.error(), k.error) << k.sql;
    EXPECT_EQ(s.errorOffset(), k.offset) << k.sql;
  }
}

TEST_F(CatalogTest, TheSharedAreaCutsAStatementAtWholeCharacters) {
  Connection c;
  c.open("system", "manager");
  // "ä" takes the 1000th and the 1001st byte: v$sql holds the 999 before it.
  const std::string sql =
      "select dummy from dual where 'x' <> '" + std::string(962, 'y') + "\xc3\xa4" + std::string(40, 'z') + "'";
  ASSERT_EQ(query(c, sql).size(), 1u);
  const Rows rows = query(c, "select sql_text from v$sql where sql_text like 'select dummy from dual where%'");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0], sql.substr(0, 999));
  // v$sqltext holds all of it: sixteen pieces of 64 bytes and the last 18.
  const Rows pieces = query(c, "select piece, t.sql_text from v$sqltext t, v$sql q where t.address ="
                               " q.address and q.sql_text like 'select dummy from dual where%' order by piece");
  ASSERT_EQ(pieces.size(), 17u);
  std::string joined;
  for (size_t i = 0; i < pieces.size(); ++i) {
    EXPECT_EQ(pieces[i][0], std::to_string(i));
    EXPECT_EQ(pieces[i][1].size(), i < 16 ? 64u : 18u) << i;
    joined += pieces[i][1];
  }
  EXPECT_EQ(joined, sql);
}
