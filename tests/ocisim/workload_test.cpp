// The busy instance: the workload's sessions, statements, processes and locks,
// the cleanup of killed sessions, and queries that read the instance as it was
// when they ran while another process changes it.
#include "oci_fixture.h"

#include "ocisim/ocisim_controls.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <set>
#include <thread>

using namespace ocisim_test;

using WorkloadTest = OciSimTest;

namespace {

using Rows = std::vector<std::vector<std::string>>;

long runWorkload(long changes, unsigned long seed = 1, ocisim_workload_tally* tally = nullptr) {
  return ocisim_run_workload("DEMO", 10000, seed, changes, nullptr, tally);
}

std::string problems() {
  std::string text(1 << 16, '\0');
  const int n = ocisim_check_instance("DEMO", text.data(), static_cast<int>(text.size()));
  text.resize(std::strlen(text.c_str()));
  return n == 0 ? "ok" : "problems: " + text;
}

// A query whose rows are fetched a few at a time, as text.
class OpenQuery {
 public:
  OpenQuery(Connection& c, const std::string& sql) : s_(c) {
    EXPECT_EQ(s_.run(sql), OCI_SUCCESS) << c.error();
    ub4 columns = 0;
    OCIAttrGet(s_.stmt, OCI_HTYPE_STMT, &columns, nullptr, OCI_ATTR_PARAM_COUNT, c.err);
    buffers_.assign(columns, std::vector<char>(4001));
    indicators_.assign(columns, 0);
    for (ub4 i = 0; i < columns; ++i) {
      OCIDefine* def = nullptr;
      OCIDefineByPos(s_.stmt, &def, c.err, i + 1, buffers_[i].data(), 4001, SQLT_STR, &indicators_[i], nullptr,
                     nullptr, OCI_DEFAULT);
    }
  }
  // Up to n more rows (all that are left for n < 0).
  Rows fetch(long n) {
    Rows rows;
    while (n < 0 || static_cast<long>(rows.size()) < n) {
      const sword rc = OCIStmtFetch(s_.stmt, s_.conn.err, 1, OCI_FETCH_NEXT, OCI_DEFAULT);
      if (rc == OCI_NO_DATA) break;
      EXPECT_EQ(rc, OCI_SUCCESS) << s_.conn.error();
      if (rc != OCI_SUCCESS) break;
      std::vector<std::string> row;
      for (size_t i = 0; i < buffers_.size(); ++i)
        row.push_back(indicators_[i] == -1 ? "<null>" : std::string(buffers_[i].data()));
      rows.push_back(row);
    }
    return rows;
  }

 private:
  Statement s_;
  std::vector<std::vector<char>> buffers_;
  std::vector<sb2> indicators_;
};

// Runs the workload in a process of its own and waits for it.
void changeFromAnotherProcess(long changes, unsigned long seed) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(ocisim_run_workload("DEMO", 10000, seed, changes, nullptr, nullptr) == changes ? 0 : 1);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

const char* const kSessionList =
    "select sid, serial#, username, status, osuser, machine, terminal, program, schemaname, logon_time,"
    " sql_address, sql_hash_value, prev_sql_addr, prev_hash_value, command, paddr from v$session order by sid";

}  // namespace

