// The SQL monitor program: shows the trace lines of every Quenlow session that
// has a ToSQLMon attached, while it runs.
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QSocketNotifier>
#include <cstdio>

#include "sm_server.h"
#include "sm_window.h"

namespace {

int signalPipe[2] = {-1, -1};

void OnSignal(int) {
  const char byte = 1;
  // Only the write is safe here; the event loop does the rest.
  [[maybe_unused]] const ssize_t written = write(signalPipe[1], &byte, 1);
}

// Ends the event loop on SIGTERM, SIGINT and SIGHUP, so that the presence
// marker is removed as on a normal close.
void QuitOnTerminationSignals(QApplication& app) {
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0) return;
  auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
  QObject::connect(notifier, &QSocketNotifier::activated, &app, [&app] { app.quit(); });
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) sigaction(signal, &action, nullptr);
}

// The client library that the monitor registers: beside the program in a
// build, in the installation's private folder for it once installed.
QString ClientLibrary() {
  const QDir programs(QCoreApplication::applicationDirPath());
  const QString name = QStringLiteral("libquenlow_smclient.so");
  if (QFileInfo::exists(programs.filePath(name))) return programs.filePath(name);
  return QDir::cleanPath(programs.filePath(QStringLiteral(QUENLOW_SMCLIENT_DIR_FROM_BINDIR "/") + name));
}

int Fail(const QString& message) {
  std::fprintf(stderr, "quenlow-sqlmonitor: %s\n", qPrintable(message));
  if (QGuiApplication::platformName() != QLatin1String("offscreen")) {
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Quenlow SQL Monitor"), message);
    box.setTextFormat(Qt::PlainText);  // file names and system errors, not markup
    box.exec();
  }
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Quenlow SQL Monitor"));
  QGuiApplication::setDesktopFileName(QStringLiteral("org.example.quenlow.sqlmonitor"));

  QCommandLineParser options;
  options.setApplicationDescription(
      QStringLiteral("Shows the trace lines of Quenlow sessions that have a SQL monitor attached."));
  options.addHelpOption();
  const QCommandLineOption logOption(QStringLiteral("log"),
                                     QStringLiteral("Also append every received line to <file>."),
                                     QStringLiteral("file"));
  options.addOption(logOption);
  options.process(app);

  QuitOnTerminationSignals(app);
  TSMServer server;
  if (!server.Start(ClientLibrary())) return Fail(server.Error());

  TSMMonitorWindow window(server);
  if (options.isSet(logOption)) {
    QString error;
    if (!window.TeeTo(options.value(logOption), &error))
      return Fail(QStringLiteral("Cannot open %1: %2").arg(options.value(logOption), error));
  }
  window.show();
  const int result = app.exec();
  server.Stop();
  return result;
}
