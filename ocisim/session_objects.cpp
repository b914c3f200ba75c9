// The schema objects a session's user owns or may use, as the dictionary
// views all_objects, user_objects, all_tables and user_tables list them.

#include "ocisim/ora_errors.h"
#include "ocisim/session_db.h"
#include "ocisim/sql_translate.h"

#include <sqlite3.h>

#include <string>

namespace ocisim {

void SessionDb::refreshObjectList() {
  Internal internal(*this);
  exec("DELETE FROM temp.session_objects");
  sqlite3_stmt* list = nullptr;
  sqlite3_stmt* add = nullptr;
  const auto fail = [&] {
    const std::string message = std::string("sqlite: ") + sqlite3_errmsg(db_);
    sqlite3_finalize(list);
    sqlite3_finalize(add);
    throw OraError(kOraInternal, message);
  };
  // Every object of a schema has a table (or view, or index) named after its
  // owner and itself; SQLite's own indexes of keys are no objects.
  if (sqlite3_prepare_v2(db_,
                         "SELECT rowid, name, type, rootpage FROM main.sqlite_master WHERE type IN"
                         " ('table', 'view', 'index') AND name LIKE '%.%' AND name NOT LIKE 'sqlite\\_%'"
                         " ESCAPE '\\' ORDER BY name",
                         -1, &list, nullptr) != SQLITE_OK ||
      sqlite3_prepare_v2(db_,
                         "INSERT INTO temp.session_objects(owner, object_name, object_id, data_object_id,"
                         " object_type) VALUES(?, ?, ?, ?, ?)",
                         -1, &add, nullptr) != SQLITE_OK)
    fail();
  int rc;
  while ((rc = sqlite3_step(list)) == SQLITE_ROW) {
    const std::string table = reinterpret_cast<const char*>(sqlite3_column_text(list, 1));
    const std::string type = reinterpret_cast<const char*>(sqlite3_column_text(list, 2));
    const bool own = objectOwner(table) == user();
    // Another user's index is listed only for one who may read any table.
    if (!own && (type == "index" ? !hasPrivilege("SELECT ANY TABLE") : !knowsObject(table))) continue;
    const std::string owner(objectOwner(table)), name(objectName(table));
    const std::string kind = type == "table" ? "TABLE" : type == "view" ? "VIEW" : "INDEX";
    sqlite3_bind_text(add, 1, owner.data(), static_cast<int>(owner.size()), SQLITE_TRANSIENT);
    sqlite3_bind_text(add, 2, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
    // Object numbers above those of the data dictionary, as a user's objects have.
    sqlite3_bind_int64(add, 3, 30000 + sqlite3_column_int64(list, 0));
    if (type == "view") sqlite3_bind_null(add, 4);
    else sqlite3_bind_int64(add, 4, 30000 + sqlite3_column_int64(list, 3));
    sqlite3_bind_text(add, 5, kind.data(), static_cast<int>(kind.size()), SQLITE_TRANSIENT);
    if (sqlite3_step(add) != SQLITE_DONE) fail();
    sqlite3_reset(add);
  }
  if (rc != SQLITE_DONE) fail();
  sqlite3_finalize(list);
  sqlite3_finalize(add);
}

}  // namespace ocisim
