// The session list, from the engine to the window: what the data-access
// library adds to a plain SQLite loop over the same instance file (time and
// memory), what the main window adds to the engine, and what an inactive SQL
// monitor adds to the engine.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sqlite3.h>
#include <sys/resource.h>

#include <QApplication>
#include <QTemporaryDir>
#include <cmath>
#include <cstdio>
#include <memory>
#include <stdexcept>

#include "app/Unit1.h"
#include "bench/bench_common.h"
#include "ocisim/ocisim_controls.h"
#include "oralib/O_SMCli.h"
#include "oralib/o_class.h"
#include "oralib/o_class_query.h"
#include "oralib/o_ociap.h"
#include "ui/fonts.h"
#include "ui/statusbar.h"

namespace {

constexpr long kRowCounts[] = {1000, 10000, 100000};
constexpr long kWindowRows = 10000;

template <class Fn>
Fn Control(const char* name) {
  LoadClientLibrary();
  auto fn = reinterpret_cast<Fn>(ClientLibrarySymbol(name));
  if (fn == nullptr) throw std::runtime_error(std::string("stand-in control missing: ") + name);
  return fn;
}

// Simulated user sessions in the default instance; refilled when a benchmark
// asks for another count.
void EnsureSessions(long count) {
  static long current = -1;
  if (current == count) return;
  if (Control<ocisim_remove_sessions_t>("ocisim_remove_sessions")("") != 0 ||
      Control<ocisim_add_sessions_t>("ocisim_add_sessions")("", count) < count)
    throw std::runtime_error("cannot fill the instance");
  current = count;
}

std::string InstanceFile() {
  char path[4096];
  if (Control<ocisim_instance_file_t>("ocisim_instance_file")("", path, sizeof path) <= 0)
    throw std::runtime_error("no instance file");
  return path;
}

void LogOnAsSystem(TOSession* session) {
  session->UserInfo().Password = QStringLiteral("MANAGER");
  session->UserInfo().ShowLogin = false;
}

// The main window over the benchmark instance, made once; its session-list
// statement is the one every figure runs.
TForm1& MainWindow() {
  static TForm1* form = [] {
    auto* made = new TForm1(nullptr, LogOnAsSystem);
    if (!made->Created()) throw std::runtime_error("the main window did not start");
    return made;
  }();
  return *form;
}

QString SessionListSql() { return MainWindow().SessionListStatement(MainWindow().DefaultOrder); }

TOSession& EngineSession() {
  static TOSession* session = [] {
    auto* made = new TOSession();
    LogOnAsSystem(made);
    made->Connect();
    return made;
  }();
  return *session;
}

// The same statement in SQLite's dialect over the instance's own view: the
// column list, filter and order of the session list.
constexpr const char* kPlainSql =
    "SELECT username, sid, \"serial#\", status, osuser, machine, terminal, program, schemaname,"
    " logon_time, sql_address, sql_hash_value, audsid, type, server, ?1 AS ssid"
    " FROM \"v$session\" WHERE type<>'BACKGROUND' AND status<>'KILLED' ORDER BY sid";

// Opens the session list and fetches every row into the query's cache.
int FetchSessionList(TOQuery& query) {
  query.Open();
  query.QueryAll = true;
  const int count = query.RecordCount();
  query.QueryAll = false;
  return count;
}

void EngineLoop(benchmark::State& state, ToSQLMon* monitor) {
  EnsureSessions(state.range(0));
  TOSession& session = EngineSession();
  session.SetSQLMonitor(monitor);
  TOQuery query;
  query.SetSession(&session);
  query.SQL().Add(SessionListSql());
  int rows = 0;
  for (auto _ : state) {
    rows = FetchSessionList(query);
    query.Close();
  }
  session.SetSQLMonitor(nullptr);
  state.counters["rows"] = rows;
  state.counters["ns_per_row"] = benchmark::Counter(static_cast<double>(rows) * static_cast<double>(state.iterations()),
                                                    benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_Engine(benchmark::State& state) { EngineLoop(state, nullptr); }

// The same fetch with an inactive monitor attached and with none, in turns.
void BM_EngineMonitorPair(benchmark::State& state) {
  EnsureSessions(state.range(0));
  TOSession& session = EngineSession();
  ToSQLMon monitor;
  monitor.Active = false;
  TOQuery query;
  query.SetSession(&session);
  query.SQL().Add(SessionListSql());
  const auto fetchWith = [&](ToSQLMon* attached) {
    session.SetSQLMonitor(attached);
    FetchSessionList(query);
    query.Close();
  };
  bench::InTurns(state, [&] { fetchWith(&monitor); }, [&] { fetchWith(nullptr); }, "with_ms", "without_ms");
  session.SetSQLMonitor(nullptr);
}

void BM_PlainSqlite(benchmark::State& state) {
  EnsureSessions(state.range(0));
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(InstanceFile().c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    state.SkipWithError("cannot open the instance file");
    sqlite3_close(db);
    return;
  }
  sqlite3_busy_timeout(db, 5000);
  long rows = 0;
  std::size_t bytes = 0;
  for (auto _ : state) {
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, kPlainSql, -1, &stmt, nullptr);
    sqlite3_bind_int64(stmt, 1, 1);
    rows = 0;
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      const int columns = sqlite3_column_count(stmt);
      for (int i = 0; i < columns; ++i) {
        switch (sqlite3_column_type(stmt, i)) {
          case SQLITE_INTEGER: bytes += static_cast<std::size_t>(sqlite3_column_int64(stmt, i) & 1); break;
          case SQLITE_FLOAT: bytes += sqlite3_column_double(stmt, i) > 0; break;
          case SQLITE_NULL: break;
          default:
            benchmark::DoNotOptimize(sqlite3_column_text(stmt, i));
            bytes += static_cast<std::size_t>(sqlite3_column_bytes(stmt, i));
        }
      }
      ++rows;
    }
    sqlite3_finalize(stmt);
  }
  benchmark::DoNotOptimize(bytes);
  sqlite3_close(db);
  state.counters["rows"] = static_cast<double>(rows);
  state.counters["ns_per_row"] = benchmark::Counter(static_cast<double>(rows) * static_cast<double>(state.iterations()),
                                                    benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// Heap bytes in use, large blocks the allocator maps on their own included.
std::size_t HeapInUse() {
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

// Bytes the heap holds per cached row once every row is fetched, against the
// value buffers the row layout prescribes (the sum of the columns' buffer
// sizes). What the cache holds is what closing the query gives back: the heap's
// growth while fetching also holds the stand-in server's page cache, which
// stays when the query closes.
void BM_RowCacheMemory(benchmark::State& state) {
  EnsureSessions(state.range(0));
  TOSession& session = EngineSession();
  for (auto _ : state) {
    TOQuery query;
    query.SetSession(&session);
    query.SQL().Add(SessionListSql());
    const std::size_t beforeOpen = HeapInUse();
    const int rows = FetchSessionList(query);
    const std::size_t fetched = HeapInUse();
    double prescribed = 0;
    for (int i = 0; i < query.RowDesc().Count(); ++i) prescribed += query.RowDesc()[i].BufferSize;
    query.Close();
    const std::size_t closed = HeapInUse();
    const double held = static_cast<double>(fetched - closed) / static_cast<double>(rows);
    state.counters["rows"] = rows;
    state.counters["held_bytes_per_row"] = held;
    state.counters["prescribed_bytes_per_row"] = prescribed;
    state.counters["overhead_pct"] = 100.0 * (held - prescribed) / prescribed;
    state.counters["cache_MiB"] = held * rows / (1024.0 * 1024.0);
    state.counters["heap_growth_per_row"] = static_cast<double>(fetched - beforeOpen) / static_cast<double>(rows);
  }
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  state.counters["process_peak_rss_MiB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// The user's wait: Refresh's work in the main window, from the statement to
// the count in the status bar and the grid painted.
void BM_MainWindowLoadSessionList(benchmark::State& state) {
  EnsureSessions(state.range(0));
  TForm1& form = MainWindow();
  const QString expected = QStringLiteral("Total sessions: ");
  for (auto _ : state) {
    form.LoadSessionList(form.DefaultOrder);
    QApplication::processEvents();
    if (!form.StatusBar2->PanelText(1).startsWith(expected)) state.SkipWithError("no count in the status bar");
  }
  state.counters["rows"] = form.StatusBar2->PanelText(1).mid(expected.size()).toDouble();
}

}  // namespace

// Side by side for each row count, so that each pair shares the machine's state.
BENCHMARK(BM_Engine)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainSqlite)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RowCacheMemory)->Arg(1000)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Engine)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainSqlite)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EngineMonitorPair)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MainWindowLoadSessionList)->Arg(kWindowRows)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RowCacheMemory)->Arg(10000)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Engine)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainSqlite)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RowCacheMemory)->Arg(100000)->Iterations(1)->Unit(benchmark::kMillisecond);

