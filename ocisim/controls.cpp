// The test controls exported beside the OCI entry points (ocisim_controls.h):
// injected failures, call counts, describe styles, statement time limits and
// the simulated sessions of an instance.
#include "ocisim/ocisim_controls.h"

#include "ocisim/call_log.h"
#include "ocisim/handles.h"
#include "ocisim/instance.h"
#include "ocisim/instance_check.h"
#include "ocisim/oracle_values.h"
#include "ocisim/session_db.h"
#include "ocisim/tnsnames.h"
#include "ocisim/workload.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>
#include <cstring>
#include <string>
#include <type_traits>

#define OCISIM_EXPORT extern "C" __attribute__((visibility("default")))

using namespace ocisim;

namespace {

// The data file a connect string designates, or empty when it does not resolve.
std::string dataFileOf(const char* connect_string) {
  const Resolution where = resolveConnectString(connect_string ? connect_string : "");
  return where.oraCode ? std::string() : instanceFilePath(where.sid);
}

}  // namespace

OCISIM_EXPORT int ocisim_fail_next(const char* entry_point, int ora_code) {
  if (!entry_point || ora_code < 1 || ora_code > 99999) return -1;
  const auto entry = entryPointNamed(entry_point);
  if (!entry) return -1;
  armFailure(*entry, ora_code);
  return 0;
}

OCISIM_EXPORT int ocisim_status_next(const char* entry_point, int status) {
  if (!entry_point) return -1;
  switch (status) {
    case OCI_SUCCESS_WITH_INFO: case OCI_NEED_DATA: case OCI_NO_DATA: case OCI_STILL_EXECUTING:
    case OCI_CONTINUE:
      break;
    default:
      return -1;
  }
  const auto entry = entryPointNamed(entry_point);
  if (!entry) return -1;
  armStatus(*entry, status);
  return 0;
}

OCISIM_EXPORT void ocisim_clear_failures(void) { disarmFailures(); }

OCISIM_EXPORT long ocisim_call_count(const char* entry_point) {
  if (!entry_point) return -1;
  const auto entry = entryPointNamed(entry_point);
  return entry ? callCount(*entry) : -1;
}

OCISIM_EXPORT void ocisim_reset_counts(void) { resetCallCounts(); }

OCISIM_EXPORT int ocisim_set_number_describe(int style) {
  if (style != OCISIM_NUMBER_DESCRIBE_OLD && style != OCISIM_NUMBER_DESCRIBE_CURRENT) return -1;
  const int previous = unconstrainedNumberScale() == 0 ? OCISIM_NUMBER_DESCRIBE_OLD : OCISIM_NUMBER_DESCRIBE_CURRENT;
  setUnconstrainedNumberScale(style == OCISIM_NUMBER_DESCRIBE_CURRENT ? -127 : 0);
  return previous;
}

OCISIM_EXPORT int ocisim_set_date_describe_size(int size) {
  if (size < 0 || size > 7) return -1;
  const int previous = dateDescribeSize();
  setDateDescribeSize(static_cast<ub2>(size));
  return previous;
}

OCISIM_EXPORT void ocisim_lob_length_next(unsigned int length) { armLobLength(length); }

OCISIM_EXPORT long ocisim_session_password_size(const void* session_handle) {
  Registry& registry = Registry::instance();
  std::lock_guard lock(registry.mutex());
  const auto* session = registry.find<Session>(session_handle, OCI_HTYPE_SESSION);
  return session ? static_cast<long>(session->password.size()) : -1;
}

OCISIM_EXPORT int ocisim_session_count(const char* connect_string, long os_pid) {
  try {
    const std::string path = dataFileOf(connect_string);
    if (path.empty()) return -1;
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return 0;
    SqliteConnection db;
    std::string reason;
    if (db.open(path, SQLITE_OPEN_READONLY, reason) != SQLITE_OK) return -1;
    sqlite3_busy_timeout(db.get(), 5000);
    SqliteStatement stmt;
    if (stmt.prepare(db.get(),
                     "SELECT count(*) FROM sessions WHERE type = 'USER'"
                     " AND (?1 = 0 OR os_pid = ?1)") != SQLITE_OK)
      return -1;
    sqlite3_bind_int64(stmt.get(), 1, os_pid);
    return sqlite3_step(stmt.get()) == SQLITE_ROW ? sqlite3_column_int(stmt.get(), 0) : -1;
  } catch (...) {
    return -1;
  }
}

OCISIM_EXPORT int ocisim_instance_file(const char* connect_string, char* buf, int bufsiz) {
  try {
    const std::string path = dataFileOf(connect_string);
    if (path.empty()) return -1;
    if (buf && bufsiz > 0) {
      const size_t n = std::min(path.size(), static_cast<size_t>(bufsiz - 1));
      std::memcpy(buf, path.data(), n);
      buf[n] = '\0';
    }
    return static_cast<int>(path.size());
  } catch (...) {
    return -1;
  }
}

