// The schema objects a session finds by name, and the object privileges kept
// in the user data file: read afresh for each statement, granted and revoked.
#include "ocisim/session_db.h"

#include "ocisim/ora_errors.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstring>

namespace ocisim {

std::optional<SessionDb::Object> SessionDb::findObject(const std::string& tableName) {
  Internal internal(*this);
  if (!objectStmt_ &&
      objectStmt_.prepare(db_.get(),
                          "SELECT name, type FROM main.sqlite_master WHERE name = ?1 COLLATE NOCASE"
                          " AND type IN ('table', 'view', 'index')",
                          -1, SQLITE_PREPARE_PERSISTENT) != SQLITE_OK)
    sqlFailure(db_.get());
  sqlite3_stmt* find = objectStmt_.get();
  sqlite3_bind_text(find, 1, tableName.data(), static_cast<int>(tableName.size()), SQLITE_TRANSIENT);
  std::optional<Object> found;
  const int rc = sqlite3_step(find);
  if (rc == SQLITE_ROW)
    found = Object{reinterpret_cast<const char*>(sqlite3_column_text(find, 0)),
                   reinterpret_cast<const char*>(sqlite3_column_text(find, 1))};
  sqlite3_reset(find);
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) busyOrFailure(db_.get());
  return found;
}

bool SessionDb::ownObjectNamed(const std::string& name) {
  return findObject(objectTableName(user(), name)).has_value();
}

void SessionDb::refreshGrants() {
  Internal internal(*this);
  if (!grantsStmt_ &&
      grantsStmt_.prepare(db_.get(),
                          "SELECT object, privilege FROM main.\"ocisim$grants\" WHERE grantee = ?1"
                          " OR grantee = 'PUBLIC' OR grantee IN (SELECT role FROM temp.session_roles)",
                          -1, SQLITE_PREPARE_PERSISTENT) != SQLITE_OK)
    sqlFailure(db_.get());
  sqlite3_stmt* grants = grantsStmt_.get();
  sqlite3_bind_text(grants, 1, user().data(), static_cast<int>(user().size()), SQLITE_TRANSIENT);
  grants_.clear();
  int rc;
  while ((rc = sqlite3_step(grants)) == SQLITE_ROW)
    grants_[reinterpret_cast<const char*>(sqlite3_column_text(grants, 0))].insert(
        reinterpret_cast<const char*>(sqlite3_column_text(grants, 1)));
  sqlite3_reset(grants);
  if (rc != SQLITE_DONE) {
    grants_.clear();
    busyOrFailure(db_.get());
  }
}

void SessionDb::run(const char* sql, std::initializer_list<std::string_view> values) {
  Internal internal(*this);
  int rc;
  {
    SqliteStatement stmt;
    rc = stmt.prepare(db_.get(), sql);
    if (rc == SQLITE_OK) {
      int i = 0;
      for (std::string_view v : values) stmt.bind(++i, v);
      while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
      }
    }
  }
  if (rc != SQLITE_DONE && rc != SQLITE_OK) busyOrFailure(db_.get());
}

bool SessionDb::userOrRoleExists(const std::string& name) {
  Internal internal(*this);
  SqliteStatement stmt;
  return stmt.prepare(db_.get(),
                      "SELECT 1 FROM sys.users WHERE username = ?1 UNION ALL"
                      " SELECT 1 FROM sys.roles WHERE role = ?1") == SQLITE_OK &&
         sqlite3_step(stmt.bind(1, name).get()) == SQLITE_ROW;
}

std::vector<SessionDb::Grant> SessionDb::grantsOn(const std::string& table) {
  Internal internal(*this);
  std::vector<Grant> out;
  int rc;
  {
    SqliteStatement stmt;
    if (stmt.prepare(db_.get(),
                     "SELECT grantee, privilege, grantor, grantable FROM main.\"ocisim$grants\""
                     " WHERE object = ?1") != SQLITE_OK)
      sqlFailure(db_.get());
    stmt.bind(1, table);
    while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
      const auto text = [&](int col) {
        return std::string(reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), col)));
      };
      out.push_back({text(0), text(1), text(2), sqlite3_column_int(stmt.get(), 3) != 0});
    }
  }
  if (rc != SQLITE_DONE) busyOrFailure(db_.get());
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

}  // namespace ocisim
