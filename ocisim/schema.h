// The layout of an instance's data file: what a file holds, judged from
// reading it alone, and refusing one this client must not write to.
#pragma once

#include <string>

struct sqlite3;

namespace ocisim {

constexpr int kSchemaVersion = 4;

// What a data file holds, judged from reading it alone.
enum class Layout {
  Empty,    // a new file, or an empty database: to be seeded
  Current,  // an instance of this client's layout
  Older,    // an instance of an earlier layout of this client: made anew
  Newer,    // an instance of a later layout: left alone
  Foreign,  // a database that is no instance (another program's): left alone
};

// Every layout of this client has kept its user_version and an `instance`
// table; another program's database has neither (or not both).
Layout layoutOf(sqlite3* db);

// Refuses a data file that this client must not write to.
void refuseForeignLayout(Layout layout, const std::string& path);

}  // namespace ocisim
