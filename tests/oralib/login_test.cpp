// Tests of the login dialog, driven by keys: attempts, retries, the password
// field and the ways out.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <functional>

#include "oralib/o_class.h"
#include "oralib/o_error_window.h"
#include "oralib/o_login.h"
#include "oralib/o_ociap.h"
#include "tests/support/modal.h"
#include "tests/support/shown_text.h"
#include "tests/support/stand_in.h"
#include "ui/application.h"
#include "ui/exception.h"

namespace {

stand_in::PrivateInstance instance;

// Plays the user at the login dialog: presses OK up to `okPresses` times (then
// Cancel), closes every Oracle error window, and counts what it saw.
class LoginUser : public QObject {
 public:
  explicit LoginUser(int okPresses) : okPresses_(okPresses) {
    connect(&timer_, &QTimer::timeout, this, [this] { Step(); });
    timer_.start(5);
  }
  int okPressed = 0, cancelPressed = 0, errorsShown = 0;
  QStringList errorLabels;
  QString labelAtLogOn;
  QStringList passwordsAtError;  // the dialog's password field while each error shows
  QString passwordAtClose = QStringLiteral("(not closed)");

 private:
  // Clicks from a fresh timer: a modal window opened by the click runs its own
  // loop, in which the polling timer could not fire again.
  void ClickLater(QPushButton* button) {
    pending_ = true;
    QTimer::singleShot(0, button, [this, button] {
      pending_ = false;
      button->click();
    });
  }

  void Step() {
    if (pending_) return;
    QWidget* window = QApplication::activeModalWidget();
    if (auto* error = qobject_cast<TOraErrorFrm*>(window); error && error->isVisible()) {
      ++errorsShown;
      errorLabels << error->FirstErrLbl->text();
      for (QWidget* top : QApplication::topLevelWidgets())
        if (auto* login = qobject_cast<ToraLoginFrm*>(top)) passwordsAtError << login->PasswordEdit->text();
      ClickLater(error->Button1);
    } else if (auto* login = qobject_cast<ToraLoginFrm*>(window);
               login && login->isVisible() && !login->Connecting()) {
      // Only from the dialog's own loop: a just closed error window's loop may
      // still run, and the dialog may be about to close after that error.
      const int level = QThread::currentThread()->loopLevel();
      if (loginLevel_ < 0) {
        loginLevel_ = level;
        connect(login, &QDialog::finished, this, [this, login] { passwordAtClose = login->PasswordEdit->text(); });
      }
      if (level != loginLevel_) return;
      if (okPressed < okPresses_) {
        ++okPressed;
        ClickLater(login->Button1);
      } else {
        ++cancelPressed;
        ClickLater(login->Button2);
      }
    }
  }
  int okPresses_;
  int loginLevel_ = -1;  // the event-loop level of the dialog's own loop
  bool pending_ = false;
  QTimer timer_;
};

// Runs `act` on the login dialog once it is shown, active and has placed its
// focus (a window's focus reaches a widget only once the window is active);
// `act` must close the dialog.
void WhenLoginActive(std::function<void(ToraLoginFrm*)> act) {
  modal::AnswerNext([act = std::move(act)](QWidget* window) {
    auto* login = qobject_cast<ToraLoginFrm*>(window);
    if (login == nullptr) {
      ADD_FAILURE() << "another modal window opened first";
      return void(window->close());
    }
    if (!QTest::qWaitForWindowActive(login) ||
        !QTest::qWaitFor([] { return QApplication::focusWidget() != nullptr; })) {
      ADD_FAILURE() << "the login dialog never became active with a focus";
      return void(login->reject());
    }
    act(login);
  });
}

// The name of the focused control; the combo box's own editor stands for ServiceEdit.
QString FocusedName(const ToraLoginFrm* login) {
  QWidget* focused = QApplication::focusWidget();
  if (focused == nullptr) return QStringLiteral("(none)");
  if (focused == login->ServiceEdit->lineEdit()) return login->ServiceEdit->objectName();
  return focused->objectName();
}

std::unique_ptr<TOSession> Session(const QString& password, int retries) {
  auto session = std::make_unique<TOSession>();
  session->UserInfo().Password = password;
  session->UserInfo().Retries = retries;
  return session;
}

QString ConnectMessage(TOSession& session) {
  try {
    session.Connect();
  } catch (const Exception& e) {
    return e.Message();
  }
  return {};
}

}  // namespace

TEST(LoginDialog, GivesUpAfterTheAllowedAttempts) {
  for (const int retries : {3, 1}) {
    auto session = Session(QStringLiteral("wrong"), retries);
    LoginUser user(10);
    EXPECT_EQ(ConnectMessage(*session), QStringLiteral("Not connected to Oracle"));
    EXPECT_EQ(user.okPressed, retries);
    EXPECT_EQ(user.errorsShown, retries);
    EXPECT_EQ(user.cancelPressed, 0);
    EXPECT_EQ(user.errorLabels.value(0), QStringLiteral("invalid username/password; logon denied"));
    EXPECT_FALSE(session->Connected());
  }
}

TEST(LoginDialog, ZeroRetriesAllowsAnyNumberOfAttempts) {
  auto session = Session(QStringLiteral("wrong"), 0);
  LoginUser user(5);
  EXPECT_EQ(ConnectMessage(*session), QStringLiteral("Not connected to Oracle"));
  EXPECT_EQ(user.errorsShown, 5);
  EXPECT_EQ(user.cancelPressed, 1);
  EXPECT_TRUE(session->UserInfo().Password.isEmpty());  // the refused password is not kept
}

