// The instance shared by many client processes while sessions are being
// killed: every kill reaches its session's owner, listings stay consistent and
// the data file stays sound.
#include "oci_fixture.h"

#include "ocisim/ocisim_controls.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

extern char** environ;

using namespace ocisim_test;

using LoadTest = OciSimTest;

namespace {

// A worker process whose standard output is read without blocking.
class Worker {
 public:
  explicit Worker(const std::vector<std::string>& args) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    std::string program = OCISIM_LOAD_WORKER;
    std::vector<std::string> copies = args;
    std::vector<char*> argv{program.data()};
    for (std::string& a : copies) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    out_ = out[0];
    fcntl(out_, F_SETFL, fcntl(out_, F_GETFL) | O_NONBLOCK);
  }
  ~Worker() {
    if (out_ >= 0) close(out_);
    if (running()) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

  pid_t pid() const { return pid_; }
  bool started() const { return pid_ > 0 && out_ >= 0; }
  bool running() const { return pid_ > 0 && !exited_; }
  // Done once the process has exited and all it wrote has been read.
  bool finished() const { return !running() && out_ < 0; }
  int exitStatus() const { return status_; }
  const std::vector<std::string>& lines() const { return lines_; }
  int readFd() const { return out_; }

  // Reads what is there, and reaps the process once it has exited.
  void poll() {
    if (running()) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = true;
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
      }
    }
    if (out_ < 0) return;
    char buf[4096];
    ssize_t n;
    while ((n = read(out_, buf, sizeof buf)) > 0) pending_.append(buf, static_cast<size_t>(n));
    for (size_t nl; (nl = pending_.find('\n')) != std::string::npos;) {
      lines_.push_back(pending_.substr(0, nl));
      pending_.erase(0, nl + 1);
    }
    // End of output: the process, the pipe's only writer, has gone.
    if (n == 0) {
      close(out_);
      out_ = -1;
      if (!pending_.empty()) lines_.push_back(pending_);
      pending_.clear();
    }
  }

  void killHard() {
    if (running()) kill(pid_, SIGKILL);
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  bool exited_ = false;
  int status_ = -1000;
  std::string pending_;
  std::vector<std::string> lines_;
};

std::string programName(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }

// "PRAGMA integrity_check" of a data file opened read-only.
std::string integrityCheck(const std::string& path) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    const std::string message = db ? sqlite3_errmsg(db) : "cannot open";
    sqlite3_close(db);
    return message;
  }
  sqlite3_busy_timeout(db, 10000);
  std::string result;
  sqlite3_stmt* q = nullptr;
  if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &q, nullptr) != SQLITE_OK) {
    result = sqlite3_errmsg(db);
  } else {
    while (sqlite3_step(q) == SQLITE_ROW) {
      const auto* t = sqlite3_column_text(q, 0);
      if (!result.empty()) result += "\n";
      result += t ? reinterpret_cast<const char*>(t) : "<null>";
    }
  }
  sqlite3_finalize(q);
  sqlite3_close(db);
  return result;
}

using SessionKey = std::pair<long, long>;  // sid, serial#

}  // namespace

