#include "ocisim/session_db.h"

#include "ocisim/ora_errors.h"
#include "ocisim/sql_lexer.h"
#include "ocisim/sql_translate.h"
#include "ocisim/tnsnames.h"

#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace ocisim {

namespace {

// The views a session reads the instance through. v$session shows the calling
// session as ACTIVE: it is the one whose call is running while the view is read.
constexpr const char* kSessionViews = R"sql(
CREATE TEMP VIEW dual AS SELECT dummy FROM sys.dual;
CREATE TEMP VIEW session_roles AS
  SELECT granted_role AS role FROM sys.role_grants WHERE grantee = ocisim_user();
CREATE TEMP VIEW "v$version" AS SELECT banner FROM sys.version_banner ORDER BY line;
CREATE TEMP VIEW "v$session" AS
  SELECT sid, serial AS "serial#", audsid, user_id AS "user#", username, command,
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
)sql";

}  // namespace

// What the session's SQL may touch: its own tables, and the instance's tables
// only through the views above. Once the views are made, no new temporary
// objects, attachments or pragmas.
int SessionDb::authorize(void* ctx, int action, const char* a3, const char* a4, const char* dbName,
              const char* view) {
  (void)a3;
  const auto* state = static_cast<AuthState*>(ctx);
  const bool sys = dbName && std::strcmp(dbName, "sys") == 0;
  const bool temp = dbName && std::strcmp(dbName, "temp") == 0;
  switch (action) {
    case SQLITE_READ:
      // The v$ views, however the statement reaches them (quoted, qualified,
      // in a subquery, a PL/SQL block or a CREATE TABLE ... AS SELECT).
      if (sys && view && !state->readsCatalog && isCatalogView(upperAscii(view))) return SQLITE_DENY;
      // A table scanned for no column at all (a view read for row counts only)
      // reaches here without its view: it reveals no value.
      return sys && !view && a4 && *a4 ? SQLITE_DENY : SQLITE_OK;
    case SQLITE_INSERT:
    case SQLITE_UPDATE:
    case SQLITE_DELETE:
      return sys || (temp && state->setupDone) ? SQLITE_DENY : SQLITE_OK;
    case SQLITE_ATTACH:
    case SQLITE_DETACH:
    case SQLITE_PRAGMA:
    case SQLITE_CREATE_TEMP_INDEX:
    case SQLITE_CREATE_TEMP_TABLE:
    case SQLITE_CREATE_TEMP_TRIGGER:
    case SQLITE_CREATE_TEMP_VIEW:
    case SQLITE_DROP_TEMP_INDEX:
    case SQLITE_DROP_TEMP_TABLE:
    case SQLITE_DROP_TEMP_TRIGGER:
    case SQLITE_DROP_TEMP_VIEW:
      return state->setupDone ? SQLITE_DENY : SQLITE_OK;
    default:
      return sys && state->setupDone ? SQLITE_DENY : SQLITE_OK;
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
  if (sqlite3_open_v2(path.c_str(), &db_,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_URI | SQLITE_OPEN_NOFOLLOW,
                      nullptr) != SQLITE_OK) {
    sqlite3_close(db_);
    db_ = nullptr;
    throw OraError(kOraNotAvailable);
  }
  try {
    // How long a change waits for another session's transaction to end before
    // failing with ORA-00054.
    const char* wait = std::getenv("OCISIM_LOCK_WAIT_MS");
    const int waitMs = wait && *wait ? std::atoi(wait) : 5000;
    sqlite3_busy_timeout(db_, waitMs);
    sqlite3_extended_result_codes(db_, 1);
    // The first sessions of a new instance may switch its file to WAL at once.
    if (setUpStatement(db_, "PRAGMA journal_mode=WAL", std::max(waitMs, 5000)) != SQLITE_OK)
      exec("PRAGMA journal_mode=WAL");  // reports the failure
    exec("PRAGMA synchronous=NORMAL");
    exec("PRAGMA case_sensitive_like=ON");  // LIKE compares letter case, as Oracle's does
    sqlite3_stmt* attach = nullptr;
    if (sqlite3_prepare_v2(db_, "ATTACH DATABASE ? AS sys", -1, &attach, nullptr) != SQLITE_OK)
      throw OraError(kOraNotAvailable);
    // Read-only: a transaction of the session then locks only its own data file,
    // never the instance's, where the client records sessions and statements.
    const std::string instanceFile = fileUri(instanceFilePath(sid)) + "?mode=ro";
    sqlite3_bind_text(attach, 1, instanceFile.c_str(), -1, SQLITE_TRANSIENT);
    // Reading the instance file's WAL index can find it being rebuilt by
    // another process that opens the instance; that answer comes without waiting.
    const auto start = std::chrono::steady_clock::now();
    int rc = sqlite3_step(attach);
    while (((rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED) &&
           std::chrono::steady_clock::now() - start < std::chrono::seconds(5)) {
      usleep(2000);
      sqlite3_reset(attach);
      rc = sqlite3_step(attach);
    }
    sqlite3_finalize(attach);
    if (rc != SQLITE_DONE) throw OraError(kOraNotAvailable);
    registerOracleFunctions(db_, this);
    exec(kSessionViews);
    auth_.readsCatalog = mayReadCatalog();
    sqlite3_set_authorizer(db_, authorize, &auth_);
    auth_.setupDone = true;
  } catch (...) {
    sqlite3_close_v2(db_);
    db_ = nullptr;
    throw;
  }
}

SessionDb::~SessionDb() {
  close();
  if (db_ && ownedHere()) sqlite3_close_v2(db_);
}

bool SessionDb::ownedHere() const { return owner_ == getpid(); }

void SessionDb::close() noexcept {
  if (closed_) return;
  closed_ = true;
  if (inTransaction_ && db_ && ownedHere()) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  inTransaction_ = false;
}

void SessionDb::exec(const char* sql) {
  char* message = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) != SQLITE_OK) {
    std::string text = message ? message : "sqlite error";
    sqlite3_free(message);
    // Every kind of busy, also the one of a session whose open query still reads an
    // older state of the file than another session has committed since.
    const int primary = sqlite3_extended_errcode(db_) & 0xff;
    if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED) throw OraError(54);
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
