// SQLite failures of the instance's file, and the busy retries of reading and
// setting up a file that another process is setting up at the same moment.

#include "ocisim/sqlite_db.h"

#include <unistd.h>

#include <chrono>

namespace ocisim {

[[noreturn]] void sqlFailure(sqlite3* db) { throw SqliteFailure(db); }

void exec(sqlite3* db, const char* sql) {
  if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) sqlFailure(db);
}

// Runs a query that answers one integer, trying again while another process
// holds the file busy (as it does while it sets a new file up). Raises
// ORA-00600 with SQLite's message for anything else, a file that is not a
// database among them.
long long readInteger(sqlite3* db, const char* sql) {
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr);
    long long value = 0;
    if (rc == SQLITE_OK) {
      rc = sqlite3_step(stmt);
      if (rc == SQLITE_ROW) value = sqlite3_column_int64(stmt, 0);
    }
    sqlite3_finalize(stmt);
    if (rc == SQLITE_ROW) return value;
    const int primary = sqlite3_extended_errcode(db) & 0xff;
    if ((primary != SQLITE_BUSY && primary != SQLITE_LOCKED) ||
        std::chrono::steady_clock::now() - start >= std::chrono::seconds(5))
      sqlFailure(db);
    usleep(2000);
  }
}

int setUpStatement(sqlite3* db, const char* sql, int waitMs) {
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    const int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    const int primary = rc & 0xff;
    if (primary != SQLITE_BUSY && primary != SQLITE_LOCKED) return rc;
    if (std::chrono::steady_clock::now() - start >= std::chrono::milliseconds(waitMs)) return rc;
    usleep(2000);
  }
}

}  // namespace ocisim
