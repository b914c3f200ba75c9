// The session list as the user drives it: loading, sorting, the display
// options, killing a session and showing its SQL, against a live instance.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <deque>
#include <memory>

#include "app/Unit1.h"
#include "app/u_about.h"
#include "app/u_errorfrm.h"
#include "app/u_options.h"
#include "app/u_sqlstatement.h"
#include "oralib/o_class.h"
#include "oralib/o_class_query.h"
#include "oralib/o_error.h"
#include "oralib/o_error_window.h"
#include "tests/support/app_fixture.h"
#include "tests/support/stand_in.h"
#include "ui/application.h"
#include "ui/dbgrid.h"
#include "ui/statusbar.h"

namespace {

// Each test runs in a process of its own, with an instance of its own.
stand_in::PrivateInstance instance;

const QString kBase = QStringLiteral(
    "select Username,sid,serial#,status, OSUSER, MACHINE,TERMINAL, PROGRAM , SCHEMANAME, LOGON_TIME, "
    "SQL_ADDRESS, SQL_HASH_VALUE,audsid,type,server,userenv('sessionid') ssid from v$session");

// Simulated user sessions of the default instance, each running a sample statement.
void AddSimulatedSessions(long count) {
  ASSERT_GT(stand_in::Control<long (*)(const char*, long)>("ocisim_add_sessions")("", count), 0);
}

using stand_in::LoggedOn;

// Rows of a query as text, for the observer's look at the instance.
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

using app_test::ModalUser;

QPushButton* MessageButton(QWidget* window, const QString& text) {
  auto* box = qobject_cast<QMessageBox*>(window);
  if (box == nullptr) return nullptr;
  for (QAbstractButton* button : box->buttons())
    if (button->text() == text) return qobject_cast<QPushButton*>(button);
  return nullptr;
}

class SessionList : public app_test::AppFixture<> {
 protected:
  void TearDown() override {
    frmAbout.reset();
    form3.reset();
    form2.reset();
    form.reset();
    AppFixture::TearDown();
  }

  void Create(const QString& user = QStringLiteral("SYSTEM"), const QString& password = QStringLiteral("MANAGER")) {
    form = std::make_unique<TForm1>(nullptr, app_test::LogOnAs(user, password));
    form2 = std::make_unique<TForm2>();
    form3 = std::make_unique<TForm3>();
    frmAbout = std::make_unique<TFrmAbout>();
    ASSERT_TRUE(errors.isEmpty()) << errors.join(QStringLiteral("; ")).toStdString();
    ASSERT_TRUE(form->Created());
    ASSERT_TRUE(form->SessionQuery->Active());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  }

  TOSession& Observer() {
    if (!observer_) observer_ = LoggedOn(QStringLiteral("SYSTEM"), QStringLiteral("MANAGER"));
    return *observer_;
  }

  // The statements of the shared SQL area that begin with `start`.
  QStringList SharedStatements(const QString& start) {
    QStringList texts;
    for (const QStringList& row : Rows(Observer(), QStringLiteral("select sql_text from v$sql")))
      if (row[0].startsWith(start)) texts.append(row[0]);
    return texts;
  }

  QString Sent() const { return form->SessionQuery->ExpandedSQL(); }
  // The two display options in force, as one text.
  std::string Options() const { return OptionsText(form->ShowAllSessions, form->ShowKilledSessions); }
  // The same as the options dialog's two boxes show them.
  std::string BoxesShown() const {
    return OptionsText(form2->CheckBox1->isChecked(), form2->CheckBox2->isChecked());
  }
  static std::string OptionsText(bool all, bool killed) {
    return std::string(all ? "all sessions" : "user sessions") + ", " + (killed ? "killed sessions" : "live sessions");
  }
  QString Count() const { return form->StatusBar2->PanelText(1); }
  QString Field(const char* name) const {
    return form->SessionQuery->FieldByName(QString::fromLatin1(name))->AsString();
  }

