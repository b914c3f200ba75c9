#include "ocisim/instance.h"

#include "ocisim/ora_errors.h"
#include "ocisim/os_process.h"
#include "ocisim/passwords.h"
#include "ocisim/server_processes.h"
#include "ocisim/shared_sql.h"
#include "ocisim/tnsnames.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <optional>
#include <ctime>
#include <vector>

namespace ocisim {

namespace {

constexpr int kSchemaVersion = 4;
constexpr long kMaxSessions = 1000;

// ORA-00600 for a failure of SQLite, with SQLite's primary result code.
struct SqliteFailure : OraError {
  explicit SqliteFailure(sqlite3* db)
      : OraError(kOraInternal, std::string("sqlite: ") + sqlite3_errmsg(db)),
        result(sqlite3_extended_errcode(db) & 0xff) {}
  int result;
};

[[noreturn]] void sqlFailure(sqlite3* db) { throw SqliteFailure(db); }

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
    sqlite3_reset(stmt_);
  }
  // Makes the statement ready to run again with new values.
  void reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
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

// A text cut to the width of the column it goes into, in bytes, as the server
// keeps it: never in the middle of a character.
std::string fit(std::string_view text, size_t width) {
  if (text.size() <= width) return std::string(text);
  size_t end = width;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return std::string(text.substr(0, end));
}

std::string nowText() {
  const std::time_t t = std::time(nullptr);
  std::tm local{};
  localtime_r(&t, &local);
  char out[32];
  std::strftime(out, sizeof out, "%Y-%m-%d %H:%M:%S", &local);
  return out;
}

std::string systemError(int error) { return std::strerror(error); }

// Creates the folders leading to the data-file folder as `mkdir -p` would, and
// the data-file folder itself for this user alone (0700, whatever the umask).
// An existing data-file folder must be a folder of this user; one that others
// may enter, as earlier clients made it, is closed to them.
void prepareDataFolder(const std::string& path) {
  if (path.empty()) throw notAvailable("No folder for the instance's data: neither XDG_DATA_HOME nor HOME is set");
  const auto cannotCreate = [&path](int error) {
    return notAvailable("Cannot create the data folder " + path + ": " + systemError(error));
  };
  for (size_t at = 1; at < path.size(); ++at) {
    if (path[at] != '/') continue;
    const std::string part = path.substr(0, at);
    if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) throw cannotCreate(errno);
  }
  const bool made = mkdir(path.c_str(), 0700) == 0;
  if (!made && errno != EEXIST) throw cannotCreate(errno);
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) throw cannotCreate(errno);
  if (!S_ISDIR(st.st_mode)) throw notAvailable("The data folder " + path + " is not a folder");
  if (st.st_uid != geteuid()) throw notAvailable("The data folder " + path + " belongs to another user");
  if ((made || (st.st_mode & 077) != 0) && (st.st_mode & 07777) != 0700 && chmod(path.c_str(), 0700) != 0)
    throw notAvailable("Cannot close the data folder " + path + " to other users: " + systemError(errno));
}

constexpr const char* kSchema = R"sql(
CREATE TABLE instance(
  instance_name TEXT NOT NULL,
  created TEXT NOT NULL,
  next_serial INTEGER NOT NULL,
  next_audsid INTEGER NOT NULL);
CREATE TABLE version_banner(line INTEGER PRIMARY KEY, banner VARCHAR2(64) NOT NULL);
CREATE TABLE users(
  user_id INTEGER PRIMARY KEY,
  username TEXT NOT NULL UNIQUE,
  password TEXT NOT NULL,
  account_status TEXT NOT NULL DEFAULT 'OPEN',
  created TEXT NOT NULL);
CREATE TABLE roles(role VARCHAR2(30) PRIMARY KEY);
CREATE TABLE role_grants(
  grantee VARCHAR2(30) NOT NULL,
  granted_role VARCHAR2(30) NOT NULL REFERENCES roles(role),
  default_role VARCHAR2(3) NOT NULL DEFAULT 'YES',
  PRIMARY KEY(grantee, granted_role));
CREATE TABLE sys_privs(
  grantee VARCHAR2(30) NOT NULL,
  privilege VARCHAR2(40) NOT NULL,
  PRIMARY KEY(grantee, privilege));
