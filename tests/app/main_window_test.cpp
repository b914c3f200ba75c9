// The main window: creation and log-on, the fatal and Oracle error windows on
// the way, hints, the layout as shown, and the end of the program.
#include <gtest/gtest.h>

#include <QAction>
#include <QEnterEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTextEdit>
#include <QPointer>
#include <QTableView>
#include <QTimer>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <QWindow>
#include <memory>

#include "app/Unit1.h"
#include "app/u_errorfrm.h"
#include "oralib/o_class.h"
#include "oralib/o_class_query.h"
#include "oralib/o_error.h"
#include "oralib/o_error_window.h"
#include "tests/support/app_fixture.h"
#include "tests/support/modal.h"
#include "tests/support/shown_text.h"
#include "tests/support/stand_in.h"
#include "ui/application.h"
#include "ui/dbgrid.h"
#include "ui/exception.h"
#include "ui/programicon.h"
#include "ui/screen.h"
#include "ui/statusbar.h"

namespace {

// Each test runs in a process of its own, with an instance of its own.
stand_in::PrivateInstance instance;

using app_test::LogOnAsSystem;

class MainWindow : public app_test::AppFixture<> {
 protected:
  void SetUp() override { Application().SetTitle(QStringLiteral("QNV_Quenlow")); }

  void TearDown() override {
    form.reset();
    AppFixture::TearDown();
  }

  void CreateLoggedOn() {
    form = std::make_unique<TForm1>(nullptr, LogOnAsSystem);
    ASSERT_TRUE(errors.isEmpty()) << errors.join(QStringLiteral("; ")).toStdString();
    ASSERT_TRUE(form->Created());
  }

  QString HintPanel() const { return form->StatusBar2->PanelText(0); }

  std::unique_ptr<TForm1> form;
};

void Enter(QWidget* control) {
  QEnterEvent event(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
  QCoreApplication::sendEvent(control, &event);
}

void Leave(QWidget* control) {
  QEvent event(QEvent::Leave);
  QCoreApplication::sendEvent(control, &event);
}

}  // namespace

TEST(StartPosition, TakesTheLeftEdgeFromTheHeightAndTheTopFromTheWidth) {
  EXPECT_EQ(TForm1::StartPosition(QSize(1024, 768)), QPoint(153, 204));
  EXPECT_EQ(TForm1::StartPosition(QSize(1366, 768)), QPoint(153, 273));
}

TEST_F(MainWindow, StartsUpLoggedOnWithItsTitleCaptionUserAndPlace) {
  CreateLoggedOn();
  EXPECT_EQ(Application().Title(), QStringLiteral("Quenlow"));
  EXPECT_TRUE(form->windowTitle().startsWith(QStringLiteral("Quenlow___ "))) << form->windowTitle().toStdString();
  EXPECT_TRUE(form->isVisible());
  EXPECT_EQ(Form1, form.get());
  const QString user = form->StatusBar2->PanelText(2);
  EXPECT_FALSE(user.isEmpty());
  EXPECT_EQ(user, form->MainSession->UserInfo().Username);
  EXPECT_TRUE(form->MainSession->Connected());
  // A fresh instance lists one session: this program's own, current.
  EXPECT_EQ(form->StatusBar2->PanelText(1), QStringLiteral("Total sessions: 1"));
  EXPECT_EQ(form->SessionQuery->RecNo(), 1);
  EXPECT_EQ(form->pos(), TForm1::StartPosition(Screen::Size()));
  // Its size is the whole window's, frame included.
  EXPECT_EQ(form->frameGeometry(), QRect(TForm1::StartPosition(Screen::Size()), QSize(600, 400)));
}

TEST_F(MainWindow, WearsTheProgramIconAtEveryThemeSize) {
  CreateLoggedOn();
  const QIcon icon = form->windowIcon();
  for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
    EXPECT_TRUE(icon.availableSizes().contains(QSize(size, size))) << size;
    const QImage shown = icon.pixmap(QSize(size, size)).toImage();
    EXPECT_EQ(shown.size(), QSize(size, size)) << size;
    EXPECT_EQ(shown, ProgramIcon().pixmap(QSize(size, size)).toImage()) << size;
  }
}

