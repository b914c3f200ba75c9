// Tests of attaching and logging on to the stand-in: service names,
// credentials, roles and sessions.
#include "oci_fixture.h"

#include <unistd.h>

#include "ocisim/ocisim_controls.h"

using namespace ocisim_test;

using LogonTest = OciSimTest;

TEST_F(LogonTest, AnUnknownServiceNameIsNotResolved) {
  Connection c;
  EXPECT_EQ(c.attach("NOSUCH"), OCI_ERROR);
  EXPECT_EQ(c.error(), "ORA-12154: TNS:could not resolve service name");
}

TEST_F(LogonTest, ServiceNamesIgnoreCaseAndAnEmptyOneMeansTheDefaultInstance) {
  Connection lower;
  lower.open("scott", "tiger", "demo");
  Connection empty;
  empty.open("scott", "tiger", "");
  EXPECT_EQ(userSessions("DEMO").size(), 2u);

  setenv("ORACLE_SID", "OTHER", 1);
  Connection other;
  other.open("system", "manager", "");
  EXPECT_EQ(userSessions("").size(), 1u);
  EXPECT_EQ(userSessions("DEMO").size(), 2u);
}

TEST_F(LogonTest, AWrongPasswordOrUnknownUserIsDenied) {
  Connection c;
  ASSERT_EQ(c.attach(), OCI_SUCCESS);
  EXPECT_EQ(c.logon("scott", "lion"), OCI_ERROR);
  EXPECT_EQ(c.error(), "ORA-01017: invalid username/password; logon denied");
  EXPECT_EQ(c.logon("nobody", "tiger"), OCI_ERROR);
  EXPECT_EQ(c.error(), "ORA-01017: invalid username/password; logon denied");
  // A quoted name keeps its case, and the users' names are upper case.
  EXPECT_EQ(c.logon("\"scott\"", "tiger"), OCI_ERROR);
  EXPECT_EQ(c.logon("scott", ""), OCI_ERROR);
  EXPECT_EQ(c.error(), "ORA-01005: null password given; logon denied");
  EXPECT_TRUE(userSessions().empty());
}

TEST_F(LogonTest, TheSessionHandleForgetsThePasswordWhenTheSessionBeginsOrIsRefused) {
  Connection c;
  ASSERT_EQ(c.attach(), OCI_SUCCESS);
  std::string password = "tiger";
  ASSERT_EQ(OCIAttrSet(c.ses, OCI_HTYPE_SESSION, password.data(), static_cast<ub4>(password.size()),
                       OCI_ATTR_PASSWORD, c.err),
            OCI_SUCCESS);
  EXPECT_EQ(ocisim_session_password_size(c.ses), 5);
  ASSERT_EQ(ocisim_fail_next("OCISessionBegin", 3113), 0);
  EXPECT_EQ(OCISessionBegin(c.svc, c.err, c.ses, OCI_CRED_RDBMS, OCI_DEFAULT), OCI_ERROR);
  EXPECT_EQ(ocisim_session_password_size(c.ses), 0);

  EXPECT_EQ(c.logon("scott", "lion"), OCI_ERROR);
  EXPECT_EQ(ocisim_session_password_size(c.ses), 0);
  // Set again for the next attempt, as a refused log-on needs.
  ASSERT_EQ(c.logon("scott", "tiger"), OCI_SUCCESS) << c.error();
  EXPECT_EQ(ocisim_session_password_size(c.ses), 0);
  EXPECT_EQ(ocisim_session_password_size(c.svc), -1);  // not a user session handle
}

TEST_F(LogonTest, TheDemoUsersLogOnWhateverTheLetterCase) {
  Connection system, monitor, scott;
  system.open("SYSTEM", "manager");
  monitor.open("Monitor", "MONITOR");
  scott.open("\"SCOTT\"", "Tiger");
  EXPECT_EQ(userSessions().size(), 3u);
}

