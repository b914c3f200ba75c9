// Where the client keeps its instances, and what it does with a data file that
// it cannot use: an installed client home has no data folder of its own, so
// each user's instances live in that user's data folder; a folder that cannot
// be made and a file that is no instance of this client are reported, and such
// a file is never written to.
#include "oci_fixture.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <optional>

using namespace ocisim_test;

namespace {

namespace fs = std::filesystem;

std::string contentOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
  chmod(path.c_str(), 0600);
}

mode_t modeOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

// Runs statements on a database file as another program would.
void onFile(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr), SQLITE_OK);
  char* message = nullptr;
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message), SQLITE_OK) << (message ? message : "");
  sqlite3_free(message);
  sqlite3_close(db);
}

long long countOn(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  long long n = -1;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* q = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &q, nullptr) == SQLITE_OK && sqlite3_step(q) == SQLITE_ROW)
      n = sqlite3_column_int64(q, 0);
    sqlite3_finalize(q);
  }
  sqlite3_close(db);
  return n;
}

// Sets or removes environment variables for one scope (the helper processes
// inherit them).
class Environment {
 public:
  ~Environment() {
    for (auto& [name, value] : saved_) {
      if (value)
        setenv(name.c_str(), value->c_str(), 1);
      else
        unsetenv(name.c_str());
    }
  }
  void set(const std::string& name, const std::optional<std::string>& value) {
    if (saved_.find(name) == saved_.end()) {
      const char* old = std::getenv(name.c_str());
      saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    if (value)
      setenv(name.c_str(), value->c_str(), 1);
    else
      unsetenv(name.c_str());
  }

 private:
  std::map<std::string, std::optional<std::string>> saved_;
};

class DataFolderTest : public OciSimTest {
 protected:
  // A client home laid out as an installation lays it out: the client in
  // lib/, the service names in network/admin/, and no oradata/. Helpers load
  // that client instead of the build's.
  void SetUp() override {
    OciSimTest::SetUp();
    home_ = dir_ + "/oracle_home";
    fs::create_directories(home_ + "/lib");
    fs::create_directories(home_ + "/network/admin");
    fs::copy_file(OCISIM_CLIENT_LIBRARY, home_ + "/lib/libclntsh.so");
    const fs::path built = fs::path(OCISIM_CLIENT_LIBRARY).parent_path().parent_path();
    fs::copy_file(built / "network/admin/tnsnames.ora", home_ + "/network/admin/tnsnames.ora");
    env_.set("LD_LIBRARY_PATH", home_ + "/lib");
    env_.set("OCISIM_ORADATA", std::nullopt);
    env_.set("XDG_DATA_HOME", std::nullopt);
    env_.set("HOME", dir_ + "/nobody-home");
  }

  // Logs a helper on to DEMO through the home's client as SYSTEM; answers its
  // first line ("OK <pid>" or "ERROR <first line of the message>").
  std::unique_ptr<HelperProcess> logOn() {
    auto helper = std::make_unique<HelperProcess>(std::vector<std::string>{"DEMO", "system", "manager"});
    firstLine_ = helper->readLine();
    return helper;
  }

  std::string home_;
  Environment env_;
  std::string firstLine_;
};

}  // namespace

