// Preparing a statement, running it for a session (dispatching to its kind),
// and the steps every kind shares: preparing the translated SQL, stepping the
// cursor, and checking that the session is still alive.

#include "ocisim/statement.h"

#include "ocisim/ora_errors.h"
#include "ocisim/session_db.h"
#include "ocisim/statement_kinds/statement_kinds.h"
#include "ocisim/statement_steps.h"

#include <sqlite3.h>

#include <algorithm>
#include <string>

namespace ocisim {

// Oracle's command codes, as v$session.COMMAND and v$sql.COMMAND_TYPE give them.
int commandCode(const Stmt& stmt) {
  const auto& t = stmt.tokens;
  // The kind of object of CREATE, DROP and ALTER: the word after the verb
  // (after OR REPLACE, UNIQUE, PUBLIC and the like).
  const auto object = [&t]() -> std::string {
    for (size_t i = 1; i < t.size() && i < 5; ++i) {
      if (t[i].word("OR") || t[i].word("REPLACE") || t[i].word("UNIQUE") || t[i].word("BITMAP") ||
          t[i].word("PUBLIC") || t[i].word("FORCE") || t[i].word("NOFORCE") || t[i].word("GLOBAL") ||
          t[i].word("TEMPORARY"))
        continue;
      return t[i].kind == TokKind::Word ? upperAscii(t[i].text) : std::string();
    }
    return {};
  };
  struct Code {
    const char* object;
    int create, drop, alter;
  };
  static constexpr Code kCodes[] = {
      {"TABLE", 1, 12, 15},    {"INDEX", 9, 10, 11},    {"VIEW", 21, 22, 0},      {"SEQUENCE", 13, 16, 14},
      {"SYNONYM", 19, 20, 0},  {"USER", 51, 53, 43},    {"ROLE", 52, 54, 79},     {"CLUSTER", 4, 8, 5},
      {"DIRECTORY", 157, 158, 0}, {"SESSION", 0, 0, 42}, {"SYSTEM", 0, 0, 49},
  };
  const auto coded = [&](int Code::*which) {
    const std::string o = object();
    for (const Code& c : kCodes)
      if (o == c.object) return c.*which;
    return 0;
  };
  switch (stmt.statementType) {
    case OCI_STMT_SELECT: return 3;
    case OCI_STMT_INSERT: return 2;
    case OCI_STMT_UPDATE: return 6;
    case OCI_STMT_DELETE: return 7;
    case OCI_STMT_CREATE: return coded(&Code::create);
    case OCI_STMT_DROP: return coded(&Code::drop);
    case OCI_STMT_ALTER: return coded(&Code::alter);
    case OCI_STMT_BEGIN:
    case OCI_STMT_DECLARE: return 47;
    default:
      if (t.empty()) return 0;
      if (t[0].word("GRANT")) return 17;
      if (t[0].word("REVOKE")) return 18;
      if (t[0].word("TRUNCATE")) return 85;
      if (t[0].word("COMMIT")) return 44;
      if (t[0].word("ROLLBACK")) return 45;
      if (t[0].word("LOCK")) return 26;
      return 0;
  }
}

SqliteStatement prepareSql(sqlite3* db, const Translation& tr, const std::vector<Token>& toks) {
  SqliteStatement c;
  if (c.prepare(db, tr.sql.c_str(), static_cast<int>(tr.sql.size())) != SQLITE_OK) throw sqliteError(db, tr, toks);
  if (!c) throw errorAt(900, 0);  // nothing but comments
  return c;
}

// Adds the rowid of the row as a hidden last column of a FOR UPDATE query.
Translation withHiddenRowid(Translation tr) {
  if (tr.fromOffset < 0) return tr;
  size_t at = std::string::npos;
  for (const auto& [out, orig] : tr.map)
    if (orig == static_cast<size_t>(tr.fromOffset)) at = out;
  if (at == std::string::npos) return tr;
  const std::string extra = std::string(", rowid AS \"") + kHiddenRowid + "\" ";
  tr.sql.insert(at, extra);
  for (auto& entry : tr.map)
    if (entry.first >= at) entry.first += extra.size();
  return tr;
}

// Steps a cursor: true on a row, false at the end; raises on failure.
bool step(Stmt& stmt, sqlite3_stmt* cursor, const Translation* tr) {
  SessionDb* db = stmt.db.get();
  if (db) db->startClock();
  const int rc = sqlite3_step(cursor);
  if (db) db->stopClock();
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  if (db) db->noteTransactionEnd();
  static const Translation kNone;
  OraError e = sqliteError(sqlite3_db_handle(cursor), tr ? *tr : kNone, stmt.tokens);
  e.offset = -1;  // a failure while running, not while parsing
  throw e;
}

void prepareStatement(Stmt& stmt, std::string_view text) {
  Registry::instance().freeOwned(&stmt);
  stmt.closeCursor();
  stmt.prepared = false;
  stmt.executed = false;
  stmt.columns.clear();
  stmt.defines.clear();
  stmt.binds.clear();
  stmt.params.clear();
  stmt.rowCount = 0;
  stmt.parseErrorOffset = 0;
  stmt.text.assign(text);
  stmt.tokens.clear();
  stmt.statementType = 0;
  stmt.placeholders.clear();
  if (stmt.text.empty()) throw OraError(24373);
  try {
    stmt.tokens = tokenize(stmt.text);
  } catch (const OraError&) {
    // Faults in the text are reported when it is executed, as the server parses it then.
    stmt.tokens.clear();
  }
  stmt.statementType = statementType(stmt.tokens);
  stmt.placeholders = placeholderNames(stmt.tokens);
  stmt.prepared = true;
}

void requireLiveSession(Session* session) {
  if (!session || !session->open() || !session->db || !session->server->instance) throw OraError(kOraNotLoggedOn);
  if (session->db->closed()) throw OraError(kOraNotLoggedOn);
  session->server->instance->cleanUpKilledSessions();
  if (session->server->instance->sessionState(session->logon) != Instance::SessionState::Live) {
    Registry::instance().closeSession(session, true);
    throw OraError(kOraSessionKilled);
  }
}

sword executeStatement(Stmt& stmt, Session& session, ub4 iters, ub4 mode, ErrorRecord& record) {
  stmt.closeCursor();
  stmt.executed = false;
  stmt.rowCount = 0;
  stmt.parseErrorOffset = 0;
  stmt.lastRowid.clear();
  stmt.session = &session;
  stmt.db = session.db;
  try {
    // A text the tokenizer refused is parsed again here for its error.
    if (stmt.tokens.empty()) {
      tokenize(stmt.text);
      throw errorAt(900, 0);
    }
    const Token& first = stmt.tokens[0];
    // What the user may use is read afresh for each statement.
    session.db->setStatementObjects({});
    session.db->refreshGrants();
    for (const Token& t : stmt.tokens) {
      if (t.kind == TokKind::Word && isObjectListView(upperAscii(t.text))) {
        session.db->refreshObjectList();
        break;
      }
    }
    switch (stmt.statementType) {
      case OCI_STMT_SELECT: return runQuery(stmt, session, iters, mode, record);
      case OCI_STMT_INSERT:
      case OCI_STMT_UPDATE:
      case OCI_STMT_DELETE: return runDml(stmt, session, iters, mode);
      case OCI_STMT_CREATE:
      case OCI_STMT_DROP: return runDdl(stmt, session, mode);
      case OCI_STMT_ALTER: return runAlter(stmt, session, mode);
      case OCI_STMT_BEGIN:
      case OCI_STMT_DECLARE: return runBlock(stmt, session, mode, record);
      default: break;
    }
    if (first.word("TRUNCATE")) return runDdl(stmt, session, mode);
    if (first.word("GRANT") || first.word("REVOKE")) return runGrant(stmt, session, mode);
    if (first.word("COMMIT") || first.word("ROLLBACK")) {
      checkNoSemicolon(stmt);
      if (stmt.tokens.size() > 2 || (stmt.tokens.size() == 2 && !stmt.tokens[1].word("WORK")))
        throw errorAt(933, stmt.tokens[1].offset);
      if (mode & OCI_DESCRIBE_ONLY) return OCI_SUCCESS;
      if (first.word("COMMIT")) session.db->commit();
      else session.db->rollback();
      stmt.executed = true;
      return OCI_SUCCESS;
    }
    throw errorAt(900, first.offset);
  } catch (const OraError& e) {
    stmt.closeCursor();
    if (e.offset >= 0) {
      // The offset counts bytes of the text as the client sent it.
      size_t offset = static_cast<size_t>(e.offset);
      if (!sameAsDatabase(stmt.env->charset) && offset > 0)
        offset = toClient(stmt.env->charset, std::string_view(stmt.text).substr(0, offset)).size() +
                 (offset > stmt.text.size() ? offset - stmt.text.size() : 0);
      stmt.parseErrorOffset = static_cast<ub2>(std::min<size_t>(offset, 65535));
    }
    throw;
  }
}

}  // namespace ocisim