CREATE TABLE dual(dummy VARCHAR2(1));
INSERT INTO dual VALUES('X');
-- Directories of BFILE values: name and path on this machine.
CREATE TABLE directories(
  directory_name VARCHAR2(30) PRIMARY KEY,
  directory_path VARCHAR2(4000) NOT NULL);
-- One row per session, declared with the types the server reports (Oracle8i's
-- v$session). os_pid and os_start name the client process that owns a user
-- session; they are NULL for the background processes and for simulated sessions.
-- paddr and spid name the session's server process (v$process); killed_at is
-- when the session was killed (seconds since the epoch).
CREATE TABLE sessions(
  sid NUMBER PRIMARY KEY,
  serial NUMBER NOT NULL,
  audsid NUMBER NOT NULL,
  user_id NUMBER,
  username VARCHAR2(30),
  schemaname VARCHAR2(30),
  osuser VARCHAR2(15),
  machine VARCHAR2(64),
  terminal VARCHAR2(16),
  program VARCHAR2(48),
  process VARCHAR2(9),
  logon_time DATE NOT NULL,
  type VARCHAR2(10) NOT NULL,
  server VARCHAR2(9) NOT NULL,
  status VARCHAR2(8) NOT NULL,
  command NUMBER NOT NULL DEFAULT 0,
  sql_address RAW(4) NOT NULL DEFAULT '00',
  sql_hash_value NUMBER NOT NULL DEFAULT 0,
  prev_sql_addr RAW(4) NOT NULL DEFAULT '00',
  prev_hash_value NUMBER NOT NULL DEFAULT 0,
  os_pid INTEGER,
  os_start INTEGER,
  paddr RAW(4) NOT NULL DEFAULT '00',
  spid VARCHAR2(9),
  killed_at INTEGER);
-- The shared SQL area: one row per distinct statement text, of which v$sql
-- shows the first 1000 bytes.
CREATE TABLE sql_area(
  address RAW(4) PRIMARY KEY,
  hash_value NUMBER NOT NULL,
  sql_text VARCHAR2(1000) NOT NULL,
  full_text TEXT NOT NULL,
  command_type NUMBER NOT NULL DEFAULT 0,
  executions NUMBER NOT NULL DEFAULT 0,
  parsing_user_id NUMBER,
  first_load_time VARCHAR2(19));
-- The statement text in pieces of at most 64 bytes (whole characters), counted from 0.
CREATE TABLE sql_text_pieces(
  address RAW(4) NOT NULL,
  hash_value NUMBER NOT NULL,
  command_type NUMBER NOT NULL,
  piece NUMBER NOT NULL,
  sql_text VARCHAR2(64) NOT NULL,
  PRIMARY KEY(address, hash_value, piece));
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
CREATE VIEW "v$sqltext" AS
  SELECT address, hash_value, command_type, piece, sql_text FROM sql_text_pieces;
)sql";

// What a data file holds, judged from reading it alone.
enum class Layout {
  Empty,    // a new file, or an empty database: to be seeded
  Current,  // an instance of this client's layout
  Older,    // an instance of an earlier layout of this client: made anew
  Newer,    // an instance of a later layout: left alone
  Foreign,  // a database that is no instance (another program's): left alone
};

// Runs a query that answers one integer, trying again while another process
// holds the file busy (as it does while it sets a new file up). Raises
// ORA-00600 with SQLite's message for anything else, a file that is not a
// database among them.
long long readInteger(sqlite3* db, const char* sql) {
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr);
    long long value = 0;
    if (rc == SQLITE_OK) {
      rc = sqlite3_step(stmt);
      if (rc == SQLITE_ROW) value = sqlite3_column_int64(stmt, 0);
    }
    sqlite3_finalize(stmt);
    if (rc == SQLITE_ROW) return value;
    const int primary = sqlite3_extended_errcode(db) & 0xff;
    if ((primary != SQLITE_BUSY && primary != SQLITE_LOCKED) ||
        std::chrono::steady_clock::now() - start >= std::chrono::seconds(5))
      sqlFailure(db);
    usleep(2000);
  }
}

// Every layout of this client has kept its user_version and an `instance`
// table; another program's database has neither (or not both).
Layout layoutOf(sqlite3* db) {
  const long long version = readInteger(db, "PRAGMA main.user_version");
  const long long objects =
      readInteger(db, "SELECT count(*) FROM main.sqlite_master WHERE name NOT LIKE 'sqlite\\_%' ESCAPE '\\'");
  const bool instanceTable =
      readInteger(db, "SELECT count(*) FROM main.sqlite_master WHERE type = 'table' AND name = 'instance'") > 0;
  if (version == 0) return objects == 0 ? Layout::Empty : Layout::Foreign;
  if (version < 0 || !instanceTable) return Layout::Foreign;
  if (version < kSchemaVersion) return Layout::Older;
  return version == kSchemaVersion ? Layout::Current : Layout::Newer;
}