  // Makes the grid row whose cell in `column` reads `text` current with a click.
  void ClickRow(int column, const QString& text) {
    TDBGrid* grid = form->DBGrid1;
    TDBGridModel* model = grid->GridModel();
    int found = -1;
    const auto shown = [&] {
      for (int row = 0; row < model->rowCount(); ++row)
        if (model->data(model->index(row, column)).toString() == text) found = row;
      if (found < 0 && model->canFetchMore(QModelIndex())) model->fetchMore(QModelIndex());
      return found >= 0;
    };
    ASSERT_TRUE(QTest::qWaitFor(shown, 5000)) << "no row shows " << text.toStdString();
    const QModelIndex index = model->index(found, 0);
    grid->scrollTo(index);
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(index).center());
    ASSERT_EQ(model->CurrentRow(), found);
  }

  bool Listed(const QString& sid) {
    return form->SessionQuery->Locate(QStringLiteral("sid"), sid, {});
  }

  // Clicks a tool button and waits until the windows it opened were answered.
  void Press(QToolButton* button, ModalUser& user) {
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor([&] { return user.Done(); }, 10000)) << user.seen.join(',').toStdString();
  }

  std::unique_ptr<TForm1> form;
  std::unique_ptr<TForm2> form2;
  std::unique_ptr<TForm3> form3;
  std::unique_ptr<TFrmAbout> frmAbout;

 private:
  std::unique_ptr<TOSession> observer_;
};

// A session of this process (SCOTT's unless another user is named), with its
// sid and serial# as the list shows them.
struct Victim {
  explicit Victim(TOSession& observer, const QString& user = QStringLiteral("SCOTT"),
                  const QString& password = QStringLiteral("TIGER"))
      : session(LoggedOn(user, password)) {
    const QList<QStringList> rows =
        Rows(observer, QStringLiteral("select sid, serial# from v$session where username = '%1'").arg(user));
    EXPECT_EQ(rows.size(), 1);
    if (!rows.isEmpty()) sid = rows[0][0], serial = rows[0][1];
  }
  // Runs a statement; the message of its failure, if any.
  QString Run(const QString& sql) {
    try {
      query.SetSession(session.get());
      query.SQL().Clear();
      query.SQL().Add(sql);
      query.Open();
      query.Close();
    } catch (const Exception& e) {
      return e.Message();
    }
    return {};
  }
  std::unique_ptr<TOSession> session;
  TOQuery query;
  QString sid, serial;
};

}  // namespace

TEST_F(SessionList, TheStatementFollowsTheDisplayOptionsCharacterForCharacter) {
  Create();
  const QString filterBoth = QStringLiteral(" where type<>'BACKGROUND' and status<>'KILLED'");
  // The first load, before any option was changed.
  EXPECT_EQ(Sent(), kBase + filterBoth + QStringLiteral(" order by sid\n"));

  struct Case {
    bool all, killed;
    QString filter;
  };
  const Case cases[] = {{false, false, filterBoth},
                        {false, true, QStringLiteral(" where type<>'BACKGROUND'")},
                        {true, false, QStringLiteral(" where status<>'KILLED'")},
                        {true, true, QString()}};
  for (const Case& c : cases) {
    form->ShowAllSessions = c.all;
    form->ShowKilledSessions = c.killed;
    const QString expected = kBase + c.filter + QStringLiteral(" order by Machine");
    EXPECT_EQ(form->SessionListStatement(QStringLiteral("order by Machine")), expected);
    form->LoadSessionList(QString());
    EXPECT_EQ(Sent(), kBase + c.filter + QStringLiteral(" order by sid\n"));
    // The list's single line reaches the server as the query's text form: one line with its line end.
    EXPECT_TRUE(SharedStatements(QStringLiteral("select Username")).contains(Sent()))
        << Sent().toStdString();
  }
  // The background processes are listed only with the option on.
  EXPECT_TRUE(form->SessionQuery->Locate(QStringLiteral("type"), QStringLiteral("BACKGROUND"), {}));
  form->ShowAllSessions = false;
  form->LoadSessionList(QString());
  EXPECT_FALSE(form->SessionQuery->Locate(QStringLiteral("type"), QStringLiteral("BACKGROUND"), {}));
  EXPECT_TRUE(errors.isEmpty()) << errors.join(QStringLiteral("; ")).toStdString();
}

