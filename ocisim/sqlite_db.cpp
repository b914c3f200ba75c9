// SQLite failures as Oracle errors, opening a connection, and reading and
// setting up a file that another process is setting up at the same moment.
#include "ocisim/sqlite_db.h"

namespace ocisim {

[[noreturn]] void sqlFailure(sqlite3* db) { throw SqliteFailure(db); }

[[noreturn]] void busyOrFailure(sqlite3* db) {
  if (isBusy(sqlite3_extended_errcode(db))) throw OraError(54);
  sqlFailure(db);
}

int SqliteConnection::open(const std::string& path, int flags, std::string& reason) {
  close();
  const int rc = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
  if (rc != SQLITE_OK) {
    reason = db_ ? sqlite3_errmsg(db_) : "out of memory";
    close();
  }
  return rc;
}

void exec(sqlite3* db, const char* sql) {
  if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) sqlFailure(db);
}

long long readInteger(sqlite3* db, const char* sql) {
  long long value = 0;
  const int rc = retryWhileBusy([&] {
    SqliteStatement stmt;
    int result = stmt.prepare(db, sql);
    if (result == SQLITE_OK) {
      result = sqlite3_step(stmt.get());
      if (result == SQLITE_ROW) value = sqlite3_column_int64(stmt.get(), 0);
    }
    return result;
  });
  if (rc == SQLITE_ROW) return value;
  sqlFailure(db);
}

int setUpStatement(sqlite3* db, const char* sql, int waitMs) {
  return retryWhileBusy([&] { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr); }, waitMs);
}

}  // namespace ocisim
