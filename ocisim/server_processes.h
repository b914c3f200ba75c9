// What an instance keeps beside its sessions for the views of its server
// processes, locks and parameters (v$process, v$lock, v$parameter,
// v$instance), and the server's cleanup of killed sessions.
#pragma once

#include <string>

struct sqlite3;

namespace ocisim {

// The tables, made with the instance's file after its sessions table.
extern const char* const kServerStateSchema;

// Fills the parameters, the instance's own row and the locks of its
// background processes when the file is made.
void seedServerState(sqlite3* db, const std::string& sid, const std::string& host);

// The address of the server process that serves the session in a slot
// (v$session.PADDR, v$process.ADDR): the server keeps a process per slot.
std::string processAddress(long long sid);
// The pseudo process that a killed session's PADDR names once its own
// process has let go of it.
extern const char* const kPseudoProcessAddress;
// The operating-system id of the dedicated server process of a session
// (v$process.SPID).
std::string serverProcessId(long long sid, long long serial);

// Seconds a killed simulated session stays KILLED before the server's
// cleanup removes it (no client will ever call again to learn of the kill).
constexpr long long kKilledSessionLinger = 3;
// Removes the simulated sessions killed kKilledSessionLinger seconds or more
// before `now` (seconds since the epoch), with their locks, inside the
// caller's write transaction. Returns how many went.
long removeKilledSessions(sqlite3* db, long long now);
// Whether there is such a session to remove; a read, for callers that take
// the write lock only when there is.
bool killedSessionsDue(sqlite3* db, long long now);
// Removes the locks of sessions that are gone.
void removeOrphanLocks(sqlite3* db);

}  // namespace ocisim
