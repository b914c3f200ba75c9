// The connection through which one user session runs its statements: the
// instance's user data file, with the instance's own file attached read-only
// behind views that show what the session may see (dual, session_roles, the
// v$ views), and the session's transaction.
#pragma once

#include "ocisim/instance.h"

#include <sys/types.h>

#include <memory>
#include <cstdint>
#include <string>

struct sqlite3;

namespace ocisim {

// The user data file of a SID, next to its instance file.
std::string userDataFilePath(const std::string& sid);

class SessionDb {
 public:
  // Opens the connection for a session that has just logged on.
  SessionDb(const std::string& sid, const Logon& logon, Instance::Rights rights);
  ~SessionDb();
  SessionDb(const SessionDb&) = delete;
  SessionDb& operator=(const SessionDb&) = delete;

  sqlite3* db() { return db_; }
  const Logon& logon() const { return logon_; }
  bool hasRole(const std::string& role) const { return rights_.roles.count(role) > 0; }
  bool hasPrivilege(const std::string& privilege) const {
    return rights_.privileges.count(privilege) > 0;
  }
  bool mayReadCatalog() const { return hasRole("SELECT_CATALOG_ROLE") || hasRole("DBA"); }
  bool isDba() const { return hasRole("DBA"); }

  // Ends the session: an open transaction is rolled back. Statements still
  // holding the connection see it closed.
  void close() noexcept;
  bool closed() const { return closed_; }

  // Transactions: DML opens one, which lasts until commit or rollback.
  bool inTransaction() const { return inTransaction_; }
  // Tells transactions apart: a number no other transaction of the process had.
  std::uint64_t transactionId() const { return transactionId_; }
  void begin();
  void commit();
  void rollback();

  // Runs SQL of the client library itself (no results); raises ORA-00600 on failure.
  void exec(const char* sql);
  // A connection inherited through fork() belongs to the parent: never touched.
  bool ownedHere() const;

 private:
  struct AuthState {
    bool setupDone = false;
    bool readsCatalog = false;  // the session may read the v$ views
  };
  static int authorize(void* ctx, int action, const char* a3, const char* a4, const char* dbName,
                       const char* view);

  sqlite3* db_ = nullptr;
  AuthState auth_;
  Logon logon_;
  Instance::Rights rights_;
  pid_t owner_ = 0;
  bool closed_ = false;
  bool inTransaction_ = false;
  std::uint64_t transactionId_ = 0;
};

// Registers the Oracle functions (nvl, decode, to_char, to_date, to_number,
// userenv, ...) on a connection; session may be null for connections without one.
void registerOracleFunctions(sqlite3* db, SessionDb* session);

}  // namespace ocisim
