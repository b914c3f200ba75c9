// What the benchmark programs share: the figures recorded while the
// benchmarks run, and the summaries printed from them at the end.
#pragma once

#include <benchmark/benchmark.h>

#include <chrono>
#include <functional>
#include <string>

namespace bench {

// Runs `first` and `second` in turns within each iteration, the order
// alternating, so that both see the same machine and a drift in its load is
// not taken for a difference between them. Sets the counters `firstCounter`
// and `secondCounter` to each one's milliseconds per iteration.
inline void InTurns(benchmark::State& state, const std::function<void()>& first, const std::function<void()>& second,
                    const char* firstCounter, const char* secondCounter) {
  using Clock = std::chrono::steady_clock;
  Clock::duration times[2]{};
  long turn = 0;
  for (auto _ : state) {
    for (int half = 0; half < 2; ++half) {
      const int which = static_cast<int>((half + turn) % 2);
      const Clock::time_point start = Clock::now();
      (which == 0 ? first : second)();
      times[which] += Clock::now() - start;
    }
    ++turn;
  }
  const double iterations = static_cast<double>(state.iterations());
  state.counters[firstCounter] = std::chrono::duration<double, std::milli>(times[0]).count() / iterations;
  state.counters[secondCounter] = std::chrono::duration<double, std::milli>(times[1]).count() / iterations;
}

// Real time per iteration in nanoseconds of a benchmark that ran, by its full
// name ("BM_Engine/1000"); NaN when it did not run.
double Nanoseconds(const std::string& name);
// A user counter of a benchmark that ran; NaN when there is none.
double Counter(const std::string& name, const std::string& counter);

// Registers a summary printed after every benchmark has run (in order of
// registration); each prints the figures it can compute and skips the rest.
bool AddSummary(std::function<void()> summary);

// Runs the benchmarks with a reporter that records their figures, then the summaries.
int RunAndSummarise(int argc, char** argv);

// "12.3 ns" style text for a time in nanoseconds.
std::string Time(double ns);

}  // namespace bench
