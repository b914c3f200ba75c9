// The schema objects a session's user owns or may use, as the dictionary
// views all_objects, user_objects, all_tables and user_tables list them.

#include "ocisim/session_db.h"
#include "ocisim/sql_translate.h"
#include "ocisim/sqlite_db.h"

#include <string>

namespace ocisim {

void SessionDb::refreshObjectList() {
  Internal internal(*this);
  exec("DELETE FROM temp.session_objects");
  // Every object of a schema has a table (or view, or index) named after its
  // owner and itself; SQLite's own indexes of keys are no objects.
  SqliteStatement list(db(),
                       "SELECT rowid, name, type, rootpage FROM main.sqlite_master WHERE type IN"
                       " ('table', 'view', 'index') AND name LIKE '%.%' AND name NOT LIKE 'sqlite\\_%'"
                       " ESCAPE '\\' ORDER BY name");
  SqliteStatement add(db(),
                      "INSERT INTO temp.session_objects(owner, object_name, object_id, data_object_id,"
                      " object_type) VALUES(?, ?, ?, ?, ?)");
  while (list.step()) {
    const std::string table = list.text(1);
    const std::string type = list.text(2);
    const bool own = objectOwner(table) == user();
    // Another user's index is listed only for one who may read any table.
    if (!own && (type == "index" ? !hasPrivilege("SELECT ANY TABLE") : !knowsObject(table))) continue;
    add.reset();
    add.bind(1, objectOwner(table)).bind(2, objectName(table));
    // Object numbers above those of the data dictionary, as a user's objects have.
    add.bind(3, 30000 + list.integer(0));
    if (type != "view") add.bind(4, 30000 + list.integer(3));
    add.bind(5, type == "table" ? "TABLE" : type == "view" ? "VIEW" : "INDEX");
    add.run();
  }
}

}  // namespace ocisim
