#include "ocisim/instance.h"

#include "ocisim/ora_errors.h"
#include "ocisim/os_process.h"
#include "ocisim/tnsnames.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <vector>

namespace ocisim {

namespace {

constexpr int kSchemaVersion = 1;
constexpr long kMaxSessions = 1000;

[[noreturn]] void sqlFailure(sqlite3* db) {
  throw OraError(kOraInternal, std::string("sqlite: ") + sqlite3_errmsg(db));
}

void exec(sqlite3* db, const char* sql) {
  if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) sqlFailure(db);
}

// A prepared statement with positional binding.
class Query {
 public:
  Query(sqlite3* db, const char* sql) : db_(db) {
    if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) sqlFailure(db);
  }
  ~Query() { sqlite3_finalize(stmt_); }
  Query(const Query&) = delete;
  Query& operator=(const Query&) = delete;

  Query& bind(int i, long long v) {
    sqlite3_bind_int64(stmt_, i, v);
    return *this;
  }
  Query& bind(int i, std::string_view v) {
    sqlite3_bind_text(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    return *this;
  }
  // True while a row is available.
  bool step() {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    sqlFailure(db_);
  }
  void run() {
    while (step()) {
    }
  }
  long long integer(int col) { return sqlite3_column_int64(stmt_, col); }
  bool isNull(int col) { return sqlite3_column_type(stmt_, col) == SQLITE_NULL; }
  std::string text(int col) {
    const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, col));
    return t ? std::string(t, static_cast<size_t>(sqlite3_column_bytes(stmt_, col))) : std::string();
  }

 private:
  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
};

