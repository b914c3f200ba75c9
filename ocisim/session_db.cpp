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
  return upperName == "DUAL" || upperName == "SESSION_ROLES" || isCatalogView(upperName);
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

bool equalNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

// SQLite's own tables of a schema.
bool isSchemaTable(std::string_view table) {
  return equalNoCase(table, "sqlite_master") || equalNoCase(table, "sqlite_schema") ||
         equalNoCase(table, "sqlite_temp_master") || equalNoCase(table, "sqlite_temp_schema") ||
         equalNoCase(table, "sqlite_sequence");
}

// The tables of the instance's file; only those of the session's views are
// ever read, and the v$ views' only with the catalogue role.
enum class InstanceTable { None, Public, Catalog, Private };
InstanceTable instanceTable(std::string_view table) {
  if (equalNoCase(table, "dual")) return InstanceTable::Public;
  for (std::string_view t : {"sessions", "sql_area", "sql_text_pieces", "version_banner", "instance_info",
                             "parameters", "locks"})
    if (equalNoCase(table, t)) return InstanceTable::Catalog;
  for (std::string_view t : {"users", "roles", "role_grants", "sys_privs", "directories", "instance"})
    if (equalNoCase(table, t)) return InstanceTable::Private;
  return InstanceTable::None;
}

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

bool SessionDb::NoCase::operator()(std::string_view a, std::string_view b) const {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const int x = std::tolower(static_cast<unsigned char>(a[i]));
    const int y = std::tolower(static_cast<unsigned char>(b[i]));
    if (x != y) return x < y;
  }
  return a.size() < b.size();
}

// What the session's SQL may touch is judged by the table read or changed,
// never by the name of a view or common table expression it came through (a
// statement chooses those): a schema object's table as its user may use the
// object, the instance's tables only for the session's views, SQLite's own
// tables only for DDL, no temporary objects, attachments, pragmas, triggers or
// virtual tables, and no function outside the dialect.
int SessionDb::authorize(void* ctx, int action, const char* a3, const char* a4, const char* dbName,
                         const char* view) {
  (void)view;
  return static_cast<const SessionDb*>(ctx)->decide(action, a3, a4, dbName);
}

int SessionDb::decide(int action, const char* a3, const char* a4, const char* dbName) const {
  if (mode_ == kSetUp || mode_ == kInternal) return SQLITE_OK;
  const std::string_view table = a3 ? a3 : "";
  const std::string_view db = dbName ? dbName : "";
  const bool main = db == "main";
  const bool ddl = mode_ == kDdl;
  const auto allow = [](bool yes) { return yes ? SQLITE_OK : SQLITE_DENY; };
  switch (action) {
    case SQLITE_SELECT:
    case SQLITE_RECURSIVE:
    case SQLITE_TRANSACTION:
    case SQLITE_SAVEPOINT:
      return SQLITE_OK;
    case SQLITE_FUNCTION:
      return allow(a4 && isDialectFunction(a4));
    case SQLITE_READ:
      // DDL finds its way in SQLite's schema table, and copies no definition out of it.
      if (isSchemaTable(table)) return allow(ddl && main && !(a4 && equalNoCase(a4, "sql")));
      return allow(mayRead(table, db));
    case SQLITE_INSERT:
    case SQLITE_UPDATE:
    case SQLITE_DELETE: {
      if (!main) return SQLITE_DENY;
      if (isSchemaTable(table)) return allow(ddl);
      if (objectOwner(table).empty()) return SQLITE_DENY;
      if (action == SQLITE_INSERT)
        return allow(mayUse(table, "table", ObjectUse::Insert) || checkedFor(table, {ObjectUse::Insert}));
      if (action == SQLITE_UPDATE)
        return allow(mayUse(table, "table", ObjectUse::Update) || checkedFor(table, {ObjectUse::Update}));
      // Dropping or truncating a table empties it.
      return allow(mayUse(table, "table", ObjectUse::Delete) ||
                   checkedFor(table, {ObjectUse::Delete, ObjectUse::Drop, ObjectUse::Truncate}));
    }
    case SQLITE_CREATE_INDEX:
      // The index of a key of a table this statement creates.
      if (ddl && main && a4 && table.substr(0, 17) == "sqlite_autoindex_")
        return allow(checkedFor(a4, {ObjectUse::Create}));
      [[fallthrough]];
    case SQLITE_CREATE_TABLE:
    case SQLITE_CREATE_VIEW: {
      const std::string_view kind = action == SQLITE_CREATE_TABLE ? "table"
                                    : action == SQLITE_CREATE_VIEW ? "view"
                                                                   : "index";
      return allow(ddl && main && !objectOwner(table).empty() &&
                   (checkedFor(table, {ObjectUse::Create}) || mayCreate(objectOwner(table), kind)));
    }
    case SQLITE_DROP_TABLE:
    case SQLITE_DROP_VIEW:
    case SQLITE_DROP_INDEX: {
      const std::string_view kind = action == SQLITE_DROP_TABLE  ? "table"
                                    : action == SQLITE_DROP_VIEW ? "view"
                                                                 : "index";
      return allow(ddl && main && !objectOwner(table).empty() &&
                   (checkedFor(table, {ObjectUse::Drop}) || mayUse(table, kind, ObjectUse::Drop)));
    }
    case SQLITE_REINDEX:
      // A new index is filled.
      return allow(ddl && main && checkedFor(table, {ObjectUse::Create}));
    default:
      // Attachments, pragmas, temporary objects, triggers, virtual tables,
      // ALTER TABLE, ANALYZE.
      return SQLITE_DENY;
  }
}

