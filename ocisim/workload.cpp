// The workload of a busy server: the users' kinds, the changes they make and
// the locks their transactions hold.

#include "ocisim/workload.h"

#include "ocisim/os_process.h"
#include "ocisim/server_processes.h"
#include "ocisim/shared_sql.h"
#include "ocisim/sqlite_db.h"
#include "ocisim/statement_catalogue.h"

#include <sqlite3.h>

#include <array>
#include <cstdio>
#include <ctime>
#include <random>
#include <string_view>
#include <vector>

namespace ocisim {

namespace {

// The kinds of user a busy server has, each with the program it runs and
// where from.
struct Profile {
  const char* username;
  const char* schema;
  const char* program;  // "%s" stands for the machine's name
  const char* module;  // of the statement catalogue
  enum Where { Desktop, AppServer, ReportServer, DbHost } where;
  unsigned weight;     // how often a new session is of this kind
};

constexpr Profile kProfiles[] = {
    {"SALES", "SALES", "OrderEntry.exe", "SALES", Profile::Desktop, 6},
    {"APP_USER", "SALES", "JDBC Thin Client", "SALES", Profile::AppServer, 8},
    {"HR", "HR", "ifrun60.exe", "HR", Profile::Desktop, 3},
    {"SCOTT", "SCOTT", "SQLPLUSW.EXE", "HR", Profile::Desktop, 1},
    {"ACCT", "ACCT", "Fibu32.exe", "ACCT", Profile::Desktop, 4},
    {"REPORTS", "SALES", "rwrun60.exe", "REPORTS", Profile::ReportServer, 2},
    {"BATCH", "BATCH", "sqlplus@%s (TNS V1-V3)", "BATCH", Profile::DbHost, 2},
    {"SYSTEM", "SYSTEM", "TOAD.exe", "ANY", Profile::Desktop, 1},
};

// The people at the desktops; two of them with names beyond ASCII.
constexpr const char* kDesktopUsers[] = {"jsmith", "mjones", "akim",     "tbrown",  "jm\xc3\xbcller",
                                         "lgarcia", "pnovak", "s\xc3\xb6ren", "rkhan", "ewilson"};

// The band the number of simulated sessions stays in.
constexpr long kFewest = 12, kMost = 48;

std::string localText(long long t) {
  const std::time_t tt = static_cast<std::time_t>(t);
  std::tm local{};
  localtime_r(&tt, &local);
  char out[32];
  std::strftime(out, sizeof out, "%Y-%m-%d %H:%M:%S", &local);
  return out;
}

std::string hex8(std::uint32_t v) {
  char out[9];
  std::snprintf(out, sizeof out, "%08X", v);
  return out;
}

const Profile& profileOfProgram(std::string_view program) {
  for (const Profile& p : kProfiles) {
    const std::string_view pattern = p.program;
    const auto host = pattern.find("%s");
    if (host == std::string_view::npos ? program == pattern
                                       : program.substr(0, host) == pattern.substr(0, host))
      return p;
  }
  return kProfiles[std::size(kProfiles) - 1];
}

// The object id a table's TM lock names; the same table always the same id.
long long objectIdOf(std::string_view table) {
  std::uint32_t h = 2166136261u;
  for (unsigned char c : table) {
    h ^= c;
    h *= 16777619u;
  }
  return 20000 + h % 20000;
}

// The index of a table among those the catalogue locks, for lock addresses.
long long tableSlot(std::string_view table) {
  std::vector<std::string_view> seen;
  for (const CatalogueStatement& s : statementCatalogue()) {
    if (!s.lockTable) continue;
    bool known = false;
    for (std::string_view t : seen) known = known || t == s.lockTable;
    if (!known) seen.emplace_back(s.lockTable);
    if (table == s.lockTable) {
      for (size_t i = 0; i < seen.size(); ++i)
        if (seen[i] == table) return static_cast<long long>(i) + 1;
    }
  }
  return 31;
}

// Lock state objects of a session one after another: its transaction's first,
// then one per table it changes; each with the resource it locks beside it.
std::uint32_t lockAddress(long long sid, long long slot) {
  return 0x8D000000u + static_cast<std::uint32_t>(sid) * 0x400u + static_cast<std::uint32_t>(slot) * 0x20u;
}

}  // namespace

Workload::Workload(Instance& instance, std::uint32_t seed) : instance_(instance), state_(seed ? seed : 1) {}

std::uint32_t Workload::next(std::uint32_t range) {
  // xorshift32: small, fast and the same everywhere for the same seed.
  state_ ^= state_ << 13;
  state_ ^= state_ >> 17;
  state_ ^= state_ << 5;
  return range ? state_ % range : 0;
}

void Workload::ensureUsers() {
  for (const Profile& p : kProfiles) {
    {
      SqliteStatement find(instance_.db(), "SELECT 1 FROM users WHERE username = ?");
      find.bind(1, p.username);
      if (find.step()) continue;
    }
    // Application accounts whose passwords nobody here knows.
    std::random_device random;
    std::string password = "W";
    for (int i = 0; i < 16; ++i) password += static_cast<char>('A' + random() % 26);
    try {
      instance_.createUser(p.username, password);
    } catch (const OraError& e) {
      if (e.code != 1920) throw;  // made meanwhile by another process
    }
  }
}

long Workload::liveSessions() {
  SqliteStatement count(instance_.db(),
            "SELECT count(*) FROM sessions WHERE type = 'USER' AND os_pid IS NULL AND status <> 'KILLED'");
  count.step();
  return static_cast<long>(count.integer(0));
}

bool Workload::pickSession(Session& out, const char* condition) {
  const std::string where = std::string("type = 'USER' AND os_pid IS NULL AND ") + condition;
  long long n = 0;
  {
    SqliteStatement count(instance_.db(), ("SELECT count(*) FROM sessions WHERE " + where).c_str());
    count.step();
    n = count.integer(0);
  }
  if (n == 0) return false;
  SqliteStatement pick(instance_.db(),
           ("SELECT s.sid, s.serial, s.status, s.program, EXISTS (SELECT 1 FROM locks l WHERE l.sid = s.sid"
            " AND l.serial = s.serial AND l.type = 'TX') FROM sessions s WHERE " +
            where + " ORDER BY s.sid LIMIT 1 OFFSET ?")
               .c_str());
  pick.bind(1, static_cast<long long>(next(static_cast<std::uint32_t>(n))));
  if (!pick.step()) return false;
  out.sid = pick.integer(0);
  out.serial = pick.integer(1);
  out.status = pick.text(2);
  out.program = pick.text(3);
  out.holdsTransaction = pick.integer(4) != 0;
  return true;
}

void Workload::populate() {
  ensureUsers();
  WriteTransaction change(instance_.db());
  // Simulated sessions made before their users were accounts of the instance
  // (the demo instance's first ones) are theirs now.
  SqliteStatement(instance_.db(),
                  "UPDATE sessions SET user_id = (SELECT u.user_id FROM users u WHERE u.username ="
                  " sessions.username) WHERE type = 'USER' AND os_pid IS NULL AND user_id IS NULL")
      .run();
  const long long now = static_cast<long long>(std::time(nullptr));
  for (long n = liveSessions(); n < (kFewest + kMost) / 2; ++n) logOn(now - next(6 * 3600));
  change.commit();
}

void Workload::change() {
  sqlite3* db = instance_.db();
  const long long now = static_cast<long long>(std::time(nullptr));
  WriteTransaction change(db);
  if (killedSessionsDue(db, now)) tally_.cleanedUp += removeKilledSessions(db, now);
  const long n = liveSessions();
  const std::uint32_t roll = next(100);
  if (n < kFewest || (n < kMost && roll < 8)) {
    logOn(now);
  } else if (n > kMost || roll < 16) {
    logOff();
  } else if (roll < 60) {
    runStatement();
  } else {
    goIdle();
  }
  change.commit();
  ++changes_;
}

void Workload::logOn(long long logonTime) {
  sqlite3* db = instance_.db();
  unsigned total = 0;
  for (const Profile& p : kProfiles) total += p.weight;
  std::uint32_t pick = next(total);
  const Profile* profile = &kProfiles[0];
  for (const Profile& p : kProfiles) {
    if (pick < p.weight) {
      profile = &p;
      break;
    }
    pick -= p.weight;
  }
  long long userId = 0;
  {
    SqliteStatement find(db, "SELECT user_id FROM users WHERE username = ?");
    find.bind(1, profile->username);
    if (find.step()) userId = find.integer(0);
  }
  long long sid = 0, serial = 0, audsid = 0;
  {
    // The smallest free slot, as the server reuses the slots of ended sessions.
    SqliteStatement free(db,
             "SELECT CASE WHEN NOT EXISTS(SELECT 1 FROM sessions WHERE sid = 1) THEN 1 ELSE"
             " (SELECT min(s.sid) + 1 FROM sessions s WHERE NOT EXISTS"
             " (SELECT 1 FROM sessions t WHERE t.sid = s.sid + 1)) END");
    free.step();
    sid = free.integer(0);
    SqliteStatement counters(db, "SELECT next_serial, next_audsid FROM instance");
    if (!counters.step()) throw OraError(kOraInternal, "instance row missing");
    serial = counters.integer(0);
    audsid = counters.integer(1);
  }
  SqliteStatement(db, "UPDATE instance SET next_serial = next_serial + 1, next_audsid = next_audsid + 1").run();

  const std::uint32_t pc = next(250) + 1;
  char machine[64], terminal[17], process[10];
  std::string osUser = kDesktopUsers[next(std::size(kDesktopUsers))];
  switch (profile->where) {
    case Profile::Desktop:
      std::snprintf(machine, sizeof machine, "OFFICE\\PC-%04u", pc);
      std::snprintf(terminal, sizeof terminal, "PC-%04u", pc);
      std::snprintf(process, sizeof process, "%u:%u", 1000 + next(8000), 100 + next(900));
      break;
    case Profile::AppServer:
      std::snprintf(machine, sizeof machine, "appsrv%02u", 1 + next(3));
      std::snprintf(terminal, sizeof terminal, "unknown");
      std::snprintf(process, sizeof process, "1234");
      osUser = "tomcat";
      break;
    case Profile::ReportServer:
      std::snprintf(machine, sizeof machine, "OFFICE\\REPORTSRV");
      std::snprintf(terminal, sizeof terminal, "REPORTSRV");
      std::snprintf(process, sizeof process, "%u:%u", 2000 + next(3000), 100 + next(900));
      osUser = "reports";
      break;
    case Profile::DbHost:
      std::snprintf(machine, sizeof machine, "%.63s", hostName().c_str());
      std::snprintf(terminal, sizeof terminal, "pts/%u", next(8));
      std::snprintf(process, sizeof process, "%u", 3000 + next(60000));
      osUser = "batch";
      break;
  }
  SqliteStatement insert(db,
             "INSERT INTO sessions(sid, serial, audsid, user_id, username, schemaname, osuser, machine,"
             " terminal, program, process, logon_time, type, server, status, paddr, spid)"
             " VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, 'USER', 'DEDICATED', 'INACTIVE', ?, ?)");
  insert.bind(1, sid).bind(2, serial).bind(3, audsid);
  if (userId) insert.bind(4, userId);
  insert.bind(5, profile->username).bind(6, profile->schema).bind(7, osUser).bind(8, machine);
  std::string program = profile->program;
  if (const auto at = program.find("%s"); at != std::string::npos) program.replace(at, 2, machine);
  insert.bind(9, terminal).bind(10, program.substr(0, 48)).bind(11, process).bind(12, localText(logonTime));
  insert.bind(13, processAddress(sid)).bind(14, serverProcessId(sid, serial));
  insert.run();
  ++tally_.logons;
}

void Workload::logOff() {
  Session s;
  if (!pickSession(s, "status <> 'KILLED'")) return;
  SqliteStatement(instance_.db(), "DELETE FROM sessions WHERE sid = ? AND serial = ?").bind(1, s.sid).bind(2, s.serial).run();
  SqliteStatement(instance_.db(), "DELETE FROM locks WHERE sid = ? AND serial = ?").bind(1, s.sid).bind(2, s.serial).run();
  ++tally_.logoffs;
}

void Workload::runStatement() {
  sqlite3* db = instance_.db();
  Session s;
  if (!pickSession(s, "status <> 'KILLED'")) return;
  const Profile& profile = profileOfProgram(s.program);
  std::vector<const CatalogueStatement*> choices;
  const bool anyModule = next(7) == 0;
  for (const CatalogueStatement& c : statementCatalogue())
    if (std::string_view(c.module) == (anyModule ? "ANY" : profile.module)) choices.push_back(&c);
  if (choices.empty())
    for (const CatalogueStatement& c : statementCatalogue()) choices.push_back(&c);
  const CatalogueStatement& statement = *choices[next(static_cast<std::uint32_t>(choices.size()))];
  long long userId = 0;
  {
    SqliteStatement find(db, "SELECT user_id FROM users WHERE username = (SELECT username FROM sessions WHERE sid = ?"
                 " AND serial = ?)");
    find.bind(1, s.sid).bind(2, s.serial);
    if (find.step()) userId = find.integer(0);
  }
  const auto [address, hash] = shareStatement(db, statement.text, statement.commandType, userId, true);
  SqliteStatement(db,
      "UPDATE sessions SET prev_sql_addr = sql_address, prev_hash_value = sql_hash_value,"
      " sql_address = ?, sql_hash_value = ?, command = ?, status = 'ACTIVE' WHERE sid = ? AND serial = ?")
      .bind(1, address)
      .bind(2, hash)
      .bind(3, statement.commandType)
      .bind(4, s.sid)
      .bind(5, s.serial)
      .run();
  ++tally_.statements;
  if (!statement.lockTable) return;
  // A change holds its transaction (TX, exclusive) and its table (TM, row
  // exclusive) until the session commits.
  const long long now = static_cast<long long>(std::time(nullptr));
  SqliteStatement lock(db,
           "INSERT OR IGNORE INTO locks(addr, kaddr, sid, serial, type, id1, id2, lmode, request, since)"
           " VALUES(?, ?, ?, ?, 'TX', ?, ?, 6, 0, ?)");
  if (!s.holdsTransaction) {
    const long long segment = 1 + next(4), slot = next(48), sequence = 1000 + next(60000);
    lock.bind(1, hex8(lockAddress(s.sid, 0))).bind(2, hex8(lockAddress(s.sid, 0) + 0x14)).bind(3, s.sid);
    lock.bind(4, s.serial).bind(5, segment * 65536 + slot).bind(6, sequence).bind(7, now);
    lock.run();
  }
  SqliteStatement table(db,
            "INSERT OR IGNORE INTO locks(addr, kaddr, sid, serial, type, id1, id2, lmode, request, since)"
            " VALUES(?, ?, ?, ?, 'TM', ?, 0, 3, 0, ?)");
  const std::uint32_t at = lockAddress(s.sid, tableSlot(statement.lockTable));
  table.bind(1, hex8(at)).bind(2, hex8(at + 0x14)).bind(3, s.sid).bind(4, s.serial);
  table.bind(5, objectIdOf(statement.lockTable)).bind(6, now);
  table.run();
}

void Workload::goIdle() {
  Session s;
  if (!pickSession(s, "status = 'ACTIVE'")) {
    runStatement();
    return;
  }
  SqliteStatement(instance_.db(), "UPDATE sessions SET status = 'INACTIVE' WHERE sid = ? AND serial = ?")
      .bind(1, s.sid)
      .bind(2, s.serial)
      .run();
  ++tally_.idles;
  // Most calls end their transaction before the session waits for its user.
  if (s.holdsTransaction && next(3) != 0) {
    SqliteStatement(instance_.db(), "DELETE FROM locks WHERE sid = ? AND serial = ?").bind(1, s.sid).bind(2, s.serial).run();
    ++tally_.commits;
  }
}

}  // namespace ocisim