// A write transaction taken at once (BEGIN IMMEDIATE), so that two processes
// never both decide the same thing from the same reading; rolled back unless
// committed.
class WriteTransaction {
 public:
  explicit WriteTransaction(sqlite3* db) : db_(db) { exec(db, "BEGIN IMMEDIATE"); }
  ~WriteTransaction() {
    if (!done_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  WriteTransaction(const WriteTransaction&) = delete;
  WriteTransaction& operator=(const WriteTransaction&) = delete;
  void commit() {
    exec(db_, "COMMIT");
    done_ = true;
  }

 private:
  sqlite3* db_;
  bool done_ = false;
};

std::string upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

// Passwords are kept as a hash salted with the user name, never in clear,
// and compared without regard to letter case.
std::string passwordHash(std::string_view user, std::string_view password) {
  std::uint64_t h = 14695981039346656037ull;
  const auto feed = [&h](std::string_view s) {
    for (unsigned char c : s) {
      h ^= static_cast<unsigned char>(std::toupper(c));
      h *= 1099511628211ull;
    }
  };
  feed(user);
  h ^= 0xff;
  h *= 1099511628211ull;
  feed(password);
  char out[17];
  std::snprintf(out, sizeof out, "%016llX", static_cast<unsigned long long>(h));
  return out;
}

std::string nowText() {
  const std::time_t t = std::time(nullptr);
  std::tm local{};
  localtime_r(&t, &local);
  char out[32];
  std::strftime(out, sizeof out, "%Y-%m-%d %H:%M:%S", &local);
  return out;
}

void makeDirectories(const std::string& path) {
  for (size_t at = 1; at <= path.size(); ++at) {
    if (at != path.size() && path[at] != '/') continue;
    const std::string part = path.substr(0, at);
    if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST)
      throw OraError(kOraNotAvailable);
  }
}

constexpr const char* kSchema = R"sql(
CREATE TABLE instance(
  instance_name TEXT NOT NULL,
  created TEXT NOT NULL,
  next_serial INTEGER NOT NULL,
  next_audsid INTEGER NOT NULL);
CREATE TABLE version_banner(line INTEGER PRIMARY KEY, banner TEXT NOT NULL);
CREATE TABLE users(
  user_id INTEGER PRIMARY KEY,
  username TEXT NOT NULL UNIQUE,
  password TEXT NOT NULL,
  account_status TEXT NOT NULL DEFAULT 'OPEN',
  created TEXT NOT NULL);
CREATE TABLE roles(role TEXT PRIMARY KEY);
CREATE TABLE role_grants(
  grantee TEXT NOT NULL,
  granted_role TEXT NOT NULL REFERENCES roles(role),
  default_role TEXT NOT NULL DEFAULT 'YES',
  PRIMARY KEY(grantee, granted_role));
CREATE TABLE sys_privs(
  grantee TEXT NOT NULL,
  privilege TEXT NOT NULL,
  PRIMARY KEY(grantee, privilege));
-- One row per session; os_pid and os_start name the client process that owns
-- a user session (NULL for the instance's background processes).
CREATE TABLE sessions(
  sid INTEGER PRIMARY KEY,
  serial INTEGER NOT NULL,
  audsid INTEGER NOT NULL,
  user_id INTEGER,
  username TEXT,
  schemaname TEXT,
  osuser TEXT,
  machine TEXT,
  terminal TEXT,
  program TEXT,
  process TEXT,
  logon_time TEXT NOT NULL,
  type TEXT NOT NULL,
  server TEXT NOT NULL,
  status TEXT NOT NULL,
  command INTEGER NOT NULL DEFAULT 0,
  sql_address TEXT NOT NULL DEFAULT '00',
  sql_hash_value INTEGER NOT NULL DEFAULT 0,
  prev_sql_addr TEXT NOT NULL DEFAULT '00',
  prev_hash_value INTEGER NOT NULL DEFAULT 0,
  os_pid INTEGER,
  os_start INTEGER);
-- The shared SQL area: one row per distinct statement text.
CREATE TABLE sql_area(
  address TEXT PRIMARY KEY,
  hash_value INTEGER NOT NULL,
  sql_text TEXT NOT NULL,
  command_type INTEGER NOT NULL DEFAULT 0,
  executions INTEGER NOT NULL DEFAULT 0,
  parsing_user_id INTEGER,
  first_load_time TEXT);
CREATE VIEW "v$version" AS SELECT banner FROM version_banner ORDER BY line;
CREATE VIEW "v$session" AS
  SELECT sid, serial AS "serial#", audsid, user_id AS "user#", username, command,
         status, schemaname, osuser, process, machine, terminal, program, type,
         sql_address, sql_hash_value, prev_sql_addr, prev_hash_value, logon_time, server
    FROM sessions;
CREATE VIEW "v$sql" AS
  SELECT sql_text, address, hash_value, command_type, executions, parsing_user_id,
         first_load_time
    FROM sql_area;
-- The statement text in pieces of 64 characters, counted from 0.
CREATE VIEW "v$sqltext" AS
  WITH RECURSIVE pieces(address, hash_value, command_type, piece, sql_text, rest) AS (
    SELECT address, hash_value, command_type, 0, substr(sql_text, 1, 64), substr(sql_text, 65)
      FROM sql_area
    UNION ALL
    SELECT address, hash_value, command_type, piece + 1, substr(rest, 1, 64), substr(rest, 65)
      FROM pieces WHERE rest <> '')
  SELECT address, hash_value, command_type, piece, sql_text FROM pieces;
)sql";

constexpr const char* kBanners[] = {
    "Oracle8i Enterprise Edition Release 8.1.7.0.0 - Production",
    "PL/SQL Release 8.1.7.0.0 - Production",
    "CORE\t8.1.7.0.0\tProduction",
    "TNS for Linux: Version 8.1.7.0.0 - Production",
    "NLSRTL Version 3.4.1.0.0 - Production",
};

constexpr const char* kBackgroundProcesses[] = {"PMON", "DBW0", "LGWR", "CKPT", "SMON", "RECO"};

struct SeedUser {
  const char* name;
  const char* password;
  std::vector<const char*> roles;
  std::vector<const char*> privileges;
};

}  // namespace

std::string normalizeUserName(std::string_view name) {
  if (name.size() >= 2 && name.front() == '"' && name.back() == '"')
    return std::string(name.substr(1, name.size() - 2));
  return upper(name);
}