bool SessionDb::mayReadInstanceTable(std::string_view table) const {
  switch (instanceTable(table)) {
    case InstanceTable::Public: return true;
    case InstanceTable::Catalog: return readsCatalog_;
    default: return false;
  }
}

// A table scanned for no column at all (a count) comes without its database:
// it is then known by its name (the instance's and the session's tables have
// no dot in theirs, a schema object's table has).
bool SessionDb::mayRead(std::string_view table, std::string_view db) const {
  const bool object = !objectOwner(table).empty();
  if (db == "sys") return mayReadInstanceTable(table);
  if (db == "temp") return true;  // the session's roles
  // Beside what the user may select, the rows a checked UPDATE, DELETE or DDL
  // works on (as the server lets a WHERE clause of a change read its table).
  if (db == "main" || (db.empty() && object))
    return object && (mayUse(table, "table", ObjectUse::Select) ||
                      checkedFor(table, {ObjectUse::Update, ObjectUse::Delete, ObjectUse::Create,
                                         ObjectUse::Drop, ObjectUse::Truncate, ObjectUse::Index}));
  if (!db.empty()) return false;
  if (instanceTable(table) != InstanceTable::None) return mayReadInstanceTable(table);
  // A common table expression read for a count; never the client's own tables.
  return !equalNoCase(table.substr(0, 7), "ocisim$");
}

bool SessionDb::checkedFor(std::string_view table, std::initializer_list<ObjectUse> uses) const {
  for (const auto& [name, use] : statementObjects_) {
    if (!equalNoCase(name, table)) continue;
    if (uses.size() == 0 || std::find(uses.begin(), uses.end(), use) != uses.end()) return true;
  }
  return false;
}

namespace {

const char* objectPrivilegeName(ObjectUse use) {
  switch (use) {
    case ObjectUse::Select: return "SELECT";
    case ObjectUse::Insert: return "INSERT";
    case ObjectUse::Update: return "UPDATE";
    case ObjectUse::Delete: return "DELETE";
    case ObjectUse::Index: return "INDEX";
    case ObjectUse::References: return "REFERENCES";
    default: return nullptr;  // no object privilege lets another user create, drop or truncate
  }
}

}  // namespace

bool SessionDb::hasAny(ObjectUse use, std::string_view kind) const {
  switch (use) {
    case ObjectUse::Select: return hasPrivilege("SELECT ANY TABLE");
    case ObjectUse::Insert: return hasPrivilege("INSERT ANY TABLE");
    case ObjectUse::Update: return hasPrivilege("UPDATE ANY TABLE");
    case ObjectUse::Delete: return hasPrivilege("DELETE ANY TABLE");
    case ObjectUse::Truncate: return hasPrivilege("DROP ANY TABLE");
    case ObjectUse::Index: return hasPrivilege("CREATE ANY INDEX");
    case ObjectUse::Drop:
      return hasPrivilege(kind == "view"    ? "DROP ANY VIEW"
                          : kind == "index" ? "DROP ANY INDEX"
                                            : "DROP ANY TABLE");
    default: return false;
  }
}

bool SessionDb::mayUse(std::string_view table, std::string_view kind, ObjectUse use) const {
  if (equalNoCase(objectOwner(table), user())) return true;
  if (hasAny(use, kind)) return true;
  const char* privilege = objectPrivilegeName(use);
  if (!privilege) return false;
  const auto it = grants_.find(table);
  return it != grants_.end() && it->second.count(privilege) > 0;
}

