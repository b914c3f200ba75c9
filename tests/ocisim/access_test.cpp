// Who reaches what: the instance's own tables, the dynamic views, and the
// objects of other users' schemas.
#include "oci_fixture.h"

#include "ocisim/ocisim_controls.h"

#include <sqlite3.h>

#include <filesystem>

using namespace ocisim_test;

using AccessTest = OciSimTest;

namespace {

using Rows = std::vector<std::vector<std::string>>;

// The error a statement fails with ("" when it runs).
std::string failure(Connection& c, const std::string& sql) {
  Statement s(c);
  if (s.run(sql) == OCI_SUCCESS) return "";
  return c.error();
}

// The error of a statement that must fail, with the offset the server names.
std::pair<std::string, ub2> failsAt(Connection& c, const std::string& sql) {
  Statement s(c);
  EXPECT_EQ(s.run(sql), OCI_ERROR) << sql;
  return {c.error(), s.errorOffset()};
}

const std::string kMissing = "ORA-00942: table or view does not exist";
const std::string kNoPrivilege = "ORA-01031: insufficient privileges";

// SYSTEM with a table T of one committed row.
struct SystemTable : Connection {
  SystemTable() {
    open("system", "manager");
    Statement s(*this);
    EXPECT_EQ(s.run("create table t (a number, b varchar2(10))"), OCI_SUCCESS) << error();
    EXPECT_EQ(s.run("insert into t values (1, 'one')", OCI_COMMIT_ON_SUCCESS), OCI_SUCCESS) << error();
  }
  void run(const std::string& sql) {
    Statement s(*this);
    EXPECT_EQ(s.run(sql, OCI_COMMIT_ON_SUCCESS), OCI_SUCCESS) << sql << ": " << error();
  }
};

}  // namespace

TEST_F(AccessTest, ACommonTableExpressionReachesNothingItsStatementCouldNotNameDirectly) {
  Connection scott, system, monitor;
  scott.open();
  system.open("system", "manager");
  monitor.open("monitor", "monitor");
  // The instance's private tables are there for nobody, the DBA included.
  for (Connection* c : {&scott, &system}) {
    EXPECT_EQ(failure(*c, "with x as (select username,password from users) select * from x"), kMissing);
    EXPECT_EQ(failure(*c, "with x as (select password from sys.users) select * from x"), kMissing);
    EXPECT_EQ(failure(*c, "with p as (select * from sys_privs) select count(*) from p"), kMissing);
    EXPECT_EQ(failure(*c, "with d as (select * from directories) select * from d"), kMissing);
  }
  // The sessions are the catalogue role's, whatever the statement calls them.
  EXPECT_EQ(failure(scott, "with s as (select sid,username,program from sessions) select * from s"), kMissing);
  EXPECT_EQ(failure(scott, "with s as (select sid,username,program from v$session) select * from s"),
            kNoPrivilege);
  EXPECT_EQ(failure(scott, "with s as (select sid from \"V$SESSION\") select * from s"), kMissing);
  EXPECT_EQ(failure(scott, "with \"V$SQL\" as (select sid, program from \"V$SESSION\") select * from \"V$SQL\""),
            kMissing);
  // Counting reads no column, and still counts the sessions.
  EXPECT_EQ(failure(scott, "select count(*) from \"V$SESSION\""), kMissing);
  EXPECT_EQ(failure(scott, "with s as (select 1 from \"V$SQL\") select count(*) from s"), kMissing);
  // With the role the same statements run.
  EXPECT_EQ(query(monitor, "with s as (select sid, username from v$session where username = 'SCOTT')"
                           " select count(*) from s"),
            (Rows{{"1"}}));
  EXPECT_EQ(query(monitor, "select count(*) from \"V$SESSION\" where type = 'BACKGROUND'"), (Rows{{"6"}}));
  // The session's own roles stay its own.
  EXPECT_EQ(query(scott, "with r as (select role from session_roles) select role from r order by role"),
            (Rows{{"CONNECT"}, {"RESOURCE"}}));
}

