// The identity of this process and whether another one still lives, for the
// owners of session rows.
#include "ocisim/os_process.h"

#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

namespace ocisim {

long long processStartTicks(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat;
  if (!in || !std::getline(in, stat)) return -1;
  // The command name (field 2) is in parentheses and may itself hold blanks or
  // parentheses, so count fields from the last ')'.
  const auto close = stat.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream rest(stat.substr(close + 1));
  std::string field;
  for (int n = 3; n <= 22; ++n) {
    if (!(rest >> field)) return -1;
    if (n == 22) return std::strtoll(field.c_str(), nullptr, 10);
  }
  return -1;
}

bool processAlive(pid_t pid, long long startTicks) {
  if (pid <= 0) return false;
  if (kill(pid, 0) != 0 && errno == ESRCH) return false;
  const long long now = processStartTicks(pid);
  // Without /proc the start time cannot be compared; the pid's existence must do.
  return now < 0 || startTicks <= 0 || now == startTicks;
}

std::string hostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0 || !name[0]) return "localhost";
  return name;
}

namespace {

std::string programName() {
  std::vector<char> buf(4096);
  const ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
  if (n > 0) {
    std::string path(buf.data(), static_cast<size_t>(n));
    return path.substr(path.find_last_of('/') + 1);
  }
  return program_invocation_short_name ? program_invocation_short_name : "unknown";
}

std::string osUserName() {
  std::vector<char> buf(16384);
  passwd pw{};
  passwd* found = nullptr;
  if (getpwuid_r(geteuid(), &pw, buf.data(), buf.size(), &found) == 0 && found && found->pw_name)
    return found->pw_name;
  if (const char* user = std::getenv("USER"); user && *user) return user;
  return std::to_string(geteuid());
}

std::string terminalName() {
  for (int fd : {0, 1, 2}) {
    char name[256];
    if (ttyname_r(fd, name, sizeof name) == 0) {
      const char* t = name;
      if (std::strncmp(t, "/dev/", 5) == 0) t += 5;
      return t;
    }
  }
  return "unknown";
}

}  // namespace

ProcessIdentity currentProcess() {
  ProcessIdentity id;
  id.pid = getpid();
  id.startTicks = processStartTicks(id.pid);
  id.program = programName();
  id.osUser = osUserName();
  id.machine = hostName();
  id.terminal = terminalName();
  return id;
}

}  // namespace ocisim