TEST_F(MainWindow, AFailureDuringCreationIsShownOnceAsFatalAndEndsTheProgram) {
  int windowsShown = 0;
  QString caption, label;
  int height = 0;
  bool detailsVisible = true;
  modal::AnswerNext([&](QWidget* window) {
    ++windowsShown;
    if (auto* fatal = qobject_cast<TErrorFrm*>(window)) {
      caption = fatal->windowTitle();
      label = fatal->FirstErrLbl->text();
      height = fatal->height();
      detailsVisible = fatal->DetailBtn->isVisible();
      EXPECT_TRUE(fatal->RichEdit->toPlainText().isEmpty());
      // A second fatal error while the window is open ends with the first.
      Guarded(nullptr, [] { throw Exception(QStringLiteral("second failure")); });
      EXPECT_EQ(fatal->FirstErrLbl->text(), label);
    }
    window->close();
  });
  form = std::make_unique<TForm1>(nullptr, [](TOSession*) { throw Exception(QStringLiteral("SCOTT have no enough privilege")); });
  EXPECT_EQ(windowsShown, 1);
  EXPECT_EQ(caption, QStringLiteral("Fatal Error"));
  EXPECT_EQ(label, QStringLiteral("SCOTT have no enough privilege"));
  EXPECT_EQ(height, TErrorWindow::kTopPanelHeight);
  EXPECT_FALSE(detailsVisible);
  EXPECT_TRUE(errors.isEmpty());  // the fatal window stood in front of every other handler
  EXPECT_FALSE(form->Created());
  EXPECT_FALSE(form->isVisible());
  EXPECT_EQ(form->MainSession, nullptr);  // database objects released
  EXPECT_EQ(ApplicationErrorWindow, nullptr);
  EXPECT_TRUE(Application().Terminated());
  // Both windows gone, the handler in force is no released window's.
  Application().HandleException(nullptr, Exception(QStringLiteral("late")));
  EXPECT_EQ(errors, QStringList{QStringLiteral("late")});
}

TEST_F(MainWindow, TheFatalWindowShowsItsMessageAsTextAndClosingItByItsFrameEndsTheProgram) {
  int windowsShown = 0;
  bool closeCommand = false;
  QString label;
  modal::AnswerNext([&](QWidget* window) {
    ++windowsShown;
    if (auto* fatal = qobject_cast<TErrorFrm*>(window)) {
      closeCommand = fatal->windowFlags().testFlag(Qt::WindowCloseButtonHint);
      label = ShownText(fatal->FirstErrLbl->text(), fatal->FirstErrLbl->textFormat());
    }
    window->windowHandle()->close();
  });
  form = std::make_unique<TForm1>(nullptr, [](TOSession*) { throw Exception(MarkupLike()); });
  EXPECT_EQ(windowsShown, 1);
  EXPECT_TRUE(closeCommand);
  EXPECT_EQ(label, MarkupLike());
  EXPECT_EQ(form->MainSession, nullptr);
  EXPECT_EQ(ApplicationErrorWindow, nullptr);
  EXPECT_TRUE(Application().Terminated());
}

TEST_F(MainWindow, TheFatalWindowEndsTheProgramThroughTheStepItWasHanded) {
  TErrorFrm fatal;
  int steps = 0;
  fatal.SetReleaseAndTerminate([&] { ++steps; });
  // A cancelled log-on takes the step at once, with no window.
  fatal.HandleAppException(nullptr, Exception(QStringLiteral("Not connected to Oracle")));
  EXPECT_EQ(steps, 1);
  // Any other failure is shown first; the step follows once the window is closed.
  int shown = 0;
  int stepsWhileShown = -1;
  modal::AnswerNext([&](QWidget* window) {
    ++shown;
    stepsWhileShown = steps;
    window->close();
  });
  fatal.HandleAppException(nullptr, Exception(QStringLiteral("fatal failure")));
  EXPECT_EQ(shown, 1);
  EXPECT_EQ(stepsWhileShown, 1);
  EXPECT_EQ(steps, 2);
  // Terminating is the step's part: this one did not.
  EXPECT_FALSE(Application().Terminated());
  EXPECT_TRUE(errors.isEmpty());
}

TEST_F(MainWindow, ACancelledLoginEndsTheProgramWithoutAnyWindow) {
  int windowsShown = 0;
  modal::AnswerNext([&](QWidget* window) {
    ++windowsShown;
    window->close();
  }, 500);
  form = std::make_unique<TForm1>(nullptr, [](TOSession*) { throw Exception(QStringLiteral("Not connected to Oracle")); });
  EXPECT_EQ(windowsShown, 0);
  EXPECT_EQ(form->MainSession, nullptr);
  EXPECT_TRUE(Application().Terminated());
}