bool SessionDb::mayCreate(std::string_view owner, std::string_view kind) const {
  if (equalNoCase(owner, user())) return isDba() || hasPrivilege("CREATE TABLE");
  return hasPrivilege(kind == "view"    ? "CREATE ANY VIEW"
                      : kind == "index" ? "CREATE ANY INDEX"
                                        : "CREATE ANY TABLE");
}

bool SessionDb::knowsObject(std::string_view table) const {
  if (equalNoCase(objectOwner(table), user()) || grants_.count(table) > 0) return true;
  for (const char* any : {"SELECT ANY TABLE", "INSERT ANY TABLE", "UPDATE ANY TABLE", "DELETE ANY TABLE",
                          "DROP ANY TABLE", "DROP ANY VIEW", "DROP ANY INDEX"})
    if (hasPrivilege(any)) return true;
  return false;
}

void SessionDb::setStatementObjects(std::vector<std::pair<std::string, ObjectUse>> objects) {
  statementObjects_ = std::move(objects);
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
  if (inTransaction_ && db_ && ownedHere() && sqlite3_get_autocommit(db_)) inTransaction_ = false;
}

std::optional<SessionDb::Object> SessionDb::findObject(const std::string& tableName) {
  Internal internal(*this);
  if (!objectStmt_ &&
      sqlite3_prepare_v3(db_, "SELECT name, type FROM main.sqlite_master WHERE name = ?1 COLLATE NOCASE"
                              " AND type IN ('table', 'view', 'index')",
                         -1, SQLITE_PREPARE_PERSISTENT, &objectStmt_, nullptr) != SQLITE_OK)
    throw OraError(kOraInternal, std::string("sqlite: ") + sqlite3_errmsg(db_));
  sqlite3_bind_text(objectStmt_, 1, tableName.data(), static_cast<int>(tableName.size()), SQLITE_TRANSIENT);
  std::optional<Object> found;
  const int rc = sqlite3_step(objectStmt_);
  if (rc == SQLITE_ROW)
    found = Object{reinterpret_cast<const char*>(sqlite3_column_text(objectStmt_, 0)),
                   reinterpret_cast<const char*>(sqlite3_column_text(objectStmt_, 1))};
  sqlite3_reset(objectStmt_);
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
    const int primary = sqlite3_extended_errcode(db_) & 0xff;
    if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED) throw OraError(54);
    throw OraError(kOraInternal, std::string("sqlite: ") + sqlite3_errmsg(db_));
  }
  return found;
}

bool SessionDb::ownObjectNamed(const std::string& name) {
  return findObject(objectTableName(user(), name)).has_value();
}

void SessionDb::refreshGrants() {
  Internal internal(*this);
  if (!grantsStmt_ &&
      sqlite3_prepare_v3(db_,
                         "SELECT object, privilege FROM main.\"ocisim$grants\" WHERE grantee = ?1"
                         " OR grantee = 'PUBLIC' OR grantee IN (SELECT role FROM temp.session_roles)",
                         -1, SQLITE_PREPARE_PERSISTENT, &grantsStmt_, nullptr) != SQLITE_OK)
    throw OraError(kOraInternal, std::string("sqlite: ") + sqlite3_errmsg(db_));
  sqlite3_bind_text(grantsStmt_, 1, user().data(), static_cast<int>(user().size()), SQLITE_TRANSIENT);
  grants_.clear();
  int rc;
  while ((rc = sqlite3_step(grantsStmt_)) == SQLITE_ROW)
    grants_[reinterpret_cast<const char*>(sqlite3_column_text(grantsStmt_, 0))].insert(
        reinterpret_cast<const char*>(sqlite3_column_text(grantsStmt_, 1)));
  sqlite3_reset(grantsStmt_);
  if (rc != SQLITE_DONE) {
    grants_.clear();
    const int primary = sqlite3_extended_errcode(db_) & 0xff;
    if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED) throw OraError(54);
    throw OraError(kOraInternal, std::string("sqlite: ") + sqlite3_errmsg(db_));
  }
}

void SessionDb::run(const char* sql, std::initializer_list<std::string_view> values) {
  Internal internal(*this);
  sqlite3_stmt* stmt = nullptr;
  int rc = sqlite3_prepare_v2(db_, sql, -1, &stmt, nullptr);
  if (rc == SQLITE_OK) {
    int i = 0;
    for (std::string_view v : values)
      sqlite3_bind_text(stmt, ++i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    }
  }
  sqlite3_finalize(stmt);
  if (rc != SQLITE_DONE && rc != SQLITE_OK) {
    const int primary = sqlite3_extended_errcode(db_) & 0xff;
    if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED) throw OraError(54);
    throw OraError(kOraInternal, std::string("sqlite: ") + sqlite3_errmsg(db_));
  }
}

