// Finding the names in a statement: the common table expressions it defines
// and every place where it names a table, view or index, with how it uses it.
#include "ocisim/sql_names.h"

namespace ocisim {

bool hasSpecialChar(std::string_view w) {
  return w.find('$') != std::string_view::npos || w.find('#') != std::string_view::npos;
}

std::string quoted(std::string_view name) {
  std::string out = "\"";
  for (char c : name) {
    out += c;
    if (c == '"') out += '"';
  }
  return out + "\"";
}

bool isName(const Token& t) { return t.kind == TokKind::Word || t.kind == TokKind::QuotedIdent; }

// A name as Oracle reads it: upper-cased unless quoted.
std::string oracleName(const Token& t) {
  return t.kind == TokKind::QuotedIdent ? std::string(t.text.substr(1, t.text.size() - 2)) : upperAscii(t.text);
}

// A name as SQLite is to read it: words holding $ or # quoted.
std::string sqliteName(const Token& t) {
  return t.kind == TokKind::Word && hasSpecialChar(t.text) ? quoted(t.text) : std::string(t.text);
}

bool anyWord(const Token& t, std::initializer_list<std::string_view> words) {
  for (std::string_view w : words)
    if (t.word(w)) return true;
  return false;
}

namespace {

bool joinWord(const Token& t) {
  return anyWord(t, {"JOIN", "INNER", "LEFT", "RIGHT", "FULL", "CROSS", "NATURAL", "OUTER"});
}

// Words that end the table list of a FROM clause.
bool endsFromClause(const Token& t) {
  return anyWord(t, {"WHERE", "GROUP", "ORDER", "HAVING", "CONNECT", "START", "UNION", "INTERSECT", "MINUS",
                     "EXCEPT", "FOR", "LIMIT", "WINDOW", "RETURNING"});
}

// Words that may follow a table's name but are no alias of it.
bool followsTable(const Token& t) {
  return t.kind == TokKind::Word &&
         (endsFromClause(t) || joinWord(t) ||
          anyWord(t, {"ON", "USING", "SET", "VALUES", "SELECT", "INDEXED", "NOT", "WITH", "AS", "CASCADE"}));
}

}  // namespace

// The index after the parenthesis that closes the one at i.
size_t afterParens(const std::vector<Token>& toks, size_t i, size_t end) {
  int depth = 0;
  for (; i < end; ++i) {
    if (toks[i].op("(")) ++depth;
    else if (toks[i].op(")") && --depth <= 0) return i + 1;
  }
  return end;
}

// The names of the common table expressions a statement declares, wherever.
std::vector<std::string> commonTableNames(const std::vector<Token>& toks, size_t begin, size_t end) {
  std::vector<std::string> names;
  for (size_t i = begin; i < end; ++i) {
    if (!toks[i].word("WITH") || (i > begin && toks[i - 1].word("START"))) continue;
    size_t j = i + 1;
    if (j < end && toks[j].word("RECURSIVE")) ++j;
    while (j < end && isName(toks[j])) {
      names.push_back(upperAscii(oracleName(toks[j])));
      ++j;
      if (j < end && toks[j].op("(")) j = afterParens(toks, j, end);
      if (j >= end || !toks[j].word("AS")) break;
      ++j;
      if (j < end && toks[j].word("NOT")) ++j;
      if (j < end && toks[j].word("MATERIALIZED")) ++j;
      if (j >= end || !toks[j].op("(")) break;
      j = afterParens(toks, j, end);
      if (j >= end || !toks[j].op(",")) break;
      ++j;
    }
  }
  return names;
}

// Finds the places where statement tokens [begin, end) name schema objects.
std::vector<NameSite> nameSites(const std::vector<Token>& toks, size_t begin, size_t end) {
  enum class Expect { Nothing, FromItem, AfterItem, Condition, Target, AfterTarget, IndexOn };
  struct Level {
    Expect expect = Expect::Nothing;
    ObjectUse use = ObjectUse::Select;
    const char* kind = "";   // of the target
    bool indexName = false;  // the target is the name of a new index
    long site = -1;          // the last name taken at this level
  };
  std::vector<NameSite> sites;
  std::vector<Level> levels(1);
  for (size_t i = begin; i < end; ++i) {
    const Token& t = toks[i];
    Level& level = levels.back();
    if (t.op("(")) {
      // A subquery in a FROM list may be followed by its alias like a table;
      // a join condition goes on after its parentheses.
      if (level.expect == Expect::FromItem) level.expect = Expect::AfterItem;
      else if (level.expect != Expect::Condition) level.expect = Expect::Nothing;
      level.site = -1;
      levels.emplace_back();
      continue;
    }
    if (t.op(")")) {
      if (levels.size() > 1) levels.pop_back();
      continue;
    }
    const auto takeName = [&](ObjectUse use) {
      size_t last = i;
      if (i + 2 < end && toks[i + 1].op(".") && isName(toks[i + 2])) last = i + 2;
      sites.push_back({i, last, use});
      i = last;
      level.site = static_cast<long>(sites.size() - 1);
      return &sites.back();
    };
    const auto takeAlias = [&](size_t at, bool needsAs) {
      if (level.site < 0) return;
      sites[static_cast<size_t>(level.site)].alias = static_cast<long>(at);
      sites[static_cast<size_t>(level.site)].aliasNeedsAs = needsAs;
    };
    switch (level.expect) {
      case Expect::FromItem:
        if (isName(t) && !followsTable(t)) {
          takeName(level.use)->aliasWanted = true;
          level.expect = Expect::AfterItem;
          continue;
        }
        level.expect = Expect::Nothing;
        break;
      case Expect::AfterItem:
        if (t.op(",")) {
          level.expect = Expect::FromItem;
          continue;
        }
        if (joinWord(t)) {
          if (t.word("JOIN")) level.expect = Expect::FromItem;
          continue;
        }
        if (t.word("ON") || t.word("USING")) {
          level.expect = Expect::Condition;
          continue;
        }
        if (t.word("AS") && i + 1 < end && isName(toks[i + 1])) {
          takeAlias(++i, false);
          continue;
        }
        if (isName(t) && !followsTable(t)) {
          takeAlias(i, false);
          continue;
        }
        level.expect = Expect::Nothing;
        break;
      case Expect::Condition:
        if (t.op(",")) {
          level.expect = Expect::FromItem;
          continue;
        }
        if (t.word("JOIN")) {
          level.expect = Expect::FromItem;
          continue;
        }
        if (!endsFromClause(t)) continue;
        level.expect = Expect::Nothing;
        break;
      case Expect::Target:
        if (isName(t)) {
          NameSite* site = takeName(level.use);
          site->kind = level.kind;
          level.kind = "";
          if (level.use == ObjectUse::Update || level.use == ObjectUse::Delete) {
            site->aliasWanted = true;
            level.expect = Expect::AfterTarget;
          } else {
            level.expect = level.indexName ? Expect::IndexOn : Expect::Nothing;
          }
          level.indexName = false;
          continue;
        }
        level.expect = Expect::Nothing;
        break;
      case Expect::AfterTarget:
        level.expect = Expect::Nothing;
        if (isName(t) && !followsTable(t)) {
          takeAlias(i, true);
          continue;
        }
        break;
      case Expect::IndexOn:
        level.expect = Expect::Nothing;
        if (t.word("ON")) {
          level.expect = Expect::Target;
          level.use = ObjectUse::Index;
          level.kind = "table";
          continue;
        }
        break;
      case Expect::Nothing:
        break;
    }
    const Token* before = i > begin ? &toks[i - 1] : nullptr;
    const auto target = [&](ObjectUse use, const char* kind = "", bool indexName = false) {
      level.expect = Expect::Target;
      level.use = use;
      level.kind = kind;
      level.indexName = indexName;
    };
    if (t.word("FROM")) {
      if (before && before->word("DELETE")) {
        target(ObjectUse::Delete);
      } else {
        level.expect = Expect::FromItem;
        level.use = ObjectUse::Select;
      }
    } else if (t.word("JOIN")) {
      level.expect = Expect::FromItem;
      level.use = ObjectUse::Select;
    } else if (t.word("INTO") && before && before->word("INSERT")) {
      target(ObjectUse::Insert);
    } else if (t.word("UPDATE") && !(before && before->word("FOR"))) {
      target(ObjectUse::Update);
    } else if (t.word("DELETE") && i + 1 < end && isName(toks[i + 1]) && !toks[i + 1].word("FROM")) {
      target(ObjectUse::Delete);  // Oracle's DELETE t, without FROM
    } else if (t.word("REFERENCES")) {
      target(ObjectUse::References);
    } else if (anyWord(t, {"TABLE", "VIEW", "INDEX"}) &&
               (!before || anyWord(*before, {"CREATE", "DROP", "TRUNCATE", "REPLACE", "UNIQUE", "BITMAP",
                                             "TEMPORARY", "FORCE", "NOFORCE"}))) {
      const ObjectUse use = before && before->word("DROP")       ? ObjectUse::Drop
                            : before && before->word("TRUNCATE") ? ObjectUse::Truncate
                                                                 : ObjectUse::Create;
      target(use, t.word("TABLE") ? "table" : t.word("VIEW") ? "view" : "index",
             use == ObjectUse::Create && t.word("INDEX"));
    }
  }
  return sites;
}

}  // namespace ocisim
