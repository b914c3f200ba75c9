// The consistency of an instance's file: SQLite's own check, and what the
// server keeps consistent between its views (each session's statements in the
// shared SQL area, each text whole in its pieces, each lock held by a session,
// each session with a process of its own).
#pragma once

#include <string>
#include <vector>

struct sqlite3;

namespace ocisim {

// The problems found, one line each; none for a sound instance. Reads in one
// transaction, so that a change of another process does not show half done.
std::vector<std::string> checkInstance(sqlite3* db);

}  // namespace ocisim
