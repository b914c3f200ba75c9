// The instance's own row, its parameters, the locks of its background
// processes, its server processes' addresses and the cleanup of killed sessions.

#include "ocisim/server_processes.h"

#include "ocisim/instance.h"
#include "ocisim/sqlite_db.h"

#include <sqlite3.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <string_view>

namespace ocisim {

const char* const kServerStateSchema = R"sql(
-- The instance itself, as v$instance shows it.
CREATE TABLE instance_info(
  instance_number NUMBER NOT NULL,
  instance_name VARCHAR2(16) NOT NULL,
  host_name VARCHAR2(64) NOT NULL,
  version VARCHAR2(17) NOT NULL,
  startup_time DATE NOT NULL);
-- The initialization parameters, as v$parameter shows them.
CREATE TABLE parameters(
  num NUMBER PRIMARY KEY,
  name VARCHAR2(64) NOT NULL UNIQUE,
  type NUMBER NOT NULL,
  value VARCHAR2(512),
  isdefault VARCHAR2(9) NOT NULL,
  isses_modifiable VARCHAR2(5) NOT NULL,
  issys_modifiable VARCHAR2(9) NOT NULL,
  description VARCHAR2(64));
-- Locks held or requested by sessions (v$lock). since is when the lock was
-- taken (seconds since the epoch), CTIME counts from it.
CREATE TABLE locks(
  addr RAW(4) PRIMARY KEY,
  kaddr RAW(4) NOT NULL,
  sid NUMBER NOT NULL,
  serial NUMBER NOT NULL,
  type VARCHAR2(2) NOT NULL,
  id1 NUMBER NOT NULL,
  id2 NUMBER NOT NULL,
  lmode NUMBER NOT NULL,
  request NUMBER NOT NULL,
  since INTEGER NOT NULL,
  block NUMBER NOT NULL DEFAULT 0);
CREATE INDEX locks_session ON locks(sid, serial);
-- The killed sessions alone, so that the look for those due to be cleaned up,
-- which every client process makes once a second, does not read every session.
CREATE INDEX sessions_killed ON sessions(killed_at) WHERE status = 'KILLED';
)sql";

const char* const kPseudoProcessAddress = "8C4A0000";

namespace {

struct Parameter {
  const char* name;
  int type;  // 1 boolean, 2 string, 3 integer, 6 big integer
  const char* value;  // "%s" stands for the SID
  bool isDefault;
  const char* sessionModifiable;
  const char* systemModifiable;
  const char* description;
};

constexpr Parameter kParameters[] = {
    {"processes", 3, "1000", false, "FALSE", "FALSE", "user processes"},
    {"sessions", 3, "1105", true, "FALSE", "FALSE", "number of sessions"},
    {"timed_statistics", 1, "TRUE", false, "TRUE", "IMMEDIATE", "maintain internal timing statistics"},
    {"shared_pool_size", 6, "52428800", false, "FALSE", "FALSE", "size in bytes of shared pool"},
    {"large_pool_size", 6, "0", true, "FALSE", "FALSE", "size in bytes of the large allocation pool"},
    {"java_pool_size", 6, "20971520", true, "FALSE", "FALSE", "size in bytes of the Java pool"},
    {"db_block_buffers", 3, "8192", false, "FALSE", "FALSE", "Number database blocks cached in memory"},
    {"db_block_size", 3, "8192", false, "FALSE", "FALSE", "Size of database block in bytes"},
    {"log_buffer", 3, "163840", false, "FALSE", "FALSE", "redo circular buffer size"},
    {"db_files", 3, "200", false, "FALSE", "FALSE", "max allowable # db files"},
    {"db_file_multiblock_read_count", 3, "16", false, "TRUE", "IMMEDIATE", "db block to be read each IO"},
    {"control_files", 2, "/u01/oradata/%s/control01.ctl, /u02/oradata/%s/control02.ctl", false, "FALSE",
     "FALSE", "control file names list"},
    {"compatible", 2, "8.1.7", false, "FALSE", "FALSE", "Database will be completely compatible with this software version"},
    {"db_name", 2, "%s", false, "FALSE", "FALSE", "database name specified in CREATE DATABASE"},
    {"db_domain", 2, "world", false, "FALSE", "FALSE", "directory part of global database name stored with CREATE DATABASE"},
    {"instance_name", 2, "%s", false, "FALSE", "FALSE", "instance name supported by the instance"},
    {"service_names", 2, "%s.world", false, "FALSE", "IMMEDIATE", "service names supported by the instance"},
    {"open_cursors", 3, "300", false, "FALSE", "FALSE", "max # cursors per process"},
    {"optimizer_mode", 2, "CHOOSE", true, "TRUE", "FALSE", "optimizer mode"},
    {"sort_area_size", 3, "65536", true, "TRUE", "DEFERRED", "size of in-memory sort work area"},
    {"nls_language", 2, "AMERICAN", true, "TRUE", "FALSE", "NLS language name"},
    {"nls_territory", 2, "AMERICA", true, "TRUE", "FALSE", "NLS territory name"},
    {"nls_date_format", 2, nullptr, true, "TRUE", "FALSE", "NLS Oracle date format"},
    {"rollback_segments", 2, "RBS01, RBS02, RBS03, RBS04", false, "FALSE", "FALSE", "undo segment list"},
    {"background_dump_dest", 2, "/u01/app/oracle/admin/%s/bdump", false, "FALSE", "IMMEDIATE",
     "Detached process dump directory"},
    {"user_dump_dest", 2, "/u01/app/oracle/admin/%s/udump", false, "FALSE", "IMMEDIATE", "User process dump directory"},
    {"max_dump_file_size", 2, "10240", false, "TRUE", "IMMEDIATE", "Maximum size (blocks) of dump file"},
    {"log_archive_start", 1, "FALSE", true, "FALSE", "FALSE", "start archival process on SGA initialization"},
    {"remote_login_passwordfile", 2, "EXCLUSIVE", false, "FALSE", "FALSE", "password file usage parameter"},
    {"job_queue_processes", 3, "4", false, "FALSE", "IMMEDIATE", "number of job queue slave processes"},
    {"os_authent_prefix", 2, "ops$", true, "FALSE", "FALSE", "prefix for auto-logon accounts"},
    {"global_names", 1, "FALSE", true, "TRUE", "IMMEDIATE", "enforce that database links have same name as remote database"},
};

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string withSid(const char* pattern, const std::string& sid) {
  std::string out;
  for (std::string_view p = pattern;;) {
    const auto at = p.find("%s");
    out += p.substr(0, at);
    if (at == std::string_view::npos) return out;
    out += sid;
    p = p.substr(at + 2);
  }
}

std::string hex8(std::uint32_t v) {
  char out[9];
  std::snprintf(out, sizeof out, "%08X", v);
  return out;
}

}  // namespace

