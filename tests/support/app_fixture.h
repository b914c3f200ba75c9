// What the tests of the application's windows share: a recorder of the
// exceptions that reach the application, a user who answers modal windows,
// the log-on without the login dialog, and the fixture that puts them together.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QStringList>
#include <QTest>
#include <QTimer>
#include <deque>
#include <functional>

#include "oralib/o_class.h"
#include "oralib/o_error_window.h"
#include "ui/application.h"
#include "ui/exception.h"

namespace app_test {

// Takes the application's exception handler for its life and records the
// message of every exception that reaches it; puts the displaced one back.
class ExceptionRecorder {
 public:
  ExceptionRecorder() : saved_(Application().OnException()) {
    Application().SetOnException([this](QObject*, const std::exception& e) { messages.append(ExceptionMessage(e)); });
  }
  ~ExceptionRecorder() { Application().SetOnException(saved_); }
  ExceptionRecorder(const ExceptionRecorder&) = delete;
  ExceptionRecorder& operator=(const ExceptionRecorder&) = delete;

  QStringList messages;

 private:
  TApplication::TExceptionEvent saved_;
};

// The main window's session set-up for a log-on as `user` without the login dialog.
inline std::function<void(TOSession*)> LogOnAs(const QString& user, const QString& password) {
  return [user, password](TOSession* session) {
    session->UserInfo().Username = user;
    session->UserInfo().Password = password;
    session->UserInfo().ShowLogin = false;
  };
}

// The same for the default user (system) with its password.
inline void LogOnAsSystem(TOSession* session) {
  session->UserInfo().Password = QStringLiteral("MANAGER");
  session->UserInfo().ShowLogin = false;
}

// Plays the user at modal windows while it exists. Each window that opens is
// noted (seen, OnWindow), then offered to the next queued answer, which
// returns whether it dealt with it. A window no answer takes is closed, or,
// with ConfirmQuestions, a question is answered Yes. Answers act from a fresh
// timer (Click, Key, Close), since a window opened by the action runs a loop
// of its own in which the polling timer could not fire.
class ModalUser : public QObject {
 public:
  using Answer = std::function<bool(QWidget*)>;

  explicit ModalUser(int pollMs = 10) {
    connect(&timer_, &QTimer::timeout, this, [this] { Step(); });
    timer_.start(pollMs);
  }

  void Then(Answer answer) { answers_.push_back(std::move(answer)); }
  bool Done() const { return answers_.empty() && !pending_; }
  int Count(const char* className) const { return static_cast<int>(seen.count(QLatin1String(className))); }

  QStringList seen;                        // class names of the modal windows that opened
  std::function<void(QWidget*)> OnWindow;  // sees each window before it is answered
  bool ConfirmQuestions = false;

  void Click(QAbstractButton* button) {
    Later(button, [button] { button->click(); });
  }
  void Key(QWidget* window, Qt::Key key) {
    Later(window, [window, key] { QTest::keyClick(window, key); });
  }
  void Close(QWidget* window) {
    Later(window, [window] { window->close(); });
  }

 private:
  void Later(QObject* target, std::function<void()> act) {
    pending_ = true;
    QTimer::singleShot(0, this, [this, target = QPointer<QObject>(target), act = std::move(act)] {
      if (target) act();
      pending_ = false;
      last_ = nullptr;  // the same window may be shown again
    });
  }

  void Step() {
    QWidget* window = QApplication::activeModalWidget();
    if (pending_ || window == nullptr || !window->isVisible() || window == last_) return;
    last_ = window;
    seen.append(QString::fromLatin1(window->metaObject()->className()));
    if (OnWindow) OnWindow(window);
    if (!answers_.empty() && answers_.front()(window)) {
      answers_.pop_front();
      return;
    }
    if (auto* box = qobject_cast<QMessageBox*>(window); box != nullptr && ConfirmQuestions) {
      for (QAbstractButton* button : box->buttons())
        if (box->buttonRole(button) == QMessageBox::YesRole) return Click(button);
    }
    Close(window);  // an unexpected window: closed, so that the test goes on
  }

  std::deque<Answer> answers_;
  QPointer<QWidget> last_;
  bool pending_ = false;
  QTimer timer_;
};

// The fixture of tests that run the application's windows: records what
// reaches the application's exception handler in `errors` while the test
// runs. At its end it releases the Oracle error window, which puts back the
// recorder it displaced, before the recorder puts back the handler that was
// in force before the test. A test's own TearDown releases its windows first,
// then calls this one.
template <class Base = ::testing::Test>
class AppFixture : public Base {
 protected:
  void TearDown() override { ReleaseOracleErrorWindow(); }

 private:
  ExceptionRecorder recorder_;

 protected:
  QStringList& errors = recorder_.messages;
};

}  // namespace app_test
