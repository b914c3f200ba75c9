// A session's connection: opening the instance's user data file with the
// instance's own file attached read-only behind the session's views, bringing
// an older user data file up to date, the statement time limit, and the
// session's transaction.
#include "ocisim/session_db.h"

#include "ocisim/ora_errors.h"
#include "ocisim/sql_lexer.h"
#include "ocisim/sql_translate.h"
#include "ocisim/tnsnames.h"

#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace ocisim {

namespace {

// The views a session reads the instance through. v$session shows the calling
// session as ACTIVE: it is the one whose call is running while the view is read.
// The session's roles are those it logged on with.
constexpr const char* kSessionViews = R"sql(
CREATE TEMP VIEW dual AS SELECT dummy FROM sys.dual;
CREATE TEMP TABLE session_roles(role VARCHAR2(30) PRIMARY KEY);
-- The schema objects the user owns or may use, filled before each statement
-- that reads the dictionary views below (see SessionDb::refreshObjectList).
CREATE TEMP TABLE session_objects(
  owner VARCHAR2(30) NOT NULL,
  object_name VARCHAR2(128) NOT NULL,
  object_id NUMBER NOT NULL,
  data_object_id NUMBER,
  object_type VARCHAR2(18) NOT NULL);
CREATE TEMP VIEW all_objects AS
  SELECT owner, object_name, NULL AS subobject_name, object_id, data_object_id, object_type,
         NULL AS created, NULL AS last_ddl_time, NULL AS timestamp, 'VALID' AS status, 'N' AS temporary,
         'N' AS generated, 'N' AS secondary
    FROM temp.session_objects;
CREATE TEMP VIEW user_objects AS
  SELECT object_name, subobject_name, object_id, data_object_id, object_type, created, last_ddl_time,
         timestamp, status, temporary, generated, secondary
    FROM all_objects WHERE owner = ocisim_user();
CREATE TEMP VIEW all_tables AS
  SELECT owner, object_name AS table_name, 'USERS' AS tablespace_name, NULL AS cluster_name, NULL AS iot_name,
         10 AS pct_free, 40 AS pct_used, 1 AS ini_trans, 255 AS max_trans, 65536 AS initial_extent,
         65536 AS next_extent, 1 AS min_extents, 2147483645 AS max_extents, NULL AS pct_increase,
         1 AS freelists, 1 AS freelist_groups, 'YES' AS logging, 'N' AS backed_up, NULL AS num_rows,
         NULL AS blocks, NULL AS empty_blocks, NULL AS avg_space, NULL AS chain_cnt, NULL AS avg_row_len,
         NULL AS avg_space_freelist_blocks, NULL AS num_freelist_blocks, '         1' AS degree,
         '         1' AS instances, '    N' AS cache, 'ENABLED' AS table_lock, NULL AS sample_size,
         NULL AS last_analyzed, 'NO' AS partitioned, NULL AS iot_type, 'N' AS temporary, 'N' AS secondary,
         'NO' AS nested, 'DEFAULT' AS buffer_pool, 'DISABLED' AS row_movement, 'NO' AS global_stats,
         'NO' AS user_stats, NULL AS duration, 'DISABLED' AS skip_corrupt, 'NO' AS monitoring
    FROM temp.session_objects WHERE object_type = 'TABLE';
CREATE TEMP VIEW user_tables AS
  SELECT table_name, tablespace_name, cluster_name, iot_name, pct_free, pct_used, ini_trans, max_trans,
         initial_extent, next_extent, min_extents, max_extents, pct_increase, freelists, freelist_groups,
         logging, backed_up, num_rows, blocks, empty_blocks, avg_space, chain_cnt, avg_row_len,
         avg_space_freelist_blocks, num_freelist_blocks, degree, instances, cache, table_lock, sample_size,
         last_analyzed, partitioned, iot_type, temporary, secondary, nested, buffer_pool, row_movement,
         global_stats, user_stats, duration, skip_corrupt, monitoring
    FROM all_tables WHERE owner = ocisim_user();
CREATE TEMP VIEW dba_users AS
  SELECT username, user_id, NULL AS password, account_status,
         CASE WHEN account_status LIKE '%LOCKED%' THEN created END AS lock_date, NULL AS expiry_date,
         CASE WHEN username IN ('SYS', 'SYSTEM') THEN 'SYSTEM' ELSE 'USERS' END AS default_tablespace,
         'TEMP' AS temporary_tablespace, created, 'DEFAULT' AS profile,
         'DEFAULT_CONSUMER_GROUP' AS initial_rsrc_consumer_group, NULL AS external_name
    FROM sys.users;
CREATE TEMP VIEW "v$version" AS SELECT banner FROM sys.version_banner ORDER BY line;
CREATE TEMP VIEW "v$session" AS
  SELECT CASE WHEN status = 'KILLED' THEN '8C4A0000' ELSE paddr END AS paddr,
         sid, serial AS "serial#", audsid, user_id AS "user#", username, command,
         CASE WHEN status = 'KILLED' THEN 'KILLED'
              WHEN sid = ocisim_sid() AND serial = ocisim_serial() THEN 'ACTIVE'
              ELSE status END AS status,
         server, schemaname, osuser, process, machine, terminal, program, type,
         sql_address, sql_hash_value, prev_sql_addr, prev_hash_value, logon_time
    FROM sys.sessions;
CREATE TEMP VIEW "v$sql" AS
  SELECT sql_text, address, hash_value, command_type, executions, parsing_user_id,
         first_load_time
    FROM sys.sql_area;
CREATE TEMP VIEW "v$sqltext" AS
  SELECT address, hash_value, command_type, piece, sql_text FROM sys.sql_text_pieces;
CREATE TEMP VIEW "v$process" AS
  SELECT '8C4A0000' AS addr, 1 AS pid, NULL AS spid, NULL AS username, 0 AS "serial#",
         NULL AS terminal, 'PSEUDO' AS program, NULL AS background, NULL AS latchwait, NULL AS latchspin
  UNION ALL
  SELECT s.paddr, s.sid + 1, s.spid, 'oracle',
         CASE WHEN s.type = 'BACKGROUND' THEN 1 ELSE s.serial % 32 + 1 END, 'UNKNOWN',
         CASE WHEN s.type = 'BACKGROUND' THEN s.program ELSE 'oracle@' || i.host_name || ' (TNS V1-V3)' END,
         CASE WHEN s.type = 'BACKGROUND' THEN '1' END, NULL, NULL
    FROM sys.sessions s, sys.instance_info i WHERE s.status <> 'KILLED';
CREATE TEMP VIEW "v$instance" AS
  SELECT instance_number, instance_name, host_name, version, startup_time, 'OPEN' AS status,
         'NO' AS parallel, 1 AS "thread#", 'STOPPED' AS archiver, 'NULL' AS log_switch_wait,
         'ALLOWED' AS logins, 'NO' AS shutdown_pending, 'ACTIVE' AS database_status,
         'PRIMARY_INSTANCE' AS instance_role
    FROM sys.instance_info;
CREATE TEMP VIEW "v$parameter" AS
  SELECT num, name, type, value, isdefault, isses_modifiable, issys_modifiable,
         'FALSE' AS ismodified, 'FALSE' AS isadjusted, description, NULL AS update_comment
    FROM sys.parameters;
CREATE TEMP VIEW "v$lock" AS
  SELECT l.addr, l.kaddr, l.sid, l.type, l.id1, l.id2, l.lmode, l.request,
         ocisim_epoch() - l.since AS ctime, l.block
    FROM sys.locks l, sys.sessions s WHERE s.sid = l.sid AND s.serial = l.serial;
)sql";

