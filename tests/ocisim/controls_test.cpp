// Tests of the stand-in's test controls: armed failures and statuses, call
// counts.
#include "oci_fixture.h"

#include "ocisim/ocisim_controls.h"

#include <dlfcn.h>

using namespace ocisim_test;

using ControlTest = OciSimTest;

TEST_F(ControlTest, AnArmedFailureHitsOnlyTheNextCallOfItsEntryPoint) {
  Connection c;
  ASSERT_EQ(c.attach(), OCI_SUCCESS);
  ASSERT_EQ(ocisim_fail_next("OCISessionBegin", 1034), 0);
  EXPECT_EQ(c.logon("scott", "tiger"), OCI_ERROR);
  EXPECT_EQ(c.error(), "ORA-01034: ORACLE not available");
  EXPECT_TRUE(userSessions().empty());
  EXPECT_EQ(c.logon("scott", "tiger"), OCI_SUCCESS) << c.error();

  ASSERT_EQ(ocisim_fail_next("OCISessionEnd", 4711), 0);
  EXPECT_EQ(c.logoff(), OCI_ERROR);
  EXPECT_EQ(c.error(), "ORA-04711: Message 4711 not found; product=RDBMS; facility=ORA");
  EXPECT_EQ(userSessions().size(), 1u);

  EXPECT_EQ(ocisim_fail_next("OCINoSuchCall", 1017), -1);
  EXPECT_EQ(ocisim_fail_next("OCIInitialize", 0), -1);
}

TEST_F(ControlTest, AnArmedStatusEndsOnlyTheNextCallWithoutDoingAnything) {
  Connection c;
  c.open();
  Statement s(c);
  ASSERT_EQ(s.run("create table t (a number)"), OCI_SUCCESS);
  ASSERT_EQ(s.prepare("insert into t values (1)"), OCI_SUCCESS);
  ASSERT_EQ(ocisim_status_next("OCIStmtExecute", OCI_STILL_EXECUTING), 0);
  EXPECT_EQ(s.execute(1), OCI_STILL_EXECUTING);
  EXPECT_EQ(query(c, "select count(*) from t")[0][0], "0");
  EXPECT_EQ(s.execute(1), OCI_SUCCESS) << s.error();
  EXPECT_EQ(query(c, "select count(*) from t")[0][0], "1");

  ASSERT_EQ(ocisim_status_next("OCIStmtExecute", OCI_NEED_DATA), 0);
  ocisim_clear_failures();
  EXPECT_EQ(s.execute(1), OCI_SUCCESS) << s.error();

  EXPECT_EQ(ocisim_status_next("OCIStmtExecute", OCI_SUCCESS), -1);
  EXPECT_EQ(ocisim_status_next("OCIStmtExecute", OCI_ERROR), -1);
  EXPECT_EQ(ocisim_status_next("OCINoSuchCall", OCI_NEED_DATA), -1);
}

TEST_F(ControlTest, CallsAreCountedPerEntryPointUntilReset) {
  Connection c;  // OCIInitialize, OCIEnvInit and four OCIHandleAlloc
  EXPECT_EQ(ocisim_call_count("OCIHandleAlloc"), 4);
  c.attach("NOSUCH");
  c.error();
  EXPECT_EQ(ocisim_call_count("OCIServerAttach"), 1);
  EXPECT_EQ(ocisim_call_count("OCIErrorGet"), 1);
  EXPECT_EQ(ocisim_call_count("OCILobTrim"), 0);
  EXPECT_EQ(ocisim_call_count("nothing"), -1);
  ocisim_reset_counts();
  EXPECT_EQ(ocisim_call_count("OCIHandleAlloc"), 0);
}

TEST_F(ControlTest, TheReportedClientVersionIs817) {
  sword v[5] = {-1, -1, -1, -1, -1};
  OCIClientVersion(&v[0], &v[1], &v[2], &v[3], &v[4]);
  EXPECT_EQ(std::vector<sword>(v, v + 5), (std::vector<sword>{8, 1, 7, 0, 0}));
}

TEST_F(ControlTest, TheLoaderTestClientsExportWhatTheirNamesPromise) {
  const auto symbols = [](const std::string& name) {
    std::vector<std::string> found;
    void* lib = dlopen((std::string(OCISIM_TESTCLIENTS_DIR) + "/" + name + "/libclntsh.so").c_str(),
                       RTLD_NOW | RTLD_LOCAL);
    if (!lib) return found;
    for (const char* s : {"OCIEnvInit", "OCILobWrite", "OCILobTrim", "OCIBindArrayOfStruct"})
      if (dlsym(lib, s)) found.emplace_back(s);
    if (auto version = reinterpret_cast<OCIClientVersion_t>(dlsym(lib, "OCIClientVersion"))) {
      sword v[5] = {};
      version(&v[0], &v[1], &v[2], &v[3], &v[4]);
      found.push_back(std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2]) +
                      "." + std::to_string(v[3]) + "." + std::to_string(v[4]));
    }
    dlclose(lib);
    return found;
  };
  using V = std::vector<std::string>;
  EXPECT_EQ(symbols("v92"), (V{"OCIEnvInit", "OCILobWrite", "OCILobTrim", "OCIBindArrayOfStruct", "9.2.0.1.0"}));
  EXPECT_EQ(symbols("noversion"), (V{"OCIEnvInit", "OCILobWrite", "OCILobTrim", "OCIBindArrayOfStruct"}));
  EXPECT_EQ(symbols("nolobtrim"), (V{"OCIEnvInit", "OCILobWrite", "8.1.7.0.0"}));
}

TEST_F(ControlTest, SimulatedSessionsCanBeAddedAndRemovedAgain) {
  EXPECT_EQ(ocisim_add_sessions("DEMO", 25), 25);
  Connection c;
  c.open("system", "manager");
  const auto rows = query(c, "select count(*), count(distinct sid), min(sid) from v$session where type = 'USER'"
                             " and sql_hash_value <> 0 and sid <> (select sid from v$session where"
                             " audsid = userenv('sessionid'))");
  ASSERT_EQ(rows.size(), 1u);
  // The simulated sessions are the same every time: 25 of them, after the
  // background processes, of which 19 are running a statement.
  EXPECT_EQ(rows[0], (std::vector<std::string>{"19", "19", "7"}));
  EXPECT_EQ(ocisim_remove_sessions("DEMO"), 0);
  EXPECT_EQ(ocisim_session_count("DEMO", 0), 1);  // the client's own session stays
  EXPECT_EQ(ocisim_add_sessions("NOSUCHSERVICE", 1), -1);
}

TEST_F(ControlTest, ANewInstanceGetsTheDemoSessionsAskedFor) {
  setenv("OCISIM_DEMO_SESSIONS", "3", 1);
  Connection c;
  c.open("system", "manager");
  EXPECT_EQ(ocisim_session_count("DEMO", 0), 4);
}
