// The instance's schema (its tables and the v$ views over them), recognising
// the layout of a data file, and seeding a new instance with its banners,
// accounts, roles, privileges and background processes.

#include "ocisim/schema.h"

#include "ocisim/demo_sessions.h"
#include "ocisim/instance.h"
#include "ocisim/os_process.h"
#include "ocisim/server_processes.h"
#include "ocisim/sqlite_db.h"
#include "ocisim/stored_text.h"

#include <string>
#include <utility>
#include <vector>

namespace ocisim {

namespace {

constexpr const char* kSchema = R"sql(
CREATE TABLE instance(
  instance_name TEXT NOT NULL,
  created TEXT NOT NULL,
  next_serial INTEGER NOT NULL,
  next_audsid INTEGER NOT NULL);
CREATE TABLE version_banner(line INTEGER PRIMARY KEY, banner VARCHAR2(64) NOT NULL);
CREATE TABLE users(
  user_id INTEGER PRIMARY KEY,
  username VARCHAR2(30) NOT NULL UNIQUE,
  password TEXT NOT NULL,
  account_status VARCHAR2(32) NOT NULL DEFAULT 'OPEN',
  created DATE NOT NULL);
CREATE TABLE roles(role VARCHAR2(30) PRIMARY KEY);
CREATE TABLE role_grants(
  grantee VARCHAR2(30) NOT NULL,
  granted_role VARCHAR2(30) NOT NULL REFERENCES roles(role),
  default_role VARCHAR2(3) NOT NULL DEFAULT 'YES',
  PRIMARY KEY(grantee, granted_role));
CREATE TABLE sys_privs(
  grantee VARCHAR2(30) NOT NULL,
  privilege VARCHAR2(40) NOT NULL,
  PRIMARY KEY(grantee, privilege));
CREATE TABLE dual(dummy VARCHAR2(1));
INSERT INTO dual VALUES('X');
-- Directories of BFILE values: name and path on this machine.
CREATE TABLE directories(
  directory_name VARCHAR2(30) PRIMARY KEY,
  directory_path VARCHAR2(4000) NOT NULL);
-- One row per session, declared with the types the server reports (Oracle8i's
-- v$session). os_pid and os_start name the client process that owns a user
-- session; they are NULL for the background processes and for simulated sessions.
-- paddr and spid name the session's server process (v$process); killed_at is
-- when the session was killed (seconds since the epoch).
CREATE TABLE sessions(
  sid NUMBER PRIMARY KEY,
  serial NUMBER NOT NULL,
  audsid NUMBER NOT NULL,
  user_id NUMBER,
  username VARCHAR2(30),
  schemaname VARCHAR2(30),
  osuser VARCHAR2(15),
  machine VARCHAR2(64),
  terminal VARCHAR2(16),
  program VARCHAR2(48),
  process VARCHAR2(9),
  logon_time DATE NOT NULL,
  type VARCHAR2(10) NOT NULL,
  server VARCHAR2(9) NOT NULL,
  status VARCHAR2(8) NOT NULL,
  command NUMBER NOT NULL DEFAULT 0,
  sql_address RAW(4) NOT NULL DEFAULT '00',
  sql_hash_value NUMBER NOT NULL DEFAULT 0,
  prev_sql_addr RAW(4) NOT NULL DEFAULT '00',
  prev_hash_value NUMBER NOT NULL DEFAULT 0,
  os_pid INTEGER,
  os_start INTEGER,
  paddr RAW(4) NOT NULL DEFAULT '00',
  spid VARCHAR2(9),
  killed_at INTEGER);
-- The shared SQL area: one row per distinct statement text, of which v$sql
-- shows the first 1000 bytes.
CREATE TABLE sql_area(
  address RAW(4) PRIMARY KEY,
  hash_value NUMBER NOT NULL,
  sql_text VARCHAR2(1000) NOT NULL,
  full_text TEXT NOT NULL,
  command_type NUMBER NOT NULL DEFAULT 0,
  executions NUMBER NOT NULL DEFAULT 0,
  parsing_user_id NUMBER,
  first_load_time VARCHAR2(19));
-- The statement text in pieces of at most 64 bytes (whole characters), counted from 0.
CREATE TABLE sql_text_pieces(
  address RAW(4) NOT NULL,
  hash_value NUMBER NOT NULL,
  command_type NUMBER NOT NULL,
  piece NUMBER NOT NULL,
  sql_text VARCHAR2(64) NOT NULL,
  PRIMARY KEY(address, hash_value, piece));
CREATE VIEW "v$version" AS SELECT banner FROM version_banner ORDER BY line;
CREATE VIEW "v$session" AS
  SELECT sid, serial AS "serial#", audsid, user_id AS "user#", username, command,
         status, schemaname, osuser, process, machine, terminal, program, type,
         sql_address, sql_hash_value, prev_sql_addr, prev_hash_value, logon_time, server
    FROM sessions;
CREATE VIEW "v$sql" AS
  SELECT sql_text, address, hash_value, command_type, executions, parsing_user_id,
         first_load_time
    FROM sql_area;
CREATE VIEW "v$sqltext" AS
  SELECT address, hash_value, command_type, piece, sql_text FROM sql_text_pieces;
)sql";

// Removes every table and view of a data file of an older layout.
void dropEverything(sqlite3* db) {
  std::vector<std::pair<std::string, std::string>> objects;
  {
    SqliteStatement list(db, "SELECT type, name FROM sqlite_master WHERE type IN ('table', 'view')"
                   " AND name NOT LIKE 'sqlite_%'");
    while (list.step()) objects.emplace_back(list.text(0), list.text(1));
  }
  for (const auto& [type, name] : objects) {
    std::string quotedName = "\"";
    for (char c : name) quotedName += c == '"' ? std::string("\"\"") : std::string(1, c);
    quotedName += "\"";
    exec(db, ("DROP " + std::string(type == "view" ? "VIEW" : "TABLE") + " IF EXISTS " + quotedName).c_str());
  }
}

constexpr const char* kBanners[] = {
    "Oracle8i Enterprise Edition Release 8.1.7.0.0 - Production",
    "PL/SQL Release 8.1.7.0.0 - Production",
    "CORE\t8.1.7.0.0\tProduction",
    "TNS for Linux: Version 8.1.7.0.0 - Production",
    "NLSRTL Version 3.4.1.0.0 - Production",
};

constexpr const char* kBackgroundProcesses[] = {"PMON", "DBW0", "LGWR", "CKPT", "SMON", "RECO"};

// The seeded accounts' passwords are the published defaults MANAGER, MONITOR and
// TIGER. They are hashed once, here, rather than each time an instance is made:
// a default password is no secret, and a new instance then costs no key
// derivation. A changed cost makes them anew at each account's next logon.
constexpr const char* kManagerHash =
    "$argon2id$v=19$m=19456,t=2,p=1$ZUM+pM1H2q9SpH5TnLBsDg$KIP3hovRwxcZYL4V8nNx+hjeWvTctBbSueGrOef6iv4";
constexpr const char* kMonitorHash =
    "$argon2id$v=19$m=19456,t=2,p=1$23YAk46t5CU8QkXZJpEsng$NjxhYD5oohREBph7B7UPn3YavQNU3daNY+XXWifDQD4";
constexpr const char* kTigerHash =
    "$argon2id$v=19$m=19456,t=2,p=1$dBi/MRhCHs+/Ek/85ATS9g$7OlePfyJOOMigzrsp6gwXgdzFnZEuSZcrGvnNd6TTCg";

struct SeedUser {
  const char* name;
  const char* passwordHash;  // null for a role
  std::vector<const char*> roles;
  std::vector<const char*> privileges;
};

}  // namespace