// The names of the views above (and of the session's roles), as a statement
// names them without a schema.
bool isSessionViewName(std::string_view upperName) {
  return upperName == "DUAL" || upperName == "SESSION_ROLES" || isObjectListView(upperName) ||
         isCatalogView(upperName);
}

// The object privileges granted in the user data file: one row per object,
// grantee, privilege and grantor. Its name holds no dot, so that no statement
// of a session names it.
constexpr const char* kCreateGrantsTable = R"sql(
CREATE TABLE IF NOT EXISTS "ocisim$grants"(
  object TEXT NOT NULL COLLATE NOCASE,
  grantee TEXT NOT NULL,
  privilege TEXT NOT NULL,
  grantor TEXT NOT NULL,
  grantable INTEGER NOT NULL DEFAULT 0,
  PRIMARY KEY(object, grantee, privilege, grantor));
)sql";

// The layout of the user data file: 1 since each schema object has a table
// named after its owner and the grants are kept.
constexpr int kDataFileVersion = 1;

std::atomic<long> statementTimeLimitMs{static_cast<long>(kStatementTimeLimit.count())};

std::string quotedName(std::string_view name) {
  std::string out = "\"";
  for (char c : name) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

}  // namespace

std::chrono::milliseconds setStatementTimeLimit(std::chrono::milliseconds limit) {
  const auto ms = static_cast<long>(limit.count() > 0 ? limit.count() : kStatementTimeLimit.count());
  return std::chrono::milliseconds(statementTimeLimitMs.exchange(ms));
}

