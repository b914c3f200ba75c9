// Tests of the session: connecting, credentials, passwords, queries attached to
// it and logging off.
#include <gtest/gtest.h>

#include <memory>

#include "oralib/o_class.h"
#include "oralib/o_error.h"
#include "tests/support/stand_in.h"
#include "ui/screen.h"

namespace {

// One instance for the whole binary, in a folder of its own.
stand_in::PrivateInstance instance;

std::unique_ptr<TOSession> SystemSession(const QString& password = QStringLiteral("MANAGER")) {
  auto session = std::make_unique<TOSession>();
  session->UserInfo().ShowLogin = false;
  session->UserInfo().Password = password;
  return session;
}

QString ConnectError(TOSession& session) {
  try {
    session.Connect();
  } catch (const EOError& e) {
    EXPECT_EQ(e.ErrorPos, 0);
    EXPECT_TRUE(e.ProblemSQL.isEmpty());
    return e.Message();
  }
  return {};
}

// A query as the session sees it: detaches itself when unprepared.
class FakeQuery : public TOSessionQuery {
 public:
  explicit FakeQuery(TOSession& session) : session_(session) {}
  void Unprepare() override {
    ++unprepared;
    session_.DetachQuery(this);
  }
  int unprepared = 0;

 private:
  TOSession& session_;
};

}  // namespace

TEST(SessionConnect, LogsOnWithStoredCredentialsAndForgetsThePassword) {
  auto session = SystemSession();
  session->Connect();
  EXPECT_TRUE(session->Connected());
  EXPECT_NE(session->hEnvironment(), nullptr);
  EXPECT_NE(session->hError(), nullptr);
  EXPECT_NE(session->hServer(), nullptr);
  EXPECT_NE(session->hService(), nullptr);
  EXPECT_NE(session->hSession(), nullptr);
  EXPECT_TRUE(session->UserInfo().Password.isEmpty());

  session->Disconnect();
  EXPECT_FALSE(session->Connected());
  EXPECT_EQ(session->hEnvironment(), nullptr);
  EXPECT_EQ(session->hSession(), nullptr);
}

TEST(SessionConnect, KeepsThePasswordWhenAskedTo) {
  auto session = SystemSession();
  session->UserInfo().ForgetPassword = false;
  session->Connect();
  EXPECT_EQ(session->UserInfo().Password, QStringLiteral("MANAGER"));
}

TEST(SessionConnect, ConnectingAConnectedSessionMakesNoCall) {
  auto session = SystemSession();
  session->Connect();
  stand_in::ResetCounts();
  session->Connect();
  session->SetConnected(true);
  session->LogOn();
  for (const char* fn : {"OCIInitialize", "OCIEnvInit", "OCIHandleAlloc", "OCIServerAttach",
                         "OCIAttrSet", "OCISessionBegin"})
    EXPECT_EQ(stand_in::CallCount(fn), 0) << fn;
}

TEST(SessionConnect, APasswordNotToBeKeptIsForgottenOnEveryWayOutOfALogOn) {
  const auto heldByClient = [](OCISession* handle) {
    return stand_in::Control<long (*)(const void*)>("ocisim_session_password_size")(handle);
  };
  // The session began: neither the user information nor the client keeps it.
  auto session = SystemSession();
  session->Connect();
  ASSERT_TRUE(session->Connected());
  EXPECT_TRUE(session->UserInfo().Password.isEmpty());
  EXPECT_EQ(heldByClient(session->hSession()), 0);

  // Refused, and failed before the password was even handed over.
  auto refused = SystemSession(QStringLiteral("wrong"));
  EXPECT_TRUE(ConnectError(*refused).startsWith(QStringLiteral("ORA-01017")));
  EXPECT_TRUE(refused->UserInfo().Password.isEmpty());
  auto failed = SystemSession();
  stand_in::FailNext("OCIServerAttach", 12541);
  EXPECT_TRUE(ConnectError(*failed).startsWith(QStringLiteral("ORA-12541")));
  EXPECT_TRUE(failed->UserInfo().Password.isEmpty());

  // Kept on request, whatever the outcome.
  for (const QString& password : {QStringLiteral("wrong"), QStringLiteral("MANAGER")}) {
    auto keeping = SystemSession(password);
    keeping->UserInfo().ForgetPassword = false;
    ConnectError(*keeping);
    EXPECT_EQ(keeping->UserInfo().Password, password);
  }
}

