// The stand-in's one way to hold SQLite: a connection and a prepared statement
// that close and finalize themselves, the one retry of what another process
// holds busy, and SQLite failures as Oracle errors.
#pragma once

#include "ocisim/ora_errors.h"

#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
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

// Whether a result code (primary or extended) says that another connection
// holds what was asked for.
constexpr bool isBusy(int rc) { return (rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED; }

// The failure of the last call on a connection as a session sees it:
// ORA-00054 while another connection holds the file, otherwise ORA-00600 with
// SQLite's message.
[[noreturn]] void busyOrFailure(sqlite3* db);

// Runs attempt(), which answers an SQLite result code, again while the answer
// is busy, until waitMs have passed; answers the last result. For the busy
// answers SQLite gives without waiting for its busy timeout: another process
// setting up the same file at the same moment (switching a new file to WAL,
// rebuilding a WAL index).
template <class Attempt>
int retryWhileBusy(Attempt&& attempt, int waitMs = 5000) {
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    const int rc = attempt();
    if (!isBusy(rc) || std::chrono::steady_clock::now() - start >= std::chrono::milliseconds(waitMs)) return rc;
    usleep(2000);
  }
}

// A connection, closed when it goes. sqlite3_close_v2 lets statements that
// are still open finish first.
class SqliteConnection {
 public:
  SqliteConnection() = default;
  explicit SqliteConnection(sqlite3* db) : db_(db) {}
  ~SqliteConnection() { sqlite3_close_v2(db_); }
  SqliteConnection(SqliteConnection&& other) noexcept : db_(other.release()) {}
  SqliteConnection& operator=(SqliteConnection&& other) noexcept {
    if (this != &other) {
      close();
      db_ = other.release();
    }
    return *this;
  }
  SqliteConnection(const SqliteConnection&) = delete;
  SqliteConnection& operator=(const SqliteConnection&) = delete;

  // Opens a file with SQLite's open flags. On failure answers SQLite's result
  // code with its reason and holds no connection.
  int open(const std::string& path, int flags, std::string& reason);
  sqlite3* get() const { return db_; }
  explicit operator bool() const { return db_ != nullptr; }
  void close() noexcept {
    sqlite3_close_v2(db_);
    db_ = nullptr;
  }
  // Lets the connection go without closing it (one inherited through fork()
  // belongs to the parent).
  sqlite3* release() noexcept {
    sqlite3* db = db_;
    db_ = nullptr;
    return db;
  }

 private:
  sqlite3* db_ = nullptr;
};

// A prepared statement, finalized when it goes or another takes its place,
// with positional binding and reading for the client's own SQL.
class SqliteStatement {
 public:
  SqliteStatement() = default;
  // Prepares sql; raises SqliteFailure (ORA-00600) when SQLite refuses it.
  SqliteStatement(sqlite3* db, const char* sql) {
    if (prepare(db, sql) != SQLITE_OK) sqlFailure(db);
  }
  ~SqliteStatement() { sqlite3_finalize(stmt_); }
  SqliteStatement(SqliteStatement&& other) noexcept : stmt_(other.release()) {}
  SqliteStatement& operator=(SqliteStatement&& other) noexcept {
    if (this != &other) adopt(other.release());
    return *this;
  }
  SqliteStatement(const SqliteStatement&) = delete;
  SqliteStatement& operator=(const SqliteStatement&) = delete;

  // Prepares sql (bytes long, or up to its end when -1) in place of the
  // statement held; answers SQLite's result code. Text with nothing but
  // comments prepares to no statement.
  int prepare(sqlite3* db, const char* sql, int bytes = -1, unsigned flags = 0) {
    adopt(nullptr);
    return sqlite3_prepare_v3(db, sql, bytes, flags, &stmt_, nullptr);
  }
  sqlite3_stmt* get() const { return stmt_; }
  explicit operator bool() const { return stmt_ != nullptr; }
  // Finalizes the statement held and holds stmt instead.
  void adopt(sqlite3_stmt* stmt) noexcept {
    sqlite3_finalize(stmt_);
    stmt_ = stmt;
  }
  // Lets the statement go without finalizing it.
  sqlite3_stmt* release() noexcept {
    sqlite3_stmt* stmt = stmt_;
    stmt_ = nullptr;
    return stmt;
  }

  SqliteStatement& bind(int i, long long v) {
    sqlite3_bind_int64(stmt_, i, v);
    return *this;
  }
  SqliteStatement& bind(int i, std::string_view v) {
    sqlite3_bind_text(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    return *this;
  }
  // True while a row is available; raises SqliteFailure on a failure.
  bool step() {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    sqlFailure(sqlite3_db_handle(stmt_));
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
  sqlite3_stmt* stmt_ = nullptr;
};

// Runs SQL of the client's own; raises SqliteFailure on a failure.
void exec(sqlite3* db, const char* sql);

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

// Runs a statement of a connection's set-up (its journal mode, an attach),
// trying again while another process setting up the same file holds it busy
// (see retryWhileBusy), until `waitMs` have passed. Answers SQLite's result
// code.
int setUpStatement(sqlite3* db, const char* sql, int waitMs = 5000);

}  // namespace ocisim