// Every layout of this client has kept its user_version and an `instance`
// table; another program's database has neither (or not both).
Layout layoutOf(sqlite3* db) {
  const long long version = readInteger(db, "PRAGMA main.user_version");
  const long long objects =
      readInteger(db, "SELECT count(*) FROM main.sqlite_master WHERE name NOT LIKE 'sqlite\\_%' ESCAPE '\\'");
  const bool instanceTable =
      readInteger(db, "SELECT count(*) FROM main.sqlite_master WHERE type = 'table' AND name = 'instance'") > 0;
  if (version == 0) return objects == 0 ? Layout::Empty : Layout::Foreign;
  if (version < 0 || !instanceTable) return Layout::Foreign;
  if (version < kSchemaVersion) return Layout::Older;
  return version == kSchemaVersion ? Layout::Current : Layout::Newer;
}

// Refuses a data file that this client must not write to.
void refuseForeignLayout(Layout layout, const std::string& path) {
  if (layout == Layout::Foreign)
    throw notAvailable("The data file " + path + " is not an instance's data file; it is left as it is");
  if (layout == Layout::Newer)
    throw notAvailable("The data file " + path + " is of a newer client's layout; it is left as it is");
}

void Instance::seed() {
  WriteTransaction tx(db_.get());
  // Read again under the write lock: another process may have seeded the file
  // since it was first read.
  const Layout layout = layoutOf(db_.get());
  if (layout == Layout::Current) return;  // seeded before
  refuseForeignLayout(layout, instanceFilePath(sid_));
  if (layout == Layout::Older) dropEverything(db_.get());  // a file of an older layout is made anew
  exec(db_.get(), kSchema);
  exec(db_.get(), kServerStateSchema);
  const std::string now = nowText();
  const std::string host = hostName();
  SqliteStatement(db_.get(), "INSERT INTO instance VALUES(?, ?, 2, 1001)").bind(1, sid_).bind(2, now).run();
  int line = 1;
  for (const char* banner : kBanners)
    SqliteStatement(db_.get(), "INSERT INTO version_banner VALUES(?, ?)").bind(1, line++).bind(2, banner).run();

  for (const char* role : {"CONNECT", "RESOURCE", "DBA", "SELECT_CATALOG_ROLE"})
    SqliteStatement(db_.get(), "INSERT INTO roles VALUES(?)").bind(1, role).run();
  const std::vector<SeedUser> users = {
      {"SYSTEM", kManagerHash, {"DBA", "SELECT_CATALOG_ROLE"}, {"ALTER SYSTEM", "CREATE SESSION"}},
      {"MONITOR", kMonitorHash, {"SELECT_CATALOG_ROLE"}, {"CREATE SESSION"}},
      {"SCOTT", kTigerHash, {"CONNECT", "RESOURCE"}, {}},
      // Privileges that come with the roles themselves.
      {"CONNECT", nullptr, {}, {"CREATE SESSION"}},
      {"RESOURCE", nullptr, {}, {"CREATE TABLE"}},
      {"DBA", nullptr, {}, {"CREATE SESSION", "CREATE TABLE", "CREATE ANY TABLE", "CREATE ANY VIEW",
                             "CREATE ANY INDEX", "SELECT ANY TABLE", "INSERT ANY TABLE", "UPDATE ANY TABLE",
                             "DELETE ANY TABLE", "DROP ANY TABLE", "DROP ANY VIEW", "DROP ANY INDEX"}},
  };
  long userId = 5;
  for (const SeedUser& u : users) {
    if (u.passwordHash) {
      SqliteStatement(db_.get(), "INSERT INTO users(user_id, username, password, created) VALUES(?, ?, ?, ?)")
          .bind(1, userId++)
          .bind(2, u.name)
          .bind(3, u.passwordHash)
          .bind(4, now)
          .run();
    }
    for (const char* role : u.roles)
      SqliteStatement(db_.get(), "INSERT INTO role_grants(grantee, granted_role) VALUES(?, ?)")
          .bind(1, u.name)
          .bind(2, role)
          .run();
    for (const char* privilege : u.privileges)
      SqliteStatement(db_.get(), "INSERT INTO sys_privs VALUES(?, ?)").bind(1, u.name).bind(2, privilege).run();
  }

  long sid = 1;
  for (const char* name : kBackgroundProcesses) {
    SqliteStatement(db_.get(),
          "INSERT INTO sessions(sid, serial, audsid, osuser, machine, terminal, program, process,"
          " logon_time, type, server, status, paddr, spid) VALUES(?, 1, 0, 'oracle', ?, 'UNKNOWN', ?, NULL, ?,"
          " 'BACKGROUND', 'DEDICATED', 'ACTIVE', ?, ?)")
        .bind(1, sid)
        .bind(2, fit(host, 64))
        .bind(3, fit("oracle@" + host + " (" + name + ")", 48))
        .bind(4, now)
        .bind(5, processAddress(sid))
        .bind(6, serverProcessId(sid, 1))
        .run();
    ++sid;
  }
  seedServerState(db_.get(), sid_, host);
  exec(db_.get(), ("PRAGMA user_version=" + std::to_string(kSchemaVersion)).c_str());
  if (const long demo = demoSessionCount(); demo > 0) insertSimulatedSessions(db_.get(), demo, host, now);
  tx.commit();
}

}  // namespace ocisim
