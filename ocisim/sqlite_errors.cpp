// The Oracle error for an SQLite failure while preparing or running a
// statement, with its place in the statement's text.

#include "ocisim/statement_steps.h"

#include "ocisim/ora_errors.h"

#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace ocisim {

namespace {

// The original offset of an identifier named in an SQLite message: the first
// token of the statement that spells it (its last part after a dot).
long findName(const std::vector<Token>& toks, std::string name) {
  if (const auto dot = name.rfind('.'); dot != std::string::npos) name = name.substr(dot + 1);
  const std::string want = upperAscii(name);
  for (const Token& t : toks) {
    std::string_view text = t.text;
    if (t.kind == TokKind::QuotedIdent) text = text.substr(1, text.size() - 2);
    else if (t.kind != TokKind::Word) continue;
    if (upperAscii(text) == want) return static_cast<long>(t.offset);
  }
  return -1;
}

bool startsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

// Whether an expression was due before the token at an original offset (the
// end of the text for none): right after an operator, an opening parenthesis,
// a comma or a word that an expression must follow. The server reports a
// missing expression there (ORA-00936), as in "select from dual".
bool expressionDue(const std::vector<Token>& toks, size_t offset) {
  size_t i = 0;
  while (i < toks.size() && toks[i].offset < offset) ++i;
  if (i == 0) return false;
  const Token& prev = toks[i - 1];
  if (prev.kind == TokKind::Op) {
    for (std::string_view o : {"+", "-", "*", "/", "||", "=", "<>", "!=", "^=", "<", ">", "<=", ">=", "(", ","})
      if (prev.op(o)) return true;
    return false;
  }
  for (std::string_view w : {"SELECT", "DISTINCT", "WHERE", "AND", "OR", "NOT", "WHEN", "THEN", "ELSE", "HAVING",
                             "BY", "PRIOR"})
    if (prev.word(w)) return true;
  return false;
}

}  // namespace

// An Oracle error for an SQLite failure while preparing or running a statement.
OraError sqliteError(sqlite3* db, const Translation& tr, const std::vector<Token>& toks) {
  const std::string msg = sqlite3_errmsg(db);
  const int rc = sqlite3_extended_errcode(db) & 0xff;
  const long at = sqlite3_error_offset(db);
  const auto place = [&](const std::string& name) -> size_t {
    if (at >= 0) return tr.originalOffset(at);
    const long found = findName(toks, name);
    return found >= 0 ? static_cast<size_t>(found) : 0;
  };
  const auto after = [&](std::string_view prefix) { return msg.substr(prefix.size()); };
  if (startsWith(msg, "ORA-")) {
    // Raised by one of the Oracle functions: the code is in the text.
    OraError e(std::atoi(msg.c_str() + 4));
    const auto colon = msg.find(": ");
    e.arg = colon == std::string::npos ? std::string() : msg.substr(colon + 2);
    return e;
  }
  if (isBusy(rc)) return OraError(54);
  // The step ran out of time (see SessionDb::startClock).
  if (rc == SQLITE_INTERRUPT) return OraError(1013);
  if (msg == std::string("CHECK constraint failed: ") + kWidthConstraint) return OraError(1401);
  if (startsWith(msg, "cannot modify ") && msg.find("because it is a view") != std::string::npos)
    return OraError(1732);
  if (startsWith(msg, "no such table: ")) return errorAt(942, place(after("no such table: ")));
  if (startsWith(msg, "no such column: ")) return errorAt(904, place(after("no such column: ")));
  if (startsWith(msg, "no such function: ")) return errorAt(904, place(after("no such function: ")));
  if (startsWith(msg, "wrong number of arguments to function "))
    return errorAt(909, place(after("wrong number of arguments to function ")));
  if (startsWith(msg, "ambiguous column name: ")) return errorAt(918, place(after("ambiguous column name: ")));
  if (startsWith(msg, "access to ")) {
    // "access to sys.users.password is prohibited": the table is not visible.
    std::string object = after("access to ");
    object = object.substr(0, object.find(' '));
    const auto last = object.rfind('.');
    std::string table = last == std::string::npos ? object : object.substr(0, last);
    if (const auto dot = table.rfind('.'); dot != std::string::npos) table = table.substr(dot + 1);
    const long found = findName(toks, table);
    return errorAt(942, found >= 0 ? static_cast<size_t>(found) : 0);
  }
  if (msg == "not authorized") return errorAt(1031, 0);
  // A function outside the dialect is as unknown as one that does not exist.
  if (startsWith(msg, "not authorized to use function: "))
    return errorAt(904, place(after("not authorized to use function: ")));
  if (msg == "incomplete input")
    return errorAt(expressionDue(toks, tr.originalLength) ? 936 : 921, tr.originalLength);
  if (startsWith(msg, "unrecognized token")) return errorAt(911, place(""));
  if (msg.find("syntax error") != std::string::npos) {
    const size_t where = at >= 0 ? tr.originalOffset(at) : 0;
    if (expressionDue(toks, where)) return errorAt(936, where);
    // An operator whose right operand is missing ("select 1 + from dual"):
    // the translation may have put the select list's name after it.
    for (size_t i = 0; i < toks.size(); ++i) {
      if (toks[i].offset != where || toks[i].kind != TokKind::Op) continue;
      const size_t next = i + 1 < toks.size() ? toks[i + 1].offset : tr.originalLength;
      if (expressionDue(toks, next) && (i + 1 == toks.size() || toks[i + 1].kind == TokKind::Word ||
                                        toks[i + 1].op(",") || toks[i + 1].op(")")))
        return errorAt(936, next);
    }
    // Inside a select list that is never followed by FROM: FROM was expected there.
    if (tr.selectListStart >= 0 && static_cast<long>(where) >= tr.selectListStart &&
        (tr.fromOffset < 0 || static_cast<long>(where) < tr.fromOffset))
      return errorAt(923, where);
    return errorAt(933, where);
  }
  // "table T has 2 columns but 3 values were supplied", "3 values for 2 columns"
  long columns = 0, values = 0;
  if (std::sscanf(msg.c_str(), "table %*s has %ld columns but %ld values were supplied", &columns, &values) == 2 ||
      std::sscanf(msg.c_str(), "%ld values for %ld columns", &values, &columns) == 2)
    return errorAt(values < columns ? 947 : 913, at >= 0 ? tr.originalOffset(at) : 0);
  if (startsWith(msg, "UNIQUE constraint failed: ") || startsWith(msg, "PRIMARY KEY"))
    return OraError(1, upperAscii(msg.substr(msg.find(": ") + 2)));
  if (startsWith(msg, "NOT NULL constraint failed: ")) {
    // "OWNER.TABLE.COLUMN": the table and the column, by their own names.
    const std::string column = upperAscii(after("NOT NULL constraint failed: "));
    const auto dot = column.rfind('.');
    return OraError(1400, dot == std::string::npos
                              ? column
                              : "\"" + std::string(objectName(std::string_view(column).substr(0, dot))) +
                                    "\".\"" + column.substr(dot + 1) + "\"");
  }
  if (msg.find("already exists") != std::string::npos) return errorAt(955, 0);
  if (startsWith(msg, "SELECTs to the left and right of")) return errorAt(1789, 0);
  if (startsWith(msg, "misuse of aggregate")) return errorAt(934, place(""));
  if (rc == SQLITE_MISMATCH) return OraError(932);
  return OraError(kOraInternal, "sqlite: " + msg);
}

}  // namespace ocisim