TEST_F(AccessTest, AWithClauseInFrontOfAChangeIsRefusedAndChangesNothing) {
  Connection scott, other;
  scott.open();
  other.open();
  Statement s(scott);
  ASSERT_EQ(s.run("create table t (a number)"), OCI_SUCCESS) << scott.error();
  const auto f = failsAt(scott, "with x as (select 1 a from dual) insert into t select a from x");
  EXPECT_EQ(f.first, "ORA-00928: missing SELECT keyword");
  EXPECT_EQ(f.second, 33);
  EXPECT_EQ(failure(scott, "with x as (select 1 a from dual) delete from t"),
            "ORA-00928: missing SELECT keyword");
  EXPECT_EQ(failure(scott, "with x as (select 1 a from dual) update t set a = 2"),
            "ORA-00928: missing SELECT keyword");
  ASSERT_EQ(OCITransRollback(scott.svc, scott.err, OCI_DEFAULT), OCI_SUCCESS);
  EXPECT_EQ(query(other, "select count(*) from t"), (Rows{{"0"}}));
  EXPECT_EQ(query(scott, "select count(*) from t"), (Rows{{"0"}}));
}

TEST_F(AccessTest, AnotherUsersTableIsNotThereUntilItsOwnerGrantsAccess) {
  SystemTable system;
  Connection scott, monitor;
  scott.open();
  monitor.open("monitor", "monitor");
  for (Connection* c : {&scott, &monitor}) {
    // Unqualified, the name means the user's own schema, which has no T.
    EXPECT_EQ(failure(*c, "select * from t"), kMissing);
    const auto f = failsAt(*c, "select a from system.t");
    EXPECT_EQ(f.first, kMissing);
    EXPECT_EQ(f.second, 14);
    EXPECT_EQ(failure(*c, "insert into system.t values (2, 'two')"), kMissing);
    EXPECT_EQ(failure(*c, "update system.t set b = 'uno'"), kMissing);
    EXPECT_EQ(failure(*c, "delete from system.t"), kMissing);
    EXPECT_EQ(failure(*c, "drop table system.t"), kMissing);
    EXPECT_EQ(failure(*c, "truncate table system.t"), kMissing);
    // Nor around a corner: a subquery, a view, a copy, a common table expression.
    EXPECT_EQ(failure(*c, "select 1 from dual where exists (select 1 from system.t)"), kMissing);
    EXPECT_EQ(failure(*c, "with x as (select * from system.t) select * from x"), kMissing);
  }
  EXPECT_EQ(failure(scott, "create table copy as select * from system.t"), kMissing);
  EXPECT_EQ(failure(scott, "create view v as select * from system.t"), kMissing);
  EXPECT_EQ(query(system, "select a, b from t"), (Rows{{"1", "one"}}));

  // SELECT lets SCOTT read, and only read; MONITOR still sees nothing.
  system.run("grant select on t to scott");
  EXPECT_EQ(query(scott, "select a, b from system.t"), (Rows{{"1", "one"}}));
  EXPECT_EQ(query(scott, "select system.t.b from system.t where system.t.a = 1"), (Rows{{"one"}}));
  EXPECT_EQ(failure(scott, "select * from t"), kMissing);
  EXPECT_EQ(failure(scott, "insert into system.t values (2, 'two')"), kNoPrivilege);
  EXPECT_EQ(failure(scott, "update system.t set b = 'uno'"), kNoPrivilege);
  EXPECT_EQ(failure(scott, "delete from system.t"), kNoPrivilege);
  EXPECT_EQ(failure(scott, "drop table system.t"), kNoPrivilege);
  EXPECT_EQ(failure(scott, "truncate table system.t"), kNoPrivilege);
  EXPECT_EQ(failure(monitor, "select * from system.t"), kMissing);

  // The changes, one by one.
  system.run("grant insert, update on t to scott");
  Statement s(scott);
  EXPECT_EQ(s.run("insert into system.t values (2, 'two')"), OCI_SUCCESS) << scott.error();
  EXPECT_EQ(s.run("update system.t x set b = 'zwei' where x.a = 2", OCI_COMMIT_ON_SUCCESS), OCI_SUCCESS)
      << scott.error();
  EXPECT_EQ(failure(scott, "delete from system.t"), kNoPrivilege);
  system.run("grant delete on t to scott");
  EXPECT_EQ(s.run("delete system.t where a = 2", OCI_COMMIT_ON_SUCCESS), OCI_SUCCESS) << scott.error();
  EXPECT_EQ(query(system, "select a from t order by a"), (Rows{{"1"}}));
  EXPECT_EQ(failure(scott, "drop table system.t"), kNoPrivilege);

  // ALL gives MONITOR every one of them, and no more.
  system.run("grant all on t to monitor");
  Statement m(monitor);
  EXPECT_EQ(m.run("insert into system.t values (3, 'drei')", OCI_COMMIT_ON_SUCCESS), OCI_SUCCESS)
      << monitor.error();
  EXPECT_EQ(query(monitor, "select count(*) from system.t"), (Rows{{"2"}}));
  EXPECT_EQ(failure(monitor, "drop table system.t"), kNoPrivilege);

  // Revoked, what is left decides how much of the table the user still sees.
  system.run("revoke select on t from scott");
  EXPECT_EQ(failure(scott, "select * from system.t"), kNoPrivilege);
  system.run("revoke all on t from scott");
  EXPECT_EQ(failure(scott, "select * from system.t"), kMissing);
  EXPECT_EQ(failure(scott, "insert into system.t values (4, 'vier')"), kMissing);
  EXPECT_EQ(query(monitor, "select count(*) from system.t"), (Rows{{"2"}}));
}