// Refuses a data file that this client must not write to.
void refuseForeignLayout(Layout layout, const std::string& path) {
  if (layout == Layout::Foreign)
    throw notAvailable("The data file " + path + " is not an instance's data file; it is left as it is");
  if (layout == Layout::Newer)
    throw notAvailable("The data file " + path + " is of a newer client's layout; it is left as it is");
}

// Removes every table and view of a data file of an older layout.
void dropEverything(sqlite3* db) {
  std::vector<std::pair<std::string, std::string>> objects;
  {
    Query list(db, "SELECT type, name FROM sqlite_master WHERE type IN ('table', 'view')"
                   " AND name NOT LIKE 'sqlite_%'");
    while (list.step()) objects.emplace_back(list.text(0), list.text(1));
  }
  for (const auto& [type, name] : objects) {
    std::string quotedName = "\"";
    for (char c : name) quotedName += c == '"' ? std::string("\"\"") : std::string(1, c);
    quotedName += "\"";
    exec(db, ("DROP " + std::string(type == "view" ? "VIEW" : "TABLE") + " IF EXISTS " + quotedName).c_str());
  }
}

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

std::uint32_t hash32(std::string_view text) {
  std::uint32_t h = 2166136261u;
  for (unsigned char c : text) {
    h ^= c;
    h *= 16777619u;
  }
  return h;
}

std::uint64_t hash64(std::string_view text) {
  std::uint64_t h = 14695981039346656037ull;
  for (unsigned char c : text) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return h;
}

std::string hex8(std::uint32_t v) {
  char out[9];
  std::snprintf(out, sizeof out, "%08X", v);
  return out;
}

}  // namespace

