// The shared SQL area of an instance: each distinct statement text once, with
// its address and hash value, and its text in pieces for v$sqltext.
#pragma once

#include <string>
#include <string_view>
#include <utility>

struct sqlite3;

namespace ocisim {

// Puts a statement into the shared SQL area (once per distinct text) and
// returns its address and hash value.
std::pair<std::string, long long> shareStatement(sqlite3* db, std::string_view text, int commandType,
                                                 long long userId, bool executed);

}  // namespace ocisim
