// Oracle's +, -, || and / as calls of the dialect's functions, in Oracle's
// precedence.

#include "ocisim/sql_operators.h"

#include "ocisim/sql_names.h"

#include <string_view>

namespace ocisim {

namespace {

constexpr size_t kNone = static_cast<size_t>(-1);
// Parentheses deeper than this are left as they stand (SQLite refuses far
// shallower expressions), so that no text can exhaust the stack.
constexpr int kDeepest = 200;

// Words after which an expression begins, and which no expression ends with.
bool keyword(const Token& t) {
  return anyWord(t, {"SELECT", "WHERE", "AND",    "OR",     "NOT",     "WHEN",   "THEN",      "ELSE",   "ON",
                     "BY",     "HAVING", "SET",   "VALUES", "RETURN",  "IS",     "IN",        "LIKE",   "BETWEEN",
                     "ESCAPE", "DISTINCT", "ALL", "UNIQUE", "CASE",    "PRIOR",  "DEFAULT",   "FROM",   "INTO",
                     "AS",     "UNION",  "MINUS", "INTERSECT", "EXCEPT", "GROUP", "ORDER",    "START",  "CONNECT",
                     "WITH",   "EXISTS", "ANY",   "SOME",   "BEGIN",   "DECLARE", "IF",       "ELSIF",  "LOOP",
                     "WHILE",  "FOR",    "USING", "JOIN",   "LIMIT",   "OFFSET", "ASC",       "DESC"});
}

bool endsExpression(const Token& t) {
  switch (t.kind) {
    case TokKind::Number:
    case TokKind::String:
    case TokKind::Bind:
    case TokKind::QuotedIdent: return true;
    case TokKind::Word: return !keyword(t) || t.word("END");
    default: return t.op(")");
  }
}

class Rewriter {
 public:
  Rewriter(const std::vector<Token>& toks, TokenEdits edits)
      : toks_(toks), edits_(edits), scanned_(toks.size(), false), wrapped_(toks.size(), false) {}

  // Rewrites every expression that begins in [b, e).
  void scan(size_t b, size_t e) {
    for (size_t i = b; i < e;) {
      if (scanned_[i]) {
        ++i;
        continue;
      }
      if (i == b || !endsExpression(toks_[i - 1])) {
        const size_t j = chain(i, e);
        if (j != kNone && j > i) {
          i = j;
          continue;
        }
      }
      ++i;
    }
  }

 private:
  void scanInside(size_t b, size_t e) {
    ++depth_;
    scan(b, e);
    --depth_;
    for (size_t k = b; k < e; ++k) scanned_[k] = true;
  }

  // The end of the CASE expression that begins at i: after its END.
  size_t caseEnd(size_t i, size_t e) const {
    int depth = 0, parens = 0;
    for (size_t k = i; k < e; ++k) {
      if (toks_[k].op("(")) ++parens;
      else if (toks_[k].op(")")) --parens;
      else if (parens == 0 && toks_[k].word("CASE")) ++depth;
      else if (parens == 0 && toks_[k].word("END") && --depth == 0) return k + 1;
    }
    return kNone;
  }

  // A primary with its signs: a literal, a bind, a name (a.b.c) or a call, a
  // parenthesised expression or query, or a CASE expression.
  size_t primary(size_t i, size_t e) {
    if (depth_ >= kDeepest) return kNone;
    size_t k = i;
    while (k < e && (toks_[k].op("+") || toks_[k].op("-"))) ++k;
    if (k >= e) return kNone;
    const Token& t = toks_[k];
    if (t.op("(")) {
      const size_t close = afterParens(toks_, k, e);
      if (close > e || !toks_[close - 1].op(")")) return kNone;
      scanInside(k + 1, close - 1);
      return close;
    }
    if (t.word("CASE")) {
      const size_t after = caseEnd(k, e);
      if (after == kNone) return kNone;
      scanInside(k + 1, after - 1);
      return after;
    }
    if (t.kind == TokKind::Number || t.kind == TokKind::String || t.kind == TokKind::Bind) return k + 1;
    if (!isName(t) || (t.kind == TokKind::Word && keyword(t))) return kNone;
    ++k;
    while (k + 1 < e && toks_[k].op(".") && isName(toks_[k + 1])) k += 2;
    if (k < e && toks_[k].op("(")) {
      const size_t close = afterParens(toks_, k, e);
      if (close > e || !toks_[close - 1].op(")")) return kNone;
      scanInside(k + 1, close - 1);
      k = close;
    }
    return k;
  }

  // Primaries joined by * and /; the right operand of each / checked for zero.
  size_t term(size_t i, size_t e) {
    size_t p = primary(i, e);
    while (p != kNone && p < e && (toks_[p].op("*") || toks_[p].op("/"))) {
      const size_t q = primary(p + 1, e);
      if (q == kNone) return kNone;
      if (toks_[p].op("/") && !wrapped_[p + 1]) {
        wrapped_[p + 1] = true;
        edits_.open[p + 1] += "ocisim_divisor(";
        edits_.close[q - 1] += ")";
      }
      p = q;
    }
    return p;
  }

  // Terms joined by +, - and ||, from left to right.
  size_t chain(size_t i, size_t e) {
    const size_t first = term(i, e);
    if (first == kNone) return kNone;
    std::vector<size_t> ops, ends;
    size_t p = first;
    while (p < e && (toks_[p].op("+") || toks_[p].op("-") || toks_[p].op("||"))) {
      const size_t q = term(p + 1, e);
      if (q == kNone) break;
      ops.push_back(p);
      ends.push_back(q);
      p = q;
    }
    if (ops.empty()) return p;
    std::string prefix;
    for (size_t k = ops.size(); k-- > 0;)
      prefix += toks_[ops[k]].op("+") ? "ocisim_plus(" : toks_[ops[k]].op("-") ? "ocisim_minus(" : "ocisim_concat(";
    edits_.open[i].insert(0, prefix);
    for (size_t k = 0; k < ops.size(); ++k) {
      edits_.replace[ops[k]] = ",";
      edits_.replaced[ops[k]] = true;
      edits_.close[ends[k] - 1] += ")";
    }
    for (size_t k = i; k < p; ++k) scanned_[k] = true;
    return p;
  }

  const std::vector<Token>& toks_;
  TokenEdits edits_;
  std::vector<bool> scanned_, wrapped_;
  int depth_ = 0;
};

}  // namespace

void rewriteOperators(const std::vector<Token>& toks, size_t begin, size_t end, TokenEdits edits) {
  Rewriter(toks, edits).scan(begin, end);
}

}  // namespace ocisim
