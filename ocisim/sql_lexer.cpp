// Splitting Oracle SQL and PL/SQL text into tokens, and reading a string
// literal's value.
#include "ocisim/sql_lexer.h"

#include "ocisim/ora_errors.h"

#include <cctype>
#include <cstring>

namespace ocisim {

namespace {

bool wordStart(unsigned char c) { return std::isalpha(c) || c == '_' || c >= 0x80; }
bool wordChar(unsigned char c) {
  return std::isalnum(c) || c == '_' || c == '$' || c == '#' || c >= 0x80;
}

}  // namespace

bool Token::is(TokKind k, std::string_view t) const {
  if (kind != k || text.size() != t.size()) return false;
  for (size_t i = 0; i < t.size(); ++i)
    if (upperAscii(text[i]) != upperAscii(t[i]))
      return false;
  return true;
}

std::string stringValue(const Token& t) {
  std::string out;
  for (size_t i = 1; i + 1 < t.text.size(); ++i) {
    out += t.text[i];
    if (t.text[i] == '\'') ++i;  // '' stands for one quote
  }
  return out;
}

std::vector<Token> tokenize(std::string_view sql) {
  std::vector<Token> toks;
  size_t i = 0;
  const size_t n = sql.size();
  const auto at = [&](size_t k) -> unsigned char { return k < n ? static_cast<unsigned char>(sql[k]) : 0; };
  while (i < n) {
    const unsigned char c = at(i);
    if (std::isspace(c)) {
      ++i;
      continue;
    }
    if (c == '-' && at(i + 1) == '-') {
      while (i < n && sql[i] != '\n') ++i;
      continue;
    }
    if (c == '/' && at(i + 1) == '*') {
      const size_t end = sql.find("*/", i + 2);
      if (end == std::string_view::npos) throw errorAt(1742, i);
      i = end + 2;
      continue;
    }
    const size_t start = i;
    TokKind kind;
    if (wordStart(c)) {
      while (i < n && wordChar(at(i))) ++i;
      kind = TokKind::Word;
    } else if (c == '"') {
      const size_t end = sql.find('"', i + 1);
      if (end == std::string_view::npos || end == i + 1) throw errorAt(1740, i);
      i = end + 1;
      kind = TokKind::QuotedIdent;
    } else if (c == '\'') {
      ++i;
      for (;;) {
        if (i >= n) throw errorAt(1756, start);
        if (sql[i] == '\'') {
          if (at(i + 1) == '\'') {
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        ++i;
      }
      kind = TokKind::String;
    } else if (std::isdigit(c) || (c == '.' && std::isdigit(at(i + 1)))) {
      while (std::isdigit(at(i))) ++i;
      if (at(i) == '.' && at(i + 1) != '.') {
        ++i;
        while (std::isdigit(at(i))) ++i;
      }
      if ((at(i) == 'e' || at(i) == 'E') &&
          (std::isdigit(at(i + 1)) || ((at(i + 1) == '+' || at(i + 1) == '-') && std::isdigit(at(i + 2))))) {
        i += 2;
        while (std::isdigit(at(i))) ++i;
      }
      kind = TokKind::Number;
    } else if (c == ':' && (wordStart(at(i + 1)) || std::isdigit(at(i + 1)))) {
      ++i;
      while (i < n && wordChar(at(i))) ++i;
      kind = TokKind::Bind;
    } else {
      static constexpr std::string_view kTwo[] = {"||", "<>", "!=", "^=", "<=", ">=", ":=", "=>", ".."};
      kind = TokKind::Op;
      i += 1;
      for (std::string_view two : kTwo)
        if (sql.substr(start, 2) == two) i = start + 2;
      // A NUL byte is no operator (strchr would find the terminator): SQLite would
      // stop reading the text there and run only what came before it.
      if (i == start + 1 && (c == '\0' || !std::strchr("()+-*/,.;=<>|@%!^:[]", static_cast<char>(c))))
        throw errorAt(911, start);
    }
    toks.push_back({kind, sql.substr(start, i - start), start});
  }
  return toks;
}

}  // namespace ocisim