TEST_F(WorkloadTest, SessionsRunCatalogueStatementsThatTheSharedPoolHoldsWhole) {
  ocisim_workload_tally tally{};
  ASSERT_EQ(runWorkload(3000, 7, &tally), 3000);
  EXPECT_GT(tally.logons, 0);
  EXPECT_GT(tally.logoffs, 0);
  EXPECT_GT(tally.statements, 0);
  EXPECT_GT(tally.idles, 0);
  EXPECT_EQ(tally.failures, 0);
  EXPECT_EQ(problems(), "ok");

  Connection c;
  c.open("system", "manager");
  const Rows sessions = query(c,
                              "select count(*), count(distinct status), count(distinct program),"
                              " count(distinct username) from v$session where type = 'USER'");
  EXPECT_GE(std::stol(sessions[0][0]), 12);
  EXPECT_EQ(sessions[0][1], "2");  // ACTIVE and INACTIVE
  EXPECT_GE(std::stol(sessions[0][2]), 4);
  // Every statement a session runs or ran is in the shared pool, whole in its
  // pieces of v$sqltext, in the order of their numbers.
  const Rows statements = query(c,
                                "select a.address, a.hash_value, count(t.piece), max(t.piece)"
                                " from v$sql a, v$sqltext t where t.address = a.address and"
                                " t.hash_value = a.hash_value and a.address in (select sql_address from"
                                " v$session union select prev_sql_addr from v$session)"
                                " group by a.address, a.hash_value");
  ASSERT_FALSE(statements.empty());
  bool severalPieces = false;
  for (const auto& s : statements) {
    EXPECT_EQ(std::stol(s[2]), std::stol(s[3]) + 1) << s[0];
    severalPieces = severalPieces || std::stol(s[2]) > 1;
  }
  EXPECT_TRUE(severalPieces);
  const Rows missing = query(c,
                             "select count(*) from v$session s where s.sql_address <> '00' and not exists"
                             " (select 1 from v$sql a where a.address = s.sql_address and"
                             " a.hash_value = s.sql_hash_value)");
  EXPECT_EQ(missing, (Rows{{"0"}}));
  // Some texts carry characters beyond ASCII, and arrive whole.
  const Rows accented = query(c, "select count(*) from v$sql where sql_text like '%M\xc3\xbcnchen%'"
                                 " or sql_text like '%\xc3\x9c" "berweisung%' or sql_text like '%Caf\xc3\xa9%'");
  EXPECT_NE(accented, (Rows{{"0"}}));
  // The sessions' users are users of the instance.
  EXPECT_EQ(query(c, "select count(*) from v$session s where type = 'USER' and not exists"
                     " (select 1 from dba_users u where u.username = s.username and u.user_id = s.user#)"),
            (Rows{{"0"}}));
}

TEST_F(WorkloadTest, TheDemoInstancesFirstSessionsBecomeSessionsOfTheWorkloadsUsers) {
  ASSERT_GT(ocisim_add_sessions("DEMO", 8), 0);
  ASSERT_EQ(runWorkload(1, 1), 1);
  Connection c;
  c.open("system", "manager");
  EXPECT_EQ(query(c, "select count(*) from v$session where type = 'USER' and username in ('HR', 'APP_USER',"
                     " 'REPORTS', 'BATCH', 'SALES') and user# is null"),
            (Rows{{"0"}}));
  EXPECT_EQ(problems(), "ok");
}

TEST_F(WorkloadTest, TheSameSeedMakesTheSameRun) {
  const auto run = [this](unsigned long seed) {
    TearDown();
    SetUp();
    EXPECT_EQ(runWorkload(500, seed), 500);
    Connection c;
    c.open("system", "manager");
    return query(c, "select sid, serial#, username, program, status, sql_hash_value, prev_hash_value"
                    " from v$session where type = 'USER' order by sid");
  };
  const Rows first = run(42);
  EXPECT_EQ(run(42), first);
  EXPECT_NE(run(43), first);
}

TEST_F(WorkloadTest, EachSessionHasItsProcessAndItsLocks) {
  ASSERT_EQ(runWorkload(2000, 3), 2000);
  Connection c;
  c.open("system", "manager");
  // Through PADDR, every session reaches exactly one process, of its own.
  EXPECT_EQ(query(c, "select count(*) from v$session s where (select count(*) from v$process p"
                     " where p.addr = s.paddr) <> 1"),
            (Rows{{"0"}}));
  EXPECT_EQ(query(c, "select count(*), count(distinct addr), count(distinct pid) from v$process")[0][0],
            query(c, "select count(*) + 1 from v$session")[0][0]);
  EXPECT_EQ(query(c, "select program from v$process where pid = 1"), (Rows{{"PSEUDO"}}));
  EXPECT_EQ(query(c, "select count(*) from v$session s, v$process p where s.paddr = p.addr and"
                     " s.type = 'BACKGROUND' and p.background = '1'"),
            (Rows{{"6"}}));
  // Locks belong to sessions; a transaction's TX lock comes with its tables' TM locks.
  EXPECT_EQ(query(c, "select count(*) from v$lock l where not exists (select 1 from v$session s"
                     " where s.sid = l.sid)"),
            (Rows{{"0"}}));
  const Rows kinds = query(c, "select type, lmode from v$lock group by type, lmode order by type");
  EXPECT_EQ(kinds, (Rows{{"MR", "4"}, {"RT", "6"}, {"TM", "3"}, {"TX", "6"}}));
  EXPECT_EQ(query(c, "select count(*) from v$lock where ctime < 0 or request <> 0"), (Rows{{"0"}}));
}