OCISIM_EXPORT long ocisim_add_sessions(const char* connect_string, long count) {
  try {
    if (count < 0) return -1;
    const Resolution where = resolveConnectString(connect_string ? connect_string : "");
    if (where.oraCode) return -1;
    return Instance::open(where.sid)->addSimulatedSessions(count);
  } catch (...) {
    return -1;
  }
}

OCISIM_EXPORT int ocisim_remove_sessions(const char* connect_string) {
  try {
    const Resolution where = resolveConnectString(connect_string ? connect_string : "");
    if (where.oraCode) return -1;
    Instance::open(where.sid)->removeSimulatedSessions();
    return 0;
  } catch (...) {
    return -1;
  }
}

OCISIM_EXPORT long ocisim_run_workload(const char* connect_string, double rate, unsigned long seed,
                                       long max_changes, const volatile int* stop, ocisim_workload_tally* tally) {
  if (!(rate > 0 && rate <= 10000) || max_changes < 0) return -1;
  std::unique_ptr<Instance> instance;
  try {
    const Resolution where = resolveConnectString(connect_string ? connect_string : "");
    if (where.oraCode) return -1;
    instance = Instance::open(where.sid);
  } catch (...) {
    return -1;
  }
  Workload workload(*instance, static_cast<std::uint32_t>(seed ^ (seed >> 32)));
  long failures = 0, failuresInARow = 0;
  const auto report = [&] {
    if (!tally) return;
    const Workload::Tally& t = workload.tally();
    *tally = {workload.changes(), t.logons, t.logoffs, t.statements, t.idles, t.commits, t.cleanedUp, failures};
  };
  try {
    workload.populate();
  } catch (...) {
    return -1;
  }
  using Clock = std::chrono::steady_clock;
  const auto interval = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / rate));
  auto due = Clock::now();
  while (!(stop && *stop) && (max_changes == 0 || workload.changes() < max_changes)) {
    try {
      workload.change();
      failuresInARow = 0;
    } catch (...) {
      // Another process held the file beyond SQLite's wait: the next change
      // tries again; an instance that refuses every change ends the run.
      ++failures;
      if (++failuresInARow >= 50) break;
    }
    report();
    due += interval;
    const auto now = Clock::now();
    // Behind by more than a second (the machine was busy): no burst to catch up.
    if (now - due > std::chrono::seconds(1)) due = now;
    // In short slices, so that a stop ends the run at once even at a slow rate.
    while (!(stop && *stop) && due > Clock::now())
      std::this_thread::sleep_for(std::min<Clock::duration>(due - Clock::now(), std::chrono::milliseconds(50)));
  }
  report();
  return workload.changes();
}

OCISIM_EXPORT int ocisim_check_instance(const char* connect_string, char* buf, int bufsiz) {
  try {
    const Resolution where = resolveConnectString(connect_string ? connect_string : "");
    if (where.oraCode) return -1;
    const std::vector<std::string> problems = checkInstance(Instance::open(where.sid)->db());
    std::string text;
    for (const std::string& p : problems) text += p + "\n";
    if (buf && bufsiz > 0) {
      const size_t n = std::min(text.size(), static_cast<size_t>(bufsiz - 1));
      std::memcpy(buf, text.data(), n);
      buf[n] = '\0';
    }
    return static_cast<int>(problems.size());
  } catch (...) {
    return -1;
  }
}

OCISIM_EXPORT long ocisim_set_statement_time_limit(long milliseconds) {
  return static_cast<long>(setStatementTimeLimit(std::chrono::milliseconds(milliseconds)).count());
}

#define OCISIM_CHECK_TYPE(name) \
  static_assert(std::is_same_v<decltype(&name), name##_t>, #name " differs from its typedef");
OCISIM_CHECK_TYPE(ocisim_fail_next)
OCISIM_CHECK_TYPE(ocisim_status_next)
OCISIM_CHECK_TYPE(ocisim_clear_failures)
OCISIM_CHECK_TYPE(ocisim_call_count)
OCISIM_CHECK_TYPE(ocisim_reset_counts)
OCISIM_CHECK_TYPE(ocisim_session_count)
OCISIM_CHECK_TYPE(ocisim_instance_file)
OCISIM_CHECK_TYPE(ocisim_add_sessions)
OCISIM_CHECK_TYPE(ocisim_remove_sessions)
OCISIM_CHECK_TYPE(ocisim_set_statement_time_limit)
OCISIM_CHECK_TYPE(ocisim_run_workload)
OCISIM_CHECK_TYPE(ocisim_check_instance)
#undef OCISIM_CHECK_TYPE