bool SessionDb::userOrRoleExists(const std::string& name) {
  Internal internal(*this);
  sqlite3_stmt* stmt = nullptr;
  bool found = false;
  if (sqlite3_prepare_v2(db_,
                         "SELECT 1 FROM sys.users WHERE username = ?1 UNION ALL"
                         " SELECT 1 FROM sys.roles WHERE role = ?1",
                         -1, &stmt, nullptr) == SQLITE_OK) {
    sqlite3_bind_text(stmt, 1, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
    found = sqlite3_step(stmt) == SQLITE_ROW;
  }
  sqlite3_finalize(stmt);
  return found;
}

std::vector<SessionDb::Grant> SessionDb::grantsOn(const std::string& table) {
  Internal internal(*this);
  std::vector<Grant> out;
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db_,
                         "SELECT grantee, privilege, grantor, grantable FROM main.\"ocisim$grants\""
                         " WHERE object = ?1",
                         -1, &stmt, nullptr) != SQLITE_OK)
    throw OraError(kOraInternal, std::string("sqlite: ") + sqlite3_errmsg(db_));
  sqlite3_bind_text(stmt, 1, table.data(), static_cast<int>(table.size()), SQLITE_TRANSIENT);
  int rc;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    const auto text = [&](int col) {
      return std::string(reinterpret_cast<const char*>(sqlite3_column_text(stmt, col)));
    };
    out.push_back({text(0), text(1), text(2), sqlite3_column_int(stmt, 3) != 0});
  }
  sqlite3_finalize(stmt);
  if (rc != SQLITE_DONE) {
    const int primary = sqlite3_extended_errcode(db_) & 0xff;
    if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED) throw OraError(54);
    throw OraError(kOraInternal, std::string("sqlite: ") + sqlite3_errmsg(db_));
  }
  return out;
}

void SessionDb::addGrant(const std::string& table, const Grant& grant) {
  run("INSERT INTO main.\"ocisim$grants\"(object, grantee, privilege, grantor, grantable)"
      " VALUES(?1, ?2, ?3, ?4, ?5 = '1')"
      " ON CONFLICT DO UPDATE SET grantable = max(grantable, excluded.grantable)",
      {table, grant.grantee, grant.privilege, grant.grantor, grant.grantable ? "1" : "0"});
}

void SessionDb::removeGrant(const std::string& table, const std::string& grantee, const std::string& privilege,
                            const std::string& grantor) {
  run("DELETE FROM main.\"ocisim$grants\""
      " WHERE object = ?1 AND grantee = ?2 AND privilege = ?3 AND grantor = ?4",
      {table, grantee, privilege, grantor});
  // What the grantee passed on of it goes too, unless another grant of it with
  // the grant option remains.
  for (const Grant& g : grantsOn(table)) {
    if (g.grantor != grantee || g.privilege != privilege) continue;
    bool stillHeld = false;
    for (const Grant& h : grantsOn(table))
      if (h.grantee == grantee && h.privilege == privilege && h.grantable) stillHeld = true;
    if (!stillHeld) removeGrant(table, g.grantee, privilege, grantee);
  }
}

void SessionDb::removeGrantsOn(const std::string& table) {
  run("DELETE FROM main.\"ocisim$grants\" WHERE object = ?1", {table});
}

