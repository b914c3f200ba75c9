// The SQLite helpers of the instance's own file: a failure as ORA-00600, a
// prepared query with positional binding, a write transaction, and reading
// and setting up a file that another process may hold busy.
#pragma once

#include "ocisim/instance.h"
#include "ocisim/ora_errors.h"

#include <sqlite3.h>

#include <string>
#include <string_view>

namespace ocisim {

// ORA-00600 for a failure of SQLite, with SQLite's primary result code.
struct SqliteFailure : OraError {
  explicit SqliteFailure(sqlite3* db)
      : OraError(kOraInternal, std::string("sqlite: ") + sqlite3_errmsg(db)),
        result(sqlite3_extended_errcode(db) & 0xff) {}
  int result;
};

[[noreturn]] void sqlFailure(sqlite3* db);

void exec(sqlite3* db, const char* sql);

// A prepared statement with positional binding.
class Query {
 public:
  Query(sqlite3* db, const char* sql) : db_(db) {
    if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) sqlFailure(db);
  }
  ~Query() { sqlite3_finalize(stmt_); }
  Query(const Query&) = delete;
  Query& operator=(const Query&) = delete;

  Query& bind(int i, long long v) {
    sqlite3_bind_int64(stmt_, i, v);
    return *this;
  }
  Query& bind(int i, std::string_view v) {
    sqlite3_bind_text(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    return *this;
  }
  // True while a row is available.
  bool step() {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    sqlFailure(db_);
  }
  void run() {
    while (step()) {
    }
    sqlite3_reset(stmt_);
  }
  // Makes the statement ready to run again with new values.
  void reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }
  long long integer(int col) { return sqlite3_column_int64(stmt_, col); }
  bool isNull(int col) { return sqlite3_column_type(stmt_, col) == SQLITE_NULL; }
  std::string text(int col) {
    const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, col));
    return t ? std::string(t, static_cast<size_t>(sqlite3_column_bytes(stmt_, col))) : std::string();
  }

 private:
  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
};

// A write transaction taken at once (BEGIN IMMEDIATE), so that two processes
// never both decide the same thing from the same reading; rolled back unless
// committed.
class WriteTransaction {
 public:
  explicit WriteTransaction(sqlite3* db) : db_(db) { exec(db, "BEGIN IMMEDIATE"); }
  ~WriteTransaction() {
    if (!done_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  WriteTransaction(const WriteTransaction&) = delete;
  WriteTransaction& operator=(const WriteTransaction&) = delete;
  void commit() {
    exec(db_, "COMMIT");
    done_ = true;
  }

 private:
  sqlite3* db_;
  bool done_ = false;
};

// Runs a query that answers one integer, trying again while another process
// holds the file busy (as it does while it sets a new file up). Raises
// ORA-00600 with SQLite's message for anything else, a file that is not a
// database among them.
long long readInteger(sqlite3* db, const char* sql);

}  // namespace ocisim
