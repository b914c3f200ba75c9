// Tokens of Oracle SQL and PL/SQL text, each with its byte offset in the text
// the client was given, so that errors found later can point back into it.
#pragma once

#include "ocisim/ascii.h"

#include <string>
#include <string_view>
#include <vector>

namespace ocisim {

enum class TokKind {
  Word,         // unquoted identifier or keyword; may hold '$' and '#'
  QuotedIdent,  // "Name" (text includes the quotes)
  String,       // 'text' (text includes the quotes; '' inside stands for ')
  Number,
  Bind,         // :name or :1 (text includes the colon)
  Op,           // operator or punctuation, e.g. "(", "||", ":="
};

struct Token {
  TokKind kind;
  std::string_view text;
  size_t offset;  // byte offset in the original text

  bool is(TokKind k, std::string_view t) const;  // kind matches and text equals t, ignoring case
  bool word(std::string_view keyword) const { return is(TokKind::Word, keyword); }
  bool op(std::string_view o) const { return kind == TokKind::Op && text == o; }
};

// Splits a statement into tokens, dropping blanks and comments. Raises OraError
// for an unterminated string (ORA-01756), quoted name (ORA-01740) or comment
// (ORA-01742), and for a character that cannot start a token (ORA-00911), each
// with the offset of where the fault starts.
std::vector<Token> tokenize(std::string_view sql);

// The value of a string literal token (quotes removed, '' folded).
std::string stringValue(const Token& t);

}  // namespace ocisim
