// Quenlow on a busy instance: the stand-in's workload changes the instance at
// a steady rate in a process of its own while this driver plays the user of
// the offscreen main window, pressing Refresh once a second, reading the SQL
// of a listed session and now and then killing one. It reports what it saw
// and fails (exit status 1) when anything went wrong:
//   - an error other than the expected ones for a session that was killed or
//     vanished between the list and the action,
//   - a list with a session twice, or one that disagrees with its count,
//   - a final list (the workload stopped) that differs from the instance,
//   - an instance that fails its consistency check.
//
//   quenlow_busy_bench [-t SECONDS] [-r RATE] [-s SEED] [-k KILL_EVERY] [-p PNG]
//
// With -p it saves a picture of the main window at the end of the run, the
// workload still running (the README's screenshot).
#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "app/Unit1.h"
#include "ocisim/ocisim_controls.h"
#include "oralib/o_class.h"
#include "oralib/o_class_query.h"
#include "oralib/o_error_window.h"
#include "oralib/o_ociap.h"
#include "ui/application.h"
#include "ui/exception.h"
#include "ui/statusbar.h"

namespace {

struct Options {
  int seconds = 60;
  double rate = 200;
  long seed = 7;
  int killEvery = 5;
  QString picture;
};

bool ParseOptions(int argc, char** argv, Options& o) {
  for (int i = 1; i + 1 < argc; i += 2) {
    const char* v = argv[i + 1];
    if (std::strcmp(argv[i], "-t") == 0) o.seconds = std::atoi(v);
    else if (std::strcmp(argv[i], "-r") == 0) o.rate = std::atof(v);
    else if (std::strcmp(argv[i], "-s") == 0) o.seed = std::atol(v);
    else if (std::strcmp(argv[i], "-k") == 0) o.killEvery = std::atoi(v);
    else if (std::strcmp(argv[i], "-p") == 0) o.picture = QString::fromLocal8Bit(v);
    else return false;
  }
  return argc % 2 == 1 && o.seconds > 0 && o.rate > 0 && o.killEvery > 0;
}

template <class Fn>
Fn Control(const char* name) {
  LoadClientLibrary();
  return reinterpret_cast<Fn>(ClientLibrarySymbol(name));
}

// The errors a kill may meet on a busy server when the session ended, or was
// killed by someone else, between the list and the kill: the server's, and the
// one the program reports for any failed kill.
bool KillError(const QString& message) {
  return message.contains(QStringLiteral("ORA-00030")) || message.contains(QStringLiteral("ORA-00031")) ||
         message == QStringLiteral("You have no ALTER SYSTEM privilege");
}

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5))];
}

// Answers the kill's confirmation with Yes; any other modal window is closed
// and counted.
class ModalAnswerer : public QObject {
 public:
  ModalAnswerer() {
    connect(&timer_, &QTimer::timeout, this, [this] {
      QWidget* window = QApplication::activeModalWidget();
      if (window == nullptr || !window->isVisible()) return;
      if (auto* box = qobject_cast<QMessageBox*>(window)) {
        for (QAbstractButton* button : box->buttons()) {
          if (button->text() == QStringLiteral("&Yes")) {
            QTimer::singleShot(0, button, [button] { button->click(); });
            return;
          }
        }
      }
      ++unexpected;
      QTimer::singleShot(0, window, [window] { window->close(); });
    });
    timer_.start(5);
  }
  int unexpected = 0;

 private:
  QTimer timer_;
};

