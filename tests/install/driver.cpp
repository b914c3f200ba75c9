// A user at the keyboard of an installed Quenlow, for the tests of the
// installation: loaded into the program with LD_PRELOAD, it starts with the
// program's application object and then answers what the program shows, one
// line on standard output for each thing it saw:
//
//   driver: login                    answered the login dialog as SYSTEM/MANAGER
//   driver: login icon: SIZES        the sizes of the login dialog's window icon
//   driver: login cancelled          cancelled it (after an error window)
//   driver: error window: TEXT       an Oracle or fatal error window, closed
//   driver: message box: TEXT        any other message box, closed
//   driver: main window: TITLE | STATUS   the main window with its session count, closed
//
// The program gains no switch of its own for this: the driver reaches its
// windows through Qt alone, by their object names.
#include <unistd.h>

#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QStringList>
#include <QTextEdit>
#include <QTimer>
#include <QWidget>
#include <cstdio>

namespace {

constexpr int kPollMs = 50;
constexpr int kGiveUpMs = 120000;  // a program that shows nothing to answer for this long hangs

void Say(const QString& what) {
  std::printf("driver: %s\n", what.toUtf8().constData());
  std::fflush(stdout);
}

// Text of a window on one line: line breaks become " / ".
QString OneLine(QString text) { return text.replace(QLatin1Char('\n'), QStringLiteral(" / ")).trimmed(); }

class Driver : public QObject {
 public:
  Driver() : QObject(qApp) {
    connect(&poll_, &QTimer::timeout, this, &Driver::Poll);
    poll_.start(kPollMs);
  }

 private:
  void Poll() {
    waited_ += kPollMs;
    if (waited_ > kGiveUpMs) {
      Say(QStringLiteral("gave up waiting"));
      std::fflush(stdout);
      _exit(3);
    }
    for (QWidget* window : QApplication::topLevelWidgets()) {
      if (!window->isVisible()) continue;
      const QString name = window->objectName();
      if (name == QLatin1String("OraErrorFrm") || name == QLatin1String("ErrorFrm")) {
        auto* first = window->findChild<QLabel*>(QStringLiteral("FirstErrLbl"));
        Say(QStringLiteral("error window: ") + OneLine(first ? first->text() : QString()));
        errorSeen_ = true;
        Press(window, "Button1");
        return;
      }
      if (auto* box = qobject_cast<QMessageBox*>(window)) {
        Say(QStringLiteral("message box: ") + OneLine(box->text()));
        box->done(QMessageBox::Ok);
        return;
      }
      if (name == QLatin1String("oraLoginFrm")) {
        if (errorSeen_) {
          Say(QStringLiteral("login cancelled"));
          Press(window, "Button2");
          return;
        }
        if (loginAnswered_) continue;  // still logging on
        loginAnswered_ = true;
        QStringList sizes;
        for (const QSize& size : window->windowIcon().availableSizes()) sizes << QString::number(size.width());
        Say(QStringLiteral("login icon: ") + sizes.join(QLatin1Char(' ')));
        window->findChild<QLineEdit*>(QStringLiteral("UserEdit"))->setText(QStringLiteral("SYSTEM"));
        window->findChild<QLineEdit*>(QStringLiteral("PasswordEdit"))->setText(QStringLiteral("MANAGER"));
        Say(QStringLiteral("login"));
        Press(window, "Button1");
        return;
      }
      if (name == QLatin1String("Form1")) {
        QString status;
        if (auto* bar = window->findChild<QStatusBar*>(QStringLiteral("StatusBar2")))
          for (QLabel* panel : bar->findChildren<QLabel*>())
            if (panel->text().startsWith(QLatin1String("Total sessions: "))) status = panel->text();
        if (status.isEmpty()) continue;  // the list is still loading
        Say(QStringLiteral("main window: ") + window->windowTitle() + QStringLiteral(" | ") + status);
        window->close();
        return;
      }
    }
  }

  // Clicks a button of a window later, from the event loop: the click may open
  // a modal window of its own, which the next polls answer.
  static void Press(QWidget* window, const char* button) {
    if (auto* b = window->findChild<QPushButton*>(QLatin1String(button))) QTimer::singleShot(0, b, &QPushButton::click);
  }

  QTimer poll_;
  int waited_ = 0;
  bool loginAnswered_ = false;
  bool errorSeen_ = false;
};

// Runs when the program creates its application object; the driver starts
// with the first event loop, which may be the login dialog's.
void StartDriver() {
  QMetaObject::invokeMethod(qApp, [] { new Driver; }, Qt::QueuedConnection);
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(StartDriver)
