// The stand-in client's service names: attaching through a tnsnames.ora of
// 60,000 entries, once while the file stays as it is and once right after each
// change, against smaller files. The client is linked directly and driven
// through its OCI entry points, over an instance of its own.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench/bench_common.h"
#include "ocisim/oci_exports.h"

namespace {

constexpr int kManyEntries = 60000;
constexpr int kFewerEntries = 6000;

std::string& Root() {
  static std::string root;
  return root;
}

// The folder (a TNS_ADMIN) of a tnsnames.ora with `entries` entries, made on
// first use; every entry names the DEMO instance, the one attached to is the last.
std::string AdminFolder(int entries) {
  const std::string folder = Root() + "/admin" + std::to_string(entries);
  const std::string file = folder + "/tnsnames.ora";
  if (!std::filesystem::exists(file)) {
    std::filesystem::create_directories(folder);
    std::ofstream out(file, std::ios::binary);
    out << "# " << entries << " services\n";
    char line[256];
    for (int i = 0; i < entries; ++i) {
      std::snprintf(line, sizeof line,
                    "SERVICE%05d.WORLD =\n  (DESCRIPTION =\n    (ADDRESS = (PROTOCOL = TCP)(HOST = db%05d.example.com)"
                    "(PORT = 1521))\n    (CONNECT_DATA = (SID = DEMO)))\n",
                    i, i);
      out << line;
    }
  }
  return folder;
}

std::string LastAlias(int entries) {
  char alias[32];
  std::snprintf(alias, sizeof alias, "SERVICE%05d.WORLD", entries - 1);
  return alias;
}

// Gives a file a modification time an hour and `step` seconds in the past: a
// change the client sees, of a file old enough to be trusted until it changes again.
void Touch(const std::string& folder, long step) {
  timespec times[2]{};
  clock_gettime(CLOCK_REALTIME, &times[0]);
  times[1] = times[0];
  times[1].tv_sec -= 3600 + step;
  times[1].tv_nsec = 0;
  utimensat(AT_FDCWD, (folder + "/tnsnames.ora").c_str(), times, 0);
}

// One environment, with a server handle made anew for each attach.
class Client {
 public:
  Client() {
    OCIEnvInit(&env_, OCI_DEFAULT, 0, nullptr);
    OCIHandleAlloc(env_, reinterpret_cast<void**>(&err_), OCI_HTYPE_ERROR, 0, nullptr);
  }
  ~Client() { OCIHandleFree(env_, OCI_HTYPE_ENV); }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  // Attaches through the tnsnames.ora of `folder` and lets go again.
  bool Attach(const std::string& folder, const std::string& alias) {
    setenv("TNS_ADMIN", folder.c_str(), 1);
    OCIServer* server = nullptr;
    OCIHandleAlloc(env_, reinterpret_cast<void**>(&server), OCI_HTYPE_SERVER, 0, nullptr);
    const sword rc = OCIServerAttach(server, err_, reinterpret_cast<const text*>(alias.data()),
                                     static_cast<sb4>(alias.size()), OCI_DEFAULT);
    OCIHandleFree(server, OCI_HTYPE_SERVER);
    return rc == OCI_SUCCESS;
  }

 private:
  OCIEnv* env_ = nullptr;
  OCIError* err_ = nullptr;
};

// The file unchanged between attaches: read once, then looked up.
void BM_TnsnamesUnchanged(benchmark::State& state) {
  const std::string many = AdminFolder(kManyEntries), one = AdminFolder(1);
  Touch(many, 0);
  Touch(one, 0);
  Client client;
  if (!client.Attach(many, LastAlias(kManyEntries)) || !client.Attach(one, LastAlias(1))) {
    state.SkipWithError("an alias did not resolve");
    return;
  }
  bench::InTurns(state, [&] { client.Attach(many, LastAlias(kManyEntries)); },
                 [&] { client.Attach(one, LastAlias(1)); }, "many_ms", "one_ms");
}

BENCHMARK(BM_TnsnamesUnchanged)->Unit(benchmark::kMillisecond)->UseRealTime();

// The file changed before every attach: read and parsed each time.
void BM_TnsnamesChanged(benchmark::State& state) {
  const std::string many = AdminFolder(kManyEntries), fewer = AdminFolder(kFewerEntries);
  Client client;
  long step = 0;
  bench::InTurns(
      state,
      [&] {
        Touch(many, ++step);
        if (!client.Attach(many, LastAlias(kManyEntries))) state.SkipWithError("the alias did not resolve");
      },
      [&] {
        Touch(fewer, ++step);
        if (!client.Attach(fewer, LastAlias(kFewerEntries))) state.SkipWithError("the alias did not resolve");
      },
      "many_ms", "fewer_ms");
}

BENCHMARK(BM_TnsnamesChanged)->Unit(benchmark::kMillisecond)->UseRealTime();

const bool summary = bench::AddSummary([] {
  {
    const std::string name = "BM_TnsnamesUnchanged/real_time";
    const double many = bench::Counter(name, "many_ms") * 1e6, one = bench::Counter(name, "one_ms") * 1e6;
    const double ratio = many / one;
    std::printf("6. Attach through an unchanged tnsnames.ora of %d entries vs one of 1 entry, in turns (target <= 1.20)\n",
                kManyEntries);
    std::printf("   %d entries %s, 1 entry %s, ratio %.2f  %s\n", kManyEntries, bench::Time(many).c_str(),
                bench::Time(one).c_str(), ratio, std::isnan(ratio) ? "not run" : ratio <= 1.2 ? "ok" : "OVER TARGET");
  }
  {
    const std::string name = "BM_TnsnamesChanged/real_time";
    const double many = bench::Counter(name, "many_ms") * 1e6, fewer = bench::Counter(name, "fewer_ms") * 1e6;
    const double ratio = (many / kManyEntries) / (fewer / kFewerEntries);
    std::printf("7. Attach right after each change, per entry: %d entries vs %d, in turns (target <= 1.50)\n",
                kManyEntries, kFewerEntries);
    std::printf("   %d entries %s (%s per entry), %d entries %s (%s per entry), ratio %.2f  %s\n", kManyEntries,
                bench::Time(many).c_str(), bench::Time(many / kManyEntries).c_str(), kFewerEntries,
                bench::Time(fewer).c_str(), bench::Time(fewer / kFewerEntries).c_str(), ratio,
                std::isnan(ratio) ? "not run" : ratio <= 1.5 ? "ok" : "OVER TARGET");
  }
});

}  // namespace

int main(int argc, char** argv) {
  // An instance folder and service files of its own, away from the demo instance.
  char dir[] = "/tmp/quenlow-tnsnames-XXXXXX";
  if (mkdtemp(dir) == nullptr) return 1;
  Root() = dir;
  setenv("OCISIM_ORADATA", (Root() + "/oradata").c_str(), 1);
  OCIInitialize(OCI_DEFAULT, nullptr, nullptr, nullptr, nullptr);
  const int result = bench::RunAndSummarise(argc, argv);
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
  return result;
}