TEST_F(SessionList, TitleClicksSortAndFlipTheDirectionOnlyOnARepeatedColumn) {
  Create();
  // What the query prepared and the server received, character for character.
  const auto click = [&](int column) {
    form->DBGrid1TitleClick(column);
    EXPECT_EQ(Sent(), kBase + QStringLiteral(" where type<>'BACKGROUND' and status<>'KILLED' ") + form->CurrentOrder +
                          QLatin1Char('\n'));
    EXPECT_TRUE(SharedStatements(QStringLiteral("select Username")).contains(Sent())) << Sent().toStdString();
    return form->CurrentOrder;
  };
  constexpr int Osuser = 4, Machine = 5, Sid = 7;
  EXPECT_EQ(click(Machine), QStringLiteral("order by Machine"));
  EXPECT_EQ(click(Machine), QStringLiteral("order by Machine desc"));
  EXPECT_EQ(click(Machine), QStringLiteral("order by Machine"));

  EXPECT_EQ(click(Machine), QStringLiteral("order by Machine desc"));
  EXPECT_EQ(click(Osuser), QStringLiteral("order by Osuser"));  // another column keeps the direction flag
  EXPECT_EQ(click(Osuser), QStringLiteral("order by Osuser"));  // ... and a repeated click flips it back
  EXPECT_EQ(click(Osuser), QStringLiteral("order by Osuser desc"));
  EXPECT_EQ(form->SortColumn, QStringLiteral("Osuser"));

  // A real click on the Sid title: the first click there sorts ascending once the flag is back.
  form->SortDescending = false;
  QHeaderView* header = form->DBGrid1->horizontalHeader();
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                    QPoint(header->sectionViewportPosition(Sid) + header->sectionSize(Sid) / 2, header->height() / 2));
  EXPECT_EQ(form->CurrentOrder, QStringLiteral("order by sid"));
  EXPECT_TRUE(Sent().endsWith(QStringLiteral("order by sid\n")));
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                    QPoint(header->sectionViewportPosition(Sid) + header->sectionSize(Sid) / 2, header->height() / 2));
  EXPECT_EQ(form->CurrentOrder, QStringLiteral("order by sid desc"));
  EXPECT_TRUE(errors.isEmpty()) << errors.join(QStringLiteral("; ")).toStdString();
}

TEST_F(SessionList, RefreshSortsBySidOnceAndAnOptionChangeUsesTheRememberedOrder) {
  Create();
  form->DBGrid1TitleClick(1);  // Program
  ASSERT_EQ(form->CurrentOrder, QStringLiteral("order by Program"));
  ModalUser user;
  Press(form->TBtnRefresh, user);
  EXPECT_TRUE(Sent().endsWith(QStringLiteral(" order by sid\n")));
  EXPECT_EQ(form->CurrentOrder, QStringLiteral("order by Program"));
  EXPECT_EQ(form->SortColumn, QStringLiteral("Program"));

  user.Then([&](QWidget* window) {
    if (window != form2.get()) return false;
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Options"));
    QTest::mouseClick(form2->CheckBox2, Qt::LeftButton);
    user.Click(form2->BitBtn1);
    return true;
  });
  Press(form->TBtnOptions, user);
  EXPECT_TRUE(form->ShowKilledSessions);
  EXPECT_FALSE(form->ShowAllSessions);
  EXPECT_EQ(Sent(), kBase + QStringLiteral(" where type<>'BACKGROUND' order by Program\n"));
  EXPECT_TRUE(errors.isEmpty()) << errors.join(QStringLiteral("; ")).toStdString();
}