TEST_F(LogonTest, ALogonRecordsThisProcessAndLoggingOffRemovesIt) {
  Connection c;
  c.open("scott", "tiger");
  const auto rows = userSessions();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].username, "SCOTT");
  EXPECT_EQ(rows[0].program, "ocisim_tests");
  EXPECT_EQ(rows[0].type, "USER");
  EXPECT_EQ(rows[0].status, "INACTIVE");
  EXPECT_EQ(rows[0].server, "DEDICATED");
  EXPECT_EQ(rows[0].osPid, getpid());
  EXPECT_FALSE(rows[0].osuser.empty());
  EXPECT_FALSE(rows[0].machine.empty());
  EXPECT_FALSE(rows[0].terminal.empty());

  ASSERT_EQ(c.logoff(), OCI_SUCCESS) << c.error();
  EXPECT_TRUE(userSessions().empty());
  EXPECT_EQ(c.logoff(), OCI_ERROR);
  EXPECT_EQ(c.error(), "ORA-01012: not logged on");
}

TEST_F(LogonTest, FreeingTheEnvironmentOfAnOpenSessionRemovesItsRow) {
  Connection c;
  c.open();
  ASSERT_EQ(userSessions().size(), 1u);
  c.freeEnvironment();
  EXPECT_TRUE(userSessions().empty());
}

TEST_F(LogonTest, LogonNeedsAnAttachedServerAndHappensOnce) {
  Connection c;
  EXPECT_EQ(c.logon("scott", "tiger"), OCI_ERROR);
  EXPECT_EQ(c.error(), "ORA-24327: need explicit attach before authenticating a user");
  c.open();
  EXPECT_EQ(c.attach(), OCI_ERROR);
  EXPECT_EQ(c.error(), "ORA-24309: already connected to a server");
  EXPECT_EQ(c.logon("scott", "tiger"), OCI_ERROR);
  EXPECT_EQ(c.error(), "ORA-24313: user already authenticated");
  EXPECT_EQ(userSessions().size(), 1u);
}

TEST_F(LogonTest, SidsReuseTheSmallestFreeSlotWithAHigherSerial) {
  Connection a, b, c;
  a.open();
  b.open();
  auto rows = userSessions();
  ASSERT_EQ(rows.size(), 2u);
  // Sids 1 to 6 belong to the background processes; serial numbers go on from 2.
  EXPECT_EQ(rows[0].sid, 7);
  EXPECT_EQ(rows[0].serial, 2);
  EXPECT_EQ(rows[1].sid, 8);
  EXPECT_EQ(rows[1].serial, 3);

  ASSERT_EQ(a.logoff(), OCI_SUCCESS);
  c.open();
  rows = userSessions();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].sid, 7);
  EXPECT_EQ(rows[0].serial, 4);
  EXPECT_EQ(rows[1].sid, 8);
}

TEST_F(LogonTest, ADbaCreatesUsersWhoCanLogOn) {
  Connection dba;
  dba.open("system", "manager");
  Statement create(dba);
  EXPECT_EQ(create.run("create user clerk identified by Secret"), OCI_SUCCESS) << dba.error();
  Connection clerk;
  clerk.open("CLERK", "secret");
  EXPECT_EQ(query(clerk, "select user from dual"), (std::vector<std::vector<std::string>>{{"CLERK"}}));

  EXPECT_EQ(create.run("create user CLERK identified by other"), OCI_ERROR);
  EXPECT_EQ(dba.error(), "ORA-01920: user name 'CLERK' conflicts with another user or role name");
  EXPECT_EQ(create.run("create user DBA identified by other"), OCI_ERROR);
  EXPECT_EQ(create.run("create user clerk2 identified other"), OCI_ERROR);
  EXPECT_EQ(dba.error(), "ORA-00924: missing BY keyword");
  EXPECT_EQ(create.errorOffset(), 30);  // where BY was expected
  EXPECT_EQ(create.run("create user clerk2 identified by"), OCI_ERROR);
  EXPECT_EQ(dba.error(), "ORA-00988: missing or invalid password(s)");

  Connection scott;
  scott.open();
  Statement refused(scott);
  EXPECT_EQ(refused.run("create user clerk3 identified by x"), OCI_ERROR);
  EXPECT_EQ(scott.error(), "ORA-01031: insufficient privileges");
}
