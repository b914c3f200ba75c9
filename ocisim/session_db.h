// The connection through which one user session runs its statements: the
// instance's user data file, where each schema object has a table of its own
// named after its owner, with the instance's own file attached read-only
// behind views that show what the session may see (dual, the v$ views), the
// session's roles, its transaction, and the authorizer that lets its SQL
// reach only what its user may.
#pragma once

#include "ocisim/instance.h"
#include "ocisim/sql_translate.h"

#include <sys/types.h>

#include <chrono>
#include <map>
#include <memory>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace ocisim {

// The user data file of a SID, next to its instance file.
std::string userDataFilePath(const std::string& sid);

// How long one step of a statement may run before it is cancelled with
// ORA-01013: no statement of the dialect needs longer, and a runaway one (an
// endless recursive query) must not hold the client.
constexpr std::chrono::milliseconds kStatementTimeLimit{30000};
// Sets the bound for the statements of this process (the test control);
// zero or less restores kStatementTimeLimit. Returns the bound before.
std::chrono::milliseconds setStatementTimeLimit(std::chrono::milliseconds limit);

class SessionDb {
 public:
  // Opens the connection for a session that has just logged on.
  SessionDb(const std::string& sid, const Logon& logon, Instance::Rights rights);
  ~SessionDb();
  SessionDb(const SessionDb&) = delete;
  SessionDb& operator=(const SessionDb&) = delete;

  sqlite3* db() { return db_.get(); }
  const Logon& logon() const { return logon_; }
  const std::string& user() const { return logon_.username; }
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

  // After a failed step: SQLite ends the whole transaction when it cancels a
  // change, and the session then has none open any more.
  void noteTransactionEnd();

  // --- Schema objects ---

  // An object of a schema, as the data file keeps it: the name of its table
  // (owner and name, see objectTableName) and its kind: "table", "view" or "index".
  struct Object {
    std::string table;
    std::string kind;
  };
  std::optional<Object> findObject(const std::string& tableName);
  // How the statements of this session resolve names.
  const NameScope& nameScope() const { return scope_; }
  // Fills the list of schema objects behind all_objects, user_objects,
  // all_tables and user_tables with those the user owns or may use; done
  // before each statement that names one of them.
  void refreshObjectList();
  // Reads the object privileges the user holds (granted to it, to PUBLIC or to
  // one of its roles); done before each statement, so that a grant or revoke of
  // another session counts from the next statement on.
  void refreshGrants();
  // Whether the user may use an object of the given kind so: as its owner,
  // through a grant or through an ANY privilege. Creating is not asked here.
  bool mayUse(std::string_view table, std::string_view kind, ObjectUse use) const;
  // Whether the user may create an object of the kind in a schema.
  bool mayCreate(std::string_view owner, std::string_view kind) const;
  // Whether the user knows of the object at all: owns it, holds a privilege on
  // it or may read any table. An object it does not know of "does not exist".
  bool knowsObject(std::string_view table) const;
  // The objects the current statement was checked to use as it does: SQLite's
  // own work on them for that statement (a DROP emptying its table, an UPDATE
  // reading the rows it changes) is allowed.
  void setStatementObjects(std::vector<std::pair<std::string, ObjectUse>> objects);

  // Whether the instance has a user or a role of this name.
  bool userOrRoleExists(const std::string& name);
  // The object privileges granted on an object, as GRANT and REVOKE keep them.
  struct Grant {
    std::string grantee, privilege, grantor;
    bool grantable = false;
  };
  std::vector<Grant> grantsOn(const std::string& table);
  // Records a grant (a repeated one changes nothing but may add the grant option).
  void addGrant(const std::string& table, const Grant& grant);
  // Removes a grant, and those its grantee made of the same privilege on
  // the strength of it, in turn.
  void removeGrant(const std::string& table, const std::string& grantee, const std::string& privilege,
                   const std::string& grantor);
  // Removes every grant on an object (it was dropped).
  void removeGrantsOn(const std::string& table);

  // Marks the SQL of the client library itself (reading grants, looking up
  // objects): the authorizer lets it through while it is prepared and run.
  class Internal {
   public:
    explicit Internal(SessionDb& db);
    ~Internal();
    Internal(const Internal&) = delete;
    Internal& operator=(const Internal&) = delete;

   private:
    SessionDb& db_;
    int saved_;
  };
  // Marks a DDL statement while it is prepared and run: SQLite then changes
  // its schema table for it.
  class Ddl {
   public:
    explicit Ddl(SessionDb& db);
    ~Ddl();
    Ddl(const Ddl&) = delete;
    Ddl& operator=(const Ddl&) = delete;

   private:
    SessionDb& db_;
    int saved_;
  };

  // Starts the clock of one step of a statement; a step still running when it
  // runs out is cancelled (SQLITE_INTERRUPT, the server's ORA-01013).
  void startClock();
  void stopClock() { clockRunning_ = false; }

 private:
  enum Mode { kSetUp, kUser, kDdl, kInternal };
  static int authorize(void* ctx, int action, const char* a3, const char* a4, const char* dbName,
                       const char* view);
  static int progress(void* ctx);
  int decide(int action, const char* a3, const char* a4, const char* dbName) const;
  bool mayRead(std::string_view table, std::string_view dbName) const;
  bool mayReadInstanceTable(std::string_view table) const;
  bool checkedFor(std::string_view table, std::initializer_list<ObjectUse> uses) const;
  bool hasAny(ObjectUse use, std::string_view kind) const;
  bool ownObjectNamed(const std::string& name);
  void upgradeDataFile();
  // Runs SQL of the client library with bound text values.
  void run(const char* sql, std::initializer_list<std::string_view> values);

  SqliteConnection db_;
  Mode mode_ = kSetUp;
  bool readsCatalog_ = false;  // the session may read the v$ views
  NameScope scope_;
  // Object privileges by the table of the object, letter case aside as SQLite's names.
  struct NoCase {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const;
  };
  std::map<std::string, std::set<std::string>, NoCase> grants_;
  std::vector<std::pair<std::string, ObjectUse>> statementObjects_;
  SqliteStatement grantsStmt_;
  SqliteStatement objectStmt_;
  std::chrono::steady_clock::time_point deadline_;
  bool clockRunning_ = false;
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

// Whether the dialect has a function of this name (letter case aside): one of
// the Oracle functions above or an SQLite one that means what Oracle's of that
// name means. The session's SQL may call no other.
bool isDialectFunction(std::string_view name);

}  // namespace ocisim