std::string instanceFilePath(const std::string& sid) { return oradataDir() + "/" + sid + ".dbf"; }

Instance::Instance(std::string sid, sqlite3* db) : sid_(std::move(sid)), db_(db), owner_(getpid()) {}

Instance::~Instance() {
  if (ownedHere()) sqlite3_close_v2(db_);
}

bool Instance::ownedHere() const { return owner_ == getpid(); }

std::unique_ptr<Instance> Instance::open(const std::string& sid) {
  makeDirectories(oradataDir());
  const std::string path = instanceFilePath(sid);
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
      SQLITE_OK) {
    sqlite3_close(db);
    throw OraError(kOraNotAvailable);
  }
  std::unique_ptr<Instance> instance(new Instance(sid, db));
  sqlite3_busy_timeout(db, 5000);
  sqlite3_extended_result_codes(db, 1);
  try {
    // A file that is not a database (or not ours) fails here, before anything is written.
    exec(db, "PRAGMA journal_mode=WAL");
    instance->seed();
    instance->removeDeadSessions();
  } catch (const OraError&) {
    throw OraError(kOraNotAvailable);
  }
  return instance;
}

void Instance::seed() {
  WriteTransaction tx(db_);
  {
    Query version(db_, "PRAGMA user_version");
    if (version.step() && version.integer(0) != 0) return;  // seeded before
  }
  exec(db_, kSchema);
  const std::string now = nowText();
  const std::string host = hostName();
  Query(db_, "INSERT INTO instance VALUES(?, ?, 2, 1001)").bind(1, sid_).bind(2, now).run();
  int line = 1;
  for (const char* banner : kBanners)
    Query(db_, "INSERT INTO version_banner VALUES(?, ?)").bind(1, line++).bind(2, banner).run();

  for (const char* role : {"CONNECT", "RESOURCE", "DBA", "SELECT_CATALOG_ROLE"})
    Query(db_, "INSERT INTO roles VALUES(?)").bind(1, role).run();
  const std::vector<SeedUser> users = {
      {"SYSTEM", "MANAGER", {"DBA", "SELECT_CATALOG_ROLE"}, {"ALTER SYSTEM", "CREATE SESSION"}},
      {"MONITOR", "MONITOR", {"SELECT_CATALOG_ROLE"}, {"CREATE SESSION"}},
      {"SCOTT", "TIGER", {"CONNECT", "RESOURCE"}, {}},
      // Privileges that come with the roles themselves.
      {"CONNECT", nullptr, {}, {"CREATE SESSION"}},
      {"RESOURCE", nullptr, {}, {"CREATE TABLE"}},
      {"DBA", nullptr, {}, {"CREATE SESSION"}},
  };
  long userId = 5;
  for (const SeedUser& u : users) {
    if (u.password) {
      Query(db_, "INSERT INTO users(user_id, username, password, created) VALUES(?, ?, ?, ?)")
          .bind(1, userId++)
          .bind(2, u.name)
          .bind(3, passwordHash(u.name, u.password))
          .bind(4, now)
          .run();
    }
    for (const char* role : u.roles)
      Query(db_, "INSERT INTO role_grants(grantee, granted_role) VALUES(?, ?)")
          .bind(1, u.name)
          .bind(2, role)
          .run();
    for (const char* privilege : u.privileges)
      Query(db_, "INSERT INTO sys_privs VALUES(?, ?)").bind(1, u.name).bind(2, privilege).run();
  }

  long sid = 1;
  for (const char* name : kBackgroundProcesses) {
    Query(db_,
          "INSERT INTO sessions(sid, serial, audsid, osuser, machine, terminal, program, process,"
          " logon_time, type, server, status) VALUES(?, 1, 0, 'oracle', ?, 'UNKNOWN', ?, NULL, ?,"
          " 'BACKGROUND', 'DEDICATED', 'ACTIVE')")
        .bind(1, sid++)
        .bind(2, host)
        .bind(3, "oracle@" + host + " (" + name + ")")
        .bind(4, now)
        .run();
  }
  exec(db_, ("PRAGMA user_version=" + std::to_string(kSchemaVersion)).c_str());
  tx.commit();
}

