// Running DDL: CREATE and DROP of tables, views and indexes, CREATE OR
// REPLACE VIEW, TRUNCATE TABLE, CREATE DIRECTORY and CREATE USER.

#include "ocisim/statement_kinds/statement_kinds.h"

#include "ocisim/ora_errors.h"
#include "ocisim/session_db.h"
#include "ocisim/statement_steps.h"

#include <sqlite3.h>

#include <string>
#include <utility>
#include <vector>

namespace ocisim {

namespace {

void createDirectory(Stmt& stmt, Session& session) {
  const auto& t = stmt.tokens;
  // CREATE [OR REPLACE] DIRECTORY name AS 'path'
  size_t i = 1;
  const bool replace = t.size() > 2 && t[1].word("OR") && t[2].word("REPLACE");
  if (replace) i = 3;
  ++i;  // DIRECTORY
  if (!session.db->isDba() && !session.db->hasPrivilege("CREATE ANY DIRECTORY")) throw errorAt(1031, 0);
  if (i >= t.size() || (t[i].kind != TokKind::Word && t[i].kind != TokKind::QuotedIdent))
    throw errorAt(901, i < t.size() ? t[i].offset : stmt.text.size());
  const std::string name = t[i].kind == TokKind::Word ? upperAscii(t[i].text)
                                                      : std::string(t[i].text.substr(1, t[i].text.size() - 2));
  if (i + 2 >= t.size() || !t[i + 1].word("AS") || t[i + 2].kind != TokKind::String)
    throw errorAt(905, i + 1 < t.size() ? t[i + 1].offset : stmt.text.size());
  if (i + 3 < t.size()) throw errorAt(933, t[i + 3].offset);
  session.server->instance->createDirectory(name, stringValue(t[i + 2]), replace);
}

// CREATE USER name IDENTIFIED BY password
void createUser(Stmt& stmt, Session& session) {
  const auto& t = stmt.tokens;
  if (!session.db->isDba() && !session.db->hasPrivilege("CREATE USER")) throw errorAt(1031, 0);
  const auto isName = [&](size_t i) {
    return i < t.size() && (t[i].kind == TokKind::Word || t[i].kind == TokKind::QuotedIdent);
  };
  const auto nameAt = [&](size_t i) {
    return t[i].kind == TokKind::Word ? upperAscii(t[i].text) : std::string(t[i].text.substr(1, t[i].text.size() - 2));
  };
  const auto at = [&](size_t i) { return i < t.size() ? t[i].offset : stmt.text.size(); };
  if (!isName(2)) throw errorAt(1935, at(2));
  if (t.size() <= 3 || !t[3].word("IDENTIFIED")) throw errorAt(922, at(3));
  if (t.size() <= 4 || !t[4].word("BY")) throw errorAt(924, at(4));
  if (!isName(5)) throw errorAt(988, at(5));
  if (t.size() > 6) throw errorAt(922, t[6].offset);
  session.server->instance->createUser(nameAt(2), nameAt(5));
}

}  // namespace

sword runDdl(Stmt& stmt, Session& session, ub4 mode) {
  SessionDb& db = *session.db;
  checkNoSemicolon(stmt);
  const auto& t = stmt.tokens;
  const bool orReplace = t.size() > 2 && t[1].word("OR") && t[2].word("REPLACE");
  const size_t what = orReplace ? 3 : 1;
  if (stmt.statementType == OCI_STMT_CREATE && what < t.size() && t[what].word("DIRECTORY")) {
    if (!(mode & OCI_DESCRIBE_ONLY)) createDirectory(stmt, session);
    return OCI_SUCCESS;
  }
  if (stmt.statementType == OCI_STMT_CREATE && !orReplace && t.size() > 1 && t[1].word("USER")) {
    if (!(mode & OCI_DESCRIBE_ONLY)) {
      createUser(stmt, session);
      stmt.executed = true;
      session.server->instance->recordStatement(session.logon, stmt.text, commandCode(stmt));
    }
    return OCI_SUCCESS;
  }
  if (mode & OCI_DESCRIBE_ONLY) return OCI_SUCCESS;
  if (stmt.statementType == OCI_STMT_CREATE && !db.isDba() && !db.hasPrivilege("CREATE TABLE"))
    throw errorAt(1031, 0);
  // DDL commits what the session had pending, and is committed itself.
  db.commit();
  const NameScope& scope = db.nameScope();
  Translation tr;
  if (t[0].word("TRUNCATE")) {
    // TRUNCATE TABLE x: every row goes, at once and for good.
    if (t.size() < 3 || !t[1].word("TABLE")) throw errorAt(900, 0);
    tr = translate(t, 0, t.size(), {}, stmt.text.size(), &scope);
  } else if (orReplace) {
    if (what >= t.size() || !t[what].word("VIEW")) throw errorAt(900, 0);
    tr = translate(t, what, t.size(), "CREATE ", stmt.text.size(), &scope);
  } else {
    tr = translate(t, 0, t.size(), {}, stmt.text.size(), &scope);
  }
  checkObjects(tr, db);
  SessionDb::Ddl ddl(db);
  const ObjectRef* named = tr.objects.empty() ? nullptr : &tr.objects.front();
  if (orReplace && named && named->use == ObjectUse::Create) {
    // CREATE OR REPLACE VIEW: the old view goes first, in the same transaction.
    const auto old = db.findObject(named->tableName());
    if (old && old->kind != "view") throw errorAt(955, named->offset);
    db.begin();
    try {
      if (old) {
        std::vector<std::pair<std::string, ObjectUse>> objects;
        for (const ObjectRef& ref : tr.objects) objects.emplace_back(ref.tableName(), ref.use);
        objects.emplace_back(old->table, ObjectUse::Drop);
        db.setStatementObjects(std::move(objects));
        Translation drop;
        drop.sql = "DROP VIEW \"" + old->table + "\"";
        SqliteStatement cursor = prepareSql(db.db(), drop, stmt.tokens);
        step(stmt, cursor.get(), &drop);
      }
      SqliteStatement create = prepareSql(db.db(), tr, stmt.tokens);
      step(stmt, create.get(), &tr);
    } catch (...) {
      db.rollback();
      throw;
    }
    db.commit();
    session.server->instance->recordStatement(session.logon, stmt.text, commandCode(stmt));
    stmt.executed = true;
    return OCI_SUCCESS;
  }
  // A dropped object takes the grants on it along, in the same transaction.
  const auto dropped =
      named && named->use == ObjectUse::Drop ? db.findObject(named->tableName()) : std::nullopt;
  const bool drop = dropped.has_value();
  if (drop) db.begin();
  try {
    SqliteStatement cursor = prepareSql(db.db(), tr, stmt.tokens);
    while (step(stmt, cursor.get(), &tr)) {
    }
    if (drop) db.removeGrantsOn(dropped->table);
  } catch (...) {
    if (drop) db.rollback();
    throw;
  }
  if (drop) db.commit();
  stmt.rowCount = t[0].word("TRUNCATE") ? 0 : stmt.rowCount;
  stmt.executed = true;
  session.server->instance->recordStatement(session.logon, stmt.text, commandCode(stmt));
  return OCI_SUCCESS;
}

}  // namespace ocisim