// Cancel, by its button or by the frame, puts both boxes back as the options
// stand, ticked or not, and loads nothing; the dialog shows them so when it
// opens again.
TEST_F(SessionList, CancellingTheOptionsPutsBothBoxesBackAndLoadsNothing) {
  Create();
  ModalUser user;
  // Opens the dialog, clicks both boxes and leaves by `leave`; whether the boxes showed the options.
  const auto clickBothAndLeave = [&](const std::function<void(QWidget*)>& leave) {
    std::string shown = "the dialog did not open";
    std::string options;
    user.Then([&, leave](QWidget* window) {
      if (window != form2.get()) return false;
      shown = BoxesShown();
      options = Options();
      QTest::mouseClick(form2->CheckBox1, Qt::LeftButton);
      QTest::mouseClick(form2->CheckBox2, Qt::LeftButton);
      leave(window);
      return true;
    });
    Press(form->TBtnOptions, user);
    EXPECT_EQ(shown, options) << "the boxes as the dialog opened";
  };
  const std::function<void(QWidget*)> leaves[] = {[&](QWidget*) { user.Click(form2->BitBtn2); },
                                                  [&](QWidget* window) { user.Close(window); }};
  for (const bool on : {false, true}) {
    SCOPED_TRACE(on ? "options on" : "options off");
    if (on) {
      clickBothAndLeave([&](QWidget*) { user.Click(form2->BitBtn1); });
      ASSERT_EQ(Options(), "all sessions, killed sessions");
      EXPECT_EQ(Sent(), kBase + QStringLiteral(" order by sid\n"));
    }
    for (const auto& leave : leaves) {
      const QString sent = Sent();
      stand_in::ResetCounts();
      clickBothAndLeave(leave);
      const std::string standing = on ? "all sessions, killed sessions" : "user sessions, live sessions";
      EXPECT_EQ(Options(), standing);
      EXPECT_EQ(BoxesShown(), standing);
      EXPECT_EQ(stand_in::CallCount("OCIStmtExecute"), 0);
      EXPECT_EQ(Sent(), sent);
    }
  }
  EXPECT_EQ(user.seen.size(), 5);
}

TEST_F(SessionList, TheCountCoversEveryRowNotJustThoseTheGridShowsAndTheWidthsComeBack) {
  AddSimulatedSessions(60);
  Create();
  const QList<QStringList> expected = Rows(
      Observer(), QStringLiteral("select count(*) from v$session where type<>'BACKGROUND' and status<>'KILLED'"));
  const int total = expected[0][0].toInt();
  ASSERT_GT(total, form->DBGrid1->VisibleRowCount() + 5);
  // The observer's own session came after the load.
  EXPECT_EQ(Count(), QStringLiteral("Total sessions: %1").arg(total - 1));
  EXPECT_EQ(form->SessionQuery->RecNo(), 1);
  EXPECT_TRUE(QTest::qWaitFor([&] { return form->DBGrid1->GridModel()->CurrentRow() == 0; }, 5000));

  QHeaderView* header = form->DBGrid1->horizontalHeader();
  ASSERT_EQ(header->count(), 13);
  for (int i = 0; i < 13; ++i) header->resizeSection(i, 33);
  ModalUser user;
  stand_in::ResetCounts();
  Press(form->TBtnRefresh, user);
  const int widths[] = {65, 80, 60, 90, 100, 105, 60, 20, 20, 65, 70, 70, 65};
  for (int i = 0; i < 13; ++i) EXPECT_EQ(header->sectionSize(i), widths[i]) << i;
  EXPECT_EQ(Count(), QStringLiteral("Total sessions: %1").arg(total));
  // One fetch per row and one that finds the end, whatever the grid shows.
  EXPECT_EQ(stand_in::CallCount("OCIStmtFetch"), total + 1);
  EXPECT_EQ(form->SessionQuery->RecNo(), 1);
  EXPECT_EQ(form->DBGrid1->Column(7).Title, QStringLiteral("Sid"));
  EXPECT_EQ(form->DBGrid1->GridModel()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("USERNAME"));
}

