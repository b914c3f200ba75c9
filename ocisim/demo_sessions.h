// Simulated user sessions for demos and benchmarks: how many a new instance
// gets, and adding them with their statements in the shared SQL area.
#pragma once

#include <string>

struct sqlite3;

namespace ocisim {

// Simulated sessions a new instance gets: OCISIM_DEMO_SESSIONS when set, else a
// handful for a demo instance (in the client home's own data folder or the
// user's) and none for a folder chosen with OCISIM_ORADATA (tests start from an
// instance without them).
long demoSessionCount();

// Adds n simulated user sessions, with their statements in the shared pool.
// Values come from a fixed pseudo-random sequence, so every run looks alike.
void insertSimulatedSessions(sqlite3* db, long n, const std::string& host, const std::string& now);

}  // namespace ocisim
