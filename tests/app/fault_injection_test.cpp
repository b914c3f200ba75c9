// Fault injection: every OCI call on the way of connecting, loading the session
// list, killing a session and showing its SQL fails in turn. Each failure must
// end in exactly one Oracle error window, nothing may crash, the window must
// work again once the fault is gone, and the counted blocks must balance (the
// test main checks the last after every test).
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <map>
#include <memory>

#include "app/Unit1.h"
#include "app/u_errorfrm.h"
#include "app/u_sqlstatement.h"
#include "oralib/o_class.h"
#include "oralib/o_class_query.h"
#include "oralib/o_error.h"
#include "oralib/o_error_window.h"
#include "oralib/o_utils.h"
#include "tests/support/app_fixture.h"
#include "tests/support/stand_in.h"
#include "ui/application.h"
#include "ui/statusbar.h"

namespace {

// Each test runs in a process of its own, with an instance of its own.
stand_in::PrivateInstance instance;

// The failure every call is made to meet: the server went away.
constexpr int kFault = 3113;

// Every entry point the data-access library reaches, as the loader's table
// lists them: a new one is swept without a change here.
#define O_OCI_NAME(name) #name,
const char* const kEntryPoints[] = {O_OCI_ENTRY_POINTS(O_OCI_NAME)};
#undef O_OCI_NAME

// Releasing calls: their failure leaves nothing to report, so the operation
// goes on without a window.
bool ReleasingCall(const std::string& entryPoint) {
  return entryPoint == "OCIHandleFree" || entryPoint == "OCIDescriptorFree";
}

enum class Road { Connect, SessionList, Kill, ShowSql };

const char* RoadName(Road road) {
  switch (road) {
    case Road::Connect: return "Connect";
    case Road::SessionList: return "SessionList";
    case Road::Kill: return "Kill";
    case Road::ShowSql: return "ShowSql";
  }
  return "?";
}

using app_test::LogOnAsSystem;

// Plays the user at every modal window while it exists: confirms questions,
// closes everything else, and notes what the Oracle error windows and the SQL
// statement window showed.
class RoadUser : public app_test::ModalUser {
 public:
  RoadUser() : ModalUser(5) {
    ConfirmQuestions = true;
    OnWindow = [this](QWidget* window) {
      if (auto* oracle = qobject_cast<TOraErrorFrm*>(window); oracle != nullptr && oracle->ShownException())
        oracleMessages.append(oracle->ShownException()->Message());
      if (auto* sql = qobject_cast<TForm3*>(window)) sqlShown.append(sql->Memo1->toPlainText());
    };
  }

  QStringList oracleMessages;  // what each Oracle error window showed
  QStringList sqlShown;        // what each SQL statement window showed
};

class FaultInjection : public app_test::AppFixture<::testing::TestWithParam<std::tuple<Road, const char*>>> {
 protected:
  void SetUp() override {
    ASSERT_GT(stand_in::Control<long (*)(const char*, long)>("ocisim_add_sessions")("", 12), 0);
    sqlWindow = std::make_unique<TForm3>();
  }

  void TearDown() override {
    stand_in::Control<void (*)()>("ocisim_clear_failures")();
    form.reset();
    sqlWindow.reset();
    AppFixture::TearDown();
  }

  Road road() const { return std::get<0>(GetParam()); }
  std::string entryPoint() const { return std::get<1>(GetParam()); }

  void CreateForm() {
    form = std::make_unique<TForm1>(nullptr, LogOnAsSystem);
  }

  // Makes the current row of the session list a simulated session, one that
  // was not picked before.
  bool PickVictim() {
    TOQuery* list = form->SessionQuery;
    if (list == nullptr || !list->Active()) return false;
    for (list->First(); !list->Eof(); list->Next()) {
      const QString sid = list->FieldByName(QStringLiteral("sid"))->AsString();
      if (list->FieldByName(QStringLiteral("audsid"))->AsString() ==
              list->FieldByName(QStringLiteral("ssid"))->AsString() ||
          picked_.contains(sid))
        continue;
      if (list->FieldByName(QStringLiteral("type"))->AsString() != QStringLiteral("USER")) continue;
      // Showing SQL needs a session that runs a statement.
      if (road() == Road::ShowSql && list->FieldByName(QStringLiteral("sql_hash_value"))->AsString() == QStringLiteral("0")) continue;
      picked_.append(sid);
      return true;
    }
    return false;
  }

  // Runs the road once, as the user would.
  void Travel() {
    switch (road()) {
      case Road::Connect:
        form.reset();
        ReleaseOracleErrorWindow();
        CreateForm();
        break;
      case Road::SessionList:
        form->Refresh1->trigger();
        break;
      case Road::Kill:
        ASSERT_TRUE(PickVictim());
        form->KillSession1->trigger();
        break;
      case Road::ShowSql:
        ASSERT_TRUE(PickVictim());
        form->ShowSql1->trigger();
        break;
    }
  }