// A user data file of the layout before schema objects had owners keeps its
// tables under the names they were created with; they become SYSTEM's (the
// DBA's, who may hand them on). Its views and indexes stay where they are,
// out of every statement's reach, and so do its triggers, which are dropped:
// they were never part of the dialect. The grants table is made here too.
void SessionDb::upgradeDataFile() {
  const auto version = [&] {
    sqlite3_stmt* stmt = nullptr;
    long long v = 0;
    if (sqlite3_prepare_v2(db_, "PRAGMA main.user_version", -1, &stmt, nullptr) == SQLITE_OK &&
        sqlite3_step(stmt) == SQLITE_ROW)
      v = sqlite3_column_int64(stmt, 0);
    sqlite3_finalize(stmt);
    return v;
  };
  if (version() >= kDataFileVersion) return;
  exec("BEGIN IMMEDIATE");
  try {
    if (version() < kDataFileVersion) {
      std::vector<std::pair<std::string, std::string>> old;
      {
        sqlite3_stmt* list = nullptr;
        if (sqlite3_prepare_v2(db_,
                               "SELECT type, name FROM main.sqlite_master WHERE (type = 'trigger' OR"
                               " (type = 'table' AND instr(name, '.') = 0 AND name NOT LIKE 'sqlite%'"
                               " AND name NOT LIKE 'ocisim$%'))",
                               -1, &list, nullptr) != SQLITE_OK)
          throw OraError(kOraInternal, std::string("sqlite: ") + sqlite3_errmsg(db_));
        while (sqlite3_step(list) == SQLITE_ROW)
          old.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(list, 0)),
                           reinterpret_cast<const char*>(sqlite3_column_text(list, 1)));
        sqlite3_finalize(list);
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
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
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
  if (sqlite3_open_v2(path.c_str(), &db_,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_URI | SQLITE_OPEN_NOFOLLOW,
                      nullptr) != SQLITE_OK) {
    const std::string reason = db_ ? sqlite3_errmsg(db_) : "out of memory";
    sqlite3_close(db_);
    db_ = nullptr;
    throw notAvailable("Cannot open the data file " + path + ": " + reason);
  }
  try {
    // How long a change waits for another session's transaction to end before
    // failing with ORA-00054.
    const char* wait = std::getenv("OCISIM_LOCK_WAIT_MS");
    const int waitMs = wait && *wait ? std::atoi(wait) : 5000;
    sqlite3_busy_timeout(db_, waitMs);
    sqlite3_extended_result_codes(db_, 1);
    // The first sessions of a new instance may switch its file to WAL at once.
    if (setUpStatement(db_, "PRAGMA journal_mode=WAL", std::max(waitMs, 5000)) != SQLITE_OK) {
      const int primary = sqlite3_extended_errcode(db_) & 0xff;
      if (primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT) throw damagedDataFile(path);
      exec("PRAGMA journal_mode=WAL");  // reports the failure
    }
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
    upgradeDataFile();
    // SQL cannot corrupt the file (writable_schema and the like), and no
    // function the schema names runs unless it is innocuous.
    // The dialect has no triggers: none that a data file holds ever fires.
    int on = 0;
    if (sqlite3_db_config(db_, SQLITE_DBCONFIG_DEFENSIVE, 1, &on) != SQLITE_OK || !on ||
        sqlite3_db_config(db_, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, &on) != SQLITE_OK || on ||
        sqlite3_db_config(db_, SQLITE_DBCONFIG_ENABLE_TRIGGER, 0, &on) != SQLITE_OK || on)
      throw OraError(kOraNotAvailable);
    // Limits of what one statement may ask of the engine.
    sqlite3_limit(db_, SQLITE_LIMIT_ATTACHED, 1);
    sqlite3_limit(db_, SQLITE_LIMIT_LENGTH, 64 * 1024 * 1024);
    sqlite3_limit(db_, SQLITE_LIMIT_SQL_LENGTH, 1024 * 1024);
    sqlite3_limit(db_, SQLITE_LIMIT_COLUMN, 1000);
    sqlite3_limit(db_, SQLITE_LIMIT_VDBE_OP, 1000000);
    sqlite3_limit(db_, SQLITE_LIMIT_VARIABLE_NUMBER, 65535);
    sqlite3_limit(db_, SQLITE_LIMIT_TRIGGER_DEPTH, 1);
    sqlite3_limit(db_, SQLITE_LIMIT_WORKER_THREADS, 0);
    registerOracleFunctions(db_, this);
    exec(kSessionViews);
    {
      sqlite3_stmt* role = nullptr;
      if (sqlite3_prepare_v2(db_, "INSERT INTO temp.session_roles VALUES(?)", -1, &role, nullptr) != SQLITE_OK)
        throw OraError(kOraNotAvailable);
      for (const std::string& r : rights_.roles) {
        sqlite3_bind_text(role, 1, r.data(), static_cast<int>(r.size()), SQLITE_TRANSIENT);
        sqlite3_step(role);
        sqlite3_reset(role);
      }
      sqlite3_finalize(role);
    }
    readsCatalog_ = mayReadCatalog();
    scope_.user = logon_.username;
    scope_.sessionView = [](const std::string& name) { return isSessionViewName(upperAscii(name)); };
    scope_.ownObject = [this](const std::string& name) { return ownObjectNamed(name); };
    sqlite3_set_authorizer(db_, authorize, this);
    sqlite3_progress_handler(db_, 1000, progress, this);
    mode_ = kUser;
  } catch (...) {
    sqlite3_finalize(grantsStmt_);
    sqlite3_finalize(objectStmt_);
    grantsStmt_ = objectStmt_ = nullptr;
    sqlite3_close_v2(db_);
    db_ = nullptr;
    throw;
  }
}

SessionDb::~SessionDb() {
  close();
  if (db_ && ownedHere()) {
    sqlite3_finalize(grantsStmt_);
    sqlite3_finalize(objectStmt_);
    sqlite3_close_v2(db_);
  }
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