TEST_F(SessionList, AFailedLoadIsShownAndLeavesTheListClosedWithItsLastCount) {
  Create();
  const QString count = Count();
  form->DBGrid1->horizontalHeader()->resizeSection(0, 200);
  ModalUser user;
  QString shown;
  user.Then([&](QWidget* window) {
    auto* oracleWindow = qobject_cast<TOraErrorFrm*>(window);
    if (oracleWindow == nullptr) return false;
    if (oracleWindow->ShownException() != nullptr) shown = oracleWindow->ShownException()->Message();
    user.Click(oracleWindow->Button1);
    return true;
  });
  stand_in::FailNext("OCIStmtExecute", 3113);
  Press(form->TBtnRefresh, user);
  EXPECT_TRUE(shown.startsWith(QStringLiteral("ORA-03113"))) << shown.toStdString();
  EXPECT_FALSE(form->SessionQuery->Active());
  EXPECT_EQ(form->DBGrid1->GridModel()->rowCount(), 0);
  EXPECT_EQ(Count(), count);
  EXPECT_EQ(form->DBGrid1->horizontalHeader()->sectionSize(0), 200);
  // With the list closed the actions have nothing to act on.
  stand_in::ResetCounts();
  Press(form->TBtnKillSession, user);
  Press(form->TBtnShowsql, user);
  EXPECT_EQ(user.seen.size(), 1);
  EXPECT_EQ(stand_in::CallCount("OCIStmtExecute"), 0);
  EXPECT_TRUE(errors.isEmpty()) << errors.join(QStringLiteral("; ")).toStdString();
}

// A confirmed kill sends exactly the kill statement and loads the list again
// in the order the user chose (not the one Refresh used); the session leaves
// the list, or, with killed sessions shown, stays in it marked KILLED.
TEST_F(SessionList, AConfirmedKillSendsTheStatementAndReloadsTheListInTheUsersOrder) {
  Create();
  const struct {
    bool showKilled;
    int column;
    const char *order, *user, *password;
  } cases[] = {{false, 5, "order by Machine", "SCOTT", "TIGER"}, {true, 4, "order by Osuser", "MONITOR", "MONITOR"}};
  QStringList killed;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.order);
    Victim victim(Observer(), QLatin1String(c.user), QLatin1String(c.password));
    form->ShowKilledSessions = c.showKilled;
    form->DBGrid1TitleClick(c.column);
    ASSERT_EQ(form->CurrentOrder, QLatin1String(c.order));
    ModalUser user;
    Press(form->TBtnRefresh, user);
    ClickRow(7, victim.sid);
    ASSERT_EQ(Field("serial#"), victim.serial);
    const int listed = Count().section(u' ', 2).toInt();

    QString question, caption;
    user.Then([&](QWidget* window) {
      QPushButton* yes = MessageButton(window, QStringLiteral("&Yes"));
      if (yes == nullptr) return false;
      question = qobject_cast<QMessageBox*>(window)->text();
      caption = window->windowTitle();
      user.Click(yes);
      return true;
    });
    Press(form->TBtnKillSession, user);
    EXPECT_EQ(question, QStringLiteral("Do you really want to kill this session!"));
    EXPECT_EQ(caption, QStringLiteral("Confirm"));
    EXPECT_EQ(user.seen.size(), 1);
    EXPECT_TRUE(errors.isEmpty()) << errors.join(QStringLiteral("; ")).toStdString();

    killed << QStringLiteral("alter system kill session'%1,%2'\n").arg(victim.sid, victim.serial);
    EXPECT_EQ(SharedStatements(QStringLiteral("alter system kill")), killed);
    EXPECT_EQ(Sent(), kBase + (c.showKilled ? QStringLiteral(" where type<>'BACKGROUND' ")
                                            : QStringLiteral(" where type<>'BACKGROUND' and status<>'KILLED' ")) +
                          QLatin1String(c.order) + QLatin1Char('\n'));
    EXPECT_EQ(Count(), QStringLiteral("Total sessions: %1").arg(c.showKilled ? listed : listed - 1));
    EXPECT_EQ(form->SessionQuery->RecNo(), 1);
    EXPECT_EQ(Listed(victim.sid), c.showKilled);
    if (c.showKilled) EXPECT_EQ(Field("status"), QStringLiteral("KILLED"));
    EXPECT_TRUE(victim.Run(QStringLiteral("select * from dual")).startsWith(QStringLiteral("ORA-00028")));
  }
}

