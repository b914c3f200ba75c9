// The shared SQL area: statements put into it once per distinct text, and
// made a session's current statement.

#include "ocisim/shared_sql.h"

#include "ocisim/fnv_hash.h"
#include "ocisim/instance.h"
#include "ocisim/sqlite_db.h"
#include "ocisim/stored_text.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

namespace ocisim {

namespace {

std::string hex8(std::uint32_t v) {
  char out[9];
  std::snprintf(out, sizeof out, "%08X", v);
  return out;
}

}  // namespace

// Puts a statement into the shared SQL area (once per distinct text) and
// returns its address and hash value.
std::pair<std::string, long long> shareStatement(sqlite3* db, std::string_view text, int commandType,
                                                 long long userId, bool executed) {
  const long long hash = fnv1a<std::uint32_t>(text);
  std::uint32_t address = static_cast<std::uint32_t>(fnv1a<std::uint64_t>(text) >> 32);
  for (;;) {
    SqliteStatement find(db, "SELECT full_text FROM sql_area WHERE address = ?");
    find.bind(1, hex8(address));
    if (!find.step()) break;
    if (find.text(0) == text) {
      if (executed)
        SqliteStatement(db, "UPDATE sql_area SET executions = executions + 1 WHERE address = ?")
            .bind(1, hex8(address))
            .run();
      return {hex8(address), hash};
    }
    ++address;  // another text has this address: take the next free one
  }
  const std::string addr = hex8(address);
  SqliteStatement insert(db,
               "INSERT INTO sql_area(address, hash_value, sql_text, full_text, command_type, executions,"
               " parsing_user_id, first_load_time) VALUES(?, ?, ?, ?, ?, ?, ?, ?)");
  insert.bind(1, addr).bind(2, hash).bind(3, fit(text, 1000)).bind(4, text).bind(5, commandType);
  insert.bind(6, executed ? 1 : 0);
  if (userId) insert.bind(7, userId);
  const std::string now = nowText();
  insert.bind(8, now.substr(0, 10) + "/" + now.substr(11));
  insert.run();
  SqliteStatement piece(db,
              "INSERT INTO sql_text_pieces(address, hash_value, command_type, piece, sql_text)"
              " VALUES(?, ?, ?, ?, ?)");
  // Pieces of at most 64 bytes that never split a character: each piece is
  // text of its own, converted on its own for a client of another set.
  for (size_t at = 0, n = 0; at < text.size(); ++n) {
    size_t end = std::min(at + 64, text.size());
    while (end < text.size() && end > at + 1 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    piece.reset();
    piece.bind(1, addr).bind(2, hash).bind(3, commandType).bind(4, static_cast<long long>(n));
    piece.bind(5, text.substr(at, end - at)).run();
    at = end;
  }
  return {addr, hash};
}

void Instance::recordStatement(const Logon& logon, std::string_view text, int commandType) {
  if (!ownedHere()) return;
  WriteTransaction tx(db_.get());
  long long userId = 0;
  {
    SqliteStatement find(db_.get(), "SELECT user_id FROM users WHERE username = ?");
    find.bind(1, logon.username);
    if (find.step()) userId = find.integer(0);
  }
  const auto [address, hash] = shareStatement(db_.get(), text, commandType, userId, true);
  SqliteStatement(db_.get(),
        "UPDATE sessions SET prev_sql_addr = sql_address, prev_hash_value = sql_hash_value,"
        " sql_address = ?, sql_hash_value = ?, command = ? WHERE sid = ? AND serial = ?")
      .bind(1, address)
      .bind(2, hash)
      .bind(3, commandType)
      .bind(4, logon.sid)
      .bind(5, logon.serial)
      .run();
  tx.commit();
}

}  // namespace ocisim