TEST_F(MainWindow, ARefusedLogonGoesToTheOracleErrorWindowAndTheWindowStaysHidden) {
  QString shown;
  modal::AnswerNext([&](QWidget* window) {
    if (auto* oracleWindow = qobject_cast<TOraErrorFrm*>(window); oracleWindow && oracleWindow->ShownException())
      shown = oracleWindow->ShownException()->Message();
    window->close();
  });
  form = std::make_unique<TForm1>(nullptr, [](TOSession* session) {
    session->UserInfo().Password = QStringLiteral("WRONG");
    session->UserInfo().ShowLogin = false;
  });
  EXPECT_TRUE(shown.contains(QStringLiteral("ORA-01017"))) << shown.toStdString();
  EXPECT_TRUE(errors.isEmpty()) << errors.join(QStringLiteral("; ")).toStdString();
  EXPECT_FALSE(form->Created());
  EXPECT_FALSE(form->isVisible());
}

TEST_F(MainWindow, ToolBarHoldsTheButtonsInOrderWithTheirPictures) {
  CreateLoggedOn();
  struct Expected {
    const char* name;
    int image;
  };
  const Expected buttons[] = {{"TBtnRefresh", 18}, {"TBtnKillSession", 14}, {"ToolButton5", -1},
                              {"TBtnOptions", 0},  {"TBtnShowsql", 20},     {"TBtnExit", 4}};
  const QList<QAction*> actions = form->ToolBar2->actions();
  ASSERT_EQ(actions.size(), std::size(buttons));
  EXPECT_EQ(form->ImageList1.Count(), 21);
  for (qsizetype i = 0; i < actions.size(); ++i) {
    QWidget* widget = form->ToolBar2->widgetForAction(actions[i]);
    ASSERT_NE(widget, nullptr);
    EXPECT_EQ(widget->objectName(), QString::fromLatin1(buttons[i].name));
    if (buttons[i].image < 0) {
      EXPECT_EQ(widget->width(), 8);
      continue;
    }
    auto* button = qobject_cast<QToolButton*>(widget);
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->icon().pixmap(16, 16).toImage(), form->ImageList1.Image(buttons[i].image).toImage())
        << buttons[i].name;
  }
}

TEST_F(MainWindow, PointingAtAToolButtonShowsItsLongHintInTheStatusBar) {
  CreateLoggedOn();
  struct Expected {
    QToolButton* button;
    const char* tooltip;
    const char* status;
  };
  const Expected hints[] = {
      {form->TBtnRefresh, "Refresh", "Retrieve all current sessions and Refresh the list"},
      {form->TBtnKillSession, "Kill Session", "Kill selected session"},
      {form->TBtnOptions, "Options", "Change the display options"},
      {form->TBtnShowsql, "Show Sql", "Show sql statement according to this session"},
      {form->TBtnExit, "Exit", "Exit"},
  };
  for (const Expected& hint : hints) {
    EXPECT_EQ(hint.button->toolTip(), QString::fromLatin1(hint.tooltip));
    Enter(hint.button);
    EXPECT_EQ(HintPanel(), QString::fromLatin1(hint.status)) << hint.tooltip;
    Leave(hint.button);
    EXPECT_EQ(HintPanel(), QString()) << hint.tooltip;
  }

  // The same through real pointer movement over the shown window.
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  QTest::mouseMove(form->TBtnRefresh);
  EXPECT_TRUE(QTest::qWaitFor([&] { return HintPanel() == QStringLiteral("Retrieve all current sessions and Refresh the list"); }, 2000))
      << HintPanel().toStdString();
  QTest::mouseMove(form->DBGrid1->viewport());
  EXPECT_TRUE(QTest::qWaitFor([&] { return HintPanel().isEmpty(); }, 2000)) << HintPanel().toStdString();
}