// The rows of a query, as text.
QList<QStringList> Rows(TOSession& session, const QString& sql) {
  TOQuery query;
  query.SetSession(&session);
  query.SQL().Add(sql);
  query.Open();
  QList<QStringList> rows;
  for (; !query.Eof(); query.Next()) {
    QStringList row;
    for (const auto& field : query.Fields()) row.append(field->AsString());
    rows.append(row);
  }
  return rows;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::fprintf(stderr, "usage: %s [-t SECONDS] [-r RATE] [-s SEED] [-k KILL_EVERY] [-p PNG]\n", argv[0]);
    return 2;
  }
  // An instance of its own, before anything attaches.
  QTemporaryDir oradata;
  qputenv("OCISIM_ORADATA", oradata.path().toLocal8Bit());
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);

  QProcess workload;
  workload.start(QStringLiteral(QUENLOW_OCISIM_ADMIN),
                 {QStringLiteral("workload"), QStringLiteral("-r"), QString::number(options.rate),
                  QStringLiteral("-s"), QString::number(options.seed)});
  if (!workload.waitForStarted()) {
    std::fprintf(stderr, "the workload did not start\n");
    return 1;
  }
  const auto sessionCount = Control<ocisim_session_count_t>("ocisim_session_count");
  if (!QTest::qWaitFor([&] { return sessionCount("", 0) >= 12; }, 30000)) {
    std::fprintf(stderr, "the workload logged no sessions on\n");
    workload.terminate();
    workload.waitForFinished();
    return 1;
  }

  QStringList unexpected, raised;
  int expected = 0;
  Application().SetOnException([&](QObject*, const std::exception& e) { raised.append(ExceptionMessage(e)); });
  auto observer = std::make_unique<TOSession>();
  observer->UserInfo().Username = QStringLiteral("SYSTEM");
  observer->UserInfo().Password = QStringLiteral("MANAGER");
  observer->UserInfo().ShowLogin = false;
  observer->Connect();
  auto form = std::make_unique<TForm1>(nullptr, [](TOSession* session) {
    session->UserInfo().Username = QStringLiteral("SYSTEM");
    session->UserInfo().Password = QStringLiteral("MANAGER");
    session->UserInfo().ShowLogin = false;
  });
  if (!form->Created()) {
    std::fprintf(stderr, "the main window did not start\n");
    workload.terminate();
    workload.waitForFinished();
    return 1;
  }
  if (!options.picture.isEmpty()) form->resize(900, 500);
  form->show();
  ModalAnswerer answerer;

  std::vector<double> refreshMs;
  int duplicates = 0, countMismatches = 0, kills = 0, sqlRead = 0, sqlEmpty = 0;
  size_t fewestRows = SIZE_MAX, mostRows = 0;
  std::srand(static_cast<unsigned>(options.seed));
  const QString program = QFileInfo(QString::fromLocal8Bit(argv[0])).fileName();
  QElapsedTimer clock;
  clock.start();
  for (int second = 1; second <= options.seconds; ++second) {
    QTest::qWait(static_cast<int>(std::max<qint64>(0, second * 1000LL - clock.elapsed())));
    QElapsedTimer refresh;
    refresh.start();
    QTest::mouseClick(form->TBtnRefresh, Qt::LeftButton);
    refreshMs.push_back(static_cast<double>(refresh.nsecsElapsed()) / 1e6);

    // The list as the grid's record set holds it: every row once, as many as counted.
    TOQuery* list = form->SessionQuery;
    if (!list->Active()) continue;
    std::set<QString> sids;
    std::vector<std::pair<QString, QString>> others;  // simulated users' sessions: sid, serial#
    const QString mine = list->FieldByName(QStringLiteral("ssid"))->AsString();
    for (list->First(); !list->Eof(); list->Next()) {
      const QString sid = list->FieldByName(QStringLiteral("sid"))->AsString();
      if (!sids.insert(sid).second) ++duplicates;
      // The simulated users' sessions: neither the window's own nor the
      // driver's other one (both of this program).
      if (list->FieldByName(QStringLiteral("audsid"))->AsString() != mine &&
          list->FieldByName(QStringLiteral("program"))->AsString() != program &&
          list->FieldByName(QStringLiteral("status"))->AsString() != QStringLiteral("KILLED"))
        others.emplace_back(sid, list->FieldByName(QStringLiteral("serial#"))->AsString());
    }
    fewestRows = std::min(fewestRows, sids.size());
    mostRows = std::max(mostRows, sids.size());
    if (form->StatusBar2->PanelText(1) != QStringLiteral("Total sessions: %1").arg(sids.size())) ++countMismatches;
    if (others.empty()) continue;
    const auto& [sid, serial] = others[static_cast<size_t>(std::rand()) % others.size()];
    Guarded(nullptr, [&] {
      ++sqlRead;
      if (form->ReadSessionSql(sid, serial).isEmpty()) ++sqlEmpty;
    });
    if (second % options.killEvery == 0 && list->Locate(QStringLiteral("sid"), sid, {})) {
      ++kills;
      QTest::mouseClick(form->TBtnKillSession, Qt::LeftButton);
      // A failed kill is expected only for a session that is no longer there to kill.
      if (!raised.isEmpty() && std::all_of(raised.begin(), raised.end(), KillError) &&
          Rows(*observer, QStringLiteral("select count(*) from v$session where sid=%1 and serial#=%2"
                                         " and status<>'KILLED'")
                              .arg(sid, serial))[0][0] == QStringLiteral("0")) {
        expected += static_cast<int>(raised.size());
        raised.clear();
      }
    }
    unexpected += raised;
    raised.clear();
  }
  const double elapsed = static_cast<double>(clock.elapsed()) / 1000.0;
  if (!options.picture.isEmpty()) {
    QTest::mouseClick(form->TBtnRefresh, Qt::LeftButton);
    form->SessionQuery->First();
    QTest::qWait(200);
    if (!form->grab().save(options.picture)) std::fprintf(stderr, "cannot save %s\n", qPrintable(options.picture));
  }

  workload.terminate();
  workload.waitForFinished(30000);
  const QString summary = QString::fromLocal8Bit(workload.readAllStandardOutput()).trimmed();

  // With the instance still, the list is the instance's: no row lost or duplicated.
  QTest::mouseClick(form->TBtnRefresh, Qt::LeftButton);
  QStringList listed;
  for (form->SessionQuery->First(); !form->SessionQuery->Eof(); form->SessionQuery->Next())
    listed << form->SessionQuery->FieldByName(QStringLiteral("sid"))->AsString();
  unexpected += raised;
  QStringList actual;
  for (const QStringList& row : Rows(*observer, QStringLiteral("select sid from v$session where type<>'BACKGROUND'"
                                                              " and status<>'KILLED' order by sid")))
    actual << row[0];
  listed.sort();
  actual.sort();
  const bool finalListRight = listed == actual;

  std::vector<char> problems(1 << 16);
  const int problemCount =
      Control<ocisim_check_instance_t>("ocisim_check_instance")("", problems.data(), static_cast<int>(problems.size()));

  std::printf("Busy instance: %d s at %g changes per second (seed %ld), %.1f s measured\n", options.seconds,
              options.rate, options.seed, elapsed);
  std::printf("  workload: %s\n", summary.toLocal8Bit().constData());
  std::printf("  refreshes: %zu, %.1f ms median, %.1f ms 95th percentile, %.1f ms longest\n", refreshMs.size(),
              Percentile(refreshMs, 0.5), Percentile(refreshMs, 0.95), Percentile(refreshMs, 1.0));
  std::printf("  sessions listed: %zu to %zu\n", fewestRows == SIZE_MAX ? 0 : fewestRows, mostRows);
  std::printf("  SQL read for %d listed sessions (%d had none or were gone); %d kills\n", sqlRead, sqlEmpty, kills);
  std::printf("  expected errors (session killed or gone meanwhile): %d; other errors: %lld\n", expected,
              static_cast<long long>(unexpected.size()));
  for (const QString& message : unexpected) std::printf("    %s\n", message.toLocal8Bit().constData());
  std::printf("  unexpected windows: %d; sessions listed twice: %d; counts that disagreed: %d\n",
              answerer.unexpected, duplicates, countMismatches);
  std::printf("  final list against the instance: %s (%lld rows)\n", finalListRight ? "same" : "DIFFERENT",
              static_cast<long long>(listed.size()));
  std::printf("  instance check: %s\n", problemCount == 0 ? "ok" : problemCount < 0 ? "cannot read the instance" : problems.data());

  form.reset();
  observer.reset();
  ReleaseOracleErrorWindow();
  const bool sound = unexpected.isEmpty() && answerer.unexpected == 0 && duplicates == 0 && countMismatches == 0 &&
                     finalListRight && problemCount == 0 && refreshMs.size() == static_cast<size_t>(options.seconds);
  std::printf("  result: %s\n", sound ? "PASS" : "FAIL");
  return sound ? 0 : 1;
}
