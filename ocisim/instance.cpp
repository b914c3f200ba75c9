// The instance itself: opening its data file, the sessions of its users
// (logon, logoff, kill, liveness), their rights, directories and new users.

#include "ocisim/instance.h"

#include "ocisim/ascii.h"
#include "ocisim/ora_errors.h"
#include "ocisim/os_process.h"
#include "ocisim/passwords.h"
#include "ocisim/schema.h"
#include "ocisim/server_processes.h"
#include "ocisim/sqlite_db.h"
#include "ocisim/stored_text.h"
#include "ocisim/tnsnames.h"

#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <optional>
#include <vector>

namespace ocisim {

namespace {

constexpr long kMaxSessions = 1000;


}  // namespace

std::string normalizeUserName(std::string_view name) {
  if (name.size() >= 2 && name.front() == '"' && name.back() == '"')
    return std::string(name.substr(1, name.size() - 2));
  return upperAscii(name);
}

Instance::Instance(std::string sid, SqliteConnection db)
    : sid_(std::move(sid)), db_(std::move(db)), owner_(getpid()) {}

Instance::~Instance() {
  if (ownedHere()) return;  // the statements and the connection close themselves
  sessionStateStmt_.release();
  dataVersionStmt_.release();
  db_.release();
}

bool Instance::ownedHere() const { return owner_ == getpid(); }

std::unique_ptr<Instance> Instance::open(const std::string& sid) {
  const std::string path = instanceFilePath(sid);
  prepareDataFile(path);
  SqliteConnection connection;
  std::string reason;
  if (connection.open(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW, reason) !=
      SQLITE_OK)
    throw notAvailable("Cannot open the data file " + path + ": " + reason);
  sqlite3* db = connection.get();
  std::unique_ptr<Instance> instance(new Instance(sid, std::move(connection)));
  sqlite3_busy_timeout(db, 5000);
  sqlite3_extended_result_codes(db, 1);
  try {
    // What the file holds is read before anything is written to it: a file
    // that is no instance of this client fails here and stays as it was.
    refuseForeignLayout(layoutOf(db), path);
    if (setUpStatement(db, "PRAGMA journal_mode=WAL") != SQLITE_OK) sqlFailure(db);
    exec(db, "PRAGMA synchronous=NORMAL");
    instance->seed();
    instance->removeDeadSessions();
  } catch (const OraError& e) {
    if (e.code == kOraNotAvailable && !e.detail.empty()) throw;
    const auto* failure = dynamic_cast<const SqliteFailure*>(&e);
    if (failure && (failure->result == SQLITE_NOTADB || failure->result == SQLITE_CORRUPT))
      throw damagedDataFile(path);
    throw notAvailable("The data file " + path + " cannot be used: " +
                       (e.code == kOraInternal ? e.arg : oraMessage(e.code, e.arg)));
  }
  return instance;
}

void Instance::cleanUpKilledSessions() {
  // At most once a second (it runs before every call, each fetch among them):
  // a read each time, a write only when one is due.
  const auto now = std::chrono::steady_clock::now();
  if (lastCleanUp_ && now - *lastCleanUp_ < std::chrono::seconds(1)) return;
  if (!ownedHere() || !sqlite3_get_autocommit(db_.get())) return;
  lastCleanUp_ = now;
  const long long epoch = static_cast<long long>(std::time(nullptr));
  try {
    if (!killedSessionsDue(db_.get(), epoch)) return;
    WriteTransaction tx(db_.get());
    removeKilledSessions(db_.get(), epoch);
    tx.commit();
  } catch (const OraError&) {
    // The file is busy with other processes' changes: the next look cleans up.
  }
}

void Instance::removeDeadSessions() {
  if (!ownedHere()) return;
  struct Row {
    long long sid, pid, start;
  };
  std::vector<Row> dead;
  {
    SqliteStatement rows(db_.get(),
                         "SELECT sid, os_pid, os_start FROM sessions WHERE os_pid IS NOT NULL AND machine = ?");
    rows.bind(1, fit(hostName(), 64));
    while (rows.step()) {
      const Row row{rows.integer(0), rows.integer(1), rows.isNull(2) ? 0 : rows.integer(2)};
      if (!processAlive(static_cast<pid_t>(row.pid), row.start)) dead.push_back(row);
    }
  }
  if (dead.empty()) return;
  WriteTransaction tx(db_.get());
  for (const Row& row : dead) {
    // Matching on the owner as well leaves alone a row that another process
    // has meanwhile taken over.
    SqliteStatement(db_.get(), "DELETE FROM sessions WHERE sid = ? AND os_pid = ? AND coalesce(os_start, 0) = ?")
        .bind(1, row.sid)
        .bind(2, row.pid)
        .bind(3, row.start)
        .run();
  }
  tx.commit();
}

Logon Instance::beginSession(std::string_view username, std::string_view password) {
  if (username.empty()) throw OraError(kOraInvalidLogon);
  if (password.empty()) throw OraError(kOraNullPassword);
  const std::string user = normalizeUserName(username);
  removeDeadSessions();

  // The password is checked before the write transaction: the key derivation
  // is slow on purpose, and the logons and statements of other processes need
  // not wait for it. The transaction then makes sure that the stored password is
  // still the one checked; an upgrade by a concurrent logon is checked anew.
  long long userId = 0;
  std::optional<WriteTransaction> tx;
  std::string upgraded;  // the new stored form of a password kept in an older one
  for (int attempt = 0;; ++attempt) {
    std::string stored;
    {
      SqliteStatement find(db_.get(),
                           "SELECT user_id, password FROM users WHERE username = ? AND account_status = 'OPEN'");
      find.bind(1, user);
      if (!find.step()) {
        checkNoPassword(password);
        throw OraError(kOraInvalidLogon);
      }
      userId = find.integer(0);
      stored = find.text(1);
    }
    const PasswordCheck check = checkPassword(user, stored, password);
    if (check == PasswordCheck::Wrong) throw OraError(kOraInvalidLogon);
    upgraded = check == PasswordCheck::RightButOutdated ? hashPassword(password) : std::string();
    tx.emplace(db_.get());
    {
      SqliteStatement again(db_.get(), "SELECT password FROM users WHERE user_id = ? AND account_status = 'OPEN'");
      again.bind(1, userId);
      if (!again.step()) throw OraError(kOraInvalidLogon);
      if (again.text(0) == stored) break;
    }
    tx.reset();
    if (attempt == 2) throw OraError(kOraInvalidLogon);
  }
  if (!upgraded.empty())
    SqliteStatement(db_.get(), "UPDATE users SET password = ? WHERE user_id = ?")
        .bind(1, upgraded)
        .bind(2, userId)
        .run();
  Logon logon;
  logon.username = user;
  {
    // The smallest free sid, as the server reuses the slots of ended sessions.
    SqliteStatement free(db_.get(),
               "SELECT CASE WHEN NOT EXISTS(SELECT 1 FROM sessions WHERE sid = 1) THEN 1 ELSE"
               " (SELECT min(s.sid) + 1 FROM sessions s WHERE NOT EXISTS"
               " (SELECT 1 FROM sessions t WHERE t.sid = s.sid + 1)) END");
    free.step();
    logon.sid = static_cast<long>(free.integer(0));
  }
  {
    // The limit counts the sessions of client processes; simulated ones do not take a slot.
    SqliteStatement count(db_.get(), "SELECT count(*) FROM sessions WHERE os_pid IS NOT NULL");
    count.step();
    if (count.integer(0) >= kMaxSessions) throw OraError(kOraMaxSessions);
  }
  {
    SqliteStatement counters(db_.get(), "SELECT next_serial, next_audsid FROM instance");
    if (!counters.step()) throw OraError(kOraInternal, "instance row missing");
    logon.serial = static_cast<long>(counters.integer(0));
    logon.audsid = static_cast<long>(counters.integer(1));
  }
  SqliteStatement(db_.get(), "UPDATE instance SET next_serial = next_serial + 1, next_audsid = next_audsid + 1")
      .run();

  const ProcessIdentity me = currentProcess();
  SqliteStatement(db_.get(),
        "INSERT INTO sessions(sid, serial, audsid, user_id, username, schemaname, osuser, machine,"
        " terminal, program, process, logon_time, type, server, status, os_pid, os_start, paddr, spid)"
        " VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, 'USER', 'DEDICATED', 'INACTIVE', ?, ?, ?, ?)")
      .bind(1, logon.sid)
      .bind(2, logon.serial)
      .bind(3, logon.audsid)
      .bind(4, userId)
      .bind(5, fit(user, 30))
      .bind(6, fit(user, 30))
      .bind(7, fit(me.osUser, 15))
      .bind(8, fit(me.machine, 64))
      .bind(9, fit(me.terminal, 16))
      .bind(10, fit(me.program, 48))
      .bind(11, fit(std::to_string(me.pid), 9))
      .bind(12, nowText())
      .bind(13, me.pid)
      .bind(14, me.startTicks)
      .bind(15, processAddress(logon.sid))
      .bind(16, serverProcessId(logon.sid, logon.serial))
      .run();
  tx->commit();
  return logon;
}

bool Instance::endSession(const Logon& logon) {
  if (!ownedHere()) return true;
  WriteTransaction tx(db_.get());
  const bool live = sessionState(logon) == SessionState::Live;
  SqliteStatement(db_.get(), "DELETE FROM sessions WHERE sid = ? AND serial = ?")
      .bind(1, logon.sid)
      .bind(2, logon.serial)
      .run();
  tx.commit();
  return live;
}

void Instance::dropSession(const Logon& logon) noexcept {
  if (!ownedHere()) return;
  try {
    SqliteStatement(db_.get(), "DELETE FROM sessions WHERE sid = ? AND serial = ? AND os_pid = ?")
        .bind(1, logon.sid)
        .bind(2, logon.serial)
        .bind(3, getpid())
        .run();
  } catch (...) {
    // The connection is going away; a row left behind is removed as that of a
    // dead process once this one ends.
  }
}

long long Instance::dataVersion() {
  if (!dataVersionStmt_ &&
      dataVersionStmt_.prepare(db_.get(), "PRAGMA data_version", -1, SQLITE_PREPARE_PERSISTENT) != SQLITE_OK)
    return -1;
  sqlite3_stmt* stmt = dataVersionStmt_.get();
  const long long version = sqlite3_step(stmt) == SQLITE_ROW ? sqlite3_column_int64(stmt, 0) : -1;
  sqlite3_reset(stmt);
  return version;
}

Instance::SessionState Instance::sessionState(const Logon& logon) {
  // Only outside a transaction of this connection (inside one, its own
  // uncommitted changes count too), and only in the process that opened it.
  const bool usable = sqlite3_get_autocommit(db_.get()) && ownedHere();
  const long long version = usable ? dataVersion() : -1;
  const long long changes = sqlite3_total_changes64(db_.get());
  if (version >= 0 && stateKnown_ && stateSid_ == logon.sid && stateSerial_ == logon.serial &&
      stateVersion_ == version && stateChanges_ == changes)
    return state_;
  stateKnown_ = false;
  const SessionState found = querySessionState(logon);
  if (version >= 0) {
    stateVersion_ = version;
    stateChanges_ = changes;
    stateSid_ = logon.sid;
    stateSerial_ = logon.serial;
    state_ = found;
    stateKnown_ = true;
  }
  return found;
}

Instance::SessionState Instance::querySessionState(const Logon& logon) {
  if (!sessionStateStmt_ &&
      sessionStateStmt_.prepare(db_.get(), "SELECT status = 'KILLED' FROM sessions WHERE sid = ? AND serial = ?",
                                -1, SQLITE_PREPARE_PERSISTENT) != SQLITE_OK)
    sqlFailure(db_.get());
  sqlite3_stmt* find = sessionStateStmt_.get();
  sqlite3_bind_int64(find, 1, logon.sid);
  sqlite3_bind_int64(find, 2, logon.serial);
  const int rc = sqlite3_step(find);
  const bool killed = rc == SQLITE_ROW && sqlite3_column_int(find, 0) != 0;
  // Reset at once: a statement left stepping would keep the file's read lock.
  sqlite3_reset(find);
  if (rc == SQLITE_ROW) return killed ? SessionState::Killed : SessionState::Live;
  if (rc == SQLITE_DONE) return SessionState::Gone;
  sqlFailure(db_.get());
}

void Instance::killSession(const Logon& caller, long sid, long serial) {
  if (sid == caller.sid && serial == caller.serial) throw OraError(27);
  WriteTransaction tx(db_.get());
  {
    SqliteStatement find(db_.get(), "SELECT type, status FROM sessions WHERE sid = ? AND serial = ?");
    find.bind(1, sid).bind(2, serial);
    if (!find.step() || find.text(1) == "KILLED") throw OraError(30);
    if (find.text(0) != "USER") throw OraError(29);
  }
  SqliteStatement(db_.get(),
                  "UPDATE sessions SET status = 'KILLED', server = 'PSEUDO', killed_at = ? WHERE sid = ? AND serial = ?")
      .bind(1, static_cast<long long>(std::time(nullptr)))
      .bind(2, sid)
      .bind(3, serial)
      .run();
  tx.commit();
}

Instance::Rights Instance::rightsOf(const std::string& username) {
  Rights rights;
  {
    SqliteStatement roles(db_.get(), "SELECT granted_role FROM role_grants WHERE grantee = ?");
    roles.bind(1, username);
    while (roles.step()) rights.roles.insert(roles.text(0));
  }
  std::vector<std::string> grantees(rights.roles.begin(), rights.roles.end());
  grantees.push_back(username);
  for (const std::string& grantee : grantees) {
    SqliteStatement privileges(db_.get(), "SELECT privilege FROM sys_privs WHERE grantee = ?");
    privileges.bind(1, grantee);
    while (privileges.step()) rights.privileges.insert(privileges.text(0));
  }
  return rights;
}

void Instance::createDirectory(const std::string& name, const std::string& path, bool replace) {
  WriteTransaction tx(db_.get());
  {
    SqliteStatement find(db_.get(), "SELECT 1 FROM directories WHERE directory_name = ?");
    find.bind(1, name);
    if (find.step() && !replace) throw OraError(955);
  }
  SqliteStatement(db_.get(), "INSERT OR REPLACE INTO directories VALUES(?, ?)").bind(1, name).bind(2, path).run();
  tx.commit();
}

void Instance::createUser(const std::string& name, const std::string& password) {
  // The slow hash is made before the write transaction, so that other
  // processes do not wait for it.
  const std::string stored = hashPassword(password);
  WriteTransaction tx(db_.get());
  {
    SqliteStatement find(db_.get(),
                         "SELECT 1 FROM users WHERE username = ? UNION ALL SELECT 1 FROM roles WHERE role = ?");
    find.bind(1, name).bind(2, name);
    if (find.step()) throw OraError(1920, name);
  }
  SqliteStatement(db_.get(),
        "INSERT INTO users(user_id, username, password, created)"
        " SELECT coalesce(max(user_id), 0) + 1, ?, ?, ? FROM users")
      .bind(1, name)
      .bind(2, stored)
      .bind(3, nowText())
      .run();
  tx.commit();
}

std::optional<std::string> Instance::directoryPath(const std::string& name) {
  SqliteStatement find(db_.get(), "SELECT directory_path FROM directories WHERE directory_name = ?");
  find.bind(1, name);
  if (!find.step()) return std::nullopt;
  return find.text(0);
}

}  // namespace ocisim
