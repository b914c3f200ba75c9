// How often each entry point was called in this process, and the failures and
// statuses the test controls armed for the next call of one.
#include "ocisim/call_log.h"

#include <array>
#include <atomic>
#include <mutex>

namespace ocisim {

namespace {

constexpr size_t kCount = static_cast<size_t>(EntryPoint::Count);

constexpr std::array<std::string_view, kCount> kNames = {
#define OCISIM_NAME(name) #name,
    O_OCI_ENTRY_POINTS(OCISIM_NAME)
#undef OCISIM_NAME
};

struct Log {
  std::array<std::atomic<long>, kCount> calls{};
  std::array<std::atomic<int>, kCount> failures{};
  std::array<std::atomic<int>, kCount> statuses{};
};

Log& log() {
  static Log instance;
  return instance;
}

size_t index(EntryPoint e) { return static_cast<size_t>(e); }

}  // namespace

std::optional<EntryPoint> entryPointNamed(std::string_view name) {
  for (size_t i = 0; i < kCount; ++i)
    if (kNames[i] == name) return static_cast<EntryPoint>(i);
  return std::nullopt;
}

void countCall(EntryPoint e) { ++log().calls[index(e)]; }

long callCount(EntryPoint e) { return log().calls[index(e)].load(); }

void resetCallCounts() {
  for (auto& c : log().calls) c = 0;
}

void armFailure(EntryPoint e, int oraCode) { log().failures[index(e)] = oraCode; }

void armStatus(EntryPoint e, int status) { log().statuses[index(e)] = status; }

void disarmFailures() {
  for (auto& f : log().failures) f = 0;
  for (auto& s : log().statuses) s = 0;
}

int takeFailure(EntryPoint e) {
  // Nearly every call finds nothing armed: a plain load spares the locked exchange.
  std::atomic<int>& armed = log().failures[index(e)];
  if (armed.load(std::memory_order_relaxed) == 0) return 0;
  return armed.exchange(0);
}

int takeStatus(EntryPoint e) {
  std::atomic<int>& armed = log().statuses[index(e)];
  if (armed.load(std::memory_order_relaxed) == 0) return 0;
  return armed.exchange(0);
}

}  // namespace ocisim