TEST_F(MainWindow, MenuItemsHaveTheirCaptionsAndShortcuts) {
  CreateLoggedOn();
  struct Expected {
    const char* name;
    const char* caption;
    const char* shortcut;
  };
  const Expected items[] = {
      {"Exit1", "E&xit", "Ctrl+X"},       {"ShowSql1", "&Show Sql", "Ctrl+S"}, {"KillSession1", "&Kill Session", "Ctrl+K"},
      {"Refresh1", "&Refresh", "Ctrl+R"}, {"Option1", "&Option", "Ctrl+O"},    {"About1", "&About", ""},
      {"ShowSql2", "Show Sql", ""},       {"Killsession2", "Kill session", ""},
  };
  for (const Expected& item : items) {
    auto* action = form->findChild<QAction*>(QString::fromLatin1(item.name));
    ASSERT_NE(action, nullptr) << item.name;
    EXPECT_EQ(action->text(), QString::fromLatin1(item.caption)) << item.name;
    EXPECT_EQ(action->shortcut().toString(QKeySequence::PortableText), QString::fromLatin1(item.shortcut)) << item.name;
  }
  EXPECT_EQ(form->File1->title(), QStringLiteral("&File"));
  EXPECT_EQ(form->Session1->title(), QStringLiteral("&Session"));
  EXPECT_EQ(form->Help1->title(), QStringLiteral("&Help"));
  EXPECT_TRUE(form->N1->isSeparator());
  EXPECT_EQ(form->Session1->actions().indexOf(form->N1), 3);
}

TEST_F(MainWindow, ContextMenuEntriesFollowTheSessionList) {
  CreateLoggedOn();
  // A list of one row, this program's own session, is enough.
  ASSERT_EQ(form->SessionQuery->RecordCount(), 1);
  form->PopupMenu1->popup(form->DBGrid1->mapToGlobal(QPoint(10, 10)));
  EXPECT_TRUE(form->ShowSql2->isEnabled());
  EXPECT_TRUE(form->Killsession2->isEnabled());
  form->PopupMenu1->hide();

  form->SessionQuery->Close();
  form->PopupMenu1->popup(form->DBGrid1->mapToGlobal(QPoint(10, 10)));
  EXPECT_FALSE(form->ShowSql2->isEnabled());
  EXPECT_FALSE(form->Killsession2->isEnabled());
  form->PopupMenu1->hide();
  // The menu bar's items stay enabled.
  EXPECT_TRUE(form->ShowSql1->isEnabled());
  EXPECT_TRUE(form->KillSession1->isEnabled());
}

TEST_F(MainWindow, AFatalErrorWhileAnOracleErrorIsShownEndsTheProgramWithoutTouchingReleasedWindows) {
  CreateLoggedOn();
  QStringList seen;
  modal::AnswerNext([&](QWidget* oracleWindow) {
    seen << QString::fromLatin1(oracleWindow->metaObject()->className());
    // Another Oracle error while the window is open is not shown a second time.
    Guarded(nullptr, [] { throw EOError(QStringLiteral("ORA-00054: resource busy")); });
    // A fatal error from queued work: its window releases the database objects,
    // the open Oracle error window among them.
    QTimer::singleShot(0, [] { Guarded(nullptr, [] { throw Exception(QStringLiteral("grid failed")); }); });
    modal::AnswerNext([&](QWidget* fatal) {
      seen << QString::fromLatin1(fatal->metaObject()->className());
      fatal->close();
    });
  });
  Guarded(nullptr, [] { throw EOError(QStringLiteral("ORA-00942: table or view does not exist")); });
  EXPECT_EQ(seen, (QStringList{QStringLiteral("TOraErrorFrm"), QStringLiteral("TErrorFrm")}));
  EXPECT_EQ(OracleErrorWindow(), nullptr);
  EXPECT_EQ(form->MainSession, nullptr);
  EXPECT_TRUE(Application().Terminated());
  EXPECT_TRUE(errors.isEmpty()) << errors.join(QStringLiteral("; ")).toStdString();
}

TEST_F(MainWindow, ReleasingTheDatabaseObjectsRunsOnce) {
  CreateLoggedOn();
  QPointer<TOSession> session = form->MainSession;
  ASSERT_NE(OracleErrorWindow(), nullptr);

  form->ReleaseDatabaseObjects();
  EXPECT_TRUE(session.isNull());
  EXPECT_EQ(form->MainSession, nullptr);
  EXPECT_EQ(OracleErrorWindow(), nullptr);
  // The handler displaced by the Oracle error window is back.
  Guarded(nullptr, [] { throw EOError(QStringLiteral("ORA-00942: table or view does not exist")); });
  EXPECT_EQ(errors.size(), 1);

  form->ReleaseDatabaseObjects();
  EXPECT_EQ(errors.size(), 1);
}

TEST_F(MainWindow, ExitClosesTheWindowAndEndsTheApplication) {
  CreateLoggedOn();
  QTest::mouseClick(form->TBtnExit, Qt::LeftButton);
  EXPECT_FALSE(form->isVisible());
  EXPECT_TRUE(Application().Terminated());
}