namespace {

std::string Name(const char* benchmark, long rows) { return std::string(benchmark) + "/" + std::to_string(rows); }

const char* Verdict(double value, double limit) {
  if (std::isnan(value)) return "not run";
  return value <= limit ? "ok" : "OVER TARGET";
}

const bool summaries = [] {
  bench::AddSummary([] {
    std::printf("1. Engine overhead: session list through TOQuery vs a plain SQLite loop (target <= 3.00)\n");
    std::printf("   %8s  %14s  %14s  %7s\n", "rows", "engine/row", "sqlite/row", "ratio");
    for (long rows : kRowCounts) {
      const double engine = bench::Nanoseconds(Name("BM_Engine", rows));
      const double plain = bench::Nanoseconds(Name("BM_PlainSqlite", rows));
      const double fetched = bench::Counter(Name("BM_Engine", rows), "rows");
      const double plainRows = bench::Counter(Name("BM_PlainSqlite", rows), "rows");
      std::printf("   %8ld  %14s  %14s  %7.2f  %s\n", rows, bench::Time(engine / fetched).c_str(),
                  bench::Time(plain / plainRows).c_str(), engine / plain, Verdict(engine / plain, 3.0));
    }
  });
  bench::AddSummary([] {
    std::printf("2. Memory per cached row vs prescribed value buffers (target overhead < 50 %%)\n");
    std::printf("   %8s  %10s  %12s  %9s  %10s  %14s\n", "rows", "held B", "prescribed B", "overhead", "cache MiB",
                "heap growth B");
    for (long rows : kRowCounts) {
      const std::string name = Name("BM_RowCacheMemory", rows) + "/iterations:1";
      const double overhead = bench::Counter(name, "overhead_pct");
      std::printf("   %8ld  %10.1f  %12.0f  %8.1f%%  %10.1f  %14.1f  %s\n", rows,
                  bench::Counter(name, "held_bytes_per_row"), bench::Counter(name, "prescribed_bytes_per_row"),
                  overhead, bench::Counter(name, "cache_MiB"), bench::Counter(name, "heap_growth_per_row"),
                  Verdict(overhead, 49.999));
    }
    std::printf("   (heap growth: what the heap grew by per row while fetching, the server's page cache included)\n");
    std::printf("   peak resident memory of the benchmark process: %.1f MiB\n",
                bench::Counter(Name("BM_RowCacheMemory", 100000) + "/iterations:1", "process_peak_rss_MiB"));
  });
  bench::AddSummary([] {
    const double window = bench::Nanoseconds(Name("BM_MainWindowLoadSessionList", kWindowRows));
    const double engine = bench::Nanoseconds(Name("BM_Engine", kWindowRows));
    std::printf("3. The user's wait: LoadSessionList in the main window vs the engine, %ld sessions (target <= 2.00)\n",
                kWindowRows);
    std::printf("   window %s, engine %s, ratio %.2f  %s\n", bench::Time(window).c_str(), bench::Time(engine).c_str(),
                window / engine, Verdict(window / engine, 2.0));
  });
  bench::AddSummary([] {
    const std::string pair = Name("BM_EngineMonitorPair", 10000);
    const double with = bench::Counter(pair, "with_ms") * 1e6;
    const double without = bench::Counter(pair, "without_ms") * 1e6;
    const double difference = 100.0 * (with - without) / without;
    std::printf("5. Tracing off: engine with an inactive ToSQLMon vs none, 10000 sessions, in turns (target < 5 %%)\n");
    std::printf("   with %s, without %s, difference %+.1f%%  %s\n", bench::Time(with).c_str(),
                bench::Time(without).c_str(), difference, Verdict(std::fabs(difference), 4.999));
  });
  return true;
}();

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // An instance of the run's own, so that the figures never touch the demo instance.
  QTemporaryDir instanceDir;
  qputenv("OCISIM_ORADATA", instanceDir.path().toLocal8Bit());
  QApplication app(argc, argv);
  SubstituteDesignFont();  // as the program does
  try {
    MainWindow();
    EngineSession();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "benchmark setup failed: %s\n", e.what());
    return 1;
  }
  return bench::RunAndSummarise(argc, argv);
}