TEST_F(SessionList, NoOrEscapeInTheConfirmationSendsNothing) {
  Create();
  Victim victim(Observer());
  ModalUser user;
  Press(form->TBtnRefresh, user);
  ClickRow(7, victim.sid);
  const QString count = Count();

  user.Then([&](QWidget* window) {
    QPushButton* no = MessageButton(window, QStringLiteral("&No"));
    if (no != nullptr) user.Click(no);
    return no != nullptr;
  });
  stand_in::ResetCounts();
  Press(form->TBtnKillSession, user);
  EXPECT_EQ(stand_in::CallCount("OCIStmtExecute"), 0);

  user.Then([&](QWidget* window) {
    if (qobject_cast<QMessageBox*>(window) == nullptr) return false;
    user.Key(window, Qt::Key_Escape);
    return true;
  });
  Press(form->TBtnKillSession, user);
  EXPECT_EQ(stand_in::CallCount("OCIStmtExecute"), 0);
  EXPECT_EQ(user.seen.size(), 2);
  EXPECT_TRUE(SharedStatements(QStringLiteral("alter system kill")).isEmpty());
  EXPECT_EQ(Count(), count);
  EXPECT_EQ(victim.Run(QStringLiteral("select * from dual")), QString());
}

TEST_F(SessionList, AUserWithoutAlterSystemIsToldSoAndTheListStays) {
  Create(QStringLiteral("MONITOR"), QStringLiteral("MONITOR"));
  Victim victim(Observer());
  ModalUser user;
  Press(form->TBtnRefresh, user);
  ClickRow(7, victim.sid);
  const QString sent = Sent();
  const QString count = Count();

  QString shown;
  int position = -1;
  QString problemSql = QStringLiteral("unset");
  user.Then([&](QWidget* window) {
    QPushButton* yes = MessageButton(window, QStringLiteral("&Yes"));
    if (yes != nullptr) user.Click(yes);
    return yes != nullptr;
  });
  user.Then([&](QWidget* window) {
    auto* oracleWindow = qobject_cast<TOraErrorFrm*>(window);
    if (oracleWindow == nullptr) return false;
    if (const EOError* e = oracleWindow->ShownException()) {
      shown = e->Message();
      position = e->ErrorPos;
      problemSql = e->ProblemSQL;
    }
    user.Click(oracleWindow->Button1);
    return true;
  });
  stand_in::ResetCounts();
  Press(form->TBtnKillSession, user);
  EXPECT_EQ(shown, QStringLiteral("You have no ALTER SYSTEM privilege"));
  EXPECT_EQ(position, 0);
  EXPECT_TRUE(problemSql.isEmpty());
  EXPECT_EQ(stand_in::CallCount("OCIStmtExecute"), 1);  // the kill; the list was not loaded again
  EXPECT_EQ(Sent(), sent);
  EXPECT_EQ(Count(), count);
  EXPECT_TRUE(errors.isEmpty()) << errors.join(QStringLiteral("; ")).toStdString();
  EXPECT_TRUE(Listed(victim.sid));
  EXPECT_EQ(victim.Run(QStringLiteral("select * from dual")), QString());
}

