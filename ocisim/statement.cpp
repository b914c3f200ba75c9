#include "ocisim/statement.h"

#include "ocisim/ora_errors.h"
#include "ocisim/session_db.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

namespace ocisim {

namespace {

constexpr const char* kHiddenRowid = "OCISIM$ROWID";

// Oracle's command codes, as v$session.COMMAND and v$sql.COMMAND_TYPE give them.
int commandCode(const Stmt& stmt) {
  switch (stmt.statementType) {
    case OCI_STMT_SELECT: return 3;
    case OCI_STMT_INSERT: return 2;
    case OCI_STMT_UPDATE: return 6;
    case OCI_STMT_DELETE: return 7;
    case OCI_STMT_CREATE: return 1;
    case OCI_STMT_DROP: return 12;
    case OCI_STMT_ALTER:
      return stmt.tokens.size() > 1 && stmt.tokens[1].word("SYSTEM") ? 49 : 42;
    case OCI_STMT_BEGIN:
    case OCI_STMT_DECLARE: return 47;
    default:
      if (!stmt.tokens.empty() && stmt.tokens[0].word("GRANT")) return 17;
      if (!stmt.tokens.empty() && stmt.tokens[0].word("REVOKE")) return 18;
      return 0;
  }
}

// Prepares SQLite text, finalizing on failure.
class Cursor {
 public:
  Cursor() = default;
  ~Cursor() { sqlite3_finalize(stmt_); }
  Cursor(const Cursor&) = delete;
  Cursor& operator=(const Cursor&) = delete;
  sqlite3_stmt*& get() { return stmt_; }
  sqlite3_stmt* release() {
    sqlite3_stmt* s = stmt_;
    stmt_ = nullptr;
    return s;
  }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

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
  if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) return OraError(54);
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
  if (msg == "incomplete input") return errorAt(921, tr.originalLength);
  if (startsWith(msg, "unrecognized token")) return errorAt(911, place(""));
  if (msg.find("syntax error") != std::string::npos) {
    const size_t where = at >= 0 ? tr.originalOffset(at) : 0;
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

Bind* findBind(Stmt& stmt, const std::string& name) {
  for (Bind* b : stmt.binds)
    if (b && b->name == name) return b;
  return nullptr;
}

// The value of a placeholder for iteration i.
Value inputValue(Stmt& stmt, const std::string& name, ub4 i, size_t offset) {
  Bind* b = findBind(stmt, name);
  if (!b) throw errorAt(1008, offset);
  if (b->slot.type == SQLT_CLOB || b->slot.type == SQLT_BLOB || b->slot.type == SQLT_BFILEE ||
      b->slot.type == SQLT_CFILEE) {
    const ExternalSlot e = b->element(i);
    if (e.indicator && *e.indicator < 0) return Value::null();
    void* locator = e.value ? *static_cast<void**>(e.value) : nullptr;
    Registry& reg = Registry::instance();
    auto* lob = reg.find<LobLocator>(locator, OCI_DTYPE_LOB);
    if (!lob) lob = reg.find<LobLocator>(locator, OCI_DTYPE_FILE);
    if (!lob || !lob->initialized) throw OraError(22275);
    if (lob->lobType == SQLT_BFILEE || lob->lobType == SQLT_CFILEE)
      return Value::text(lob->directory + "/" + lob->fileName);
    return lob->lobType == SQLT_BLOB ? Value::blob(lob->data) : Value::text(lob->data);
  }
  Value v = readExternal(b->element(i), b->actualLength(i));
  if (v.kind == Value::Text && !sameAsDatabase(stmt.env->charset)) v.s = toDatabase(stmt.env->charset, v.s);
  return v;
}

size_t placeholderOffset(const Stmt& stmt, const std::string& name) {
  for (const Token& t : stmt.tokens)
    if (t.kind == TokKind::Bind && upperAscii(t.text.substr(1)) == name) return t.offset;
  return 0;
}

void bindInputs(Stmt& stmt, sqlite3_stmt* cursor, const Translation& tr, ub4 iteration) {
  for (size_t k = 0; k < tr.params.size(); ++k)
    bindValue(cursor, static_cast<int>(k + 1),
              inputValue(stmt, tr.params[k], iteration, placeholderOffset(stmt, tr.params[k])));
}

sqlite3_stmt* prepareSql(sqlite3* db, const Translation& tr, const std::vector<Token>& toks) {
  Cursor c;
  if (sqlite3_prepare_v2(db, tr.sql.c_str(), static_cast<int>(tr.sql.size()), &c.get(), nullptr) !=
      SQLITE_OK)
    throw sqliteError(db, tr, toks);
  if (!c.get()) throw errorAt(900, 0);  // nothing but comments
  return c.release();
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

// --- Describing the select list ---

bool itemStartsWith(const Stmt& stmt, const Translation::SelectItem& item,
                    std::initializer_list<std::string_view> words) {
  const Token& t = stmt.tokens[item.begin];
  for (std::string_view w : words)
    if (t.word(w)) return true;
  return false;
}

ColumnDesc numberColumn() {
  ColumnDesc c;
  c.type = kTypeNumber;
  c.size = 22;
  c.scale = unconstrainedNumberScale();
  return c;
}

ColumnDesc dateColumn() {
  ColumnDesc c;
  c.type = kTypeDate;
  c.size = 7;
  return c;
}

// The type of an expression column, from its text and its first value.
ColumnDesc expressionType(const Stmt& stmt, const Translation::SelectItem* item, const Value* first) {
  if (item && itemStartsWith(stmt, *item, {"SYSDATE", "TO_DATE", "ADD_MONTHS", "LAST_DAY"})) {
    bool arithmetic = false;
    for (size_t k = item->begin; k < item->end; ++k)
      if (stmt.tokens[k].op("-") || stmt.tokens[k].op("+")) arithmetic = true;
    if (!arithmetic) return dateColumn();
  }
  if (first && (first->kind == Value::Int || first->kind == Value::Real)) return numberColumn();
  if (first && first->kind == Value::Blob) {
    ColumnDesc c;
    c.type = kTypeRaw;
    c.size = 2000;
    return c;
  }
  if ((!first || first->isNull()) && item) {
    const Token& t = stmt.tokens[item->begin];
    if (t.kind == TokKind::Number ||
        itemStartsWith(stmt, *item, {"COUNT", "SUM", "AVG", "USERENV", "TO_NUMBER", "LENGTH", "INSTR",
                                     "MOD", "ROUND", "ABS", "CEIL", "FLOOR", "POWER", "SIGN"}))
      return numberColumn();
  }
  ColumnDesc c;
  c.type = kTypeVarchar2;
  c.size = 4000;
  return c;
}

// A select item that only names a column, qualified or not, with or without an
// alias: its value is the column of the row the query stands on.
bool namesAColumn(const std::vector<Token>& toks, const Translation::SelectItem& item) {
  const auto isName = [&](size_t i) {
    return i < item.end && (toks[i].kind == TokKind::Word || toks[i].kind == TokKind::QuotedIdent);
  };
  size_t i = item.begin;
  if (!isName(i)) return false;
  ++i;
  if (i < item.end && toks[i].op(".")) {
    if (!isName(i + 1)) return false;
    i += 2;
  }
  if (i < item.end && toks[i].word("AS")) ++i;
  if (isName(i)) ++i;
  return i == item.end;
}

std::vector<ColumnDesc> describe(Stmt& stmt, sqlite3* db, sqlite3_stmt* cursor, const Translation& tr,
                                 bool haveRow) {
  bool catalog = false;
  for (const Token& t : stmt.tokens)
    if (t.kind == TokKind::Word && isCatalogView(upperAscii(t.text))) catalog = true;
  int count = sqlite3_column_count(cursor);
  if (count > 0 && std::strcmp(sqlite3_column_name(cursor, count - 1), kHiddenRowid) == 0) --count;
  // Select-list items match columns one to one until the first * expands.
  const bool itemsMatch =
      std::none_of(tr.items.begin(), tr.items.end(), [](const auto& i) { return i.star; }) &&
      tr.items.size() == static_cast<size_t>(count);
  std::vector<ColumnDesc> columns;
  for (int i = 0; i < count; ++i) {
    std::string name = sqlite3_column_name(cursor, i);
    if (std::find(tr.quotedAliases.begin(), tr.quotedAliases.end(), name) == tr.quotedAliases.end())
      name = upperAscii(name);
    const char* declared = sqlite3_column_decltype(cursor, i);
    std::optional<ColumnDesc> c = declared ? columnTypeOf(declared) : std::nullopt;
    if (!c && catalog && name == "STATUS") {
      c = ColumnDesc{};
      c->type = kTypeVarchar2;
      c->size = 8;
    }
    if (!c) {
      const Value first = haveRow ? Value::fromColumn(cursor, i) : Value::null();
      c = expressionType(stmt, itemsMatch ? &tr.items[static_cast<size_t>(i)] : nullptr,
                         haveRow ? &first : nullptr);
    }
    c->name = name;
    c->namesColumn = itemsMatch && namesAColumn(stmt.tokens, tr.items[static_cast<size_t>(i)]);
    // A column of a table tells whether it allows NULL.
    const char* dbName = sqlite3_column_database_name(cursor, i);
    const char* table = sqlite3_column_table_name(cursor, i);
    const char* origin = sqlite3_column_origin_name(cursor, i);
    int notNull = 0;
    if (table && origin &&
        sqlite3_table_column_metadata(db, dbName, table, origin, nullptr, nullptr, &notNull, nullptr,
                                      nullptr) == SQLITE_OK)
      c->nullable = notNull ? 0 : 1;
    columns.push_back(*c);
  }
  return columns;
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

// --- Fetching ---

LobLocator* locatorAt(void* slotValue, ub4 row) {
  if (!slotValue) throw OraError(22275);
  void* p = static_cast<void**>(slotValue)[row];
  Registry& reg = Registry::instance();
  auto* lob = reg.find<LobLocator>(p, OCI_DTYPE_LOB);
  if (!lob) lob = reg.find<LobLocator>(p, OCI_DTYPE_FILE);
  if (!lob) throw OraError(22275);
  return lob;
}

void fillLocator(Stmt& stmt, int column, Define& d, ub4 row, const Value& v) {
  LobLocator* lob = locatorAt(d.slot.value, row);
  const ub2 dty = d.slot.type;
  auto* ind = d.slot.indicator ? d.slot.indicator + row : nullptr;
  lob->initialized = false;
  lob->writable = false;
  lob->data.clear();
  lob->directory.clear();
  lob->fileName.clear();
  if (v.isNull()) {
    if (!ind) throw OraError(1405);
    *ind = -1;
    return;
  }
  const bool file = dty == SQLT_BFILEE || dty == SQLT_CFILEE;
  if (file != (lob->type == OCI_DTYPE_FILE)) throw OraError(932);
  const ub2 columnType = stmt.columns[static_cast<size_t>(column)].type;
  if (file) {
    if (v.kind != Value::Text || v.s.find('/') == std::string::npos) throw OraError(932);
    lob->directory = v.s.substr(0, v.s.find('/'));
    lob->fileName = v.s.substr(v.s.find('/') + 1);
  } else if (dty == SQLT_CLOB) {
    if (v.kind == Value::Blob || columnType == kTypeBlob || columnType == kTypeBfile) throw OraError(932);
    lob->data = textOf(v, columnType);
  } else {
    if (columnType == kTypeClob || columnType == kTypeBfile) throw OraError(932);
    lob->data = v.s;
  }
  lob->lobType = dty;
  lob->initialized = true;
  // Rows selected FOR UPDATE can be written back through the locator.
  if (!file && stmt.describedForUpdate && stmt.cursor) {
    const char* table = sqlite3_column_table_name(stmt.cursor, column);
    const char* origin = sqlite3_column_origin_name(stmt.cursor, column);
    const char* dbName = sqlite3_column_database_name(stmt.cursor, column);
    const int last = sqlite3_column_count(stmt.cursor) - 1;
    // The hidden rowid names a row of the query's table: only a column of that
    // table, named as such, is that row's value (not a subquery's or an expression's).
    const char* rowidTable = sqlite3_column_table_name(stmt.cursor, last);
    if (table && origin && dbName && std::strcmp(dbName, "main") == 0 && rowidTable &&
        std::strcmp(rowidTable, table) == 0 && stmt.columns[static_cast<size_t>(column)].namesColumn &&
        sqlite3_column_type(stmt.cursor, last) == SQLITE_INTEGER && stmt.db && stmt.db->inTransaction()) {
      lob->table = table;
      lob->column = origin;
      lob->rowid = sqlite3_column_int64(stmt.cursor, last);
      lob->writable = true;
      lob->transaction = stmt.db->transactionId();
    }
  }
  if (ind) *ind = 0;
}

// Calls a dynamic define's callback as a C client does: nothing may unwind
// from it through the client's own frames, which could not clean up after it.
// An exception that tries ends the process here (noexcept), where a real
// client would be left with its fetch half done.
sb4 callDefineCallback(Define& d, ub4 row, void** buffer, ub4** length, ub1* piece, void** indicator,
                       ub2** returnCode) noexcept {
  return d.callback(d.callbackContext, reinterpret_cast<OCIDefine*>(static_cast<Handle*>(&d)), row, buffer,
                    length, piece, indicator, returnCode);
}

// Hands a LONG value to a dynamic define's callback piece by piece; a LONG
// (not LONG RAW) define receives its text in the client's character set.
void fetchPieces(Define& d, ub4 row, const Value& v, ub2 columnType, Charset cs) {
  auto* ind = d.slot.indicator ? d.slot.indicator + row : nullptr;
  if (v.isNull()) {
    if (ind) {
      *ind = -1;
      return;
    }
  }
  std::string bytes = v.isNull() ? std::string()
                      : v.kind == Value::Blob || v.kind == Value::Text ? v.s
                                                                        : textOf(v, columnType);
  if (d.slot.type == SQLT_LNG && v.kind != Value::Blob) makeClientText(cs, bytes);
  size_t done = 0;
  ub1 piece = OCI_FIRST_PIECE;
  do {
    void* buffer = nullptr;
    ub4* length = nullptr;
    void* indicator = nullptr;
    ub2* returnCode = nullptr;
    ub1 p = piece;
    const sb4 rc = callDefineCallback(d, row, &buffer, &length, &p, &indicator, &returnCode);
    if (rc != OCI_CONTINUE) throw OraError(24343);
    if (!length || (!buffer && *length > 0)) throw OraError(24343);
    if (v.isNull()) {
      *length = 0;
      if (indicator) *static_cast<sb2*>(indicator) = -1;
      if (ind) *ind = -1;
      return;
    }
    const size_t room = *length;
    if (room == 0 && done < bytes.size()) throw OraError(24343);
    const size_t n = std::min(room, bytes.size() - done);
    if (n) std::memcpy(buffer, bytes.data() + done, n);
    *length = static_cast<ub4>(n);
    if (indicator) *static_cast<sb2*>(indicator) = 0;
    if (returnCode) *returnCode = 0;
    done += n;
    piece = OCI_NEXT_PIECE;
  } while (done < bytes.size());
  if (ind) *ind = 0;
  if (d.slot.length) d.slot.length[row] = static_cast<ub2>(std::min<size_t>(bytes.size(), 65535));
}

// Writes the current row into the defines as element row; returns the code of a
// warning (1406) or 0.
int deliverRow(Stmt& stmt, ub4 row) {
  int warning = 0;
  if (stmt.rowValues.size() < stmt.columns.size()) stmt.rowValues.resize(stmt.columns.size());
  for (size_t i = 0; i < stmt.columns.size(); ++i) {
    Define* d = i < stmt.defines.size() ? stmt.defines[i] : nullptr;
    if (!d) continue;
    Value& v = stmt.rowValues[i];
    v.assignColumn(stmt.cursor, static_cast<int>(i));
    const ub2 dty = d->slot.type;
    if (dty == SQLT_CLOB || dty == SQLT_BLOB || dty == SQLT_BFILEE || dty == SQLT_CFILEE) {
      fillLocator(stmt, static_cast<int>(i), *d, row, v);
      continue;
    }
    if (d->mode & OCI_DYNAMIC_FETCH) {
      if (!d->callback) throw OraError(kOraUnimplemented);
      fetchPieces(*d, row, v, stmt.columns[i].type, stmt.env->charset);
      continue;
    }
    ExternalSlot e = d->slot;
    if (e.value) e.value = static_cast<char*>(e.value) + static_cast<size_t>(row) * static_cast<size_t>(std::max(0, e.size));
    if (e.indicator) e.indicator += row;
    if (e.length) e.length += row;
    if (e.returnCode) e.returnCode += row;
    if (const int w = writeExternal(v, stmt.columns[i].type, e, stmt.env->charset)) warning = w;
  }
  const int last = sqlite3_column_count(stmt.cursor) - 1;
  stmt.lastRowid.clear();
  if (stmt.describedForUpdate && last >= 0 && sqlite3_column_type(stmt.cursor, last) == SQLITE_INTEGER)
    stmt.lastRowid = std::to_string(sqlite3_column_int64(stmt.cursor, last));
  return warning;
}

sword fetchInto(Stmt& stmt, ub4 nrows, ErrorRecord& record) {
  int warning = 0;
  for (ub4 r = 0; r < nrows; ++r) {
    if (!stmt.rowPending && !stmt.exhausted && stmt.cursor) {
      stmt.rowPending = step(stmt, stmt.cursor, nullptr);
      stmt.exhausted = !stmt.rowPending;
    }
    if (!stmt.rowPending) {
      // The end: release the cursor (and the snapshot it reads) at once.
      if (stmt.cursor && stmt.db && stmt.db->ownedHere()) sqlite3_finalize(stmt.cursor);
      stmt.cursor = nullptr;
      stmt.exhausted = true;
      record.set(1403);
      return OCI_NO_DATA;
    }
    if (const int w = deliverRow(stmt, r)) warning = w;
    stmt.rowPending = false;
    ++stmt.rowCount;
  }
  if (warning) {
    record.set(warning);
    return OCI_SUCCESS_WITH_INFO;
  }
  return OCI_SUCCESS;
}

// --- Kinds of statements ---

sword runQuery(Stmt& stmt, Session& session, ub4 iters, ub4 mode, ErrorRecord& record) {
  SessionDb& db = *session.db;
  checkNoSemicolon(stmt);
  checkCatalogAccess(stmt, db);
  const bool describeOnly = mode & OCI_DESCRIBE_ONLY;
  Translation tr = translate(stmt.tokens, 0, stmt.tokens.size(), {}, stmt.text.size(), &db.nameScope());
  checkObjects(tr, db);
  Cursor cursor;
  stmt.describedForUpdate = false;
  if (tr.forUpdate) {
    const Translation hidden = withHiddenRowid(tr);
    if (sqlite3_prepare_v2(db.db(), hidden.sql.c_str(), -1, &cursor.get(), nullptr) == SQLITE_OK &&
        cursor.get()) {
      tr = hidden;
      stmt.describedForUpdate = true;
    } else {
      sqlite3_finalize(cursor.release());
    }
    // Locking the selected rows: the session's transaction takes the write lock.
    if (!describeOnly) db.begin();
  }
  if (!cursor.get()) cursor.get() = prepareSql(db.db(), tr, stmt.tokens);
  requireQuery(stmt, cursor.get());
  // Describing needs no values: the placeholders read as NULL until bound.
  if (!describeOnly) bindInputs(stmt, cursor.get(), tr, 0);
  // The session runs this statement from now on, also while the view of its
  // own row is being read.
  if (!describeOnly) session.server->instance->recordStatement(session.logon, stmt.text, commandCode(stmt));
  const bool haveRow = step(stmt, cursor.get(), &tr);
  stmt.columns = describe(stmt, db.db(), cursor.get(), tr, haveRow);
  if (describeOnly) return OCI_SUCCESS;
  stmt.cursor = cursor.release();
  stmt.rowPending = haveRow;
  stmt.exhausted = !haveRow;
  stmt.executed = true;
  sword status = OCI_SUCCESS;
  if (iters > 0) status = fetchInto(stmt, iters, record);
  if (mode & OCI_COMMIT_ON_SUCCESS) db.commit();
  return status;
}

sword runDml(Stmt& stmt, Session& session, ub4 iters, ub4 mode) {
  SessionDb& db = *session.db;
  checkNoSemicolon(stmt);
  checkCatalogAccess(stmt, db);
  const Translation tr =
      translate(stmt.tokens, 0, stmt.tokens.size(), {}, stmt.text.size(), &db.nameScope());
  checkObjects(tr, db);
  Cursor cursor;
  cursor.get() = prepareSql(db.db(), tr, stmt.tokens);
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
        Cursor cursor;
        cursor.get() = prepareSql(db.db(), drop, stmt.tokens);
        step(stmt, cursor.get(), &drop);
      }
      Cursor create;
      create.get() = prepareSql(db.db(), tr, stmt.tokens);
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
    Cursor cursor;
    cursor.get() = prepareSql(db.db(), tr, stmt.tokens);
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

// GRANT privilege, ... ON [schema.]object TO grantee, ... [WITH GRANT OPTION]
// REVOKE privilege, ... ON [schema.]object FROM grantee, ...
// Object privileges only: SELECT, INSERT, UPDATE, DELETE, REFERENCES, INDEX,
// ALTER, or ALL [PRIVILEGES]. The grantee is a user, a role or PUBLIC.
sword runGrant(Stmt& stmt, Session& session, ub4 mode) {
  checkNoSemicolon(stmt);
  const auto& t = stmt.tokens;
  const bool grant = t[0].word("GRANT");
  const auto offsetAt = [&](size_t i) { return i < t.size() ? t[i].offset : stmt.text.size(); };
  const auto isName = [&](size_t i) {
    return i < t.size() && (t[i].kind == TokKind::Word || t[i].kind == TokKind::QuotedIdent);
  };
  const auto nameAt = [&](size_t i) {
    return t[i].kind == TokKind::QuotedIdent ? std::string(t[i].text.substr(1, t[i].text.size() - 2))
                                             : upperAscii(t[i].text);
  };
  static constexpr std::string_view kPrivileges[] = {"SELECT", "INSERT", "UPDATE", "DELETE",
                                                     "ALTER", "INDEX", "REFERENCES"};
  std::vector<std::string> privileges;
  bool all = false;
  size_t i = 1;
  for (;;) {
    if (i < t.size() && t[i].word("ALL")) {
      all = true;
      if (++i < t.size() && t[i].word("PRIVILEGES")) ++i;
    } else if (i < t.size() &&
               std::any_of(std::begin(kPrivileges), std::end(kPrivileges),
                           [&](std::string_view p) { return t[i].word(p); })) {
      privileges.push_back(upperAscii(t[i].text));
      ++i;
      if (i < t.size() && t[i].op("(")) throw errorAt(kOraUnimplemented, t[i].offset);  // column privileges
    } else {
      // System privileges and roles are not granted through the client.
      const bool object = std::any_of(t.begin(), t.end(), [](const Token& k) { return k.word("ON"); });
      throw errorAt(object ? 990 : kOraUnimplemented, offsetAt(i));
    }
    if (i < t.size() && t[i].op(",")) {
      ++i;
      continue;
    }
    break;
  }
  if (i >= t.size() || !t[i].word("ON")) throw errorAt(969, offsetAt(i));
  ++i;
  if (!isName(i)) throw errorAt(903, offsetAt(i));
  const size_t objectAt = i;
  std::string owner = session.db->user(), name = nameAt(i);
  if (i + 2 < t.size() && t[i + 1].op(".") && isName(i + 2)) {
    owner = name;
    name = nameAt(i + 2);
    i += 2;
  }
  ++i;
  if (i >= t.size() || !t[i].word(grant ? "TO" : "FROM")) throw errorAt(905, offsetAt(i));
  ++i;
  std::vector<std::pair<std::string, size_t>> grantees;
  for (;;) {
    if (!isName(i)) throw errorAt(987, offsetAt(i));
    grantees.emplace_back(nameAt(i), t[i].offset);
    if (++i < t.size() && t[i].op(",")) {
      ++i;
      continue;
    }
    break;
  }
  bool grantable = false;
  if (grant && i < t.size() && t[i].word("WITH")) {
    if (i + 2 >= t.size() || !t[i + 1].word("GRANT") || !t[i + 2].word("OPTION"))
      throw errorAt(905, offsetAt(i + 1));
    grantable = true;
    i += 3;
  }
  if (i < t.size()) throw errorAt(933, t[i].offset);
  if (mode & OCI_DESCRIBE_ONLY) return OCI_SUCCESS;

  SessionDb& db = *session.db;
  // Like DDL, it commits what the session had pending.
  db.commit();
  const auto object = db.findObject(objectTableName(owner, name));
  if (!object || object->kind == "index" || !db.knowsObject(object->table))
    throw errorAt(942, t[objectAt].offset);
  if (all) {
    privileges.clear();
    for (std::string_view p : kPrivileges)
      if (object->kind == "table" || p == "SELECT" || p == "INSERT" || p == "UPDATE" || p == "DELETE")
        privileges.emplace_back(p);
  }
  for (const auto& [grantee, at] : grantees) {
    if (grantee == db.user()) throw errorAt(1749, at);
    if (grantee != "PUBLIC" && !db.userOrRoleExists(grantee)) throw errorAt(1917, at, grantee);
  }
  const bool owns = objectOwner(object->table) == db.user();
  const std::vector<SessionDb::Grant> existing = db.grantsOn(object->table);
  db.begin();
  try {
    for (const auto& entry : grantees) {
      const std::string& grantee = entry.first;
      bool any = false;
      for (const std::string& privilege : privileges) {
        if (grant) {
          // The owner grants, and whoever was granted the privilege with the grant option.
          const auto passesOn = [&](const SessionDb::Grant& g) {
            return g.grantee == db.user() && g.privilege == privilege && g.grantable;
          };
          if (!owns && std::none_of(existing.begin(), existing.end(), passesOn)) {
            if (all) continue;  // ALL passes on whatever of it may be passed on
            throw errorAt(1031, 0);
          }
          db.addGrant(object->table, {grantee, privilege, db.user(), grantable});
        } else {
          const bool granted = std::any_of(existing.begin(), existing.end(), [&](const SessionDb::Grant& g) {
            return g.grantee == grantee && g.privilege == privilege && g.grantor == db.user();
          });
          if (!granted) {
            if (all) continue;  // ALL revokes whatever of it was granted
            throw errorAt(1927, 0);
          }
          db.removeGrant(object->table, grantee, privilege, db.user());
        }
        any = true;
      }
      if (!any) throw errorAt(grant ? 1031 : 1927, 0);
    }
  } catch (...) {
    db.rollback();
    throw;
  }
  db.commit();
  session.server->instance->recordStatement(session.logon, stmt.text, commandCode(stmt));
  stmt.executed = true;
  return OCI_SUCCESS;
}

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
      Cursor cursor;
      cursor.get() = prepareSql(db.db(), tr, t);
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

size_t utf8Chars(std::string_view s) {
  size_t n = 0;
  for (unsigned char c : s)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

// The byte position of character index ch (from 0) of UTF-8 text; past the end
// gives the size.
size_t utf8Byte(std::string_view s, size_t ch) {
  size_t n = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) {
      if (n == ch) return i;
      ++n;
    }
  }
  return s.size();
}

std::string bfilePath(Session& session, const LobLocator& lob) {
  const auto dir = session.server->instance->directoryPath(lob.directory);
  if (!dir) throw OraError(22285);
  // A file name never leaves its directory.
  if (lob.fileName.empty() || lob.fileName.find('/') != std::string::npos || lob.fileName == ".." ||
      lob.fileName == ".")
    throw OraError(22288, "No such file or directory");
  return *dir + "/" + lob.fileName;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw OraError(22288, "No such file or directory");
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

void storeLob(Session& session, LobLocator& lob) {
  SessionDb& db = *session.db;
  db.begin();
  std::string sql = "UPDATE main.\"";
  for (char c : lob.table) sql += c == '"' ? std::string("\"\"") : std::string(1, c);
  sql += "\" SET \"";
  for (char c : lob.column) sql += c == '"' ? std::string("\"\"") : std::string(1, c);
  sql += "\" = ? WHERE rowid = ?";
  Cursor cursor;
  if (sqlite3_prepare_v2(db.db(), sql.c_str(), -1, &cursor.get(), nullptr) != SQLITE_OK)
    throw OraError(kOraInternal, std::string("sqlite: ") + sqlite3_errmsg(db.db()));
  bindValue(cursor.get(), 1, lob.lobType == SQLT_BLOB ? Value::blob(lob.data) : Value::text(lob.data));
  sqlite3_bind_int64(cursor.get(), 2, lob.rowid);
  if (sqlite3_step(cursor.get()) != SQLITE_DONE) {
    const int primary = sqlite3_extended_errcode(db.db()) & 0xff;
    if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED) throw OraError(54);
    throw OraError(kOraInternal, std::string("sqlite: ") + sqlite3_errmsg(db.db()));
  }
}

void requireInitialized(const LobLocator& lob) {
  if (!lob.initialized) throw OraError(22275);
}

void requireWritable(const LobLocator& lob) {
  requireInitialized(lob);
  if (lob.lobType == SQLT_BFILEE || lob.lobType == SQLT_CFILEE) throw OraError(kOraUnimplemented);
  if (!lob.writable) throw OraError(22920);
}

}  // namespace

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

sword fetchRows(Stmt& stmt, ub4 nrows, ErrorRecord& record) {
  if (!stmt.prepared) throw OraError(kOraStmtNotPrepared);
  if (!stmt.executed) throw OraError(24338);
  if (stmt.statementType != OCI_STMT_SELECT) throw OraError(1002);
  if (!stmt.db || stmt.db->closed()) throw OraError(kOraNotLoggedOn);
  if (nrows == 0) {
    // Fetching no rows cancels the cursor.
    stmt.closeCursor();
    stmt.exhausted = true;
    return OCI_SUCCESS;
  }
  return fetchInto(stmt, nrows, record);
}

ub4 lobLength(Session& session, LobLocator& lob) {
  requireInitialized(lob);
  if (lob.lobType == SQLT_BFILEE || lob.lobType == SQLT_CFILEE) {
    struct stat st {};
    if (stat(bfilePath(session, lob).c_str(), &st) != 0 || !S_ISREG(st.st_mode))
      throw OraError(22288, "No such file or directory");
    return static_cast<ub4>(st.st_size);
  }
  return static_cast<ub4>(lob.lobType == SQLT_CLOB ? utf8Chars(lob.data) : lob.data.size());
}

sword lobRead(Session& session, LobLocator& lob, ub4* amount, ub4 offset, void* buffer, ub4 bufferLength) {
  requireInitialized(lob);
  if (!amount) throw OraError(kOraBadArgument, "4");
  if (offset == 0) throw OraError(kOraBadArgument, "5");
  if (!buffer && bufferLength > 0) throw OraError(kOraBadArgument, "6");
  const bool file = lob.lobType == SQLT_BFILEE || lob.lobType == SQLT_CFILEE;
  const std::string fileData = file ? readFile(bfilePath(session, lob)) : std::string();
  const std::string& data = file ? fileData : lob.data;
  const bool chars = lob.lobType == SQLT_CLOB;
  const size_t length = chars ? utf8Chars(data) : data.size();
  if (offset - 1 >= length) {
    *amount = 0;
    return OCI_NO_DATA;
  }
  const size_t want = *amount ? std::min<size_t>(*amount, length - (offset - 1)) : length - (offset - 1);
  if (chars) {
    // The characters asked for, in the client's set; no more than the buffer
    // holds, and only whole characters.
    const Charset cs = lob.env->charset;
    const size_t from = utf8Byte(data, offset - 1);
    const std::string text = toClient(cs, std::string_view(data).substr(from, utf8Byte(data, offset - 1 + want) - from));
    const size_t n = clientPrefix(cs, text, bufferLength);
    if (n) std::memcpy(buffer, text.data(), n);
    *amount = static_cast<ub4>(clientChars(cs, std::string_view(text).substr(0, n)));
    return OCI_SUCCESS;
  }
  const size_t from = offset - 1;
  const size_t to = from + std::min<size_t>(want, bufferLength);
  if (to > from) std::memcpy(buffer, data.data() + from, to - from);
  *amount = static_cast<ub4>(to - from);
  return OCI_SUCCESS;
}

// The row's lock ends with its transaction; by then the row may be gone and
// its rowid given to another.
void requireSameTransaction(const Session& session, const LobLocator& lob) {
  if (!session.db || !session.db->inTransaction() || session.db->transactionId() != lob.transaction)
    throw OraError(22990);
}

void lobWrite(Session& session, LobLocator& lob, ub4* amount, ub4 offset, const void* buffer, ub4 bufferLength) {
  requireWritable(lob);
  requireSameTransaction(session, lob);
  if (!amount) throw OraError(kOraBadArgument, "4");
  if (offset == 0) throw OraError(kOraBadArgument, "5");
  if (!buffer && bufferLength > 0) throw OraError(kOraBadArgument, "6");
  const bool chars = lob.lobType == SQLT_CLOB;
  std::string_view in(static_cast<const char*>(buffer), bufferLength);
  std::string text;  // a CLOB's characters as the database holds them
  if (chars) {
    const Charset cs = lob.env->charset;
    if (*amount) in = in.substr(0, clientCharBytes(cs, in, *amount));
    text = toDatabase(cs, in);
    in = text;
  } else if (*amount) {
    in = in.substr(0, std::min<size_t>(*amount, in.size()));
  }
  const size_t length = chars ? utf8Chars(lob.data) : lob.data.size();
  // Where the write ends (both parts below 2^32, so the sum cannot overflow).
  // A LOB grows no further than kMaxLobLength, checked before any gap is filled.
  const size_t end = static_cast<size_t>(offset) - 1 + (chars ? utf8Chars(in) : in.size());
  if (end > length && end > kMaxLobLength) throw OraError(kOraLobTooLarge);
  // Writing past the end fills the gap with blanks (CLOB) or zero bytes (BLOB).
  if (offset - 1 > length) lob.data.append(offset - 1 - length, chars ? ' ' : '\0');
  const size_t from = chars ? utf8Byte(lob.data, offset - 1) : offset - 1;
  const size_t replaced = chars ? utf8Byte(std::string_view(lob.data).substr(from), utf8Chars(in)) : in.size();
  lob.data.replace(from, std::min(replaced, lob.data.size() - from), in);
  storeLob(session, lob);
  *amount = static_cast<ub4>(chars ? utf8Chars(in) : in.size());
}

void lobTrim(Session& session, LobLocator& lob, ub4 newLength) {
  requireWritable(lob);
  requireSameTransaction(session, lob);
  const bool chars = lob.lobType == SQLT_CLOB;
  const size_t length = chars ? utf8Chars(lob.data) : lob.data.size();
  if (newLength > length) throw OraError(22926);
  lob.data.resize(chars ? utf8Byte(lob.data, newLength) : newLength);
  storeLob(session, lob);
}

}  // namespace ocisim