  // Calls of each entry point while the road is travelled once without a fault.
  std::map<std::string, long> CallsOnTheRoad() {
    stand_in::ResetCounts();
    std::map<std::string, long> calls;
    auto count = [&calls] {
      for (const char* name : kEntryPoints) calls[name] = stand_in::CallCount(name);
    };
    if (road() == Road::Connect) {
      TOSession session;
      LogOnAsSystem(&session);
      session.Connect();
      count();  // before the log-off
    } else {
      RoadUser user;
      Travel();
      count();
    }
    return calls;
  }

  QString CountText() const { return form->StatusBar2->PanelText(1); }

  std::unique_ptr<TForm1> form;
  std::unique_ptr<TForm3> sqlWindow;

 private:
  QStringList picked_;
};

TEST_P(FaultInjection, EachFailingCallEndsInOneErrorWindowAndTheWindowWorksAgainAfterwards) {
  if (road() != Road::Connect) {
    CreateForm();
    ASSERT_TRUE(form->Created());
  }
  const long calls = CallsOnTheRoad()[entryPoint()];
  if (calls == 0) {
    GTEST_SKIP() << entryPoint() << " is not called on the way of " << RoadName(road());
  }
  ASSERT_TRUE(errors.isEmpty()) << errors.join(QStringLiteral("; ")).toStdString();

  // The fault: the first call of the entry point on the road fails.
  const QString listedBefore = road() == Road::Connect ? QString() : CountText();
  {
    RoadUser user;
    stand_in::FailNext(entryPoint().c_str(), kFault);
    Travel();
    stand_in::Control<void (*)()>("ocisim_clear_failures")();
    EXPECT_TRUE(errors.isEmpty()) << errors.join(QStringLiteral("; ")).toStdString();
    EXPECT_EQ(user.Count("TErrorFrm"), 0) << user.seen.join(QStringLiteral(", ")).toStdString();
    if (ReleasingCall(entryPoint())) {
      EXPECT_EQ(user.Count("TOraErrorFrm"), 0) << user.oracleMessages.join(QStringLiteral("; ")).toStdString();
    } else {
      ASSERT_EQ(user.Count("TOraErrorFrm"), 1) << user.seen.join(QStringLiteral(", ")).toStdString();
      ASSERT_EQ(user.oracleMessages.size(), 1);
      const QString message = user.oracleMessages.front();
      if (entryPoint() == "OCIInitialize")
        EXPECT_EQ(message, QStringLiteral("Can not Initialize Oracle Call Interface"));
      else if (road() == Road::Kill && !message.contains(QStringLiteral("ORA-03113")))
        EXPECT_EQ(message, QStringLiteral("You have no ALTER SYSTEM privilege"));
      else
        EXPECT_TRUE(message.startsWith(QStringLiteral("ORA-03113"))) << message.toStdString();
      EXPECT_EQ(user.Count("TForm3"), 0);
      if (road() == Road::Connect) {
        EXPECT_FALSE(form->Created());
        EXPECT_FALSE(form->isVisible());
      }
    }
  }

  // The fault gone, the same road works (after a Refresh, where the failure
  // left the list closed, as the user would press it).
  {
    RoadUser user;
    if (road() != Road::Connect && !form->SessionQuery->Active()) form->Refresh1->trigger();
    Travel();
    EXPECT_TRUE(errors.isEmpty()) << errors.join(QStringLiteral("; ")).toStdString();
    EXPECT_EQ(user.Count("TOraErrorFrm"), 0) << user.oracleMessages.join(QStringLiteral("; ")).toStdString();
    EXPECT_EQ(user.Count("TErrorFrm"), 0);
    ASSERT_TRUE(form->Created());
    EXPECT_TRUE(CountText().startsWith(QStringLiteral("Total sessions: "))) << CountText().toStdString();
    if (road() == Road::SessionList) {
      EXPECT_EQ(CountText(), listedBefore);
    }
    if (road() == Road::ShowSql) {
      ASSERT_EQ(user.sqlShown.size(), 1);
      EXPECT_FALSE(user.sqlShown.front().isEmpty());
    }
  }
  // And a refresh after it.
  RoadUser user;
  form->Refresh1->trigger();
  EXPECT_EQ(user.seen.size(), 0) << user.seen.join(QStringLiteral(", ")).toStdString();
  EXPECT_TRUE(CountText().startsWith(QStringLiteral("Total sessions: ")));
}

std::string CaseName(const ::testing::TestParamInfo<FaultInjection::ParamType>& info) {
  return std::string(RoadName(std::get<0>(info.param))) + "_" + std::get<1>(info.param);
}

INSTANTIATE_TEST_SUITE_P(Roads, FaultInjection,
                         ::testing::Combine(::testing::Values(Road::Connect, Road::SessionList, Road::Kill,
                                                              Road::ShowSql),
                                            ::testing::ValuesIn(kEntryPoints)),
                         CaseName);

}  // namespace
