// Oracle's operators where SQLite's mean something else: + and - (a DATE and
// a number of days, two DATEs), || (NULL is the empty string) and / (division
// by zero is an error). The translation turns them into calls of the
// dialect's functions (ocisim_plus, ocisim_minus, ocisim_concat,
// ocisim_divisor), keeping Oracle's precedence: + - || bind alike from left
// to right, below * and /. Internal to the translator.
#pragma once

#include "ocisim/sql_lexer.h"

#include <string>
#include <vector>

namespace ocisim {

// Texts the translation puts around tokens: `open[i]` before token i, `close[i]`
// right after it, `replace[i]` (where `replaced[i]`) in its place.
struct TokenEdits {
  std::vector<std::string>& open;
  std::vector<std::string>& close;
  std::vector<std::string>& replace;
  std::vector<bool>& replaced;
};

// Rewrites the operators of tokens [begin, end). An expression it cannot
// follow is left as it stands.
void rewriteOperators(const std::vector<Token>& toks, size_t begin, size_t end, TokenEdits edits);

// What the ROWNUM rewrite changes besides: texts after tokens (after the
// select list's names) and tokens left out.
struct RownumEdits {
  std::vector<std::string>& open;
  std::vector<std::string>& after;
  std::vector<std::string>& replace;
  std::vector<bool>& replaced;
  std::vector<bool>& dropped;
};

// ROWNUM, Oracle's number of each row as a query block produces it (before
// its ORDER BY sorts them): in a select list it numbers the rows; a WHERE
// condition "ROWNUM < n" (<=, =, > and >= alike, either way round) joined by
// AND becomes a LIMIT on the block, with an ORDER BY sorting the limited
// rows. Anything else of ROWNUM raises ORA-03001 at it: the blocks that group
// or count their rows, ROWNUM beside OR or compared with other than a whole
// number.
void rewriteRownum(const std::vector<Token>& toks, size_t begin, size_t end, RownumEdits edits);

}  // namespace ocisim
