// Describing a query's select list: each column's name, Oracle type, size
// and nullability, from SQLite's declared types or the expression's text and
// first value.

#include "ocisim/statement_steps.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <optional>

namespace ocisim {

namespace {

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
  bool arithmetic = false;
  if (item)
    for (size_t k = item->begin; k < item->end; ++k)
      if (stmt.tokens[k].op("-") || stmt.tokens[k].op("+")) arithmetic = true;
  if (item && !arithmetic && itemStartsWith(stmt, *item, {"SYSDATE", "TO_DATE", "ADD_MONTHS", "LAST_DAY"}))
    return dateColumn();
  // A DATE moved by days is a DATE (two DATEs subtracted give a number).
  if (arithmetic && first && first->kind == Value::Text && first->s.size() == 19 && first->s[4] == '-' &&
      first->s[10] == ' ' && parseDate(first->s))
    return dateColumn();
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

}  // namespace

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

}  // namespace ocisim
