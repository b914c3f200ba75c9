// What the benchmark programs share: the figures recorded while the
// benchmarks run, and the summaries printed from them at the end.
#pragma once

#include <functional>
#include <string>

namespace bench {

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