TEST_F(AccessTest, EachUserHasASchemaOfItsOwnAndTheDbaReachesThemAll) {
  SystemTable system;
  Connection scott;
  scott.open();
  Statement s(scott);
  // The same name in another schema is another table.
  ASSERT_EQ(s.run("create table t (a number)"), OCI_SUCCESS) << scott.error();
  ASSERT_EQ(s.run("insert into t values (42)", OCI_COMMIT_ON_SUCCESS), OCI_SUCCESS) << scott.error();
  EXPECT_EQ(query(scott, "select a from t"), (Rows{{"42"}}));
  EXPECT_EQ(query(scott, "select a from scott.t"), (Rows{{"42"}}));
  EXPECT_EQ(query(system, "select a from t"), (Rows{{"1"}}));
  // SYSTEM holds the ANY privileges of the DBA role.
  EXPECT_EQ(query(system, "select t.a, s.a from t, scott.t s"), (Rows{{"1", "42"}}));
  system.run("insert into scott.t values (43)");
  EXPECT_EQ(query(scott, "select count(*) from t"), (Rows{{"2"}}));
  // Creating in another schema needs an ANY privilege SCOTT does not have.
  EXPECT_EQ(failure(scott, "create table system.u (a number)"), kNoPrivilege);
  system.run("create table scott.made_for_scott (a number)");
  EXPECT_EQ(query(scott, "select count(*) from made_for_scott"), (Rows{{"0"}}));
  system.run("drop table scott.t");
  EXPECT_EQ(failure(scott, "select * from t"), kMissing);
  // A name is looked for in the user's schema before the session's own views.
  ASSERT_EQ(s.run("create table dual (d number)"), OCI_SUCCESS) << scott.error();
  EXPECT_EQ(query(scott, "select count(*) from dual"), (Rows{{"0"}}));
  EXPECT_EQ(query(scott, "select dummy from sys.dual"), (Rows{{"X"}}));
  EXPECT_EQ(query(system, "select dummy from dual"), (Rows{{"X"}}));
  EXPECT_EQ(query(system, "select a from t"), (Rows{{"1"}}));
}

