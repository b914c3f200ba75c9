// Turns the Oracle SQL a client sends into SQLite SQL of the same meaning, and
// maps places in the SQLite text back to byte offsets in the original.
#pragma once

#include "oralib/o_oci.h"
#include "ocisim/sql_lexer.h"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ocisim {

// OCI_ATTR_STMT_TYPE of a statement, from its first keyword; 0 when unknown.
ub2 statementType(const std::vector<Token>& toks);

// The names of the bind placeholders of a statement (upper-cased, without the
// colon), each once, in order of first appearance.
std::vector<std::string> placeholderNames(const std::vector<Token>& toks);

// Catalog views readable only with SELECT_CATALOG_ROLE or DBA.
bool isCatalogView(std::string_view upperName);

struct Translation {
  std::string sql;
  // (offset in sql, offset in the original text), one entry per emitted token.
  std::vector<std::pair<size_t, size_t>> map;
  // Placeholder name for each SQLite parameter ?1, ?2, ...
  std::vector<std::string> params;
  struct SelectItem {
    size_t begin, end;  // token range in the statement
    bool star;          // * or t.*
  };
  std::vector<SelectItem> items;           // the top-level select list of a query
  std::vector<std::string> quotedAliases;  // column names that keep their letter case
  bool forUpdate = false;        // SELECT ... FOR UPDATE (the clause is removed)
  long selectListStart = -1;     // original offsets of the top-level select list
  long fromOffset = -1;          // original offset of its FROM, -1 without one
  size_t originalLength = 0;

  // The original offset of the token at (or before) an offset of sql.
  size_t originalOffset(long sqliteOffset) const;
};

// Translates tokens [begin, end) of a statement. prefix is put before the text
// (e.g. "SELECT " to evaluate an expression). A SELECT gets its select list
// named as Oracle names columns: aliases and plain column names upper-cased,
// expressions named by their text.
Translation translate(const std::vector<Token>& toks, size_t begin, size_t end,
                      std::string_view prefix = {}, size_t originalLength = 0);

}  // namespace ocisim