TEST_F(WorkloadTest, AKilledSimulatedSessionShowsKilledAndIsGoneShortlyAfter) {
  ASSERT_EQ(runWorkload(300, 5), 300);
  Connection c;
  c.open("system", "manager");
  const Rows victim = query(c, "select sid, serial#, sql_address from v$session where type = 'USER' and"
                               " username <> 'SYSTEM' and sql_address <> '00' and rownum = 1");
  ASSERT_EQ(victim.size(), 1u);
  const std::string sid = victim[0][0], serial = victim[0][1];
  Statement kill(c);
  ASSERT_EQ(kill.run("alter system kill session '" + sid + "," + serial + "'"), OCI_SUCCESS) << c.error();
  const std::string mine = "select status, server, paddr from v$session where sid = " + sid +
                           " and serial# = " + serial;
  EXPECT_EQ(query(c, mine), (Rows{{"KILLED", "PSEUDO", "8C4A0000"}}));
  // A second kill finds no live session.
  EXPECT_EQ(kill.run("alter system kill session '" + sid + "," + serial + "'"), OCI_ERROR);
  // The server's cleanup removes it a few seconds later; its statement stays
  // in the shared pool but is no longer reached through it.
  const std::string sqlThroughIt = "select count(*) from v$sqltext t, v$session s where t.address ="
                                   " s.sql_address and t.hash_value = s.sql_hash_value and s.sid = " +
                                   sid + " and s.serial# = " + serial;
  EXPECT_NE(query(c, sqlThroughIt), (Rows{{"0"}}));
  Rows left;
  for (int i = 0; i < 100; ++i) {
    left = query(c, mine);
    if (left.empty()) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_EQ(left, Rows{});
  EXPECT_EQ(query(c, sqlThroughIt), (Rows{{"0"}}));
  EXPECT_EQ(query(c, "select count(*) from v$sql where address = '" + victim[0][2] + "'"), (Rows{{"1"}}));
  EXPECT_EQ(query(c, "select count(*) from v$lock where sid = " + sid), (Rows{{"0"}}));
  EXPECT_EQ(problems(), "ok");
}

TEST_F(WorkloadTest, AnOpenSessionListKeepsTheRowsOfItsExecutionWhileAnotherProcessChangesThem) {
  ASSERT_EQ(runWorkload(200, 11), 200);
  Connection c;
  c.open("system", "manager");
  // Run once before: this session's own row then already shows the list as
  // its current and previous statement, as it will while the list is open.
  query(c, kSessionList);
  const Rows before = query(c, kSessionList);
  ASSERT_GT(before.size(), 10u);

  OpenQuery list(c, kSessionList);
  Rows rows = list.fetch(3);
  changeFromAnotherProcess(400, 12);
  const Rows rest = list.fetch(-1);
  rows.insert(rows.end(), rest.begin(), rest.end());
  ASSERT_EQ(rows.size(), before.size());
  for (size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(rows[i], before[i]) << "row " << i;

  // The change did happen: a new query sees it, whole (no sid twice, every
  // statement in the pool).
  const Rows after = query(c, kSessionList);
  EXPECT_NE(after, before);
  std::set<std::string> sids;
  for (const auto& row : after) EXPECT_TRUE(sids.insert(row[0]).second) << row[0];
  EXPECT_EQ(problems(), "ok");
}

TEST_F(WorkloadTest, AStopEndsTheRunAndWrongArgumentsAreRefused) {
  volatile int stop = 1;
  EXPECT_EQ(ocisim_run_workload("DEMO", 100, 1, 0, &stop, nullptr), 0);
  EXPECT_EQ(ocisim_run_workload("DEMO", 0, 1, 10, nullptr, nullptr), -1);
  EXPECT_EQ(ocisim_run_workload("DEMO", -5, 1, 10, nullptr, nullptr), -1);
  EXPECT_EQ(ocisim_run_workload("DEMO", 100, 1, -1, nullptr, nullptr), -1);
  EXPECT_EQ(ocisim_run_workload("NO_SUCH_SERVICE", 100, 1, 10, nullptr, nullptr), -1);
}

TEST_F(WorkloadTest, AnotherAttachOfTheProcessLeavesItsOpenConnectionsTheirLocks) {
  // Another process changes the instance while this one attaches twice, and
  // then ends: it must not take this process's files for unused (checkpoint
  // and remove the write-ahead log under its connections, or start the log's
  // index afresh) because the second attach let go of the first one's locks.
  ASSERT_EQ(runWorkload(10, 1), 10);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(ocisim_run_workload("DEMO", 400, 2, 400, nullptr, nullptr) == 400 ? 0 : 1);
  Connection first;
  first.open("system", "manager");
  EXPECT_EQ(query(first, "select count(*) from v$session where type = 'BACKGROUND'"), (Rows{{"6"}}));
  Connection second;
  second.open("monitor", "monitor");
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(query(first, "select count(*) from v$session where type = 'BACKGROUND'"), (Rows{{"6"}}));
  EXPECT_EQ(query(second, "select count(*) from v$session where type = 'BACKGROUND'"), (Rows{{"6"}}));
  EXPECT_EQ(problems(), "ok");
  Connection third;
  third.open("system", "manager");
  EXPECT_EQ(query(third, "select count(*) from v$session where type = 'BACKGROUND'"), (Rows{{"6"}}));
}

TEST_F(WorkloadTest, TheAdminToolRunsTheWorkloadUntilItIsStoppedAndEndsCleanly) {
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    dup2(out[1], 1);
    close(out[0]);
    close(out[1]);
    execl(OCISIM_ADMIN, OCISIM_ADMIN, "-c", "DEMO", "workload", "-r", "500", "-s", "3", nullptr);
    _exit(127);
  }
  close(out[1]);
  // Running: the sessions of a busy server are there, and change.
  bool populated = false;
  for (int i = 0; i < 200 && !populated; ++i) {
    populated = ocisim_session_count("DEMO", 0) >= 12;
    if (!populated) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_TRUE(populated);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ASSERT_EQ(kill(child, SIGTERM), 0);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  std::string report;
  char buffer[512];
  for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) report.append(buffer, static_cast<size_t>(n));
  close(out[0]);
  long changes = -1;
  EXPECT_EQ(std::sscanf(report.c_str(), "%ld changes:", &changes), 1) << report;
  EXPECT_GT(changes, 0) << report;
  EXPECT_NE(report.find(", 0 failed"), std::string::npos) << report;
  EXPECT_EQ(problems(), "ok");

  // Arguments it does not know are refused with its usage.
  for (const std::vector<const char*>& args :
       {std::vector<const char*>{"workload", "-r", "0"}, {"workload", "-r", "fast"}, {"workload", "-x", "1"},
        {"workload", "-s"}}) {
    const pid_t refused = fork();
    ASSERT_GE(refused, 0);
    if (refused == 0) {
      std::vector<const char*> argv{OCISIM_ADMIN};
      argv.insert(argv.end(), args.begin(), args.end());
      argv.push_back(nullptr);
      freopen("/dev/null", "w", stderr);
      execv(OCISIM_ADMIN, const_cast<char* const*>(argv.data()));
      _exit(127);
    }
    ASSERT_EQ(waitpid(refused, &status, 0), refused);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << args[1];
  }
}
