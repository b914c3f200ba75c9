// The steps that the kinds of statements share: preparing translated SQL,
// checking what a statement may use, binding its inputs, stepping its cursor,
// describing its select list and fetching its rows. Internal to the stand-in.
#pragma once

#include "ocisim/handles.h"
#include "ocisim/session_db.h"

#include <sqlite3.h>

#include <string>
#include <vector>

namespace ocisim {

constexpr const char* kHiddenRowid = "OCISIM$ROWID";

// Oracle's command codes, as v$session.COMMAND and v$sql.COMMAND_TYPE give them.
int commandCode(const Stmt& stmt);

// An Oracle error for an SQLite failure while preparing or running a statement.
OraError sqliteError(sqlite3* db, const Translation& tr, const std::vector<Token>& toks);

// Rejects references to catalog views the session may not read.
void checkCatalogAccess(const Stmt& stmt, const SessionDb& db);

// Checks that the session may use every object a statement names as the
// statement uses it, with the server's answers: ORA-00942 for an object the
// user does not know of, ORA-01031 for one it knows but may not use so. What
// passes is the statement's to use (SessionDb::setStatementObjects).
void checkObjects(const Translation& tr, SessionDb& db);

// The statement a WITH clause leads to must be a query: a change would not run
// in the session's transaction. Raises ORA-00928 where the change begins.
void requireQuery(const Stmt& stmt, sqlite3_stmt* cursor);

// Oracle refuses a statement that ends in a semicolon (PL/SQL aside).
void checkNoSemicolon(const Stmt& stmt);

Bind* findBind(Stmt& stmt, const std::string& name);

// The value of a placeholder for iteration i.
Value inputValue(Stmt& stmt, const std::string& name, ub4 i, size_t offset);

size_t placeholderOffset(const Stmt& stmt, const std::string& name);

void bindInputs(Stmt& stmt, sqlite3_stmt* cursor, const Translation& tr, ub4 iteration);

// Prepares translated SQL; raises the Oracle error for what SQLite refuses,
// and ORA-00900 for text with nothing but comments.
SqliteStatement prepareSql(sqlite3* db, const Translation& tr, const std::vector<Token>& toks);

// Adds the rowid of the row as a hidden last column of a FOR UPDATE query.
Translation withHiddenRowid(Translation tr);

std::vector<ColumnDesc> describe(Stmt& stmt, sqlite3* db, sqlite3_stmt* cursor, const Translation& tr,
                                 bool haveRow);

// Steps a cursor: true on a row, false at the end; raises on failure.
bool step(Stmt& stmt, sqlite3_stmt* cursor, const Translation* tr);

sword fetchInto(Stmt& stmt, ub4 nrows, ErrorRecord& record);

}  // namespace ocisim