TEST_F(AccessTest, GrantAndRevokeAreRefusedAsTheServerRefusesThem) {
  SystemTable system;
  Connection scott;
  scott.open();
  EXPECT_EQ(failure(system, "grant select on t to nobody"), "ORA-01917: user or role 'NOBODY' does not exist");
  EXPECT_EQ(failure(system, "grant select on t to system"),
            "ORA-01749: you may not GRANT/REVOKE privileges to/from yourself");
  EXPECT_EQ(failure(system, "grant select on nosuch to scott"), kMissing);
  EXPECT_EQ(failure(system, "grant frobnicate on t to scott"), "ORA-00990: missing or invalid privilege");
  EXPECT_EQ(failure(system, "grant select t to scott"), "ORA-00969: missing ON keyword");
  EXPECT_EQ(failure(system, "revoke select on t from scott"),
            "ORA-01927: cannot REVOKE privileges you did not grant");
  // Only the owner, or who holds the privilege with the grant option, passes it on.
  EXPECT_EQ(failure(scott, "grant select on system.t to monitor"), kMissing);
  system.run("grant select on t to scott");
  EXPECT_EQ(failure(scott, "grant select on system.t to monitor"), kNoPrivilege);
  system.run("grant select on t to scott with grant option");
  EXPECT_EQ(failure(scott, "grant all on system.t to monitor"), "");
  Connection monitor;
  monitor.open("monitor", "monitor");
  EXPECT_EQ(query(monitor, "select a from system.t"), (Rows{{"1"}}));
  EXPECT_EQ(failure(monitor, "delete from system.t"), kNoPrivilege);
  // What SCOTT passed on goes with SCOTT's own grant.
  system.run("revoke select on t from scott");
  EXPECT_EQ(failure(monitor, "select a from system.t"), kMissing);
  // A grant to a role reaches every user who holds the role, and goes with it.
  system.run("grant select on t to select_catalog_role");
  EXPECT_EQ(query(monitor, "select a from system.t"), (Rows{{"1"}}));
  EXPECT_EQ(failure(scott, "select a from system.t"), kMissing);
  system.run("revoke select on t from select_catalog_role");
  EXPECT_EQ(failure(monitor, "select a from system.t"), kMissing);
  // A table dropped and made again starts without grants.
  system.run("grant select on t to public");
  EXPECT_EQ(query(monitor, "select a from system.t"), (Rows{{"1"}}));
  system.run("drop table t");
  system.run("create table t (a number)");
  EXPECT_EQ(failure(monitor, "select a from system.t"), kMissing);
}

namespace {

// The user data file of the test's instance, next to its instance file.
std::string userDataFile() {
  char path[4096];
  EXPECT_GT(ocisim_instance_file("DEMO", path, sizeof path), 4);
  std::string file = path;
  return file.substr(0, file.size() - 4) + ".users.dbf";
}

void writeDataFile(const std::string& sql) {
  const std::string file = userDataFile();
  std::filesystem::create_directories(std::filesystem::path(file).parent_path());
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
  char* message = nullptr;
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message), SQLITE_OK) << (message ? message : "");
  sqlite3_free(message);
  sqlite3_close(db);
}

}  // namespace

TEST_F(AccessTest, TablesOfADataFileFromBeforeOwnersBecomeTheDbasAndItsTriggersGo) {
  writeDataFile(
      "CREATE TABLE kept (a NUMBER, b VARCHAR2(10));"
      "INSERT INTO kept VALUES (1, 'one');"
      "CREATE TABLE log (a NUMBER);"
      "CREATE TRIGGER spy AFTER INSERT ON kept BEGIN INSERT INTO log VALUES (new.a); END;");
  Connection system, scott;
  system.open("system", "manager");
  scott.open();
  EXPECT_EQ(query(system, "select a, b from kept"), (Rows{{"1", "one"}}));
  EXPECT_EQ(failure(scott, "select * from system.kept"), kMissing);
  EXPECT_EQ(failure(scott, "select * from kept"), kMissing);
  EXPECT_EQ(failure(system, "insert into kept values (2, 'two')"), "");
  EXPECT_EQ(query(system, "select count(*) from log"), (Rows{{"0"}}));
  EXPECT_EQ(failure(system, "grant select on kept to scott"), "");
  EXPECT_EQ(query(scott, "select count(*) from system.kept"), (Rows{{"2"}}));
}

TEST_F(AccessTest, NoTriggerADataFileHoldsEverFires) {
  {
    // A file of the current layout, to which a trigger was added behind the client's back.
    Connection scott;
    scott.open();
    Statement s(scott);
    ASSERT_EQ(s.run("create table t (a number)"), OCI_SUCCESS) << scott.error();
    ASSERT_EQ(s.run("create table loot (a number, b varchar2(10))"), OCI_SUCCESS) << scott.error();
  }
  SystemTable system;
  writeDataFile(
      "CREATE TRIGGER spy AFTER INSERT ON \"SCOTT.T\" BEGIN"
      " INSERT INTO \"SCOTT.LOOT\" SELECT a, b FROM \"SYSTEM.T\"; END;");
  system.run("insert into scott.t values (1)");
  EXPECT_EQ(query(system, "select count(*) from scott.loot"), (Rows{{"0"}}));
  EXPECT_EQ(query(system, "select count(*) from scott.t"), (Rows{{"1"}}));
}