TEST_F(DataFolderTest, AnInstalledHomeKeepsEachUsersDemoInstanceInThatUsersDataFolder) {
  const std::string first = dir_ + "/alice/data", second = dir_ + "/bob/data";
  env_.set("XDG_DATA_HOME", first);
  auto alice = logOn();
  ASSERT_EQ(firstLine_, "OK " + std::to_string(alice->pid()));
  env_.set("XDG_DATA_HOME", second);
  auto bob = logOn();
  ASSERT_EQ(firstLine_, "OK " + std::to_string(bob->pid()));

  const std::string aliceFile = first + "/quenlow/oradata/DEMO.dbf", bobFile = second + "/quenlow/oradata/DEMO.dbf";
  // Two instances, each with its own user's session only, and each with the
  // demo's simulated sessions.
  const auto sessionsOf = [](const std::string& file, pid_t pid) {
    return countOn(file, "SELECT count(*) FROM sessions WHERE os_pid = " + std::to_string(pid));
  };
  EXPECT_EQ(sessionsOf(aliceFile, alice->pid()), 1);
  EXPECT_EQ(sessionsOf(aliceFile, bob->pid()), 0);
  EXPECT_EQ(sessionsOf(bobFile, bob->pid()), 1);
  EXPECT_EQ(sessionsOf(bobFile, alice->pid()), 0);
  for (const std::string& file : {aliceFile, bobFile}) {
    EXPECT_EQ(countOn(file, "SELECT count(*) FROM sessions WHERE type = 'USER' AND os_pid IS NULL"), 8) << file;
    EXPECT_EQ(modeOf(file), 0600u);
    EXPECT_EQ(modeOf(fs::path(file).parent_path()), 0700u);
  }
  // Nothing was written into the client's home.
  EXPECT_FALSE(fs::exists(home_ + "/oradata"));

  // Without XDG_DATA_HOME (or with one that is no absolute path, which the
  // base directories ignore) the data folder is ~/.local/share.
  for (const std::optional<std::string>& xdg : {std::optional<std::string>(), std::optional<std::string>("rel/data")}) {
    env_.set("XDG_DATA_HOME", xdg);
    auto helper = logOn();
    EXPECT_EQ(firstLine_, "OK " + std::to_string(helper->pid()));
  }
  EXPECT_TRUE(fs::exists(dir_ + "/nobody-home/.local/share/quenlow/oradata/DEMO.dbf"));
  EXPECT_FALSE(fs::exists(dir_ + "/rel"));
}

TEST_F(DataFolderTest, TheHomesOwnDataFolderServesOnlyWhenThisUserMayWriteIt) {
  env_.set("XDG_DATA_HOME", dir_ + "/data");
  // A build's home: its own folder holds the instance.
  fs::create_directories(home_ + "/oradata");
  chmod((home_ + "/oradata").c_str(), 0700);
  {
    auto helper = logOn();
    ASSERT_EQ(firstLine_, "OK " + std::to_string(helper->pid()));
  }
  EXPECT_TRUE(fs::exists(home_ + "/oradata/DEMO.dbf"));
  EXPECT_FALSE(fs::exists(dir_ + "/data/quenlow"));

  // Another user's folder there (a home installed or built by someone else) is
  // passed over, whatever the permissions would let this user do.
  fs::remove_all(home_ + "/oradata");
  fs::create_directories(home_ + "/oradata");
  if (geteuid() == 0) {
    ASSERT_EQ(chown((home_ + "/oradata").c_str(), 65534, 65534), 0);
  } else {
    chmod((home_ + "/oradata").c_str(), 0500);
  }
  {
    auto helper = logOn();
    ASSERT_EQ(firstLine_, "OK " + std::to_string(helper->pid()));
  }
  EXPECT_TRUE(fs::is_empty(home_ + "/oradata"));
  EXPECT_TRUE(fs::exists(dir_ + "/data/quenlow/oradata/DEMO.dbf"));
  chmod((home_ + "/oradata").c_str(), 0700);
}

TEST_F(DataFolderTest, ADataFolderThatCannotBeMadeIsNamedInTheError) {
  // XDG_DATA_HOME names a file: the folder cannot be made under it.
  writeFile(dir_ + "/plain-file", "not a folder\n");
  env_.set("XDG_DATA_HOME", dir_ + "/plain-file");
  auto helper = logOn();
  ASSERT_EQ(firstLine_, "ERROR ORA-01034: ORACLE not available");
  EXPECT_EQ(helper->readLine(),
            "Cannot create the data folder " + dir_ + "/plain-file/quenlow/oradata: Not a directory");
  EXPECT_EQ(contentOf(dir_ + "/plain-file"), "not a folder\n");

  // The same for a folder chosen for tests, in this process.
  env_.set("OCISIM_ORADATA", dir_ + "/plain-file/oradata");
  Connection c;
  EXPECT_EQ(c.attach(), OCI_ERROR);
  EXPECT_EQ(c.error(), "ORA-01034: ORACLE not available\nCannot create the data folder " + dir_ +
                           "/plain-file/oradata: Not a directory");
  // A data folder that is a file.
  env_.set("OCISIM_ORADATA", dir_ + "/plain-file");
  Connection d;
  EXPECT_EQ(d.attach(), OCI_ERROR);
  EXPECT_EQ(d.error(), "ORA-01034: ORACLE not available\nThe data folder " + dir_ + "/plain-file is not a folder");
}

