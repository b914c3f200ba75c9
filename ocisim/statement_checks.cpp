// What a statement may use and how it must be written: catalog views, the
// objects it names, a WITH clause that must lead to a query, no trailing
// semicolon.

#include "ocisim/statement_steps.h"

#include "ocisim/ora_errors.h"

#include <optional>
#include <utility>

namespace ocisim {

// Rejects references to catalog views the session may not read.
void checkCatalogAccess(const Stmt& stmt, const SessionDb& db) {
  if (db.mayReadCatalog()) return;
  for (size_t i = 0; i < stmt.tokens.size(); ++i) {
    const Token& t = stmt.tokens[i];
    if (t.kind != TokKind::Word || (i > 0 && stmt.tokens[i - 1].op("."))) continue;
    if (isCatalogView(upperAscii(t.text))) throw errorAt(1031, t.offset);
  }
}

// Checks that the session may use every object a statement names as the
// statement uses it, with the server's answers: ORA-00942 for an object the
// user does not know of, ORA-01031 for one it knows but may not use so. What
// passes is the statement's to use (SessionDb::setStatementObjects).
void checkObjects(const Translation& tr, SessionDb& db) {
  std::vector<std::pair<std::string, ObjectUse>> checked;
  for (const ObjectRef& ref : tr.objects) {
    const std::string table = ref.tableName();
    if (ref.use == ObjectUse::Create) {
      // A name that is taken is SQLite's to refuse (ORA-00955).
      if (!db.mayCreate(ref.owner, ref.kind)) throw errorAt(1031, ref.offset);
      checked.emplace_back(table, ref.use);
      continue;
    }
    const std::optional<SessionDb::Object> found = db.findObject(table);
    if (!found || (ref.kind.empty() ? found->kind == "index" : found->kind != ref.kind))
      throw errorAt(942, ref.offset);
    if (!db.mayUse(found->table, found->kind, ref.use))
      throw errorAt(db.knowsObject(found->table) ? 1031 : 942, ref.offset);
    checked.emplace_back(found->table, ref.use);
  }
  db.setStatementObjects(std::move(checked));
}

// The statement a WITH clause leads to must be a query: a change would not run
// in the session's transaction. Raises ORA-00928 where the change begins.
void requireQuery(const Stmt& stmt, sqlite3_stmt* cursor) {
  if (sqlite3_stmt_readonly(cursor)) return;
  int depth = 0;
  for (size_t i = 0; i < stmt.tokens.size(); ++i) {
    const Token& t = stmt.tokens[i];
    if (t.op("(")) ++depth;
    if (t.op(")")) --depth;
    const bool forUpdate = t.word("UPDATE") && i > 0 && stmt.tokens[i - 1].word("FOR");
    if (depth == 0 && (t.word("INSERT") || t.word("DELETE") || (t.word("UPDATE") && !forUpdate)))
      throw errorAt(928, t.offset);
  }
  throw errorAt(928, 0);
}

// Oracle refuses a statement that ends in a semicolon (PL/SQL aside).
void checkNoSemicolon(const Stmt& stmt) {
  for (const Token& t : stmt.tokens)
    if (t.op(";")) throw errorAt(911, t.offset);
}

}  // namespace ocisim
