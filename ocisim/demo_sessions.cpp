// The demo-session generator: simulated user sessions from a fixed
// pseudo-random sequence, running sample statements of the shared SQL area.

#include "ocisim/demo_sessions.h"

#include "ocisim/instance.h"
#include "ocisim/shared_sql.h"
#include "ocisim/sqlite_db.h"
#include "ocisim/stored_text.h"
#include "ocisim/os_process.h"
#include "ocisim/server_processes.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iterator>
#include <utility>
#include <vector>

namespace ocisim {

namespace {

struct SampleStatement {
  int commandType;
  const char* text;
};

constexpr SampleStatement kSampleStatements[] = {
    {3, "SELECT e.empno, e.ename, e.job, e.mgr, e.hiredate, e.sal, e.comm, d.dname, d.loc"
        " FROM emp e, dept d WHERE e.deptno = d.deptno AND e.sal > :min_sal ORDER BY e.ename"},
    {6, "UPDATE accounts SET balance = balance - :amount, last_change = SYSDATE WHERE account_id = :id"},
    {47, "BEGIN payroll.calculate_month(:period); END;"},
    {3, "SELECT COUNT(*) FROM orders WHERE status = 'OPEN'"},
    {2, "INSERT INTO audit_log (log_id, user_name, action, logged_at, details)"
        " VALUES (audit_seq.NEXTVAL, USER, :action, SYSDATE, :details)"},
    {3, "SELECT o.order_id, o.customer_id, c.name, o.order_date, o.total_amount, o.status,"
        " o.sales_rep_id FROM orders o, customers c WHERE o.customer_id = c.customer_id"
        " AND o.order_date >= TRUNC(SYSDATE) - 30 ORDER BY o.order_date DESC"},
    {7, "DELETE FROM session_cache WHERE expires_at < SYSDATE"},
    {3, "SELECT name, value FROM app_settings WHERE module = :module"},
};

}  // namespace

// Simulated sessions a new instance gets: OCISIM_DEMO_SESSIONS when set, else a
// handful for a demo instance (in the client home's own data folder or the
// user's) and none for a folder chosen with OCISIM_ORADATA (tests start from an
// instance without them).
long demoSessionCount() {
  if (const char* n = std::getenv("OCISIM_DEMO_SESSIONS"); n && *n)
    return std::max(0L, std::strtol(n, nullptr, 10));
  const char* folder = std::getenv("OCISIM_ORADATA");
  return folder && *folder ? 0 : 8;
}

// Adds n simulated user sessions, with their statements in the shared pool.
// Values come from a fixed pseudo-random sequence, so every run looks alike.
void insertSimulatedSessions(sqlite3* db, long n, const std::string& host, const std::string& now) {
  (void)host;
  std::vector<std::pair<std::string, long long>> shared;
  for (const SampleStatement& s : kSampleStatements)
    shared.push_back(shareStatement(db, s.text, s.commandType, 0, false));
  long long sid = 0, serial = 0, audsid = 0;
  {
    SqliteStatement top(db, "SELECT coalesce(max(sid), 0) FROM sessions");
    top.step();
    sid = top.integer(0);
    SqliteStatement counters(db, "SELECT next_serial, next_audsid FROM instance");
    counters.step();
    serial = counters.integer(0);
    audsid = counters.integer(1);
  }
  static constexpr const char* kUsers[] = {"SCOTT", "HR", "APP_USER", "REPORTS", "BATCH", "SALES"};
  static constexpr const char* kPrograms[] = {"sqlplus.exe", "JDBC Thin Client", "TOAD.exe",
                                              "OrderEntry.exe", "perl@apphost (TNS V1-V3)",
                                              "Reports.exe"};
  static constexpr const char* kOsUsers[] = {"jsmith", "mjones", "oracle", "akim", "batch", "tbrown"};
  std::uint32_t seed = 12345;
  const auto next = [&seed](std::uint32_t range) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 8) % range;
  };
  std::tm base{};
  strptime(now.c_str(), "%Y-%m-%d %H:%M:%S", &base);
  const std::time_t baseTime = timegm(&base);
  SqliteStatement insert(db,
               "INSERT INTO sessions(sid, serial, audsid, user_id, username, schemaname, osuser,"
               " machine, terminal, program, process, logon_time, type, server, status, command,"
               " sql_address, sql_hash_value, paddr, spid) VALUES(?, ?, ?, NULL, ?, ?, ?, ?, ?, ?, ?, ?,"
               " 'USER', 'DEDICATED', ?, ?, ?, ?, ?, ?)");
  for (long k = 0; k < n; ++k) {
    const char* user = kUsers[next(std::size(kUsers))];
    const std::uint32_t pc = next(200) + 1;
    char machine[32], terminal[16], process[16];
    std::snprintf(machine, sizeof machine, "OFFICE\\PC-%04u", pc);
    std::snprintf(terminal, sizeof terminal, "PC-%04u", pc);
    std::snprintf(process, sizeof process, "%u:%u", 1000 + next(9000), 100 + next(900));
    const std::time_t logonTime = baseTime - static_cast<std::time_t>(next(8 * 3600));
    std::tm logon{};
    gmtime_r(&logonTime, &logon);
    char logonText[32];
    std::strftime(logonText, sizeof logonText, "%Y-%m-%d %H:%M:%S", &logon);
    const bool idle = next(4) == 0;
    const size_t which = next(static_cast<std::uint32_t>(shared.size()));
    insert.reset();
    insert.bind(16, processAddress(sid + 1)).bind(17, serverProcessId(sid + 1, serial));
    insert.bind(1, ++sid).bind(2, serial++).bind(3, audsid++).bind(4, user).bind(5, user);
    insert.bind(6, kOsUsers[next(std::size(kOsUsers))]).bind(7, machine).bind(8, terminal);
    insert.bind(9, kPrograms[next(std::size(kPrograms))]).bind(10, process).bind(11, logonText);
    insert.bind(12, !idle && next(3) == 0 ? "ACTIVE" : "INACTIVE");
    insert.bind(13, idle ? 0 : kSampleStatements[which].commandType);
    insert.bind(14, idle ? "00" : shared[which].first);
    insert.bind(15, idle ? 0 : shared[which].second);
    insert.run();
  }
  SqliteStatement(db, "UPDATE instance SET next_serial = ?, next_audsid = ?").bind(1, serial).bind(2, audsid).run();
}

long Instance::addSimulatedSessions(long count) {
  WriteTransaction tx(db_.get());
  if (count > 0) insertSimulatedSessions(db_.get(), count, hostName(), nowText());
  SqliteStatement total(db_.get(), "SELECT count(*) FROM sessions WHERE type = 'USER'");
  total.step();
  const long n = static_cast<long>(total.integer(0));
  tx.commit();
  return n;
}

void Instance::removeSimulatedSessions() {
  WriteTransaction tx(db_.get());
  exec(db_.get(), "DELETE FROM sessions WHERE type = 'USER' AND os_pid IS NULL");
  removeOrphanLocks(db_.get());
  exec(db_.get(),
       "DELETE FROM sql_area WHERE NOT EXISTS (SELECT 1 FROM sessions s WHERE s.sql_address ="
       " sql_area.address OR s.prev_sql_addr = sql_area.address)");
  exec(db_.get(),
       "DELETE FROM sql_text_pieces WHERE NOT EXISTS (SELECT 1 FROM sql_area a WHERE a.address ="
       " sql_text_pieces.address)");
  tx.commit();
}

}  // namespace ocisim