TEST_F(SessionList, BackgroundAndOwnSessionsAreRefusedWithoutSendingAnything) {
  Create();
  form->ShowAllSessions = true;
  form->LoadSessionList(QString());

  ASSERT_TRUE(form->SessionQuery->Locate(QStringLiteral("type"), QStringLiteral("BACKGROUND"), {}));
  ModalUser user;
  QString text, caption;
  const auto answerOk = [&](QWidget* window) {
    auto* box = qobject_cast<QMessageBox*>(window);
    QAbstractButton* ok = box != nullptr ? box->button(QMessageBox::Ok) : nullptr;
    if (ok == nullptr) return false;
    text = box->text();
    caption = window->windowTitle();
    user.Click(ok);
    return true;
  };
  user.Then(answerOk);
  stand_in::ResetCounts();
  Press(form->TBtnKillSession, user);
  EXPECT_EQ(text, QStringLiteral("Can not kill Sever Session"));
  EXPECT_EQ(caption, QStringLiteral("Quenlow"));

  ASSERT_TRUE(form->SessionQuery->Locate(QStringLiteral("audsid"), Field("ssid"), {}));
  ASSERT_EQ(Field("username"), QStringLiteral("SYSTEM"));
  user.Then(answerOk);
  Press(form->TBtnKillSession, user);
  EXPECT_EQ(text, QStringLiteral("Do not kill yourself!"));
  EXPECT_EQ(user.seen.size(), 2);
  EXPECT_EQ(stand_in::CallCount("OCIStmtExecute"), 0);
  EXPECT_TRUE(SharedStatements(QStringLiteral("alter system kill")).isEmpty());
}

// Show Sql asks for the selected session's pieces by its sid and serial#, in
// piece order, and shows them joined: a statement cut inside a two-byte
// character, a one-piece statement that looks like markup, and none at all.
TEST_F(SessionList, ShowSqlAsksForTheSessionsPiecesInOrderAndShowsThemJoinedAsText) {
  Create();
  Victim victim(Observer());
  auto idle = LoggedOn(QStringLiteral("MONITOR"), QStringLiteral("MONITOR"));
  const QStringList idleSession =
      Rows(Observer(), QStringLiteral("select sid, serial# from v$session where username = 'MONITOR'")).value(0);
  ASSERT_EQ(idleSession.size(), 2);
  const struct {
    const char* what;
    QString statement;  // empty: the session that has run nothing
    int pieces;
  } cases[] = {
      // Pieces are cut every 64 bytes; the second cut falls inside a two-byte character.
      {"three pieces",
       QStringLiteral("select dummy from dual where 'a' <> '") + QString(60, u'b') + QString(20, u'\u00e9') + u'\'', 3},
      {"markup", QStringLiteral("select '<b>x</b> &lt;' from dual"), 1},
      {"nothing run", QString(), 0},
  };
  ModalUser user;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    QString sid = victim.sid, serial = victim.serial, expected;
    if (c.statement.isEmpty()) {
      sid = idleSession[0];
      serial = idleSession[1];
    } else {
      ASSERT_EQ(victim.Run(c.statement), QString());
      expected = victim.query.ExpandedSQL();
      EXPECT_EQ(Rows(Observer(), QStringLiteral("select count(*) from v$sqltext t, v$session s where "
                                                "t.address = s.sql_address and s.sid = %1").arg(sid)),
                QList<QStringList>{{QString::number(c.pieces)}});
    }
    Press(form->TBtnRefresh, user);
    ClickRow(7, sid);
    QString memo = QStringLiteral("unset"), title;
    user.Then([&](QWidget* window) {
      if (window != form3.get()) return false;
      memo = form3->Memo1->toPlainText();
      title = window->windowTitle();
      user.Click(form3->BitBtn1);
      return true;
    });
    Press(form->TBtnShowsql, user);
    EXPECT_EQ(memo, expected);
    EXPECT_EQ(title, QStringLiteral("Sql statement"));
    EXPECT_TRUE(SharedStatements(QStringLiteral("select s.sql_text"))
                    .contains(QStringLiteral("select s.sql_text from v$sqltext s,v$session sn where "
                                             "s.address=sn.sql_address and s.hash_value=sn.sql_hash_value and "
                                             "sn.sid=%1 and sn.serial#=%2 order by piece\n")
                                  .arg(sid, serial)));
  }
  EXPECT_TRUE(errors.isEmpty()) << errors.join(QStringLiteral("; ")).toStdString();
}

