// quenlow-demo-admin: fills a simulated instance with user sessions for demos and
// benchmarks, or removes them again.
//
//   quenlow-demo-admin [-c CONNECT] add N      add N simulated sessions (with SQL text)
//   quenlow-demo-admin [-c CONNECT] reset      remove the simulated sessions
//   quenlow-demo-admin [-c CONNECT] count      print the number of user sessions
//   quenlow-demo-admin [-c CONNECT] file       print the instance's data file
//
// CONNECT is a service name of tnsnames.ora (default: the default instance).
#include "ocisim/ocisim_controls.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

int usage(const char* program) {
  std::fprintf(stderr, "usage: %s [-c CONNECT] add N | reset | count | file\n", program);
  return 2;
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
    char* end = nullptr;
    const long n = std::strtol(argv[i + 1], &end, 10);
    if (*end || n < 0) return usage(argv[0]);
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
  return usage(argv[0]);
}
