// The views a DBA reaches for next to v$session: v$process, v$instance,
// v$parameter, v$lock and dba_users for the catalogue role, and the lists of
// schema objects every user may read.
#include "oci_fixture.h"

#include "ocisim/ocisim_controls.h"

using namespace ocisim_test;

using ServerViewsTest = OciSimTest;

namespace {

using Rows = std::vector<std::vector<std::string>>;

struct Column {
  std::string name;
  ub2 type;
};

// The select list of a query as describe reports it.
std::vector<Column> describe(Connection& c, const std::string& sql) {
  Statement s(c);
  EXPECT_EQ(s.prepare(sql), OCI_SUCCESS);
  EXPECT_EQ(s.execute(0, OCI_DESCRIBE_ONLY), OCI_SUCCESS) << c.error();
  ub4 count = 0;
  OCIAttrGet(s.stmt, OCI_HTYPE_STMT, &count, nullptr, OCI_ATTR_PARAM_COUNT, c.err);
  std::vector<Column> columns;
  for (ub4 i = 1; i <= count; ++i) {
    void* param = nullptr;
    OCIParamGet(s.stmt, OCI_HTYPE_STMT, c.err, &param, i);
    text* name = nullptr;
    ub4 length = 0;
    ub2 type = 0;
    OCIAttrGet(param, OCI_DTYPE_PARAM, &name, &length, OCI_ATTR_NAME, c.err);
    OCIAttrGet(param, OCI_DTYPE_PARAM, &type, nullptr, OCI_ATTR_DATA_TYPE, c.err);
    columns.push_back({std::string(reinterpret_cast<char*>(name), length), type});
  }
  return columns;
}

std::vector<std::string> names(const std::vector<Column>& columns) {
  std::vector<std::string> out;
  for (const Column& c : columns) out.push_back(c.name);
  return out;
}

ub2 typeOf(const std::vector<Column>& columns, const std::string& name) {
  for (const Column& c : columns)
    if (c.name == name) return c.type;
  return 0;
}

constexpr ub2 kVarchar2 = 1, kNumber = 2, kDate = 12;

}  // namespace

TEST_F(ServerViewsTest, TheServerViewsHaveTheServersColumnsAndNeedTheCatalogueRole) {
  Connection dba, scott;
  dba.open("system", "manager");
  scott.open();
  const std::vector<Column> process = describe(dba, "select * from v$process");
  EXPECT_EQ(names(process), (std::vector<std::string>{"ADDR", "PID", "SPID", "USERNAME", "SERIAL#", "TERMINAL",
                                                      "PROGRAM", "BACKGROUND", "LATCHWAIT", "LATCHSPIN"}));
  const std::vector<Column> instance = describe(dba, "select * from v$instance");
  EXPECT_EQ(names(instance),
            (std::vector<std::string>{"INSTANCE_NUMBER", "INSTANCE_NAME", "HOST_NAME", "VERSION", "STARTUP_TIME",
                                      "STATUS", "PARALLEL", "THREAD#", "ARCHIVER", "LOG_SWITCH_WAIT", "LOGINS",
                                      "SHUTDOWN_PENDING", "DATABASE_STATUS", "INSTANCE_ROLE"}));
  EXPECT_EQ(typeOf(instance, "STARTUP_TIME"), kDate);
  EXPECT_EQ(typeOf(instance, "INSTANCE_NUMBER"), kNumber);
  const std::vector<Column> parameter = describe(dba, "select * from v$parameter");
  EXPECT_EQ(names(parameter),
            (std::vector<std::string>{"NUM", "NAME", "TYPE", "VALUE", "ISDEFAULT", "ISSES_MODIFIABLE",
                                      "ISSYS_MODIFIABLE", "ISMODIFIED", "ISADJUSTED", "DESCRIPTION",
                                      "UPDATE_COMMENT"}));
  EXPECT_EQ(typeOf(parameter, "VALUE"), kVarchar2);
  const std::vector<Column> lock = describe(dba, "select * from v$lock");
  EXPECT_EQ(names(lock), (std::vector<std::string>{"ADDR", "KADDR", "SID", "TYPE", "ID1", "ID2", "LMODE",
                                                   "REQUEST", "CTIME", "BLOCK"}));
  EXPECT_EQ(typeOf(lock, "ID1"), kNumber);
  const std::vector<Column> users = describe(dba, "select * from dba_users");
  EXPECT_EQ(names(users), (std::vector<std::string>{"USERNAME", "USER_ID", "PASSWORD", "ACCOUNT_STATUS", "LOCK_DATE",
                                                    "EXPIRY_DATE", "DEFAULT_TABLESPACE", "TEMPORARY_TABLESPACE",
                                                    "CREATED", "PROFILE", "INITIAL_RSRC_CONSUMER_GROUP",
                                                    "EXTERNAL_NAME"}));
  EXPECT_EQ(typeOf(users, "CREATED"), kDate);
  EXPECT_EQ(typeOf(users, "USERNAME"), kVarchar2);
  EXPECT_EQ(names(describe(dba, "select paddr from v$session")), std::vector<std::string>{"PADDR"});
  for (const char* view : {"v$process", "v$instance", "v$parameter", "v$lock", "dba_users"}) {
    Statement s(scott);
    EXPECT_EQ(s.run(std::string("select * from ") + view), OCI_ERROR) << view;
    EXPECT_EQ(scott.error(), "ORA-01031: insufficient privileges") << view;
  }
}