std::string processAddress(long long sid) {
  // Process state objects one after another from the pseudo process on, as in
  // the SGA; 0x1C0 bytes each.
  return hex8(0x8C4A0000u + static_cast<std::uint32_t>(sid) * 0x1C0u);
}

std::string serverProcessId(long long sid, long long serial) {
  return std::to_string(2000 + (sid * 7919 + serial * 104729) % 28000);
}

void seedServerState(sqlite3* db, const std::string& sid, const std::string& host) {
  SqliteStatement(db,
        "INSERT INTO instance_info(instance_number, instance_name, host_name, version, startup_time)"
        " SELECT 1, ?, ?, '8.1.7.0.0', created FROM instance")
      .bind(1, lower(sid))
      .bind(2, std::string_view(host).substr(0, 64))
      .run();
  SqliteStatement add(db,
            "INSERT INTO parameters(num, name, type, value, isdefault, isses_modifiable, issys_modifiable,"
            " description) VALUES(?, ?, ?, ?, ?, ?, ?, ?)");
  long long num = 1;
  for (const Parameter& p : kParameters) {
    add.reset();
    add.bind(1, num++).bind(2, p.name).bind(3, p.type);
    if (p.value) add.bind(4, withSid(p.value, sid));
    add.bind(5, p.isDefault ? "TRUE" : "FALSE").bind(6, p.sessionModifiable).bind(7, p.systemModifiable);
    add.bind(8, p.description).run();
  }
  // The background processes' own locks: media recovery for each data file
  // (DBW0) and the redo thread (LGWR).
  exec(db,
       "INSERT INTO locks(addr, kaddr, sid, serial, type, id1, id2, lmode, request, since)"
       " SELECT printf('%08X', 0x8C4B0000 + 32 * value), printf('%08X', 0x8C4B0014 + 32 * value),"
       " (SELECT sid FROM sessions WHERE program LIKE '%(DBW0)'), 1, 'MR', value, 0, 4, 0,"
       " CAST(strftime('%s', 'now') AS INTEGER)"
       " FROM (SELECT 1 AS value UNION ALL SELECT 2 UNION ALL SELECT 3 UNION ALL SELECT 4)");
  exec(db,
       "INSERT INTO locks(addr, kaddr, sid, serial, type, id1, id2, lmode, request, since)"
       " SELECT '8C4B00C0', '8C4B00D4', sid, 1, 'RT', 1, 0, 6, 0, CAST(strftime('%s', 'now') AS INTEGER)"
       " FROM sessions WHERE program LIKE '%(LGWR)'");
}

bool killedSessionsDue(sqlite3* db, long long now) {
  SqliteStatement due(db, "SELECT 1 FROM sessions WHERE status = 'KILLED' AND os_pid IS NULL AND killed_at <= ? LIMIT 1");
  due.bind(1, now - kKilledSessionLinger);
  const bool found = due.step();
  due.reset();  // at once: a statement left stepping would keep the file's read lock
  return found;
}

long removeKilledSessions(sqlite3* db, long long now) {
  SqliteStatement(db, "DELETE FROM sessions WHERE status = 'KILLED' AND os_pid IS NULL AND killed_at <= ?")
      .bind(1, now - kKilledSessionLinger)
      .run();
  const long removed = sqlite3_changes(db);
  if (removed > 0) removeOrphanLocks(db);
  return removed;
}

void removeOrphanLocks(sqlite3* db) {
  exec(db,
       "DELETE FROM locks WHERE NOT EXISTS (SELECT 1 FROM sessions s WHERE s.sid = locks.sid"
       " AND s.serial = locks.serial)");
}

}  // namespace ocisim
