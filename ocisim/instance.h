// A simulated Oracle instance: one SQLite data file per SID holding the
// instance's users, roles, privileges, sessions and shared SQL area.
#pragma once

#include "ocisim/ora_errors.h"
#include "ocisim/sqlite_db.h"

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>

namespace ocisim {

// The user session a successful logon created.
struct Logon {
  long sid = 0;
  long serial = 0;
  long audsid = 0;
  std::string username;
};

// ORA-01034 for a data file that SQLite finds damaged or no database at all.
inline OraError damagedDataFile(const std::string& path) {
  return notAvailable("The data file " + path + " is damaged or is not an instance's data file; it is left as it is");
}

// The path of a SID's data file in the data-file folder.
std::string instanceFilePath(const std::string& sid);

// Makes a data file of the data-file folder safe to open, before SQLite opens
// it: the folder is this user's alone (0700), and the file, made empty when
// missing, is this user's regular file with mode 0600, as are the WAL,
// shared-memory and journal files beside it. Raises ORA-01034 for anything else
// (a link, another user's file, a folder that is not one, a folder or file that
// cannot be made), with a line naming the file and what is wrong with it.
void prepareDataFile(const std::string& path);

class Instance {
 public:
  // Opens the data file of a SID, creating and seeding it on first use, and
  // making a file of an older layout of this client anew. Raises ORA-01034 when
  // the file cannot be opened as an instance; a file that is not an instance's
  // (damaged, another program's, or of a newer layout) is then left untouched.
  static std::unique_ptr<Instance> open(const std::string& sid);
  ~Instance();
  Instance(const Instance&) = delete;
  Instance& operator=(const Instance&) = delete;

  const std::string& sid() const { return sid_; }
  // The connection, for the SQL layer; used only by the process that opened it.
  sqlite3* db() { return db_.get(); }

  // Deletes the session rows of processes of this machine that are gone.
  void removeDeadSessions();
  // Removes the simulated sessions killed a few seconds ago or longer, as the
  // server's cleanup does (no client of theirs calls again to learn of the
  // kill). Looks at most once a second; outside a transaction only.
  void cleanUpKilledSessions();

  // Checks the credentials (ORA-01017 on a mismatch) and records a session row
  // owned by this process.
  Logon beginSession(std::string_view username, std::string_view password);

  // Removes a session row (logoff). Returns false when the row was no longer
  // live (killed, or gone): the session then learns of its kill here. Checked
  // and removed in one transaction, so a kill is either seen or refused.
  bool endSession(const Logon& logon);

  // Removes a session row whose connection dropped; only rows of this process.
  void dropSession(const Logon& logon) noexcept;

  enum class SessionState { Live, Killed, Gone };
  // Whether a session's row is still there and not marked killed.
  SessionState sessionState(const Logon& logon);

  // Puts a statement the session runs into the shared SQL area and makes it the
  // session's current statement (SQL_ADDRESS, SQL_HASH_VALUE, COMMAND).
  void recordStatement(const Logon& logon, std::string_view text, int commandType);

  // Marks a session killed (STATUS 'KILLED', SERVER 'PSEUDO'); its owner learns
  // of it at its next call. Raises ORA-00027 for the caller's own session,
  // ORA-00029 for a background process and ORA-00030 when no such session lives.
  void killSession(const Logon& caller, long sid, long serial);

  // The roles granted to a user and the system privileges it holds directly or
  // through them.
  struct Rights {
    std::set<std::string> roles, privileges;
  };
  Rights rightsOf(const std::string& username);

  // Directories of BFILE values.
  void createDirectory(const std::string& name, const std::string& path, bool replace);
  // A new user with that name (as the database keeps it) and password.
  void createUser(const std::string& name, const std::string& password);
  std::optional<std::string> directoryPath(const std::string& name);

  // Adds simulated user sessions with statements in the shared SQL area; returns
  // how many sessions the instance has afterwards.
  long addSimulatedSessions(long count);
  // Removes the simulated sessions and the statements no session runs any more.
  void removeSimulatedSessions();

 private:
  Instance(std::string sid, SqliteConnection db);
  void seed();
  // A connection inherited through fork() belongs to the parent: never touched.
  bool ownedHere() const;

  std::string sid_;
  SqliteConnection db_;
  pid_t owner_ = 0;
  // sessionState runs before every call of a session: its statement is
  // prepared once rather than parsed again each time.
  SqliteStatement sessionStateStmt_;
  std::optional<std::chrono::steady_clock::time_point> lastCleanUp_;

  // The last sessionState query's answer, with what told whether the file
  // changed since: SQLite's data version (changes committed by any other
  // connection or process) and this connection's own change count. While both
  // read the same the answer stands and the query need not run again.
  SessionState querySessionState(const Logon& logon);
  // PRAGMA data_version of this connection; -1 when it cannot be read.
  long long dataVersion();
  SqliteStatement dataVersionStmt_;
  bool stateKnown_ = false;
  long stateSid_ = 0, stateSerial_ = 0;
  long long stateVersion_ = -1;
  long long stateChanges_ = -1;
  SessionState state_ = SessionState::Live;
};

// Oracle's upper-casing of an unquoted name; a name in double quotes keeps its case.
std::string normalizeUserName(std::string_view name);

}  // namespace ocisim
