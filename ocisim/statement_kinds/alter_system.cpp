// Running ALTER SYSTEM KILL SESSION.

#include "ocisim/statement_kinds/statement_kinds.h"

#include "ocisim/ora_errors.h"
#include "ocisim/session_db.h"
#include "ocisim/statement_steps.h"

#include <cstdlib>
#include <string>

namespace ocisim {

// ALTER SYSTEM KILL SESSION 'sid,serial#' [IMMEDIATE]
sword runAlter(Stmt& stmt, Session& session, ub4 mode) {
  const auto& t = stmt.tokens;
  checkNoSemicolon(stmt);
  const auto expect = [&](size_t i, std::string_view word) {
    if (i >= t.size() || !t[i].word(word))
      throw errorAt(i >= 3 ? 922 : 940, i < t.size() ? t[i].offset : stmt.text.size());
  };
  if (t.size() < 2 || !t[1].word("SYSTEM")) {
    if (t.size() > 1 && t[1].word("SESSION")) throw errorAt(kOraUnimplemented, 0);
    throw errorAt(940, t.size() > 1 ? t[1].offset : stmt.text.size());
  }
  expect(2, "KILL");
  expect(3, "SESSION");
  if (t.size() < 5 || t[4].kind != TokKind::String) throw errorAt(26, t.size() > 4 ? t[4].offset : stmt.text.size());
  size_t end = 5;
  if (end < t.size() && t[end].word("IMMEDIATE")) ++end;
  if (end < t.size()) throw errorAt(933, t[end].offset);
  if (mode & OCI_DESCRIBE_ONLY) return OCI_SUCCESS;
  if (!session.db->isDba() && !session.db->hasPrivilege("ALTER SYSTEM")) throw errorAt(1031, 0);
  // 'sid,serial#': two numbers, blanks allowed around them.
  const std::string spec = stringValue(t[4]);
  long sid = 0, serial = 0;
  char tail = 0;
  if (std::sscanf(spec.c_str(), " %ld , %ld %c", &sid, &serial, &tail) != 2 || sid <= 0 || serial <= 0)
    throw errorAt(26, t[4].offset);
  session.server->instance->recordStatement(session.logon, stmt.text, commandCode(stmt));
  session.server->instance->killSession(session.logon, sid, serial);
  stmt.executed = true;
  return OCI_SUCCESS;
}

}  // namespace ocisim
