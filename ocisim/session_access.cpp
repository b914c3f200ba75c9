// What a session's SQL may reach: the authorizer SQLite asks for every table,
// column and function a statement touches, and the checks of the objects a
// statement names against the user's system and object privileges.
#include "ocisim/session_db.h"

#include "ocisim/ascii.h"
#include "ocisim/sql_translate.h"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <cstring>

namespace ocisim {

namespace {

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

}  // namespace

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
      // The users, as dba_users shows them to the catalogue role: never their passwords.
      if (equalNoCase(table, "users") && (db == "sys" || db.empty()))
        return allow(readsCatalog_ && !(a4 && equalNoCase(a4, "password")));
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

}  // namespace ocisim
