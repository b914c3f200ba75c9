// Turns the Oracle SQL a client sends into SQLite SQL of the same meaning, and
// maps places in the SQLite text back to byte offsets in the original.
#pragma once

#include "o_oci.h"
#include "ocisim/sql_lexer.h"

#include <functional>
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

// The dictionary views of schema objects every user may read: they show what
// the user owns or may use.
bool isObjectListView(std::string_view upperName);

// How a statement uses an object of a schema that it names.
enum class ObjectUse { Select, Insert, Update, Delete, Create, Drop, Truncate, Index, References };

// The table (or view, or index) of the session's data file that holds a schema
// object: its owner's name and its own, joined by a dot. No name the SQL of a
// session can spell without a schema reaches any other table of the file.
std::string objectTableName(std::string_view owner, std::string_view name);
// The owner of such a table; empty for a table that holds no schema object.
std::string_view objectOwner(std::string_view tableName);
// The object's own name in such a table's name.
std::string_view objectName(std::string_view tableName);

// How names of a statement find the objects they mean.
struct NameScope {
  std::string user;  // the schema of unqualified names
  // True for the name of one of the session's own views (dual, session_roles,
  // the v$ views), which SYS owns.
  std::function<bool(const std::string& name)> sessionView;
  // True when the user's schema has an object of the name: an unqualified
  // name then means it, even where it is also a session view's.
  std::function<bool(const std::string& name)> ownObject;
};

// An object a statement names, as Oracle resolves the name.
struct ObjectRef {
  size_t offset;       // original offset of the name
  std::string owner;   // the schema: the qualifier, or the user's own
  std::string name;
  ObjectUse use;
  // What a DDL statement says it is: "table", "view" or "index"; empty for any.
  std::string kind;
  std::string tableName() const { return objectTableName(owner, name); }
};

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
  // The schema objects named (with a name scope only), each where it is named.
  std::vector<ObjectRef> objects;

  // The original offset of the token at (or before) an offset of sql.
  size_t originalOffset(long sqliteOffset) const;
};

// Translates tokens [begin, end) of a statement. prefix is put before the text
// (e.g. "SELECT " to evaluate an expression). A SELECT gets its select list
// named as Oracle names columns: aliases and plain column names upper-cased,
// expressions named by their text. With a name scope, every name of a table,
// view or index becomes the table that holds the object it means in its
// schema (an unqualified name the user's own), and TRUNCATE TABLE becomes the
// DELETE that empties it; the text columns of a CREATE TABLE refuse values
// wider than they are declared.
Translation translate(const std::vector<Token>& toks, size_t begin, size_t end,
                      std::string_view prefix = {}, size_t originalLength = 0,
                      const NameScope* scope = nullptr);

// The name SQLite gives the constraint that holds a text column to its width
// (its failure is the server's ORA-01401).
extern const char* const kWidthConstraint;

}  // namespace ocisim