TEST(SessionConnect, WrongPasswordLeavesTheSessionReusable) {
  auto session = SystemSession(QStringLiteral("wrong"));
  EXPECT_TRUE(ConnectError(*session).startsWith(
      QStringLiteral("ORA-01017: invalid username/password; logon denied")));
  EXPECT_FALSE(session->Connected());
  EXPECT_EQ(session->hSession(), nullptr);
  // The environment and the attachment are kept and reused.
  EXPECT_NE(session->hEnvironment(), nullptr);

  stand_in::ResetCounts();
  session->UserInfo().Password = QStringLiteral("manager");
  session->Connect();
  EXPECT_TRUE(session->Connected());
  EXPECT_EQ(stand_in::CallCount("OCIServerAttach"), 0);
  EXPECT_EQ(stand_in::CallCount("OCIEnvInit"), 0);
}

TEST(SessionConnect, ARetryForAnotherServiceAttachesToThatService) {
  auto session = SystemSession(QStringLiteral("wrong"));
  session->UserInfo().Service = QStringLiteral("DEMO");
  EXPECT_TRUE(ConnectError(*session).startsWith(QStringLiteral("ORA-01017")));
  stand_in::ResetCounts();
  session->UserInfo().Service = QString();  // the default instance: another service name
  session->UserInfo().Password = QStringLiteral("manager");
  session->Connect();
  EXPECT_EQ(stand_in::CallCount("OCIServerAttach"), 1);
}

TEST(SessionConnect, AFailedEnvironmentSetUpIsMadeAnewOnTheNextAttempt) {
  auto session = SystemSession();
  stand_in::FailNext("OCIHandleAlloc", 1019);
  EXPECT_TRUE(ConnectError(*session).startsWith(QStringLiteral("ORA-01019")));
  EXPECT_EQ(session->hEnvironment(), nullptr);
  session->UserInfo().Password = QStringLiteral("MANAGER");  // forgotten with the failed attempt
  session->Connect();
  EXPECT_TRUE(session->Connected());
}

TEST(SessionConnect, UnknownServiceIsReportedByTheClient) {
  auto session = SystemSession();
  session->UserInfo().Service = QStringLiteral("NOSUCHDB");
  EXPECT_TRUE(ConnectError(*session).startsWith(QStringLiteral("ORA-12154")));
  EXPECT_FALSE(session->Connected());
}

TEST(SessionConnect, FailedLogOffKeepsTheSessionConnected) {
  auto session = SystemSession();
  session->Connect();
  stand_in::FailNext("OCISessionEnd", 3113);
  EXPECT_THROW(session->Disconnect(), EOError);
  EXPECT_TRUE(session->Connected());
  EXPECT_NE(session->hSession(), nullptr);
  session->Disconnect();
  EXPECT_FALSE(session->Connected());
}

TEST(SessionConnect, FailedInitialisationIsAnOracleError) {
  auto session = SystemSession();
  stand_in::FailNext("OCIInitialize", 1);
  try {
    session->Connect();
    ADD_FAILURE() << "connected";
  } catch (const EOError& e) {
    EXPECT_EQ(e.Message(), QStringLiteral("Can not Initialize Oracle Call Interface"));
  }
  EXPECT_EQ(session->hEnvironment(), nullptr);
  session->UserInfo().Password = QStringLiteral("MANAGER");  // forgotten with the failed attempt
  session->Connect();
  EXPECT_TRUE(session->Connected());
}

TEST(SessionStatus, AcceptsEveryStatusButErrors) {
  TOSession session;
  for (sword status : {OCI_SUCCESS, OCI_SUCCESS_WITH_INFO, OCI_NEED_DATA, OCI_NO_DATA,
                       OCI_STILL_EXECUTING, OCI_CONTINUE, 12345}) {
    session.CheckStatus(nullptr, status);
    EXPECT_EQ(session.LastStatus(), status);
  }
}

TEST(SessionStatus, ErrorsBecomeOracleErrorsAndLeaveLastStatus) {
  auto session = SystemSession();
  session->Connect();
  session->CheckStatus(nullptr, OCI_NO_DATA);
  stand_in::FailNext("OCIAttrSet", 1031);
  const sword failed = oci.OCIAttrSet(session->hService(), OCI_HTYPE_SVCCTX, session->hServer(), 0,
                                      OCI_ATTR_SERVER, session->hError());
  try {
    session->CheckStatus(session->hError(), failed);
    ADD_FAILURE() << "accepted a failure";
  } catch (const EOError& e) {
    EXPECT_TRUE(e.Message().startsWith(QStringLiteral("ORA-01031"))) << e.what();
  }
  EXPECT_EQ(session->LastStatus(), OCI_NO_DATA);

  // A handle the client does not know is a failure too.
  ub4 type = 0;
  const sword invalid = oci.OCIAttrGet(nullptr, OCI_HTYPE_STMT, &type, nullptr, OCI_ATTR_STMT_TYPE, session->hError());
  ASSERT_EQ(invalid, OCI_INVALID_HANDLE);
  EXPECT_THROW(session->CheckStatus(session->hError(), invalid), EOError);
  EXPECT_THROW(TOSession().CheckStatus(nullptr, OCI_INVALID_HANDLE), EOError);
  EXPECT_EQ(session->LastStatus(), OCI_NO_DATA);
}