TEST_F(DataFolderTest, ADataFileThatIsNoInstanceOfThisClientIsReportedAndLeftAsItWas) {
  const std::string oradata = dir_ + "/oradata";
  env_.set("OCISIM_ORADATA", oradata);
  fs::create_directories(oradata);
  const std::string file = oradata + "/DEMO.dbf";
  const std::string unavailable = "ORA-01034: ORACLE not available\nThe data file " + file;

  // A healthy instance of the current layout, kept to make the others from.
  {
    Connection c;
    c.open("system", "manager");
  }
  const std::string healthy = dir_ + "/healthy.dbf";
  onFile(file, "PRAGMA wal_checkpoint(TRUNCATE)");
  fs::copy_file(file, healthy);
  fs::remove(file);

  struct Damage {
    const char* what;
    std::function<void()> make;
    std::string error;
  };
  const std::vector<Damage> damages = {
      {"text instead of a database", [&] { writeFile(file, std::string(5000, 'x')); },
       unavailable + " is damaged or is not an instance's data file; it is left as it is"},
      {"a database cut after its first page",
       [&] { writeFile(file, contentOf(healthy).substr(0, 4096)); },
       unavailable + " is damaged or is not an instance's data file; it is left as it is"},
      {"another program's database",
       [&] { onFile(file, "CREATE TABLE notes(text); INSERT INTO notes VALUES('keep me')"); },
       unavailable + " is not an instance's data file; it is left as it is"},
      {"another program's database at its second version",
       [&] { onFile(file, "CREATE TABLE notes(text); INSERT INTO notes VALUES('keep me'); PRAGMA user_version=2"); },
       unavailable + " is not an instance's data file; it is left as it is"},
      {"an instance of a newer layout",
       [&] {
         fs::copy_file(healthy, file);
         onFile(file, "PRAGMA user_version=99");
       },
       unavailable + " is of a newer client's layout; it is left as it is"},
  };
  for (const Damage& damage : damages) {
    SCOPED_TRACE(damage.what);
    fs::remove(file);
    damage.make();
    chmod(file.c_str(), 0600);
    const std::string before = contentOf(file);
    for (int attempt = 0; attempt < 2; ++attempt) {
      Connection c;
      EXPECT_EQ(c.attach(), OCI_ERROR);
      EXPECT_EQ(c.error(), damage.error);
      EXPECT_EQ(contentOf(file), before);
    }
  }

  // An instance of an earlier layout of this client is made anew.
  fs::remove(file);
  fs::copy_file(healthy, file);
  onFile(file, "PRAGMA user_version=2");
  {
    Connection c;
    c.open("system", "manager");
  }
  EXPECT_EQ(countOn(file, "PRAGMA user_version"), 4);
}

TEST_F(DataFolderTest, ADamagedUserDataFileFailsTheLogOnAndIsLeftAsItWas) {
  const std::string oradata = dir_ + "/oradata";
  env_.set("OCISIM_ORADATA", oradata);
  fs::create_directories(oradata);
  const std::string file = oradata + "/DEMO.users.dbf";
  writeFile(file, std::string(3000, '\x7f'));
  const std::string before = contentOf(file);
  Connection c;
  ASSERT_EQ(c.attach(), OCI_SUCCESS) << c.error();
  EXPECT_EQ(c.logon("system", "manager"), OCI_ERROR);
  EXPECT_EQ(c.error(), "ORA-01034: ORACLE not available\nThe data file " + file +
                           " is damaged or is not an instance's data file; it is left as it is");
  EXPECT_EQ(contentOf(file), before);
  EXPECT_TRUE(userSessions().empty());
}
