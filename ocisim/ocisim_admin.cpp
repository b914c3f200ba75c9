// quenlow-demo-admin: fills a simulated instance with user sessions for demos and
// benchmarks, removes them again, or makes it as busy as a server in use.
//
//   quenlow-demo-admin [-c CONNECT] add N      add N simulated sessions (with SQL text)
//   quenlow-demo-admin [-c CONNECT] reset      remove the simulated sessions
//   quenlow-demo-admin [-c CONNECT] count      print the number of user sessions
//   quenlow-demo-admin [-c CONNECT] file       print the instance's data file
//   quenlow-demo-admin [-c CONNECT] check      check the instance's consistency
//   quenlow-demo-admin [-c CONNECT] workload [-r RATE] [-s SEED] [-n CHANGES]
//                                               run a busy server's users until stopped
//                                               (Ctrl+C, SIGTERM) or CHANGES were made:
//                                               RATE changes per second (default 20),
//                                               the same SEED (default 1) the same run
//
// CONNECT is a service name of tnsnames.ora (default: the default instance).
#include "ocisim/ocisim_controls.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

volatile int stopRequested = 0;

void requestStop(int) { stopRequested = 1; }

int usage(const char* program) {
  std::fprintf(stderr,
               "usage: %s [-c CONNECT] add N | reset | count | file | check |"
               " workload [-r RATE] [-s SEED] [-n CHANGES]\n",
               program);
  return 2;
}

bool number(const char* text, double& out) {
  char* end = nullptr;
  out = std::strtod(text, &end);
  return end != text && *end == '\0';
}

bool whole(const char* text, long& out) {
  char* end = nullptr;
  out = std::strtol(text, &end, 10);
  return end != text && *end == '\0' && out >= 0;
}

int runWorkload(const char* program, const char* connect, int argc, char** argv, int i) {
  double rate = 20;
  long seed = 1, changes = 0;
  for (; i < argc; i += 2) {
    if (i + 1 >= argc) return usage(program);
    const std::string option = argv[i];
    const bool fine = option == "-r"   ? number(argv[i + 1], rate) && rate > 0 && rate <= 10000
                      : option == "-s" ? whole(argv[i + 1], seed)
                      : option == "-n" ? whole(argv[i + 1], changes)
                                       : false;
    if (!fine) return usage(program);
  }
  struct sigaction action {};
  action.sa_handler = requestStop;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  ocisim_workload_tally tally{};
  const long made = ocisim_run_workload(connect, rate, static_cast<unsigned long>(seed), changes,
                                        &stopRequested, &tally);
  if (made < 0) {
    std::fprintf(stderr, "%s: cannot run the workload on instance '%s'\n", program, connect);
    return 1;
  }
  std::printf("%ld changes: %ld logons, %ld logoffs, %ld statements, %ld went idle (%ld commits),"
              " %ld killed sessions cleaned up, %ld failed\n",
              tally.changes, tally.logons, tally.logoffs, tally.statements, tally.idles, tally.commits,
              tally.cleaned_up, tally.failures);
  return tally.failures > 0 && tally.changes == 0 ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  const char* connect = "";
  int i = 1;
  if (i + 1 < argc && std::strcmp(argv[i], "-c") == 0) {
    connect = argv[i + 1];
    i += 2;
  }
  if (i >= argc) return usage(argv[0]);
  const std::string command = argv[i];
  if (command == "add" && i + 2 == argc) {
    long n = 0;
    if (!whole(argv[i + 1], n)) return usage(argv[0]);
    const long total = ocisim_add_sessions(connect, n);
    if (total < 0) {
      std::fprintf(stderr, "%s: cannot add sessions to instance '%s'\n", argv[0], connect);
      return 1;
    }
    std::printf("%ld user sessions\n", total);
    return 0;
  }
  if (command == "reset" && i + 1 == argc) {
    if (ocisim_remove_sessions(connect) != 0) {
      std::fprintf(stderr, "%s: cannot reset instance '%s'\n", argv[0], connect);
      return 1;
    }
    return 0;
  }
  if (command == "count" && i + 1 == argc) {
    const int n = ocisim_session_count(connect, 0);
    if (n < 0) return 1;
    std::printf("%d\n", n);
    return 0;
  }
  if (command == "file" && i + 1 == argc) {
    char path[4096];
    if (ocisim_instance_file(connect, path, sizeof path) < 0) return 1;
    std::printf("%s\n", path);
    return 0;
  }
  if (command == "check" && i + 1 == argc) {
    std::vector<char> text(1 << 16);
    const int problems = ocisim_check_instance(connect, text.data(), static_cast<int>(text.size()));
    if (problems < 0) {
      std::fprintf(stderr, "%s: cannot read instance '%s'\n", argv[0], connect);
      return 1;
    }
    if (problems == 0) {
      std::printf("ok\n");
      return 0;
    }
    std::fputs(text.data(), stdout);
    return 1;
  }
  if (command == "workload") return runWorkload(argv[0], connect, argc, argv, i + 1);
  return usage(argv[0]);
}
