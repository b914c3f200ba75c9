// ROWNUM as the server numbers a query block's rows: a row number in the
// select list, a LIMIT for a condition on it.

#include "ocisim/sql_operators.h"

#include "ocisim/ora_errors.h"
#include "ocisim/sql_names.h"

#include <cstdlib>
#include <string_view>

namespace ocisim {

namespace {

// One query block: SELECT ... up to the end of its parenthesis, or of the
// statement. Places are token indexes; npos where a clause is missing.
constexpr size_t kNone = static_cast<size_t>(-1);

struct Block {
  size_t select = kNone, end = kNone;
  size_t from = kNone, where = kNone, group = kNone, having = kNone, order = kNone, other = kNone;
  bool compound = false, distinct = false, aggregate = false;
  // The end of the WHERE clause: the next clause, or the block's end.
  size_t whereEnd() const {
    size_t e = end;
    for (size_t c : {group, having, order, other})
      if (c != kNone && c > where && c < e) e = c;
    return e;
  }
};

Block blockAt(const std::vector<Token>& toks, size_t select, size_t end) {
  Block b;
  b.select = select;
  b.end = end;
  // A set operator right before the block makes it a branch of a compound query.
  if (select > 0 && anyWord(toks[select - 1], {"UNION", "ALL", "MINUS", "INTERSECT", "EXCEPT"})) b.compound = true;
  b.distinct = select + 1 < end && anyWord(toks[select + 1], {"DISTINCT", "UNIQUE"});
  int depth = 0;
  for (size_t i = select + 1; i < end; ++i) {
    const Token& t = toks[i];
    if (t.op("(")) {
      if (depth == 0 && b.from == kNone && i > 0 &&
          anyWord(toks[i - 1], {"COUNT", "SUM", "AVG", "MIN", "MAX", "STDDEV", "VARIANCE"}))
        b.aggregate = true;
      ++depth;
      continue;
    }
    if (t.op(")")) {
      if (depth == 0) {
        b.end = i;
        break;
      }
      --depth;
      continue;
    }
    if (depth != 0) continue;
    if (anyWord(t, {"UNION", "MINUS", "INTERSECT", "EXCEPT"})) {
      b.compound = true;
      b.end = i;
      break;
    }
    if (t.word("FROM") && b.from == kNone) b.from = i;
    else if (t.word("WHERE") && b.where == kNone) b.where = i;
    else if (t.word("GROUP") && b.group == kNone) b.group = i;
    else if (t.word("HAVING") && b.having == kNone) b.having = i;
    else if (t.word("ORDER") && b.order == kNone) b.order = i;
    else if (anyWord(t, {"CONNECT", "START", "FOR"}) && b.other == kNone) b.other = i;
  }
  return b;
}

// The depth of parentheses of each token from begin on.
std::vector<int> depths(const std::vector<Token>& toks, size_t begin, size_t end) {
  std::vector<int> d(toks.size(), 0);
  int depth = 0;
  for (size_t i = begin; i < end; ++i) {
    if (toks[i].op(")")) --depth;
    d[i] = depth;
    if (toks[i].op("(")) ++depth;
  }
  return d;
}

bool isRownum(const std::vector<Token>& toks, size_t i, size_t begin) {
  return toks[i].word("ROWNUM") && !(i > begin && toks[i - 1].op("."));
}

[[noreturn]] void unimplemented(const Token& t) { throw errorAt(kOraUnimplemented, t.offset); }

// How many rows a condition on ROWNUM lets through: ROWNUM counts the rows
// that passed so far, so "ROWNUM = 2" or "ROWNUM > 1" lets none through.
// -1 for all of them.
long long rowsPassing(std::string_view op, long long n, bool rownumLeft) {
  if (!rownumLeft) {  // n op ROWNUM: turn it round
    if (op == "<") op = ">";
    else if (op == ">") op = "<";
    else if (op == "<=") op = ">=";
    else if (op == ">=") op = "<=";
  }
  if (op == "<") return n <= 1 ? 0 : n - 1;
  if (op == "<=") return n < 1 ? 0 : n;
  if (op == "=") return n == 1 ? 1 : 0;
  if (op == ">") return n < 1 ? -1 : 0;
  if (op == ">=") return n <= 1 ? -1 : 0;
  return 0;  // <> 1 and the like: only the first row could differ, and it never does
}

}  // namespace

void rewriteRownum(const std::vector<Token>& toks, size_t begin, size_t end, RownumEdits edits) {
  bool any = false;
  for (size_t i = begin; i < end && !any; ++i) any = isRownum(toks, i, begin);
  if (!any) return;
  const std::vector<int> depth = depths(toks, begin, end);
  // Blocks nested deeper than SQLite takes are not looked into: the cost of
  // finding them grows with the depth.
  for (size_t i = begin; i < end; ++i)
    if (depth[i] > 200) return;
  for (size_t s = begin; s < end; ++s) {
    if (!toks[s].word("SELECT")) continue;
    const Block b = blockAt(toks, s, end);
    // ROWNUM of this block: at its depth, or in calls and parentheses of its
    // select list that hold no query of their own.
    long long limit = -1;
    bool limited = false;
    std::vector<size_t> dropped;
    for (size_t i = s + 1; i < b.end; ++i) {
      if (toks[i].word("SELECT") && i != s) {
        // A subquery: its own block; skip past it.
        const Block inner = blockAt(toks, i, b.end);
        i = inner.end;
        continue;
      }
      if (!isRownum(toks, i, begin)) continue;
      const bool inSelectList = b.from == kNone || i < b.from;
      if (inSelectList) {
        // Numbered as the rows come, before any ORDER BY sorts them.
        edits.replace[i] = "row_number() OVER ()";
        edits.replaced[i] = true;
        continue;
      }
      const bool inWhere = b.where != kNone && i > b.where && i < b.whereEnd();
      if (!inWhere || depth[i] != depth[s] || b.compound || b.other != kNone) unimplemented(toks[i]);
      // ROWNUM op n, or n op ROWNUM, as one condition of the WHERE clause's ANDs.
      const bool rownumLeft = i + 2 < b.whereEnd() && toks[i + 1].kind == TokKind::Op;
      const size_t opAt = rownumLeft ? i + 1 : i - 1;
      const size_t numberAt = rownumLeft ? i + 2 : i - 2;
      if (opAt <= b.where || numberAt <= b.where || numberAt >= b.whereEnd() ||
          toks[numberAt].kind != TokKind::Number || toks[numberAt].text.find_first_not_of("0123456789") != std::string_view::npos)
        unimplemented(toks[i]);
      const std::string_view op = toks[opAt].text;
      if (op != "<" && op != "<=" && op != "=" && op != ">" && op != ">=") unimplemented(toks[i]);
      const size_t first = std::min(i, numberAt), last = std::max(i, numberAt);
      const auto joins = [&](size_t k) { return k > b.where && k < b.whereEnd() && toks[k].word("AND"); };
      const bool alone = first == b.where + 1 && last + 1 == b.whereEnd();
      if (!alone && !joins(first - 1) && !(first == b.where + 1 && joins(last + 1))) unimplemented(toks[i]);
      for (size_t k = b.where + 1; k < b.whereEnd(); ++k)
        if (depth[k] == depth[s] && toks[k].word("OR")) unimplemented(toks[i]);
      const long long n = std::strtoll(std::string(toks[numberAt].text).c_str(), nullptr, 10);
      const long long passing = rowsPassing(op, n, rownumLeft);
      if (passing >= 0) limit = limited ? std::min(limit, passing) : passing;
      limited = limited || passing >= 0;
      for (size_t k = first; k <= last; ++k) dropped.push_back(k);
      if (alone) dropped.push_back(b.where);
      else if (joins(first - 1)) dropped.push_back(first - 1);
      else dropped.push_back(last + 1);
    }
    for (size_t k : dropped) edits.dropped[k] = true;
    if (!limited) continue;
    if (b.group != kNone || b.having != kNone || b.distinct || b.aggregate)
      unimplemented(toks[b.where]);  // the rows would be counted before they are grouped
    const std::string clause = " LIMIT " + std::to_string(limit);
    if (b.order != kNone) {
      // The first rows as they come, then sorted: ORDER BY sorts the limited
      // rows. Materialized, so that SQLite does not sort before it limits
      // (it may, for a subquery whose LIMIT has no ORDER BY of its own).
      edits.open[s] = "WITH \"ORA$ROWNUM\" AS MATERIALIZED (" + edits.open[s];
      edits.open[b.order] = clause + ") SELECT * FROM \"ORA$ROWNUM\" " + edits.open[b.order];
      continue;
    }
    size_t last = b.end - 1;
    while (last > s && edits.dropped[last]) --last;
    edits.after[last] += clause;
  }
}

}  // namespace ocisim
