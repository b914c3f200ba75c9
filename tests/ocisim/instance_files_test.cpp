// The instance's files on disk: who may read them, and how passwords rest in them.
#include "oci_fixture.h"
#include "ocisim/ocisim_controls.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>

using namespace ocisim_test;

using InstanceFilesTest = OciSimTest;

namespace {

// Sets the process's umask for one scope.
class Umask {
 public:
  explicit Umask(mode_t mask) : old_(umask(mask)) {}
  ~Umask() { umask(old_); }
  Umask(const Umask&) = delete;
  Umask& operator=(const Umask&) = delete;

 private:
  mode_t old_;
};

mode_t modeOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
  return st.st_mode;
}

// Runs statements on an instance file directly, as another tool (or an
// attacker with the file) would.
std::vector<std::string> onFile(const std::string& path, const std::string& sql) {
  std::vector<std::string> out;
  sqlite3* db = nullptr;
  EXPECT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
  sqlite3_stmt* q = nullptr;
  EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &q, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  while (q && sqlite3_step(q) == SQLITE_ROW) {
    const auto* t = sqlite3_column_text(q, 0);
    out.emplace_back(t ? reinterpret_cast<const char*>(t) : "<null>");
  }
  sqlite3_finalize(q);
  sqlite3_close(db);
  return out;
}

// The form earlier clients stored: 64-bit FNV-1a over the upper-cased user
// name, a 0xff separator and the upper-cased password.
std::string oldHash(const std::string& user, const std::string& password) {
  std::uint64_t h = 14695981039346656037ull;
  const auto feed = [&h](const std::string& s) {
    for (unsigned char c : s) {
      h ^= static_cast<unsigned char>(std::toupper(c));
      h *= 1099511628211ull;
    }
  };
  feed(user);
  h ^= 0xff;
  h *= 1099511628211ull;
  feed(password);
  char out[17];
  std::snprintf(out, sizeof out, "%016llX", static_cast<unsigned long long>(h));
  return out;
}

}  // namespace

TEST_F(InstanceFilesTest, EveryFileOfTheInstanceIsItsUsersAloneWhateverTheUmask) {
  const std::string oradata = dir_ + "/oradata";
  // A folder and an empty data file as earlier clients left them, open to all.
  std::filesystem::create_directories(oradata);
  chmod(oradata.c_str(), 0755);
  std::ofstream(oradata + "/DEMO.dbf").flush();
  chmod((oradata + "/DEMO.dbf").c_str(), 0644);
  {
    Umask open(0);
    Connection c;
    c.open();
    Statement s(c);
    ASSERT_EQ(s.run("create table t (n number)"), OCI_SUCCESS) << c.error();
    ASSERT_EQ(s.run("insert into t values (1)", OCI_COMMIT_ON_SUCCESS), OCI_SUCCESS) << c.error();

    EXPECT_EQ(modeOf(oradata) & 07777, 0700u);
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(oradata)) {
      const std::string path = entry.path().string();
      names.insert(entry.path().filename().string());
      EXPECT_TRUE(S_ISREG(modeOf(path))) << path;
      EXPECT_EQ(modeOf(path) & 07777, 0600u) << path;
    }
    // The instance file, the users' data file, and each one's WAL and shared memory.
    for (const char* name : {"DEMO.dbf", "DEMO.dbf-wal", "DEMO.dbf-shm", "DEMO.users.dbf", "DEMO.users.dbf-wal",
                             "DEMO.users.dbf-shm"})
      EXPECT_TRUE(names.count(name)) << name;
  }
  // A new instance made under a umask that leaves nothing gets the same.
  Umask none(0777);
  setenv("ORACLE_SID", "OTHER", 1);
  Connection other;
  ASSERT_EQ(other.attach(""), OCI_SUCCESS) << other.error();
  for (const char* name : {"OTHER.dbf", "OTHER.dbf-wal", "OTHER.dbf-shm"})
    EXPECT_EQ(modeOf(oradata + "/" + name) & 07777, 0600u) << name;
}

