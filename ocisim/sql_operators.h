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

}  // namespace ocisim
