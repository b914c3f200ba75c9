// The benchmarks' main: runs Google Benchmark and reports each figure against
// its target.
#include "bench/bench_common.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <set>
#include <vector>

namespace bench {
namespace {

struct Recorded {
  double ns = std::numeric_limits<double>::quiet_NaN();
  std::map<std::string, double> counters;
};

std::map<std::string, Recorded>& Figures() {
  static std::map<std::string, Recorded> figures;
  return figures;
}

std::vector<std::function<void()>>& Summaries() {
  static std::vector<std::function<void()>> summaries;
  return summaries;
}

double ToNanoseconds(double value, benchmark::TimeUnit unit) {
  switch (unit) {
    case benchmark::kNanosecond: return value;
    case benchmark::kMicrosecond: return value * 1e3;
    case benchmark::kMillisecond: return value * 1e6;
    case benchmark::kSecond: return value * 1e9;
  }
  return value;
}

// The console report as usual, and each run's figures kept for the summaries.
// With repetitions the median stands for the benchmark.
class RecordingReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      const bool aggregate = run.run_type == Run::RT_Aggregate;
      if (aggregate && run.aggregate_name != "median") continue;
      const std::string name = run.run_name.str();
      Recorded& recorded = Figures()[name];
      if (!aggregate && !std::isnan(recorded.ns) && medians_.count(name) != 0) continue;
      if (aggregate) medians_.insert(name);
      recorded.ns = ToNanoseconds(run.GetAdjustedRealTime(), run.time_unit);
      for (const auto& [key, counter] : run.counters) recorded.counters[key] = counter.value;
    }
  }

 private:
  std::set<std::string> medians_;
};

}  // namespace

double Nanoseconds(const std::string& name) {
  const auto found = Figures().find(name);
  return found == Figures().end() ? std::numeric_limits<double>::quiet_NaN() : found->second.ns;
}

double Counter(const std::string& name, const std::string& counter) {
  const auto found = Figures().find(name);
  if (found == Figures().end()) return std::numeric_limits<double>::quiet_NaN();
  const auto value = found->second.counters.find(counter);
  return value == found->second.counters.end() ? std::numeric_limits<double>::quiet_NaN() : value->second;
}

bool AddSummary(std::function<void()> summary) {
  Summaries().push_back(std::move(summary));
  return true;
}

std::string Time(double ns) {
  char text[64];
  if (std::isnan(ns))
    std::snprintf(text, sizeof text, "-");
  else if (ns < 1e4)
    std::snprintf(text, sizeof text, "%.1f ns", ns);
  else if (ns < 1e7)
    std::snprintf(text, sizeof text, "%.1f us", ns / 1e3);
  else
    std::snprintf(text, sizeof text, "%.1f ms", ns / 1e6);
  return text;
}

int RunAndSummarise(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  std::printf("\n");
  for (const auto& summary : Summaries()) summary();
  std::fflush(stdout);
  return 0;
}

}  // namespace bench
