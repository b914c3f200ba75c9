// Turning the Oracle SQL a client sends into SQLite SQL of the same meaning:
// names, select-list aliases, declared widths, placeholders and the places of
// the original text.
#include "ocisim/sql_translate.h"

#include "ocisim/sql_names.h"
#include "ocisim/sql_operators.h"

#include <algorithm>
#include <cstdlib>

namespace ocisim {

namespace {

// The name Oracle gives a select-list item: its alias, the column it names, or
// its text upper-cased without blanks.
struct Item {
  size_t begin, end;  // token range
  long alias = -1;    // token index of the alias
};

bool endsExpression(const Token& t) {
  return t.kind == TokKind::Word || t.kind == TokKind::QuotedIdent || t.kind == TokKind::String ||
         t.kind == TokKind::Number || t.kind == TokKind::Bind || t.op(")") || t.op("*");
}

bool reservedAfterExpression(const Token& t) {
  for (std::string_view k : {"END", "NULL", "AND", "OR", "NOT", "IS", "IN", "LIKE", "BETWEEN", "PRIOR"})
    if (t.word(k)) return true;
  return false;
}

// The width a text or RAW column is declared with; -1 for other types.
long declaredWidth(const std::vector<Token>& toks, size_t typeAt, size_t end, bool& raw) {
  const Token& type = toks[typeAt];
  raw = type.word("RAW");
  long width = anyWord(type, {"VARCHAR2", "VARCHAR", "NVARCHAR2"}) ? 4000
               : anyWord(type, {"CHAR", "NCHAR"})                  ? 1
               : raw                                                ? 2000
                                                                    : -1;
  if (width < 0) return -1;
  if (typeAt + 2 < end && toks[typeAt + 1].op("(") && toks[typeAt + 2].kind == TokKind::Number)
    width = std::strtol(std::string(toks[typeAt + 2].text).c_str(), nullptr, 10);
  return width;
}

// Adds a check of its declared width to each text and RAW column of the column
// list of a CREATE TABLE that opens at token open. Widths count bytes, as the
// server's do; a RAW value written as hex text counts half its characters.
void checkWidths(const std::vector<Token>& toks, size_t open, size_t end, std::vector<std::string>& after) {
  const auto column = [&](size_t b, size_t e) {
    if (e < b + 2 || !isName(toks[b]) || toks[b + 1].kind != TokKind::Word ||
        anyWord(toks[b], {"CONSTRAINT", "PRIMARY", "UNIQUE", "CHECK", "FOREIGN"}))
      return;
    bool raw = false;
    const long width = declaredWidth(toks, b + 1, e, raw);
    if (width < 0) return;
    const std::string name = sqliteName(toks[b]);
    const std::string n = std::to_string(width);
    std::string check = "length(CAST(" + name + " AS BLOB)) <= ";
    check += raw ? "CASE WHEN CAST(" + name + " AS BLOB) = " + name + " THEN " + n + " ELSE 2 * " + n + " END"
                 : n;
    after[e - 1] += std::string(" CONSTRAINT ") + quoted(kWidthConstraint) + " CHECK (" + check + ")";
  };
  int depth = 0;
  size_t itemBegin = open + 1;
  for (size_t i = open + 1; i < end; ++i) {
    if (toks[i].op("(")) ++depth;
    if (toks[i].op(")") && depth-- == 0) {
      column(itemBegin, i);
      return;
    }
    if (depth == 0 && toks[i].op(",")) {
      column(itemBegin, i);
      itemBegin = i + 1;
    }
  }
}

}  // namespace

const char* const kWidthConstraint = "ocisim$width";

std::string objectTableName(std::string_view owner, std::string_view name) {
  std::string out(owner);
  out += '.';
  out += name;
  return out;
}

std::string_view objectOwner(std::string_view tableName) {
  const auto dot = tableName.find('.');
  return dot == std::string_view::npos ? std::string_view() : tableName.substr(0, dot);
}

std::string_view objectName(std::string_view tableName) {
  const auto dot = tableName.find('.');
  return dot == std::string_view::npos ? tableName : tableName.substr(dot + 1);
}

ub2 statementType(const std::vector<Token>& toks) {
  size_t i = 0;
  while (i < toks.size() && toks[i].op("(")) ++i;
  if (i >= toks.size() || toks[i].kind != TokKind::Word) return 0;
  const Token& t = toks[i];
  if (t.word("SELECT") || t.word("WITH")) return OCI_STMT_SELECT;
  if (t.word("UPDATE")) return OCI_STMT_UPDATE;
  if (t.word("DELETE")) return OCI_STMT_DELETE;
  if (t.word("INSERT")) return OCI_STMT_INSERT;
  if (t.word("CREATE")) return OCI_STMT_CREATE;
  if (t.word("DROP")) return OCI_STMT_DROP;
  if (t.word("ALTER")) return OCI_STMT_ALTER;
  if (t.word("BEGIN")) return OCI_STMT_BEGIN;
  if (t.word("DECLARE")) return OCI_STMT_DECLARE;
  return 0;
}

std::vector<std::string> placeholderNames(const std::vector<Token>& toks) {
  std::vector<std::string> names;
  for (const Token& t : toks) {
    if (t.kind != TokKind::Bind) continue;
    std::string name = upperAscii(t.text.substr(1));
    if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(std::move(name));
  }
  return names;
}

bool isCatalogView(std::string_view upperName) {
  return upperName == "V$SESSION" || upperName == "V$SQL" || upperName == "V$SQLTEXT" ||
         upperName == "V$VERSION" || upperName == "V$PROCESS" || upperName == "V$INSTANCE" ||
         upperName == "V$PARAMETER" || upperName == "V$LOCK" || upperName == "DBA_USERS";
}

bool isObjectListView(std::string_view upperName) {
  return upperName == "ALL_OBJECTS" || upperName == "USER_OBJECTS" || upperName == "ALL_TABLES" ||
         upperName == "USER_TABLES";
}

size_t Translation::originalOffset(long sqliteOffset) const {
  if (map.empty()) return 0;
  if (sqliteOffset < 0) return map.front().second;
  const auto it = std::upper_bound(map.begin(), map.end(), static_cast<size_t>(sqliteOffset),
                                   [](size_t v, const std::pair<size_t, size_t>& e) { return v < e.first; });
  if (it == map.begin()) return map.front().second;
  if (it == map.end() && static_cast<size_t>(sqliteOffset) >= sql.size()) return originalLength;
  return std::prev(it)->second;
}

Translation translate(const std::vector<Token>& toks, size_t begin, size_t end,
                      std::string_view prefix, size_t originalLength, const NameScope* scope) {
  Translation out;
  out.originalLength = originalLength;
  const bool isSelect = begin < end && (toks[begin].word("SELECT") || toks[begin].word("WITH"));
  const bool isCreate = begin < end && toks[begin].word("CREATE");

  // Per-token replacement texts and texts appended after a token.
  std::vector<std::string> replace(toks.size());
  std::vector<bool> replaced(toks.size(), false), dropped(toks.size(), false);
  std::vector<std::string> after(toks.size());

  // The top-level select list of a SELECT, and a FOR UPDATE clause to remove.
  if (isSelect) {
    int depth = 0;
    size_t listBegin = end, listEnd = end;
    for (size_t i = begin; i < end; ++i) {
      const Token& t = toks[i];
      if (t.op("(")) ++depth;
      if (t.op(")")) --depth;
      if (depth != 0) continue;
      if (listBegin == end && t.word("SELECT")) {
        listBegin = i + 1;
        while (listBegin < end && (toks[listBegin].word("DISTINCT") || toks[listBegin].word("ALL") ||
                                   toks[listBegin].word("UNIQUE")))
          ++listBegin;
        if (listBegin < end) out.selectListStart = static_cast<long>(toks[listBegin].offset);
      } else if (listBegin != end && listEnd == end && t.word("FROM")) {
        listEnd = i;
        out.fromOffset = static_cast<long>(t.offset);
      } else if (t.word("FOR") && i + 1 < end && toks[i + 1].word("UPDATE")) {
        out.forUpdate = true;
        for (size_t k = i; k < end; ++k) dropped[k] = true;
        if (listEnd == end) listEnd = i;
        break;
      }
    }
    // Items of the list, split at top-level commas.
    std::vector<Item> items;
    depth = 0;
    size_t itemBegin = listBegin;
    for (size_t i = listBegin; i <= listEnd && listBegin < listEnd; ++i) {
      if (i < listEnd && toks[i].op("(")) ++depth;
      if (i < listEnd && toks[i].op(")")) --depth;
      if (i == listEnd || (depth == 0 && toks[i].op(","))) {
        if (i > itemBegin) items.push_back({itemBegin, i});
        itemBegin = i + 1;
      }
    }
    for (Item& item : items) {
      out.items.push_back({item.begin, item.end, toks[item.end - 1].op("*")});
      const size_t n = item.end - item.begin;
      const Token& last = toks[item.end - 1];
      if (n >= 2 && (last.kind == TokKind::Word || last.kind == TokKind::QuotedIdent) &&
          !reservedAfterExpression(last)) {
        const Token& before = toks[item.end - 2];
        if (before.word("AS") || (endsExpression(before) && !before.op("*") && !before.word("AS") &&
                                  !toks[item.end - 2].op("."))) {
          // "a b": b is an alias unless the item is a qualified name like a.b.
          item.alias = static_cast<long>(item.end - 1);
        }
      }
      if (item.alias >= 0) {
        const Token& a = toks[static_cast<size_t>(item.alias)];
        if (a.kind == TokKind::Word) {
          replace[static_cast<size_t>(item.alias)] = quoted(upperAscii(a.text));
          replaced[static_cast<size_t>(item.alias)] = true;
        } else {
          out.quotedAliases.emplace_back(a.text.substr(1, a.text.size() - 2));
        }
        continue;
      }
      if (last.op("*")) continue;  // * or t.*
      // A plain (possibly qualified) column name keeps its last part.
      bool plainName = n % 2 == 1;
      for (size_t k = item.begin; k < item.end && plainName; ++k) {
        const bool even = (k - item.begin) % 2 == 0;
        plainName = even ? (toks[k].kind == TokKind::Word || toks[k].kind == TokKind::QuotedIdent)
                         : toks[k].op(".");
      }
      std::string name;
      if (plainName) {
        name = last.kind == TokKind::QuotedIdent
                   ? std::string(last.text.substr(1, last.text.size() - 2))
                   : upperAscii(last.text);
        if (last.kind == TokKind::QuotedIdent) out.quotedAliases.push_back(name);
      } else {
        for (size_t k = item.begin; k < item.end; ++k)
          name += toks[k].kind == TokKind::QuotedIdent ? std::string(toks[k].text) : upperAscii(toks[k].text);
      }
      after[item.end - 1] += " AS " + quoted(name);
    }
  }

  // Names of tables, views and indexes become the tables that hold them.
  const std::vector<NameSite> sites = nameSites(toks, begin, end);
  for (const NameSite& site : sites) {
    if (site.use == ObjectUse::Create && site.last + 1 < end && toks[site.last + 1].op("(") &&
        site.first >= begin + 1 && toks[site.first - 1].word("TABLE"))
      checkWidths(toks, site.last + 1, end, after);
  }
  if (scope) {
    const std::vector<std::string> common = commonTableNames(toks, begin, end);
    for (const NameSite& site : sites) {
      const bool qualified = site.last > site.first;
      const std::string name = oracleName(toks[site.last]);
      if (!qualified && std::find(common.begin(), common.end(), upperAscii(name)) != common.end()) continue;
      const std::string owner = qualified ? oracleName(toks[site.first]) : scope->user;
      // A new object always goes into a schema, whatever its name.
      const bool view = site.use != ObjectUse::Create && scope->sessionView && scope->sessionView(name);
      if (view && !qualified && !(scope->ownObject && scope->ownObject(name))) continue;
      if (view && qualified && owner == "SYS") {
        // SYS.DUAL and the like: the session's own view of it.
        dropped[site.first] = dropped[site.first + 1] = true;
        continue;
      }
      out.objects.push_back({toks[site.first].offset, owner, name, site.use, site.kind});
      std::string text;
      // Oracle's DELETE t: SQLite has only DELETE FROM t.
      if (site.use == ObjectUse::Delete && site.first > begin && !toks[site.first - 1].word("FROM"))
        text = "FROM ";
      text += quoted(objectTableName(owner, name));
      // The table keeps the name the statement's columns call it by.
      if (site.aliasWanted && site.alias < 0) text += " AS " + quoted(name);
      replace[site.first] = std::move(text);
      replaced[site.first] = true;
      for (size_t k = site.first + 1; k <= site.last; ++k) dropped[k] = true;
      if (site.alias >= 0 && site.aliasNeedsAs) {
        const auto a = static_cast<size_t>(site.alias);
        replace[a] = "AS " + sqliteName(toks[a]);
        replaced[a] = true;
      }
      if (site.use == ObjectUse::Truncate && site.first >= begin + 2 && toks[site.first - 2].word("TRUNCATE")) {
        replace[site.first - 2] = "DELETE";
        replace[site.first - 1] = "FROM";
        replaced[site.first - 2] = replaced[site.first - 1] = true;
      }
    }
    // owner.table.column: the table is known by its own name in the statement.
    for (size_t i = begin; i + 4 < end; ++i) {
      if (replaced[i] || dropped[i] || (i > begin && toks[i - 1].op("."))) continue;
      if (isName(toks[i]) && toks[i + 1].op(".") && isName(toks[i + 2]) && toks[i + 3].op(".") &&
          isName(toks[i + 4]) && !replaced[i + 2] && !dropped[i + 2]) {
        dropped[i] = dropped[i + 1] = true;
        i += 4;
      }
    }
  }

  // Oracle's operators where SQLite's differ.
  std::vector<std::string> open(toks.size()), close(toks.size());
  rewriteOperators(toks, begin, end, TokenEdits{open, close, replace, replaced});
  rewriteRownum(toks, begin, end, RownumEdits{open, after, replace, replaced, dropped});

  // Token-level rewrites.
  for (size_t i = begin; i < end; ++i) {
    if (replaced[i] || dropped[i]) continue;
    const Token& t = toks[i];
    const bool afterDot = i > begin && toks[i - 1].op(".");
    const bool beforeParen = i + 1 < end && toks[i + 1].op("(");
    std::string r;
    if (t.kind == TokKind::Word) {
      if (hasSpecialChar(t.text)) {
        r = quoted(t.text);
      } else if (t.word("SYSDATE") && !afterDot && !beforeParen) {
        r = "ocisim_sysdate()";
      } else if (t.word("USER") && !afterDot && !beforeParen) {
        r = "ocisim_user()";
      } else if (t.word("MINUS")) {
        r = "EXCEPT";
      } else if (isCreate && t.word("LONG") && !(i + 1 < end && toks[i + 1].word("RAW"))) {
        // A LONG column keeps its text as text (VARCHAR gives SQLite text affinity).
        r = "LONG VARCHAR";
      } else {
        continue;
      }
    } else if (t.kind == TokKind::String && t.text == "''") {
      r = "NULL";  // Oracle's empty string is NULL
    } else if (t.op("^=")) {
      r = "<>";  // Oracle's third spelling of "not equal"; SQLite knows no "^"
    } else if (t.op("/")) {
      // Oracle divides exactly; SQLite would divide integers as integers.
      r = "* 1.0 /";
    } else if (t.kind == TokKind::Bind) {
      const std::string name = upperAscii(t.text.substr(1));
      auto it = std::find(out.params.begin(), out.params.end(), name);
      if (it == out.params.end()) it = out.params.insert(out.params.end(), name);
      r = "?" + std::to_string(it - out.params.begin() + 1);
    } else {
      continue;
    }
    replace[i] = std::move(r);
    replaced[i] = true;
  }

  out.sql.assign(prefix);
  const Token* previous = nullptr;  // the last token written
  std::string pendingOpen;          // opened before a dropped token: goes before the next one
  for (size_t i = begin; i < end; ++i) {
    if (dropped[i]) {
      pendingOpen += open[i];
      if (!close[i].empty()) out.sql += close[i];
      continue;
    }
    const bool glue = toks[i].op(".") || (previous && previous->op("."));
    previous = &toks[i];
    if (!out.sql.empty() && !glue) out.sql += ' ';
    out.map.emplace_back(out.sql.size(), toks[i].offset);
    out.sql += pendingOpen;
    out.sql += open[i];
    pendingOpen.clear();
    if (replaced[i]) out.sql += replace[i];
    else out.sql += toks[i].text;
    out.sql += close[i];
    out.sql += after[i];
  }
  return out;
}

}  // namespace ocisim