TEST(LoginDialog, ThePasswordFieldKeepsItsTextForTheNextAttemptAndIsEmptiedHoweverTheDialogEnds) {
  {
    auto session = Session(QStringLiteral("wrong"), 2);
    LoginUser user(10);
    EXPECT_EQ(ConnectMessage(*session), QStringLiteral("Not connected to Oracle"));
    EXPECT_EQ(user.passwordsAtError, (QStringList{QStringLiteral("wrong"), QStringLiteral("wrong")}));
    EXPECT_TRUE(user.passwordAtClose.isEmpty());
  }
  for (const int okPresses : {1, 0}) {
    SCOPED_TRACE(okPresses);
    auto session = Session(QStringLiteral("MANAGER"), 3);
    session->UserInfo().ForgetPassword = false;
    LoginUser user(okPresses);
    ConnectMessage(*session);
    EXPECT_EQ(session->Connected(), okPresses == 1);
    EXPECT_TRUE(user.passwordAtClose.isEmpty());
    EXPECT_EQ(session->UserInfo().Password, QStringLiteral("MANAGER"));  // kept, as asked
  }
}

TEST(LoginDialog, CancelFailsWithoutAnyWindow) {
  auto session = Session(QStringLiteral("MANAGER"), 3);
  LoginUser user(0);
  EXPECT_EQ(ConnectMessage(*session), QStringLiteral("Not connected to Oracle"));
  EXPECT_EQ(user.errorsShown, 0);
  EXPECT_FALSE(session->Connected());
}

TEST(LoginDialog, OpensOnOkWhenEverythingIsPresetSoEnterLogsOn) {
  auto session = Session(QStringLiteral("MANAGER"), 3);
  QString focused, label;
  QStringList services;
  WhenLoginActive([&](ToraLoginFrm* login) {
    focused = FocusedName(login);
    for (int i = 0; i < login->ServiceEdit->count(); ++i) services << login->ServiceEdit->itemText(i);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
  });
  session->Connect();
  EXPECT_TRUE(session->Connected());
  EXPECT_EQ(focused, QStringLiteral("Button1"));
  EXPECT_TRUE(services.contains(QStringLiteral("DEMO"))) << services.join(',').toStdString();
}

TEST(LoginDialog, EnterMovesThroughTheFieldsAndFocusStartsAtTheFirstEmptyOne) {
  auto session = Session(QString(), 3);
  QStringList path;
  WhenLoginActive([&](ToraLoginFrm* login) {
    EXPECT_EQ(login->PasswordEdit->echoMode(), QLineEdit::Password);
    login->PasswordEdit->setText(QStringLiteral("ab"));
    EXPECT_EQ(login->PasswordEdit->displayText(), QStringLiteral("**"));
    login->PasswordEdit->clear();
    EXPECT_EQ(login->UserEdit->text(), QStringLiteral("system"));
    for (int i = 0; i < 2; ++i) {
      path << FocusedName(login);
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    }
    path << FocusedName(login);
    // Restoring the minimised dialog keeps what was typed.
    login->UserEdit->setText(QStringLiteral("typed"));
    login->setWindowState(Qt::WindowMinimized);
    login->setWindowState(Qt::WindowNoState);
    QApplication::processEvents();
    EXPECT_EQ(login->UserEdit->text(), QStringLiteral("typed"));
    login->Button2->click();
  });
  EXPECT_EQ(ConnectMessage(*session), QStringLiteral("Not connected to Oracle"));
  EXPECT_EQ(path, (QStringList{QStringLiteral("PasswordEdit"), QStringLiteral("ServiceEdit"), QStringLiteral("Button1")}));
}

TEST(LoginDialog, EscapeDoesNotCloseItButTheCloseBoxCancels) {
  auto session = Session(QStringLiteral("MANAGER"), 3);
  QStringList closedBy;
  WhenLoginActive([&](ToraLoginFrm* login) {
    for (QWidget* control : {static_cast<QWidget*>(login->UserEdit), static_cast<QWidget*>(login->PasswordEdit),
                             static_cast<QWidget*>(login->Button1), static_cast<QWidget*>(login->Button2)}) {
      control->setFocus();
      QTest::keyClick(control, Qt::Key_Escape);
      if (!login->isVisible()) closedBy << control->objectName();
    }
    login->close();
  });
  EXPECT_EQ(ConnectMessage(*session), QStringLiteral("Not connected to Oracle"));
  EXPECT_TRUE(closedBy.isEmpty()) << closedBy.join(',').toStdString();
}

TEST(LoginDialog, ShowsWhatTheUserTypedAsTextNeverAsMarkup) {
  auto session = Session(QStringLiteral("wrong"), 3);
  QString label;
  WhenLoginActive([&](ToraLoginFrm* login) {
    login->UserEdit->setText(QStringLiteral("<b>scott</b>"));
    login->ServiceEdit->setEditText(QStringLiteral("&lt;db&gt;"));
    // The refused log-on's error window: the label still holds its text.
    QTimer errorCloser;
    QObject::connect(&errorCloser, &QTimer::timeout, [&] {
      auto* error = qobject_cast<TOraErrorFrm*>(QApplication::activeModalWidget());
      if (error == nullptr || !error->isVisible()) return;
      label = ShownText(login->Label1->text(), login->Label1->textFormat());
      error->close();
    });
    errorCloser.start(5);
    login->Button1->click();
    login->Button2->click();
  });
  EXPECT_EQ(ConnectMessage(*session), QStringLiteral("Not connected to Oracle"));
  EXPECT_EQ(label, QStringLiteral("Connecting as <b>scott</b>@&lt;db&gt;, Please wait..."));
}
