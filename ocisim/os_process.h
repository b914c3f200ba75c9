// Identity of operating-system processes, as the instance records its sessions' owners.
#pragma once

#include <string>

#include <sys/types.h>

namespace ocisim {

struct ProcessIdentity {
  pid_t pid = 0;
  long long startTicks = 0;  // start time since boot; tells a reused pid from its former owner
  std::string program;       // executable name
  std::string osUser;
  std::string machine;
  std::string terminal;      // e.g. "pts/0", or "unknown" without one
};

// This process, as it is now (read afresh: a forked child is a process of its own).
ProcessIdentity currentProcess();

// The start time of a process, or -1 when it cannot be read.
long long processStartTicks(pid_t pid);

// Whether the process that was pid with the given start time still runs.
bool processAlive(pid_t pid, long long startTicks);

// This machine's host name.
std::string hostName();

}  // namespace ocisim