TEST_F(ServerViewsTest, ProcessesInstanceParametersAndUsersAgreeWithTheSessions) {
  Connection dba;
  dba.open("system", "manager");
  // Each session reaches its own process through PADDR; the background
  // processes are background ones, a user session's is a dedicated server.
  EXPECT_EQ(query(dba, "select p.program, p.background, p.pid from v$process p, v$session s"
                       " where p.addr = s.paddr and s.sid = 1"),
            (Rows{{query(dba, "select program from v$session where sid = 1")[0][0], "1", "2"}}));
  const Rows host = query(dba, "select host_name from v$instance");
  ASSERT_EQ(host.size(), 1u);
  EXPECT_EQ(query(dba, "select p.program from v$process p, v$session s where p.addr = s.paddr and"
                       " s.audsid = userenv('sessionid')"),
            (Rows{{"oracle@" + host[0][0] + " (TNS V1-V3)"}}));
  EXPECT_EQ(query(dba, "select count(*) from v$session s where not exists"
                       " (select 1 from v$process p where p.addr = s.paddr)"),
            (Rows{{"0"}}));
  EXPECT_EQ(query(dba, "select instance_name, version, status, database_status from v$instance"),
            (Rows{{"demo", "8.1.7.0.0", "OPEN", "ACTIVE"}}));
  EXPECT_EQ(query(dba, "select value, type, isdefault from v$parameter where name in ('db_name', 'processes',"
                       " 'nls_date_format') order by num"),
            (Rows{{"1000", "3", "FALSE"}, {"DEMO", "2", "FALSE"}, {"<null>", "2", "TRUE"}}));
  EXPECT_EQ(query(dba, "select type, lmode, block from v$lock where sid = (select sid from v$session"
                       " where program like '%(LGWR)')"),
            (Rows{{"RT", "6", "0"}}));
  // The users, each with the user# its sessions show, and never a password.
  EXPECT_EQ(query(dba, "select username, account_status, default_tablespace, password from dba_users"
                       " order by user_id"),
            (Rows{{"SYSTEM", "OPEN", "SYSTEM", "<null>"},
                  {"MONITOR", "OPEN", "USERS", "<null>"},
                  {"SCOTT", "OPEN", "USERS", "<null>"}}));
  EXPECT_EQ(query(dba, "select count(*) from v$session s, dba_users u where s.user# = u.user_id and"
                       " s.username = u.username and s.audsid = userenv('sessionid')"),
            (Rows{{"1"}}));
  Statement create(dba);
  ASSERT_EQ(create.run("create user newbie identified by secret"), OCI_SUCCESS) << dba.error();
  EXPECT_EQ(query(dba, "select count(*) from dba_users where username = 'NEWBIE' and created is not null"),
            (Rows{{"1"}}));
  // The role that reads the catalogue reads the users too, but not their passwords.
  Connection monitor;
  monitor.open("monitor", "monitor");
  EXPECT_EQ(query(monitor, "select count(*) from dba_users"), (Rows{{"4"}}));
}

TEST_F(ServerViewsTest, ObjectListsShowWhatTheUserOwnsOrMayUse) {
  Connection scott, monitor, dba;
  scott.open();
  monitor.open("monitor", "monitor");
  dba.open("system", "manager");
  Statement s(scott);
  for (const char* sql : {"create table emp (empno number, ename varchar2(10))", "create table dept (deptno number)",
                          "create view emp_names as select ename from emp", "create index emp_i on emp (empno)"})
    ASSERT_EQ(s.run(sql), OCI_SUCCESS) << sql << ": " << scott.error();
  EXPECT_EQ(query(scott, "select table_name, tablespace_name, num_rows from user_tables order by table_name"),
            (Rows{{"DEPT", "USERS", "<null>"}, {"EMP", "USERS", "<null>"}}));
  EXPECT_EQ(query(scott, "select object_name, object_type, status from user_objects order by object_name"),
            (Rows{{"DEPT", "TABLE", "VALID"}, {"EMP", "TABLE", "VALID"}, {"EMP_I", "INDEX", "VALID"},
                  {"EMP_NAMES", "VIEW", "VALID"}}));
  EXPECT_EQ(query(scott, "select count(distinct object_id) from all_objects"), (Rows{{"4"}}));
  // Another user sees nothing of them until it is granted one.
  EXPECT_EQ(query(monitor, "select count(*) from all_tables where owner = 'SCOTT'"), (Rows{{"0"}}));
  EXPECT_EQ(query(monitor, "select count(*) from user_tables"), (Rows{{"0"}}));
  ASSERT_EQ(s.run("grant select on emp to monitor"), OCI_SUCCESS) << scott.error();
  EXPECT_EQ(query(monitor, "select owner, table_name from all_tables"), (Rows{{"SCOTT", "EMP"}}));
  EXPECT_EQ(query(monitor, "select owner, object_name, object_type from all_objects"),
            (Rows{{"SCOTT", "EMP", "TABLE"}}));
  // One who may read any table sees every object.
  EXPECT_EQ(query(dba, "select count(*) from all_objects where owner = 'SCOTT'"), (Rows{{"4"}}));
  EXPECT_EQ(query(dba, "select count(*) from user_objects"), (Rows{{"0"}}));
  // A dropped object is gone from the lists at the next statement.
  ASSERT_EQ(s.run("drop table dept"), OCI_SUCCESS) << scott.error();
  EXPECT_EQ(query(scott, "select table_name from user_tables"), (Rows{{"EMP"}}));
}