TEST_F(SessionList, AboutShowsTheProductAndItsVersion) {
  Create();
  ModalUser user;
  QString title, product, version;
  user.Then([&](QWidget* window) {
    if (window != frmAbout.get()) return false;
    title = window->windowTitle();
    product = frmAbout->Label1->text();
    version = frmAbout->Label2->text();
    user.Click(frmAbout->BitBtn1);
    return true;
  });
  form->About1->trigger();
  EXPECT_TRUE(QTest::qWaitFor([&] { return user.Done(); }, 10000));
  EXPECT_EQ(title, QStringLiteral("About"));
  EXPECT_EQ(product, QStringLiteral("Quenlow"));
  EXPECT_EQ(version, QStringLiteral("Ver 1.0.1.1"));
}

TEST_F(SessionList, TheCaptionShowsTheServerBanner) {
  Create();
  const QString banner = Rows(Observer(), QStringLiteral("select banner from v$version")).value(0).value(0);
  ASSERT_FALSE(banner.isEmpty());
  EXPECT_EQ(form->windowTitle(), QStringLiteral("Quenlow___ ") + banner);
  EXPECT_TRUE(form->HasCatalogRole());
}

TEST_F(SessionList, AUserWithoutTheCatalogRoleIsToldSoAndTheProgramEnds) {
  QString fatal;
  ModalUser user;
  user.Then([&](QWidget* window) {
    auto* frame = qobject_cast<TErrorFrm*>(window);
    if (frame == nullptr) return false;
    fatal = frame->FirstErrLbl->text();
    user.Close(window);
    return true;
  });
  form = std::make_unique<TForm1>(nullptr, [](TOSession* session) {
    session->UserInfo().Username = QStringLiteral("SCOTT");
    session->UserInfo().Password = QStringLiteral("TIGER");
    session->UserInfo().ShowLogin = false;
  });
  EXPECT_EQ(fatal, QStringLiteral("SCOTT have no enough privilege"));
  EXPECT_FALSE(form->Created());
  EXPECT_TRUE(Application().Terminated());
}

namespace {

// Hash values of statements fill all 32 bits, so half of them are above the
// largest 32-bit integer; current servers describe such NUMBER columns with
// scale -127, older ones with scale 0.
class SessionListNumbers : public SessionList {
 protected:
  void ListHashValuesAndKill() {
    Victim victim(Observer());
    QString hash;
    for (int i = 0; i < 64 && hash.isEmpty(); ++i) {
      ASSERT_EQ(victim.Run(QStringLiteral("select %1 from dual").arg(i)), QString());
      const QList<QStringList> rows =
          Rows(Observer(), QStringLiteral("select sql_hash_value from v$session where username = 'SCOTT'"));
      ASSERT_EQ(rows.size(), 1);
      if (rows[0][0].toDouble() > 2147483647.0) hash = rows[0][0];
    }
    ASSERT_FALSE(hash.isEmpty());
    ASSERT_EQ(hash, QString::number(hash.toLongLong()));  // read whole, not cut

    Create();
    ClickRow(11, hash);
    EXPECT_EQ(Field("sid"), victim.sid);
    EXPECT_EQ(Field("Sql_hash_value"), hash);

    ModalUser user;
    user.Then([&](QWidget* window) {
      QPushButton* yes = MessageButton(window, QStringLiteral("&Yes"));
      if (yes == nullptr) return false;
      user.Click(yes);
      return true;
    });
    Press(form->TBtnKillSession, user);
    EXPECT_EQ(user.seen.size(), 1);
    EXPECT_TRUE(errors.isEmpty()) << errors.join(QStringLiteral("; ")).toStdString();
    EXPECT_EQ(SharedStatements(QStringLiteral("alter system kill")),
              QStringList{QStringLiteral("alter system kill session'%1,%2'\n").arg(victim.sid, victim.serial)});
    EXPECT_FALSE(Listed(victim.sid));
  }
};

}  // namespace

TEST_F(SessionListNumbers, LargeHashValuesAreListedAndSessionsKilledWhenNumbersAreDescribedAsOlderServersDo) {
  ListHashValuesAndKill();
}

TEST_F(SessionListNumbers, LargeHashValuesAreListedAndSessionsKilledWhenNumbersAreDescribedAsCurrentServersDo) {
  stand_in::CurrentNumberDescribe current;
  ListHashValuesAndKill();
}