TEST_F(InstanceFilesTest, ALinkOrAnotherUsersFileInPlaceOfADataFileIsRefused) {
  const std::string oradata = dir_ + "/oradata";
  std::filesystem::create_directories(oradata);
  const std::string elsewhere = dir_ + "/elsewhere.dbf";
  std::ofstream(elsewhere) << "not for the instance";
  std::filesystem::create_symlink(elsewhere, oradata + "/DEMO.dbf");
  Connection c;
  EXPECT_EQ(c.attach("DEMO"), OCI_ERROR);
  EXPECT_EQ(c.error(), "ORA-01034: ORACLE not available\nThe data file " + oradata + "/DEMO.dbf is a symbolic link");
  std::ifstream in(elsewhere);
  std::string content;
  std::getline(in, content);
  EXPECT_EQ(content, "not for the instance");

  // A WAL file planted beside a good instance file is not taken either.
  std::filesystem::remove(oradata + "/DEMO.dbf");
  std::filesystem::create_symlink(elsewhere, oradata + "/DEMO.dbf-wal");
  Connection d;
  EXPECT_EQ(d.attach("DEMO"), OCI_ERROR);
  EXPECT_EQ(d.error(), "ORA-01034: ORACLE not available\nThe file " + oradata +
                           "/DEMO.dbf-wal beside the data file is a symbolic link");
  std::filesystem::remove(oradata + "/DEMO.dbf-wal");

  if (geteuid() == 0) {  // only root can give a file to another user
    Connection e;
    ASSERT_EQ(e.attach("DEMO"), OCI_SUCCESS) << e.error();
    ASSERT_EQ(chown((oradata + "/DEMO.dbf").c_str(), 65534, 65534), 0);
    Connection f;
    EXPECT_EQ(f.attach("DEMO"), OCI_ERROR);
    EXPECT_EQ(f.error(), "ORA-01034: ORACLE not available\nThe data file " + oradata + "/DEMO.dbf belongs to another user");
  }
}

TEST_F(InstanceFilesTest, PasswordsRestAsSaltedArgon2HashesAndOldOnesAreUpgradedAtLogon) {
  Connection first;
  ASSERT_EQ(first.attach(), OCI_SUCCESS) << first.error();
  char path[4096];
  ASSERT_GE(ocisim_instance_file("DEMO", path, sizeof path), 0);
  for (const std::string& stored : onFile(path, "SELECT password FROM users"))
    EXPECT_EQ(stored.rfind("$argon2id$v=19$", 0), 0u) << stored;

  // An instance of an earlier client: SCOTT's and MONITOR's passwords in the old
  // form, both TIGER.
  onFile(path, "UPDATE users SET password = '" + oldHash("SCOTT", "TIGER") + "' WHERE username = 'SCOTT'");
  onFile(path, "UPDATE users SET password = '" + oldHash("MONITOR", "TIGER") + "' WHERE username = 'MONITOR'");
  Connection wrong;
  ASSERT_EQ(wrong.attach(), OCI_SUCCESS);
  EXPECT_EQ(wrong.logon("scott", "lion"), OCI_ERROR);
  EXPECT_EQ(wrong.error(), "ORA-01017: invalid username/password; logon denied");
  EXPECT_EQ(onFile(path, "SELECT password FROM users WHERE username = 'SCOTT'"),
            std::vector<std::string>{oldHash("SCOTT", "TIGER")});

  Connection scott, monitor;
  scott.open("scott", "Tiger");
  monitor.open("monitor", "tiger");
  const auto scottNow = onFile(path, "SELECT password FROM users WHERE username = 'SCOTT'");
  const auto monitorNow = onFile(path, "SELECT password FROM users WHERE username = 'MONITOR'");
  ASSERT_EQ(scottNow.size(), 1u);
  ASSERT_EQ(monitorNow.size(), 1u);
  EXPECT_EQ(scottNow[0].rfind("$argon2id$", 0), 0u) << scottNow[0];
  EXPECT_EQ(monitorNow[0].rfind("$argon2id$", 0), 0u) << monitorNow[0];
  EXPECT_NE(scottNow[0], monitorNow[0]);  // the same password, each with its own salt

  // The upgraded passwords still ignore letter case, and still refuse others.
  Connection again, bad;
  again.open("SCOTT", "TIGER");
  ASSERT_EQ(bad.attach(), OCI_SUCCESS);
  EXPECT_EQ(bad.logon("scott", "tigers"), OCI_ERROR);
  EXPECT_EQ(bad.error(), "ORA-01017: invalid username/password; logon denied");
}

TEST_F(InstanceFilesTest, APasswordStoredInNoKnownFormIsReportedAsDamage) {
  Connection first;
  ASSERT_EQ(first.attach(), OCI_SUCCESS) << first.error();
  char path[4096];
  ASSERT_GE(ocisim_instance_file("DEMO", path, sizeof path), 0);
  onFile(path, "UPDATE users SET password = 'TIGER' WHERE username = 'SCOTT'");
  Connection c;
  ASSERT_EQ(c.attach(), OCI_SUCCESS);
  EXPECT_EQ(c.logon("scott", "tiger"), OCI_ERROR);
  EXPECT_EQ(c.error(),
            "ORA-00600: internal error code, arguments: [password of SCOTT stored in an unknown form], [], [], [], "
            "[], [], [], []");
  EXPECT_TRUE(userSessions().empty());
  // Other accounts are not affected.
  Connection system;
  system.open("system", "manager");
}
