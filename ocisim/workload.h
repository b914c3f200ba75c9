// The users of a busy server on a simulated instance: sessions log on and off,
// run the statements of their applications, go idle, hold locks while their
// transactions last, and killed ones are cleaned up as the server's own
// cleanup would. Each change is one write transaction, so a reader sees the
// instance before it or after it, never half of it.
#pragma once

#include "ocisim/instance.h"

#include <cstdint>
#include <string>

namespace ocisim {

class Workload {
 public:
  // Works on an open instance; the same seed makes the same choices.
  Workload(Instance& instance, std::uint32_t seed);

  // Logs sessions on until the instance has the simulated users of a server
  // that has been busy for hours (logged on at times of the last hours).
  void populate();
  // Makes one change, after the cleanup of killed sessions that are due.
  void change();
  long changes() const { return changes_; }

  // What kinds of change were made, for the report at the end of a run.
  struct Tally {
    long logons = 0, logoffs = 0, statements = 0, idles = 0, commits = 0, cleanedUp = 0;
  };
  const Tally& tally() const { return tally_; }

 private:
  struct Session {
    long long sid = 0, serial = 0;
    std::string status, program;
    bool holdsTransaction = false;
  };
  std::uint32_t next(std::uint32_t range);
  long liveSessions();
  bool pickSession(Session& out, const char* condition);
  void logOn(long long logonTime);
  void logOff();
  void runStatement();
  void goIdle();
  void ensureUsers();

  Instance& instance_;
  std::uint32_t state_;
  long changes_ = 0;
  Tally tally_;
};

}  // namespace ocisim