std::pair<std::string, long long> shareStatement(sqlite3* db, std::string_view text, int commandType,
                                                 long long userId, bool executed) {
  const long long hash = hash32(text);
  std::uint32_t address = static_cast<std::uint32_t>(hash64(text) >> 32);
  for (;;) {
    Query find(db, "SELECT full_text FROM sql_area WHERE address = ?");
    find.bind(1, hex8(address));
    if (!find.step()) break;
    if (find.text(0) == text) {
      if (executed)
        Query(db, "UPDATE sql_area SET executions = executions + 1 WHERE address = ?")
            .bind(1, hex8(address))
            .run();
      return {hex8(address), hash};
    }
    ++address;  // another text has this address: take the next free one
  }
  const std::string addr = hex8(address);
  Query insert(db,
               "INSERT INTO sql_area(address, hash_value, sql_text, full_text, command_type, executions,"
               " parsing_user_id, first_load_time) VALUES(?, ?, ?, ?, ?, ?, ?, ?)");
  insert.bind(1, addr).bind(2, hash).bind(3, fit(text, 1000)).bind(4, text).bind(5, commandType);
  insert.bind(6, executed ? 1 : 0);
  if (userId) insert.bind(7, userId);
  const std::string now = nowText();
  insert.bind(8, now.substr(0, 10) + "/" + now.substr(11));
  insert.run();
  Query piece(db,
              "INSERT INTO sql_text_pieces(address, hash_value, command_type, piece, sql_text)"
              " VALUES(?, ?, ?, ?, ?)");
  // Pieces of at most 64 bytes that never split a character: each piece is
  // text of its own, converted on its own for a client of another set.
  for (size_t at = 0, n = 0; at < text.size(); ++n) {
    size_t end = std::min(at + 64, text.size());
    while (end < text.size() && end > at + 1 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    piece.reset();
    piece.bind(1, addr).bind(2, hash).bind(3, commandType).bind(4, static_cast<long long>(n));
    piece.bind(5, text.substr(at, end - at)).run();
    at = end;
  }
  return {addr, hash};
}

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

// Adds n simulated user sessions, with their statements in the shared pool.
// Values come from a fixed pseudo-random sequence, so every run looks alike.
void insertSimulatedSessions(sqlite3* db, long n, const std::string& host, const std::string& now) {
  (void)host;
  std::vector<std::pair<std::string, long long>> shared;
  for (const SampleStatement& s : kSampleStatements)
    shared.push_back(shareStatement(db, s.text, s.commandType, 0, false));
  long long sid = 0, serial = 0, audsid = 0;
  {
    Query top(db, "SELECT coalesce(max(sid), 0) FROM sessions");
    top.step();
    sid = top.integer(0);
    Query counters(db, "SELECT next_serial, next_audsid FROM instance");
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
  Query insert(db,
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
  Query(db, "UPDATE instance SET next_serial = ?, next_audsid = ?").bind(1, serial).bind(2, audsid).run();
}

constexpr const char* kBanners[] = {
    "Oracle8i Enterprise Edition Release 8.1.7.0.0 - Production",
    "PL/SQL Release 8.1.7.0.0 - Production",
    "CORE\t8.1.7.0.0\tProduction",
    "TNS for Linux: Version 8.1.7.0.0 - Production",
    "NLSRTL Version 3.4.1.0.0 - Production",
};

constexpr const char* kBackgroundProcesses[] = {"PMON", "DBW0", "LGWR", "CKPT", "SMON", "RECO"};

// The seeded accounts' passwords are the published defaults MANAGER, MONITOR and
// TIGER. They are hashed once, here, rather than each time an instance is made:
// a default password is no secret, and a new instance then costs no key
// derivation. A changed cost makes them anew at each account's next logon.
constexpr const char* kManagerHash =
    "$argon2id$v=19$m=19456,t=2,p=1$ZUM+pM1H2q9SpH5TnLBsDg$KIP3hovRwxcZYL4V8nNx+hjeWvTctBbSueGrOef6iv4";
constexpr const char* kMonitorHash =
    "$argon2id$v=19$m=19456,t=2,p=1$23YAk46t5CU8QkXZJpEsng$NjxhYD5oohREBph7B7UPn3YavQNU3daNY+XXWifDQD4";
constexpr const char* kTigerHash =
    "$argon2id$v=19$m=19456,t=2,p=1$dBi/MRhCHs+/Ek/85ATS9g$7OlePfyJOOMigzrsp6gwXgdzFnZEuSZcrGvnNd6TTCg";

struct SeedUser {
  const char* name;
  const char* passwordHash;  // null for a role
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

void prepareDataFile(const std::string& path) {
  prepareDataFolder(oradataDir());
  // Files that exist are judged by their path, never opened here: closing a
  // descriptor of a file drops every lock this process holds on it, those of
  // the SQLite connections it already has open on the instance among them, and
  // another process would then take their files for unused (a last connection
  // checkpoints and removes the write-ahead log under them). The folder is
  // this user's alone, so the file judged is the file SQLite opens.
  const auto judge = [](const std::string& file, const std::string& what) {
    struct stat st {};
    if (lstat(file.c_str(), &st) != 0) {
      if (errno == ENOENT) return false;
      throw notAvailable(what + " cannot be used: " + systemError(errno));
    }
    if (S_ISLNK(st.st_mode)) throw notAvailable(what + " is a symbolic link");
    if (!S_ISREG(st.st_mode)) throw notAvailable(what + " is not a regular file");
    if (st.st_uid != geteuid()) throw notAvailable(what + " belongs to another user");
    if ((st.st_mode & 07777) != 0600 && chmod(file.c_str(), 0600) != 0)
      throw notAvailable("Cannot close " + what.substr(4) + " to other users: " + systemError(errno));
    return true;
  };
  const std::string main = "The data file " + path;
  if (!judge(path, main)) {
    // The main file is made here, 0600: SQLite gives the -wal, -shm and -journal
    // files it creates beside it the main file's mode, so they come out 0600 too.
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) close(fd);  // new: no connection of this process has it open
    else if (errno != EEXIST) throw notAvailable("Cannot open the data file " + path + ": " + systemError(errno));
    if (!judge(path, main)) throw notAvailable("Cannot open the data file " + path + ": " + systemError(ENOENT));
  }
  // Those files as left by earlier clients: this user's regular files, closed to others.
  for (const char* suffix : {"-wal", "-shm", "-journal"}) {
    const std::string companion = path + suffix;
    try {
      judge(companion, "The file " + companion + " beside the data file");
    } catch (const OraError& e) {
      if (e.detail.find("symbolic link") != std::string::npos || e.detail.find("cannot be used") != std::string::npos)
        throw;
      throw notAvailable("The file " + companion + " beside the data file is not a regular file of this user");
    }
  }
}

int setUpStatement(sqlite3* db, const char* sql, int waitMs) {
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    const int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    const int primary = rc & 0xff;
    if (primary != SQLITE_BUSY && primary != SQLITE_LOCKED) return rc;
    if (std::chrono::steady_clock::now() - start >= std::chrono::milliseconds(waitMs)) return rc;
    usleep(2000);
  }
}

Instance::Instance(std::string sid, sqlite3* db) : sid_(std::move(sid)), db_(db), owner_(getpid()) {}

Instance::~Instance() {
  if (!ownedHere()) return;
  sqlite3_finalize(sessionStateStmt_);
  sqlite3_finalize(dataVersionStmt_);
  sqlite3_close_v2(db_);
}

bool Instance::ownedHere() const { return owner_ == getpid(); }

std::unique_ptr<Instance> Instance::open(const std::string& sid) {
  const std::string path = instanceFilePath(sid);
  prepareDataFile(path);
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW,
                      nullptr) !=
      SQLITE_OK) {
    const std::string reason = db ? sqlite3_errmsg(db) : "out of memory";
    sqlite3_close(db);
    throw notAvailable("Cannot open the data file " + path + ": " + reason);
  }
  std::unique_ptr<Instance> instance(new Instance(sid, db));
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

void Instance::seed() {
  WriteTransaction tx(db_);
  // Read again under the write lock: another process may have seeded the file
  // since it was first read.
  const Layout layout = layoutOf(db_);
  if (layout == Layout::Current) return;  // seeded before
  refuseForeignLayout(layout, instanceFilePath(sid_));
  if (layout == Layout::Older) dropEverything(db_);  // a file of an older layout is made anew
  exec(db_, kSchema);
  exec(db_, kServerStateSchema);
  const std::string now = nowText();
  const std::string host = hostName();
  Query(db_, "INSERT INTO instance VALUES(?, ?, 2, 1001)").bind(1, sid_).bind(2, now).run();
  int line = 1;
  for (const char* banner : kBanners)
    Query(db_, "INSERT INTO version_banner VALUES(?, ?)").bind(1, line++).bind(2, banner).run();

  for (const char* role : {"CONNECT", "RESOURCE", "DBA", "SELECT_CATALOG_ROLE"})
    Query(db_, "INSERT INTO roles VALUES(?)").bind(1, role).run();
  const std::vector<SeedUser> users = {
      {"SYSTEM", kManagerHash, {"DBA", "SELECT_CATALOG_ROLE"}, {"ALTER SYSTEM", "CREATE SESSION"}},
      {"MONITOR", kMonitorHash, {"SELECT_CATALOG_ROLE"}, {"CREATE SESSION"}},
      {"SCOTT", kTigerHash, {"CONNECT", "RESOURCE"}, {}},
      // Privileges that come with the roles themselves.
      {"CONNECT", nullptr, {}, {"CREATE SESSION"}},
      {"RESOURCE", nullptr, {}, {"CREATE TABLE"}},
      {"DBA", nullptr, {}, {"CREATE SESSION", "CREATE TABLE", "CREATE ANY TABLE", "CREATE ANY VIEW",
                             "CREATE ANY INDEX", "SELECT ANY TABLE", "INSERT ANY TABLE", "UPDATE ANY TABLE",
                             "DELETE ANY TABLE", "DROP ANY TABLE", "DROP ANY VIEW", "DROP ANY INDEX"}},
  };
  long userId = 5;
  for (const SeedUser& u : users) {
    if (u.passwordHash) {
      Query(db_, "INSERT INTO users(user_id, username, password, created) VALUES(?, ?, ?, ?)")
          .bind(1, userId++)
          .bind(2, u.name)
          .bind(3, u.passwordHash)
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
          " logon_time, type, server, status, paddr, spid) VALUES(?, 1, 0, 'oracle', ?, 'UNKNOWN', ?, NULL, ?,"
          " 'BACKGROUND', 'DEDICATED', 'ACTIVE', ?, ?)")
        .bind(1, sid)
        .bind(5, processAddress(sid))
        .bind(6, serverProcessId(sid, 1))
        .bind(2, fit(host, 64))
        .bind(3, fit("oracle@" + host + " (" + name + ")", 48))
        .bind(4, now)
        .run();
    ++sid;
  }
  seedServerState(db_, sid_, host);
  exec(db_, ("PRAGMA user_version=" + std::to_string(kSchemaVersion)).c_str());
  if (const long demo = demoSessionCount(); demo > 0) insertSimulatedSessions(db_, demo, host, now);
  tx.commit();
}

void Instance::cleanUpKilledSessions() {
  if (!ownedHere() || !sqlite3_get_autocommit(db_)) return;
  // At most once a second: a read each time, a write only when one is due.
  const auto now = std::chrono::steady_clock::now();
  if (lastCleanUp_ && now - *lastCleanUp_ < std::chrono::seconds(1)) return;
  lastCleanUp_ = now;
  const long long epoch = static_cast<long long>(std::time(nullptr));
  try {
    if (!killedSessionsDue(db_, epoch)) return;
    WriteTransaction tx(db_);
    removeKilledSessions(db_, epoch);
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
    Query rows(db_, "SELECT sid, os_pid, os_start FROM sessions WHERE os_pid IS NOT NULL AND machine = ?");
    rows.bind(1, fit(hostName(), 64));
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
      Query find(db_, "SELECT user_id, password FROM users WHERE username = ? AND account_status = 'OPEN'");
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
    tx.emplace(db_);
    {
      Query again(db_, "SELECT password FROM users WHERE user_id = ? AND account_status = 'OPEN'");
      again.bind(1, userId);
      if (!again.step()) throw OraError(kOraInvalidLogon);
      if (again.text(0) == stored) break;
    }
    tx.reset();
    if (attempt == 2) throw OraError(kOraInvalidLogon);
  }
  if (!upgraded.empty())
    Query(db_, "UPDATE users SET password = ? WHERE user_id = ?").bind(1, upgraded).bind(2, userId).run();
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
  {
    // The limit counts the sessions of client processes; simulated ones do not take a slot.
    Query count(db_, "SELECT count(*) FROM sessions WHERE os_pid IS NOT NULL");
    count.step();
    if (count.integer(0) >= kMaxSessions) throw OraError(kOraMaxSessions);
  }
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
  WriteTransaction tx(db_);
  const bool live = sessionState(logon) == SessionState::Live;
  Query(db_, "DELETE FROM sessions WHERE sid = ? AND serial = ?")
      .bind(1, logon.sid)
      .bind(2, logon.serial)
      .run();
  tx.commit();
  return live;
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

long long Instance::dataVersion() {
  if (dataVersionStmt_ == nullptr &&
      sqlite3_prepare_v3(db_, "PRAGMA data_version", -1, SQLITE_PREPARE_PERSISTENT, &dataVersionStmt_,
                         nullptr) != SQLITE_OK)
    return -1;
  const long long version =
      sqlite3_step(dataVersionStmt_) == SQLITE_ROW ? sqlite3_column_int64(dataVersionStmt_, 0) : -1;
  sqlite3_reset(dataVersionStmt_);
  return version;
}

Instance::SessionState Instance::sessionState(const Logon& logon) {
  // Only outside a transaction of this connection (inside one, its own
  // uncommitted changes count too), and only in the process that opened it.
  const bool usable = sqlite3_get_autocommit(db_) && ownedHere();
  const long long version = usable ? dataVersion() : -1;
  const long long changes = sqlite3_total_changes64(db_);
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
  if (sessionStateStmt_ == nullptr &&
      sqlite3_prepare_v3(db_, "SELECT status = 'KILLED' FROM sessions WHERE sid = ? AND serial = ?", -1,
                         SQLITE_PREPARE_PERSISTENT, &sessionStateStmt_, nullptr) != SQLITE_OK)
    sqlFailure(db_);
  sqlite3_stmt* find = sessionStateStmt_;
  sqlite3_bind_int64(find, 1, logon.sid);
  sqlite3_bind_int64(find, 2, logon.serial);
  const int rc = sqlite3_step(find);
  const bool killed = rc == SQLITE_ROW && sqlite3_column_int(find, 0) != 0;
  // Reset at once: a statement left stepping would keep the file's read lock.
  sqlite3_reset(find);
  if (rc == SQLITE_ROW) return killed ? SessionState::Killed : SessionState::Live;
  if (rc == SQLITE_DONE) return SessionState::Gone;
  sqlFailure(db_);
}

void Instance::recordStatement(const Logon& logon, std::string_view text, int commandType) {
  if (!ownedHere()) return;
  WriteTransaction tx(db_);
  long long userId = 0;
  {
    Query find(db_, "SELECT user_id FROM users WHERE username = ?");
    find.bind(1, logon.username);
    if (find.step()) userId = find.integer(0);
  }
  const auto [address, hash] = shareStatement(db_, text, commandType, userId, true);
  Query(db_,
        "UPDATE sessions SET prev_sql_addr = sql_address, prev_hash_value = sql_hash_value,"
        " sql_address = ?, sql_hash_value = ?, command = ? WHERE sid = ? AND serial = ?")
      .bind(1, address)
      .bind(2, hash)
      .bind(3, commandType)
      .bind(4, logon.sid)
      .bind(5, logon.serial)
      .run();
  tx.commit();
}

void Instance::killSession(const Logon& caller, long sid, long serial) {
  if (sid == caller.sid && serial == caller.serial) throw OraError(27);
  WriteTransaction tx(db_);
  {
    Query find(db_, "SELECT type, status FROM sessions WHERE sid = ? AND serial = ?");
    find.bind(1, sid).bind(2, serial);
    if (!find.step() || find.text(1) == "KILLED") throw OraError(30);
    if (find.text(0) != "USER") throw OraError(29);
  }
  Query(db_,
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
    Query roles(db_, "SELECT granted_role FROM role_grants WHERE grantee = ?");
    roles.bind(1, username);
    while (roles.step()) rights.roles.insert(roles.text(0));
  }
  std::vector<std::string> grantees(rights.roles.begin(), rights.roles.end());
  grantees.push_back(username);
  for (const std::string& grantee : grantees) {
    Query privileges(db_, "SELECT privilege FROM sys_privs WHERE grantee = ?");
    privileges.bind(1, grantee);
    while (privileges.step()) rights.privileges.insert(privileges.text(0));
  }
  return rights;
}

void Instance::createDirectory(const std::string& name, const std::string& path, bool replace) {
  WriteTransaction tx(db_);
  {
    Query find(db_, "SELECT 1 FROM directories WHERE directory_name = ?");
    find.bind(1, name);
    if (find.step() && !replace) throw OraError(955);
  }
  Query(db_, "INSERT OR REPLACE INTO directories VALUES(?, ?)").bind(1, name).bind(2, path).run();
  tx.commit();
}

void Instance::createUser(const std::string& name, const std::string& password) {
  // The slow hash is made before the write transaction, so that other
  // processes do not wait for it.
  const std::string stored = hashPassword(password);
  WriteTransaction tx(db_);
  {
    Query find(db_, "SELECT 1 FROM users WHERE username = ? UNION ALL SELECT 1 FROM roles WHERE role = ?");
    find.bind(1, name).bind(2, name);
    if (find.step()) throw OraError(1920, name);
  }
  Query(db_,
        "INSERT INTO users(user_id, username, password, created)"
        " SELECT coalesce(max(user_id), 0) + 1, ?, ?, ? FROM users")
      .bind(1, name)
      .bind(2, stored)
      .bind(3, nowText())
      .run();
  tx.commit();
}

std::optional<std::string> Instance::directoryPath(const std::string& name) {
  Query find(db_, "SELECT directory_path FROM directories WHERE directory_name = ?");
  find.bind(1, name);
  if (!find.step()) return std::nullopt;
  return find.text(0);
}

long Instance::addSimulatedSessions(long count) {
  WriteTransaction tx(db_);
  if (count > 0) insertSimulatedSessions(db_, count, hostName(), nowText());
  Query total(db_, "SELECT count(*) FROM sessions WHERE type = 'USER'");
  total.step();
  const long n = static_cast<long>(total.integer(0));
  tx.commit();
  return n;
}

void Instance::removeSimulatedSessions() {
  WriteTransaction tx(db_);
  exec(db_, "DELETE FROM sessions WHERE type = 'USER' AND os_pid IS NULL");
  removeOrphanLocks(db_);
  exec(db_,
       "DELETE FROM sql_area WHERE NOT EXISTS (SELECT 1 FROM sessions s WHERE s.sql_address ="
       " sql_area.address OR s.prev_sql_addr = sql_area.address)");
  exec(db_,
       "DELETE FROM sql_text_pieces WHERE NOT EXISTS (SELECT 1 FROM sql_area a WHERE a.address ="
       " sql_text_pieces.address)");
  tx.commit();
}

}  // namespace ocisim