void Instance::removeDeadSessions() {
  if (!ownedHere()) return;
  struct Row {
    long long sid, pid, start;
  };
  std::vector<Row> dead;
  {
    Query rows(db_, "SELECT sid, os_pid, os_start FROM sessions WHERE os_pid IS NOT NULL AND machine = ?");
    rows.bind(1, hostName());
    while (rows.step()) {
      const Row row{rows.integer(0), rows.integer(1), rows.isNull(2) ? 0 : rows.integer(2)};
      if (!processAlive(static_cast<pid_t>(row.pid), row.start)) dead.push_back(row);
    }
  }
  if (dead.empty()) return;
  WriteTransaction tx(db_);
  for (const Row& row : dead) {
    // Matching on the owner as well leaves alone a row that another process
    // has meanwhile taken over.
    Query(db_, "DELETE FROM sessions WHERE sid = ? AND os_pid = ? AND coalesce(os_start, 0) = ?")
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

  WriteTransaction tx(db_);
  long long userId = 0;
  {
    Query find(db_, "SELECT user_id, password FROM users WHERE username = ? AND account_status = 'OPEN'");
    find.bind(1, user);
    if (!find.step() || find.text(1) != passwordHash(user, password)) throw OraError(kOraInvalidLogon);
    userId = find.integer(0);
  }
  Logon logon;
  logon.username = user;
  {
    // The smallest free sid, as the server reuses the slots of ended sessions.
    Query free(db_,
               "SELECT CASE WHEN NOT EXISTS(SELECT 1 FROM sessions WHERE sid = 1) THEN 1 ELSE"
               " (SELECT min(s.sid) + 1 FROM sessions s WHERE NOT EXISTS"
               " (SELECT 1 FROM sessions t WHERE t.sid = s.sid + 1)) END");
    free.step();
    logon.sid = static_cast<long>(free.integer(0));
  }
  if (logon.sid > kMaxSessions) throw OraError(kOraMaxSessions);
  {
    Query counters(db_, "SELECT next_serial, next_audsid FROM instance");
    if (!counters.step()) throw OraError(kOraInternal, "instance row missing");
    logon.serial = static_cast<long>(counters.integer(0));
    logon.audsid = static_cast<long>(counters.integer(1));
  }
  Query(db_, "UPDATE instance SET next_serial = next_serial + 1, next_audsid = next_audsid + 1").run();

  const ProcessIdentity me = currentProcess();
  Query(db_,
        "INSERT INTO sessions(sid, serial, audsid, user_id, username, schemaname, osuser, machine,"
        " terminal, program, process, logon_time, type, server, status, os_pid, os_start)"
        " VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, 'USER', 'DEDICATED', 'INACTIVE', ?, ?)")
      .bind(1, logon.sid)
      .bind(2, logon.serial)
      .bind(3, logon.audsid)
      .bind(4, userId)
      .bind(5, user)
      .bind(6, user)
      .bind(7, me.osUser)
      .bind(8, me.machine)
      .bind(9, me.terminal)
      .bind(10, me.program)
      .bind(11, std::to_string(me.pid))
      .bind(12, nowText())
      .bind(13, me.pid)
      .bind(14, me.startTicks)
      .run();
  tx.commit();
  return logon;
}

void Instance::endSession(const Logon& logon) {
  if (!ownedHere()) return;
  Query(db_, "DELETE FROM sessions WHERE sid = ? AND serial = ?")
      .bind(1, logon.sid)
      .bind(2, logon.serial)
      .run();
}

void Instance::dropSession(const Logon& logon) noexcept {
  if (!ownedHere()) return;
  try {
    Query(db_, "DELETE FROM sessions WHERE sid = ? AND serial = ? AND os_pid = ?")
        .bind(1, logon.sid)
        .bind(2, logon.serial)
        .bind(3, getpid())
        .run();
  } catch (...) {
    // The connection is going away; a row left behind is removed as that of a
    // dead process once this one ends.
  }
}

}  // namespace ocisim