TEST_F(LoadTest, TheInstanceUnderLoad) {
  constexpr int kWorkers = 8;
  constexpr int kRounds = 15;
  constexpr int kListings = 5;
  constexpr int kWorkerPauseMs = 150;
  constexpr auto kKillPause = std::chrono::milliseconds(250);
  constexpr auto kGiveUpAfter = std::chrono::seconds(120);
  const std::string workerProgram = programName(OCISIM_LOAD_WORKER);

  // The instance exists before the workers start, so they all find it seeded.
  Connection dba;
  dba.open("system", "manager");

  std::vector<std::unique_ptr<Worker>> workers;
  for (int i = 0; i < kWorkers; ++i) {
    workers.push_back(std::make_unique<Worker>(std::vector<std::string>{
        "DEMO", std::to_string(kRounds), std::to_string(kListings), std::to_string(kWorkerPauseMs)}));
    ASSERT_TRUE(workers.back()->started()) << "worker " << i << " did not start";
  }

  struct Kill {
    long sid, serial;
    long osPid;  // the owning process, as v$session names it
  };
  std::vector<Kill> kills;
  std::set<SessionKey> killed;
  std::vector<std::string> dbaFailures;
  std::mt19937 random(20240611u);

  const auto allFinished = [&] {
    for (auto& w : workers)
      if (!w->finished()) return false;
    return true;
  };
  // Reads the workers' output for a while, or until they have all finished.
  const auto waitForWorkers = [&](std::chrono::milliseconds pause) {
    const auto until = std::chrono::steady_clock::now() + pause;
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          until - std::chrono::steady_clock::now());
      if (left.count() <= 0 || allFinished()) return;
      std::vector<pollfd> fds;
      for (auto& w : workers)
        if (w->readFd() >= 0) fds.push_back({w->readFd(), POLLIN, 0});
      // With every output read to its end, only exits remain to be reaped.
      if (fds.empty()) usleep(10000);
      else ::poll(fds.data(), fds.size(), static_cast<int>(left.count()));
      for (auto& w : workers) w->poll();
    }
  };

  const auto deadline = std::chrono::steady_clock::now() + kGiveUpAfter;
  bool gaveUp = false;
  while (!allFinished()) {
    if (std::chrono::steady_clock::now() > deadline) {
      gaveUp = true;
      break;
    }
    for (auto& w : workers) w->poll();

    const auto rows =
        query(dba, "select sid, serial#, program, status, type, process from v$session");
    std::set<long> sids;
    std::vector<Kill> candidates;
    for (const auto& row : rows) {
      const long sid = std::atol(row[0].c_str()), serial = std::atol(row[1].c_str());
      if (!sids.insert(sid).second) dbaFailures.push_back("sid " + row[0] + " listed twice");
      if (row[2] == workerProgram && row[3] != "KILLED" && row[4] == "USER" &&
          !killed.count({sid, serial}))
        candidates.push_back({sid, serial, std::atol(row[5].c_str())});
    }
    if (!candidates.empty()) {
      const Kill victim = candidates[random() % candidates.size()];
      Statement kill(dba);
      const std::string sql = "alter system kill session '" + std::to_string(victim.sid) + "," +
                              std::to_string(victim.serial) + "'";
      if (kill.run(sql) == OCI_SUCCESS) {
        kills.push_back(victim);
        killed.insert({victim.sid, victim.serial});
      } else {
        // The session may have ended since it was listed.
        const std::string error = dba.error();
        if (error.rfind("ORA-00030:", 0) != 0 && error.rfind("ORA-00031:", 0) != 0)
          dbaFailures.push_back(sql + ": " + error);
      }
    }
    waitForWorkers(kKillPause);
  }
  if (gaveUp) {
    std::string still;
    for (auto& w : workers)
      if (!w->finished()) still += " " + std::to_string(w->pid());
    for (auto& w : workers) w->killHard();
    FAIL() << "workers still running after " << kGiveUpAfter.count() << " s:" << still;
  }

  EXPECT_TRUE(dbaFailures.empty()) << ::testing::PrintToString(dbaFailures);
  EXPECT_FALSE(kills.empty()) << "no session was killed";

  char path[4096];
  ASSERT_GT(ocisim_instance_file("DEMO", path, sizeof path), 0);
  EXPECT_EQ(integrityCheck(path), "ok");

  // Every worker logged its sessions off or learnt of their kill: none is left.
  for (const SessionRow& row : userSessions())
    EXPECT_NE(row.program, workerProgram) << "session " << row.sid << "," << row.serial
                                          << " of process " << row.osPid << " remains";

  // What the workers saw, per owning process.
  std::set<SessionKey> announced;
  std::map<long, std::set<SessionKey>> reportedKills;  // by worker pid
  std::map<long, int> unknownKills;                    // GOT28 before the sid was known
  for (auto& w : workers) {
    EXPECT_EQ(w->exitStatus(), 0) << "worker " << w->pid();
    EXPECT_EQ(w->lines().empty() ? std::string() : w->lines().back(), "DONE")
        << "worker " << w->pid() << " did not run all its rounds";
    for (const std::string& line : w->lines()) {
      std::istringstream in(line);
      std::string word, sid, serial;
      in >> word >> sid >> serial;
      if (word == "SESSION") {
        const SessionKey key{std::atol(sid.c_str()), std::atol(serial.c_str())};
        EXPECT_TRUE(announced.insert(key).second) << "sid,serial# " << sid << "," << serial
                                                  << " given to two sessions";
      } else if (word == "GOT28" && sid == "-") {
        ++unknownKills[w->pid()];
      } else if (word == "GOT28") {
        reportedKills[w->pid()].insert({std::atol(sid.c_str()), std::atol(serial.c_str())});
      } else if (word != "DONE") {
        ADD_FAILURE() << "worker " << w->pid() << ": " << line;
      }
    }
  }

  // Each kill reached the process owning the session, and no other session
  // was told it had been killed.
  std::map<long, int> killsBeforeAnnouncement;
  for (const Kill& k : kills) {
    const SessionKey key{k.sid, k.serial};
    if (announced.count(key))
      EXPECT_TRUE(reportedKills[k.osPid].count(key))
          << "kill of " << k.sid << "," << k.serial << " never reached process " << k.osPid;
    else
      ++killsBeforeAnnouncement[k.osPid];
  }
  for (const auto& [pid, keys] : reportedKills)
    for (const SessionKey& key : keys)
      EXPECT_TRUE(killed.count(key)) << "process " << pid << " was told " << key.first << ","
                                     << key.second << " was killed, which nobody did";
  EXPECT_EQ(unknownKills, killsBeforeAnnouncement)
      << "kills of sessions that had not yet learnt their sid, per process";
}
