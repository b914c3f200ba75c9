// Start-up: from process start until the login dialog is shown, against a bare
// Qt program that shows one dialog. Both run offscreen with the same probe.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_common.h"

extern char** environ;

namespace {

// Runs `program` until the probe ends it at its first dialog of `dialogClass`;
// false when the program ended any other way.
bool RunUntilDialog(const char* program, const char* dialogClass) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
  env.emplace_back(std::string("LD_PRELOAD=") + QUENLOW_STARTUP_PROBE);
  env.emplace_back(std::string("QUENLOW_PROBE_CLASS=") + dialogClass);
  env.emplace_back("QT_QPA_PLATFORM=offscreen");
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  char* argv[] = {const_cast<char*>(program), nullptr};
  // The programs' warnings (the offscreen platform's) would drown the report.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, program, &actions, nullptr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return false;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 42;
}

// Both programs started in turns, so that a change in the machine's load reaches both alike.
void BM_StartupPair(benchmark::State& state) {
  const auto start = [&](const char* program, const char* dialogClass) {
    if (!RunUntilDialog(program, dialogClass)) state.SkipWithError("a dialog was not shown");
  };
  bench::InTurns(state, [&] { start(QUENLOW_PROGRAM, "ToraLoginFrm"); },
                 [&] { start(QUENLOW_BARE_DIALOG, "QDialog"); }, "quenlow_ms", "bare_ms");
}

BENCHMARK(BM_StartupPair)->Unit(benchmark::kMillisecond)->MinTime(4.0)->UseRealTime();

const bool summary = bench::AddSummary([] {
  const std::string pair = "BM_StartupPair/min_time:4.000/real_time";
  const double quenlow = bench::Counter(pair, "quenlow_ms") * 1e6;
  const double bare = bench::Counter(pair, "bare_ms") * 1e6;
  std::printf("4. Start-up: process start to the login dialog vs a bare Qt dialog, in turns (target <= 1.50)\n");
  std::printf("   quenlow %s, bare Qt %s, ratio %.2f  %s\n", bench::Time(quenlow).c_str(), bench::Time(bare).c_str(),
              quenlow / bare, std::isnan(quenlow / bare) ? "not run" : quenlow / bare <= 1.5 ? "ok" : "OVER TARGET");
});

}  // namespace

int main(int argc, char** argv) {
  // The program's instance folder stays away from the demo instance.
  char dir[] = "/tmp/quenlow-startup-XXXXXX";
  if (mkdtemp(dir) != nullptr) setenv("OCISIM_ORADATA", dir, 1);
  const int result = bench::RunAndSummarise(argc, argv);
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
  return result;
}
