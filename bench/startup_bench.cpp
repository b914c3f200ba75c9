// Start-up: from process start until the login dialog is shown, against a bare
// Qt program that shows one dialog. Both run offscreen with the same probe.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>

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
  pid_t pid = 0;
  if (posix_spawn(&pid, program, nullptr, nullptr, argv, envp.data()) != 0) return false;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 42;
}

void BM_StartupToLoginDialog(benchmark::State& state) {
  for (auto _ : state)
    if (!RunUntilDialog(QUENLOW_PROGRAM, "ToraLoginFrm")) state.SkipWithError("the login dialog was not shown");
}

void BM_StartupBareQtDialog(benchmark::State& state) {
  for (auto _ : state)
    if (!RunUntilDialog(QUENLOW_BARE_DIALOG, "QDialog")) state.SkipWithError("the dialog was not shown");
}

BENCHMARK(BM_StartupToLoginDialog)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_StartupBareQtDialog)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

const bool summary = bench::AddSummary([] {
  const double quenlow = bench::Nanoseconds("BM_StartupToLoginDialog/min_time:2.000/real_time");
  const double bare = bench::Nanoseconds("BM_StartupBareQtDialog/min_time:2.000/real_time");
  std::printf("4. Start-up: process start to the login dialog vs a bare Qt dialog (target <= 1.50)\n");
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
