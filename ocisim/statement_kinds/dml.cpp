// Running INSERT, UPDATE and DELETE, once per iteration, each row all or nothing.

#include "ocisim/statement_kinds/statement_kinds.h"

#include "ocisim/ora_errors.h"
#include "ocisim/session_db.h"
#include "ocisim/statement_steps.h"

#include <sqlite3.h>

namespace ocisim {

sword runDml(Stmt& stmt, Session& session, ub4 iters, ub4 mode) {
  SessionDb& db = *session.db;
  checkNoSemicolon(stmt);
  checkCatalogAccess(stmt, db);
  const Translation tr =
      translate(stmt.tokens, 0, stmt.tokens.size(), {}, stmt.text.size(), &db.nameScope());
  checkObjects(tr, db);
  SqliteStatement cursor = prepareSql(db.db(), tr, stmt.tokens);
  if (mode & OCI_DESCRIBE_ONLY) return OCI_SUCCESS;
  if (iters == 0) throw OraError(24333);
  session.server->instance->recordStatement(session.logon, stmt.text, commandCode(stmt));
  db.begin();
  for (ub4 i = 0; i < iters; ++i) {
    // Each row is all or nothing; rows before a failing one stay done.
    db.exec("SAVEPOINT ocisim_row");
    try {
      sqlite3_reset(cursor.get());
      bindInputs(stmt, cursor.get(), tr, i);
      while (step(stmt, cursor.get(), &tr)) {
      }
    } catch (...) {
      sqlite3_reset(cursor.get());
      sqlite3_exec(db.db(), "ROLLBACK TO ocisim_row; RELEASE ocisim_row", nullptr, nullptr, nullptr);
      throw;
    }
    db.exec("RELEASE ocisim_row");
    stmt.rowCount += static_cast<ub4>(sqlite3_changes(db.db()));
  }
  stmt.executed = true;
  if (mode & OCI_COMMIT_ON_SUCCESS) db.commit();
  return OCI_SUCCESS;
}

}  // namespace ocisim
