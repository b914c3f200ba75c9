// Running simple anonymous PL/SQL blocks of assignments to bind variables.

#include "ocisim/statement_kinds/statement_kinds.h"

#include "ocisim/ora_errors.h"
#include "ocisim/session_db.h"
#include "ocisim/statement_steps.h"

#include <sqlite3.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace ocisim {

// Anonymous blocks of assignments to bind variables:
//   BEGIN :x := expression; ...; NULL; COMMIT; END;
sword runBlock(Stmt& stmt, Session& session, ub4 mode, ErrorRecord& record) {
  const auto& t = stmt.tokens;
  if (t[0].word("DECLARE")) throw errorAt(kOraUnimplemented, t[0].offset);
  size_t end = t.size();
  if (end > 0 && t[end - 1].op(";")) --end;
  if (end < 2 || !t[end - 1].word("END")) throw errorAt(6550, end > 0 ? t[end - 1].offset : 0, "PLS-00103");
  --end;
  if (mode & OCI_DESCRIBE_ONLY) return OCI_SUCCESS;
  SessionDb& db = *session.db;
  std::map<std::string, Value> values;
  std::vector<std::string> assigned;
  const auto valueOf = [&](const std::string& name, size_t offset) -> Value {
    if (auto it = values.find(name); it != values.end()) return it->second;
    Value v = inputValue(stmt, name, 0, offset);
    values[name] = v;
    return v;
  };
  size_t i = 1;
  while (i < end) {
    size_t stop = i;
    int depth = 0;
    while (stop < end && !(depth == 0 && t[stop].op(";"))) {
      if (t[stop].op("(")) ++depth;
      if (t[stop].op(")")) --depth;
      ++stop;
    }
    if (stop == end) throw errorAt(6550, stop < t.size() ? t[stop].offset : stmt.text.size(), "PLS-00103");
    if (stop == i || (stop == i + 1 && t[i].word("NULL"))) {
      // empty statement or NULL;
    } else if (stop == i + 1 && t[i].word("COMMIT")) {
      db.commit();
    } else if (stop == i + 1 && t[i].word("ROLLBACK")) {
      db.rollback();
    } else if (t[i].kind == TokKind::Bind && i + 2 < stop && t[i + 1].op(":=")) {
      const std::string target = upperAscii(t[i].text.substr(1));
      if (!findBind(stmt, target)) throw errorAt(1008, t[i].offset);
      const Translation tr = translate(t, i + 2, stop, "SELECT ", stmt.text.size(), &db.nameScope());
      checkObjects(tr, db);
      SqliteStatement cursor = prepareSql(db.db(), tr, t);
      requireQuery(stmt, cursor.get());
      for (size_t k = 0; k < tr.params.size(); ++k)
        bindValue(cursor.get(), static_cast<int>(k + 1),
                  valueOf(tr.params[k], placeholderOffset(stmt, tr.params[k])));
      if (sqlite3_column_count(cursor.get()) != 1) throw errorAt(6550, t[i + 2].offset, "PLS-00103");
      Value v = step(stmt, cursor.get(), &tr) ? Value::fromColumn(cursor.get(), 0) : Value::null();
      values[target] = std::move(v);
      if (std::find(assigned.begin(), assigned.end(), target) == assigned.end()) assigned.push_back(target);
    } else {
      throw errorAt(kOraUnimplemented, t[i].offset);
    }
    i = stop + 1;
  }
  // Output: the values assigned to bind variables go back to their buffers.
  int warning = 0;
  for (const std::string& name : assigned) {
    Bind* b = findBind(stmt, name);
    const Value& v = values[name];
    const ub2 type = v.kind == Value::Int || v.kind == Value::Real ? kTypeNumber : kTypeVarchar2;
    ExternalSlot e = b->element(0);
    if (v.isNull() && !e.indicator) {
      // Without an indicator a NULL output leaves the buffer empty.
      if (e.length) *e.length = 0;
      if (e.value && (e.type == SQLT_STR || e.type == SQLT_AVC) && e.size > 0) *static_cast<char*>(e.value) = '\0';
      continue;
    }
    try {
      if (const int w = writeExternal(v, type, e, stmt.env->charset)) warning = w;
    } catch (const OraError& err) {
      // A value that does not fit its variable's type.
      throw OraError(6502, err.code == 1722 ? "character to number conversion error" : "");
    }
  }
  stmt.executed = true;
  session.server->instance->recordStatement(session.logon, stmt.text, commandCode(stmt));
  if (mode & OCI_COMMIT_ON_SUCCESS) db.commit();
  if (warning) {
    record.set(warning);
    return OCI_SUCCESS_WITH_INFO;
  }
  return OCI_SUCCESS;
}

}  // namespace ocisim
