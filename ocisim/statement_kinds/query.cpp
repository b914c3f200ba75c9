// Running a query: its cursor is opened, described and its first rows fetched.

#include "ocisim/statement_kinds/statement_kinds.h"

#include "ocisim/ora_errors.h"
#include "ocisim/session_db.h"
#include "ocisim/statement_steps.h"

#include <sqlite3.h>

namespace ocisim {

sword runQuery(Stmt& stmt, Session& session, ub4 iters, ub4 mode, ErrorRecord& record) {
  SessionDb& db = *session.db;
  checkNoSemicolon(stmt);
  checkCatalogAccess(stmt, db);
  const bool describeOnly = mode & OCI_DESCRIBE_ONLY;
  Translation tr = translate(stmt.tokens, 0, stmt.tokens.size(), {}, stmt.text.size(), &db.nameScope());
  checkObjects(tr, db);
  SqliteStatement cursor;
  stmt.describedForUpdate = false;
  if (tr.forUpdate) {
    const Translation hidden = withHiddenRowid(tr);
    if (cursor.prepare(db.db(), hidden.sql.c_str()) == SQLITE_OK && cursor) {
      tr = hidden;
      stmt.describedForUpdate = true;
    } else {
      cursor.adopt(nullptr);
    }
    // Locking the selected rows: the session's transaction takes the write lock.
    if (!describeOnly) db.begin();
  }
  if (!cursor) cursor = prepareSql(db.db(), tr, stmt.tokens);
  requireQuery(stmt, cursor.get());
  // Describing needs no values: the placeholders read as NULL until bound.
  if (!describeOnly) bindInputs(stmt, cursor.get(), tr, 0);
  // The session runs this statement from now on, also while the view of its
  // own row is being read.
  if (!describeOnly) session.server->instance->recordStatement(session.logon, stmt.text, commandCode(stmt));
  const bool haveRow = step(stmt, cursor.get(), &tr);
  stmt.columns = describe(stmt, db.db(), cursor.get(), tr, haveRow);
  if (describeOnly) return OCI_SUCCESS;
  stmt.cursor = std::move(cursor);
  stmt.rowPending = haveRow;
  stmt.exhausted = !haveRow;
  stmt.executed = true;
  sword status = OCI_SUCCESS;
  if (iters > 0) status = fetchInto(stmt, iters, record);
  if (mode & OCI_COMMIT_ON_SUCCESS) db.commit();
  return status;
}

}  // namespace ocisim
