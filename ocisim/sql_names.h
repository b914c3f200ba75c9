// Names in a statement's tokens: as Oracle and SQLite read them, and the
// places where a statement names tables, views and indexes. Internal to the
// translator.
#pragma once

#include "ocisim/sql_lexer.h"
#include "ocisim/sql_translate.h"

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace ocisim {

bool hasSpecialChar(std::string_view w);

std::string quoted(std::string_view name);

bool isName(const Token& t);

// A name as Oracle reads it: upper-cased unless quoted.
std::string oracleName(const Token& t);

// A name as SQLite is to read it: words holding $ or # quoted.
std::string sqliteName(const Token& t);

bool anyWord(const Token& t, std::initializer_list<std::string_view> words);

// The index after the parenthesis that closes the one at i (end when none does).
size_t afterParens(const std::vector<Token>& toks, size_t i, size_t end);

// The names of the common table expressions a statement declares, wherever.
std::vector<std::string> commonTableNames(const std::vector<Token>& toks, size_t begin, size_t end);

// A place in a statement where a table, view or index is named.
struct NameSite {
  size_t first, last;  // the name's tokens: owner . name, or name
  ObjectUse use;
  const char* kind = "";     // "table", "view" or "index" where the statement says
  bool aliasWanted = false;  // a FROM item, or the target of UPDATE or DELETE
  long alias = -1;           // token of the alias the statement gives it
  bool aliasNeedsAs = false; // UPDATE t x: SQLite wants UPDATE t AS x
};

// Finds the places where statement tokens [begin, end) name schema objects.
std::vector<NameSite> nameSites(const std::vector<Token>& toks, size_t begin, size_t end);

}  // namespace ocisim
