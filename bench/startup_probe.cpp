// Preloaded into a program whose start-up is timed: ends the process with
// status 42 the moment its first dialog is shown (QUENLOW_PROBE_CLASS, when
// set, names the dialog class to wait for).
#include <QCoreApplication>
#include <QDialog>
#include <QEvent>
#include <QObject>
#include <unistd.h>

namespace {

class ShowProbe : public QObject {
 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Show && watched->isWidgetType() && qobject_cast<QDialog*>(watched) != nullptr) {
      const QByteArray wanted = qgetenv("QUENLOW_PROBE_CLASS");
      if (wanted.isEmpty() || wanted == watched->metaObject()->className()) _exit(42);
    }
    return false;
  }
};

void InstallProbe() { QCoreApplication::instance()->installEventFilter(new ShowProbe); }

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(InstallProbe)
