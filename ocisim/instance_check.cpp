// The consistency check of an instance's file, one query per kind of fault.

#include "ocisim/instance_check.h"

#include <sqlite3.h>

namespace ocisim {

namespace {

// Runs a query and adds a line per row it answers: the row's columns after
// the text that says what is wrong.
void collect(sqlite3* db, const char* what, const char* sql, std::vector<std::string>& problems) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK) {
    problems.push_back(std::string("cannot check ") + what + ": " + sqlite3_errmsg(db));
    return;
  }
  int rc;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    std::string line = what;
    for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
      const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
      line += i == 0 ? ": " : ", ";
      line += t ? t : "NULL";
    }
    problems.push_back(line);
  }
  if (rc != SQLITE_DONE) problems.push_back(std::string("cannot check ") + what + ": " + sqlite3_errmsg(db));
  sqlite3_finalize(stmt);
}

}  // namespace

std::vector<std::string> checkInstance(sqlite3* db) {
  std::vector<std::string> problems;
  if (sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK) {
    problems.push_back(std::string("cannot read the instance: ") + sqlite3_errmsg(db));
    return problems;
  }
  {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &stmt, nullptr) == SQLITE_OK) {
      while (sqlite3_step(stmt) == SQLITE_ROW) {
        const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
        if (!t || std::string(t) != "ok") problems.push_back(std::string("data file: ") + (t ? t : "?"));
      }
    } else {
      problems.push_back(std::string("data file: ") + sqlite3_errmsg(db));
    }
    sqlite3_finalize(stmt);
  }
  collect(db, "session runs a statement missing from the shared SQL area (sid, serial#, address)",
          "SELECT sid, serial, sql_address FROM sessions s WHERE sql_address <> '00' AND NOT EXISTS"
          " (SELECT 1 FROM sql_area a WHERE a.address = s.sql_address AND a.hash_value = s.sql_hash_value)",
          problems);
  collect(db, "session ran a statement missing from the shared SQL area (sid, serial#, prev address)",
          "SELECT sid, serial, prev_sql_addr FROM sessions s WHERE prev_sql_addr <> '00' AND NOT EXISTS"
          " (SELECT 1 FROM sql_area a WHERE a.address = s.prev_sql_addr AND a.hash_value = s.prev_hash_value)",
          problems);
  collect(db, "statement whose pieces do not make its text (address)",
          "SELECT a.address FROM sql_area a WHERE a.full_text IS NOT (SELECT group_concat(p.sql_text, '')"
          " FROM (SELECT sql_text FROM sql_text_pieces WHERE address = a.address AND hash_value = a.hash_value"
          " ORDER BY piece) p)"
          " OR (SELECT count(*) FROM sql_text_pieces WHERE address = a.address) <>"
          " (SELECT coalesce(max(piece), -1) + 1 FROM sql_text_pieces WHERE address = a.address)"
          " OR EXISTS (SELECT 1 FROM sql_text_pieces WHERE address = a.address AND"
          " (length(CAST(sql_text AS BLOB)) > 64 OR command_type <> a.command_type))",
          problems);
  collect(db, "text pieces of no statement (address)",
          "SELECT DISTINCT address FROM sql_text_pieces p WHERE NOT EXISTS"
          " (SELECT 1 FROM sql_area a WHERE a.address = p.address)",
          problems);
  collect(db, "lock of no session (sid, serial#, type)",
          "SELECT sid, serial, type FROM locks l WHERE NOT EXISTS"
          " (SELECT 1 FROM sessions s WHERE s.sid = l.sid AND s.serial = l.serial)",
          problems);
  collect(db, "two live sessions with one process (address)",
          "SELECT paddr FROM sessions WHERE status <> 'KILLED' GROUP BY paddr HAVING count(*) > 1", problems);
  collect(db, "session without a process (sid, serial#)",
          "SELECT sid, serial FROM sessions WHERE paddr = '00'", problems);
  collect(db, "two user sessions with one serial# (serial#)",
          "SELECT serial FROM sessions WHERE type = 'USER' GROUP BY serial HAVING count(*) > 1", problems);
  collect(db, "two user sessions with one audit id (audsid)",
          "SELECT audsid FROM sessions WHERE type = 'USER' GROUP BY audsid HAVING count(*) > 1", problems);
  collect(db, "serial# or audit id at or beyond the next one to give (serial#, audsid)",
          "SELECT s.serial, s.audsid FROM sessions s, instance i WHERE s.type = 'USER' AND"
          " (s.serial >= i.next_serial OR s.audsid >= i.next_audsid)",
          problems);
  collect(db, "killed session without the time of its kill (sid, serial#)",
          "SELECT sid, serial FROM sessions WHERE status = 'KILLED' AND killed_at IS NULL", problems);
  collect(db, "session of no user (sid, serial#, username)",
          "SELECT sid, serial, username FROM sessions s WHERE user_id IS NOT NULL AND NOT EXISTS"
          " (SELECT 1 FROM users u WHERE u.user_id = s.user_id AND u.username = s.username)",
          problems);
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  return problems;
}

}  // namespace ocisim