SessionDb::Internal::Internal(SessionDb& db) : db_(db), saved_(db.mode_) { db.mode_ = kInternal; }
SessionDb::Internal::~Internal() { db_.mode_ = static_cast<Mode>(saved_); }
SessionDb::Ddl::Ddl(SessionDb& db) : db_(db), saved_(db.mode_) { db.mode_ = kDdl; }
SessionDb::Ddl::~Ddl() { db_.mode_ = static_cast<Mode>(saved_); }

int SessionDb::progress(void* ctx) {
  const auto* db = static_cast<const SessionDb*>(ctx);
  return db->clockRunning_ && std::chrono::steady_clock::now() >= db->deadline_ ? 1 : 0;
}

void SessionDb::startClock() {
  deadline_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(statementTimeLimitMs.load());
  clockRunning_ = true;
}

void SessionDb::noteTransactionEnd() {
  if (inTransaction_ && db_.get() && ownedHere() && sqlite3_get_autocommit(db_.get())) inTransaction_ = false;
}

// A user data file of the layout before schema objects had owners keeps its
// tables under the names they were created with; they become SYSTEM's (the
// DBA's, who may hand them on). Its views and indexes stay where they are,
// out of every statement's reach, and so do its triggers, which are dropped:
// they were never part of the dialect. The grants table is made here too.
void SessionDb::upgradeDataFile() {
  const auto version = [&] {
    SqliteStatement stmt;
    long long v = 0;
    if (stmt.prepare(db_.get(), "PRAGMA main.user_version") == SQLITE_OK && sqlite3_step(stmt.get()) == SQLITE_ROW)
      v = sqlite3_column_int64(stmt.get(), 0);
    return v;
  };
  if (version() >= kDataFileVersion) return;
  exec("BEGIN IMMEDIATE");
  try {
    if (version() < kDataFileVersion) {
      std::vector<std::pair<std::string, std::string>> old;
      {
        SqliteStatement list;
        if (list.prepare(db_.get(),
                         "SELECT type, name FROM main.sqlite_master WHERE (type = 'trigger' OR"
                         " (type = 'table' AND instr(name, '.') = 0 AND name NOT LIKE 'sqlite%'"
                         " AND name NOT LIKE 'ocisim$%'))") != SQLITE_OK)
          sqlFailure(db_.get());
        while (sqlite3_step(list.get()) == SQLITE_ROW)
          old.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(list.get(), 0)),
                           reinterpret_cast<const char*>(sqlite3_column_text(list.get(), 1)));
      }
      // Views that name a renamed table are left as they are, not rewritten.
      exec("PRAGMA legacy_alter_table=ON");
      for (const auto& [type, name] : old) {
        const std::string sql = type == "trigger"
                                    ? "DROP TRIGGER " + quotedName(name)
                                    : "ALTER TABLE " + quotedName(name) + " RENAME TO " +
                                          quotedName(objectTableName("SYSTEM", upperAscii(name)));
        exec(sql.c_str());
      }
      exec("PRAGMA legacy_alter_table=OFF");
      exec(kCreateGrantsTable);
      exec(("PRAGMA main.user_version=" + std::to_string(kDataFileVersion)).c_str());
    }
    exec("COMMIT");
  } catch (...) {
    sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

// A path as a file: URI, with the characters URIs give a meaning escaped.
static std::string fileUri(const std::string& path) {
  std::string out = "file:";
  for (unsigned char c : path) {
    if (c == '%' || c == '?' || c == '#' || c < 0x20 || c >= 0x7f) {
      char esc[4];
      std::snprintf(esc, sizeof esc, "%%%02X", c);
      out += esc;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string userDataFilePath(const std::string& sid) {
  return oradataDir() + "/" + sid + ".users.dbf";
}

SessionDb::SessionDb(const std::string& sid, const Logon& logon, Instance::Rights rights)
    : logon_(logon), rights_(std::move(rights)), owner_(getpid()) {
  const std::string path = userDataFilePath(sid);
  prepareDataFile(path);
  std::string reason;
  if (db_.open(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_URI | SQLITE_OPEN_NOFOLLOW, reason) !=
      SQLITE_OK)
    throw notAvailable("Cannot open the data file " + path + ": " + reason);
  // Should any step below fail, the connection and its statements close
  // themselves as the half-made session goes.
  {
    // How long a change waits for another session's transaction to end before
    // failing with ORA-00054.
    const char* wait = std::getenv("OCISIM_LOCK_WAIT_MS");
    const int waitMs = wait && *wait ? std::atoi(wait) : 5000;
    sqlite3_busy_timeout(db_.get(), waitMs);
    sqlite3_extended_result_codes(db_.get(), 1);
    // The first sessions of a new instance may switch its file to WAL at once.
    if (setUpStatement(db_.get(), "PRAGMA journal_mode=WAL", std::max(waitMs, 5000)) != SQLITE_OK) {
      const int primary = sqlite3_extended_errcode(db_.get()) & 0xff;
      if (primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT) throw damagedDataFile(path);
      exec("PRAGMA journal_mode=WAL");  // reports the failure
    }
    exec("PRAGMA synchronous=NORMAL");
    exec("PRAGMA case_sensitive_like=ON");  // LIKE compares letter case, as Oracle's does
    {
      SqliteStatement attach;
      if (attach.prepare(db_.get(), "ATTACH DATABASE ? AS sys") != SQLITE_OK) throw OraError(kOraNotAvailable);
      // Read-only: a transaction of the session then locks only its own data file,
      // never the instance's, where the client records sessions and statements.
      const std::string instanceFile = fileUri(instanceFilePath(sid)) + "?mode=ro";
      sqlite3_bind_text(attach.get(), 1, instanceFile.c_str(), -1, SQLITE_TRANSIENT);
      // Reading the instance file's WAL index can find it being rebuilt by
      // another process that opens the instance; that answer comes without waiting.
      const int rc = retryWhileBusy([&] {
        sqlite3_reset(attach.get());
        return sqlite3_step(attach.get());
      });
      if (rc != SQLITE_DONE) throw OraError(kOraNotAvailable);
    }
    upgradeDataFile();
    // SQL cannot corrupt the file (writable_schema and the like), and no
    // function the schema names runs unless it is innocuous.
    // The dialect has no triggers: none that a data file holds ever fires.
    int on = 0;
    if (sqlite3_db_config(db_.get(), SQLITE_DBCONFIG_DEFENSIVE, 1, &on) != SQLITE_OK || !on ||
        sqlite3_db_config(db_.get(), SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, &on) != SQLITE_OK || on ||
        sqlite3_db_config(db_.get(), SQLITE_DBCONFIG_ENABLE_TRIGGER, 0, &on) != SQLITE_OK || on)
      throw OraError(kOraNotAvailable);
    // Limits of what one statement may ask of the engine.
    sqlite3_limit(db_.get(), SQLITE_LIMIT_ATTACHED, 1);
    sqlite3_limit(db_.get(), SQLITE_LIMIT_LENGTH, 64 * 1024 * 1024);
    sqlite3_limit(db_.get(), SQLITE_LIMIT_SQL_LENGTH, 1024 * 1024);
    sqlite3_limit(db_.get(), SQLITE_LIMIT_COLUMN, 1000);
    sqlite3_limit(db_.get(), SQLITE_LIMIT_VDBE_OP, 1000000);
    sqlite3_limit(db_.get(), SQLITE_LIMIT_VARIABLE_NUMBER, 65535);
    sqlite3_limit(db_.get(), SQLITE_LIMIT_TRIGGER_DEPTH, 1);
    sqlite3_limit(db_.get(), SQLITE_LIMIT_WORKER_THREADS, 0);
    registerOracleFunctions(db_.get(), this);
    exec(kSessionViews);
    {
      SqliteStatement role;
      if (role.prepare(db_.get(), "INSERT INTO temp.session_roles VALUES(?)") != SQLITE_OK)
        throw OraError(kOraNotAvailable);
      for (const std::string& r : rights_.roles) {
        sqlite3_bind_text(role.get(), 1, r.data(), static_cast<int>(r.size()), SQLITE_TRANSIENT);
        sqlite3_step(role.get());
        sqlite3_reset(role.get());
      }
    }
    readsCatalog_ = mayReadCatalog();
    scope_.user = logon_.username;
    scope_.sessionView = [](const std::string& name) { return isSessionViewName(upperAscii(name)); };
    scope_.ownObject = [this](const std::string& name) { return ownObjectNamed(name); };
    sqlite3_set_authorizer(db_.get(), authorize, this);
    sqlite3_progress_handler(db_.get(), 1000, progress, this);
    mode_ = kUser;
  }
}

SessionDb::~SessionDb() {
  close();
  if (ownedHere()) return;  // the statements and the connection close themselves
  // A connection inherited through fork() belongs to the parent: never touched.
  grantsStmt_.release();
  objectStmt_.release();
  db_.release();
}

bool SessionDb::ownedHere() const { return owner_ == getpid(); }

void SessionDb::close() noexcept {
  if (closed_) return;
  closed_ = true;
  if (inTransaction_ && db_.get() && ownedHere()) sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
  inTransaction_ = false;
}

void SessionDb::exec(const char* sql) {
  char* message = nullptr;
  if (sqlite3_exec(db_.get(), sql, nullptr, nullptr, &message) != SQLITE_OK) {
    std::string text = message ? message : "sqlite error";
    sqlite3_free(message);
    // Every kind of busy, also the one of a session whose open query still reads an
    // older state of the file than another session has committed since.
    if (isBusy(sqlite3_extended_errcode(db_.get()))) throw OraError(54);
    throw OraError(kOraInternal, "sqlite: " + text);
  }
}

void SessionDb::begin() {
  if (inTransaction_) return;
  // Taken at once, so that two sessions never both change what one of them read.
  exec("BEGIN IMMEDIATE");
  inTransaction_ = true;
  static std::atomic<std::uint64_t> lastTransaction{0};
  transactionId_ = ++lastTransaction;
}

void SessionDb::commit() {
  if (!inTransaction_) return;
  exec("COMMIT");
  inTransaction_ = false;
}

void SessionDb::rollback() {
  if (!inTransaction_) return;
  inTransaction_ = false;
  exec("ROLLBACK");
}

}  // namespace ocisim