TEST(SessionRegistry, NamesAreUniqueWithoutLetterCase) {
  TOSession first, second;
  first.SetSessionName(QStringLiteral("abc"));
  EXPECT_EQ(TOSession::FindSession(QStringLiteral("ABC")), &first);
  try {
    second.SetSessionName(QStringLiteral("Abc"));
    ADD_FAILURE() << "duplicate accepted";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), QStringLiteral("Duplicate Session Name \"Abc\""));
  }
  EXPECT_TRUE(second.SessionName().isEmpty());

  // The registry still holds abc when ABC is looked up.
  try {
    first.SetSessionName(QStringLiteral("ABC"));
    ADD_FAILURE() << "rename accepted";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), QStringLiteral("Duplicate Session Name \"ABC\""));
  }
  EXPECT_EQ(first.SessionName(), QStringLiteral("abc"));

  first.SetSessionName(QStringLiteral("xyz"));
  EXPECT_EQ(TOSession::FindSession(QStringLiteral("abc")), nullptr);
  second.SetSessionName(QStringLiteral("abc"));
  EXPECT_EQ(TOSession::FindSession(QStringLiteral("abc")), &second);
  first.SetSessionName(QString());
  EXPECT_EQ(TOSession::FindSession(QStringLiteral("xyz")), nullptr);
}

TEST(SessionRegistry, DestroyedSessionLeavesTheRegistry) {
  {
    TOSession temporary;
    temporary.SetSessionName(QStringLiteral("temporary"));
  }
  EXPECT_EQ(TOSession::FindSession(QStringLiteral("temporary")), nullptr);
  TOSession again;
  again.SetSessionName(QStringLiteral("temporary"));
}

TEST(SessionWait, OnlyTheOuterBracketChangesTheCursor) {
  TOSession session;
  Screen::SetCursor(crArrow);
  session.BeginWait();
  EXPECT_EQ(Screen::Cursor(), crSQLWait);
  session.BeginWait();
  session.EndWait();
  EXPECT_EQ(Screen::Cursor(), crSQLWait);
  session.EndWait();
  EXPECT_EQ(Screen::Cursor(), crArrow);

  session.Cursor = crDefault;
  session.BeginWait();
  EXPECT_EQ(Screen::Cursor(), crArrow);
  session.EndWait();
  Screen::SetCursor(crDefault);
}

TEST(SessionWait, TheWaitCursorEndsWithItsScopeAndWithAFailedLogOnOrLogOff) {
  Screen::SetCursor(crArrow);
  auto session = SystemSession(QStringLiteral("wrong"));
  {
    const TOWaitCursor outer(*session);
    EXPECT_EQ(Screen::Cursor(), crSQLWait);
    // A log-on inside it fails and ends only its own bracket.
    EXPECT_FALSE(ConnectError(*session).isEmpty());
    EXPECT_EQ(Screen::Cursor(), crSQLWait);
  }
  EXPECT_EQ(Screen::Cursor(), crArrow);
  EXPECT_FALSE(ConnectError(*session).isEmpty());
  EXPECT_EQ(Screen::Cursor(), crArrow);

  session->UserInfo().Password = QStringLiteral("MANAGER");
  session->Connect();
  stand_in::FailNext("OCISessionEnd", 3113);
  EXPECT_THROW(session->Disconnect(), EOError);
  EXPECT_EQ(Screen::Cursor(), crArrow);
  Screen::SetCursor(crDefault);
}

TEST(SessionQueries, DisconnectUnpreparesAttachedQueriesLastFirst) {
  auto session = SystemSession();
  session->Connect();
  FakeQuery a(*session), b(*session);
  session->AttachQuery(&a);
  session->AttachQuery(&b);
  session->AttachQuery(&a);  // listed once, moved to the end
  ASSERT_EQ(session->AttachedQueries(), (QList<TOSessionQuery*>{&b, &a}));
  session->Disconnect();
  EXPECT_EQ(a.unprepared, 1);
  EXPECT_EQ(b.unprepared, 1);
  EXPECT_TRUE(session->AttachedQueries().isEmpty());
}

TEST(SessionQueries, AutoDisconnectFollowsTheLastDetach) {
  auto session = SystemSession();
  session->UserInfo().ForgetPassword = false;
  session->AutoDisconnect = true;
  session->Connect();
  FakeQuery a(*session), b(*session);
  session->AttachQuery(&a);
  session->AttachQuery(&b);
  EXPECT_TRUE(session->Connected());
  session->DetachQuery(&a);
  EXPECT_TRUE(session->Connected());
  session->DetachQuery(&b);
  EXPECT_FALSE(session->Connected());
}
