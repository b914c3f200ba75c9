// Passwords never rest in clear: not in the instance's files, not in the text
// of the error a refused logon shows, not in the session once it is connected.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <memory>

#include "app/Unit1.h"
#include "oralib/o_class.h"
#include "oralib/o_error.h"
#include "oralib/o_error_window.h"
#include "tests/support/app_fixture.h"
#include "tests/support/modal.h"
#include "tests/support/stand_in.h"
#include "ui/application.h"

namespace {

stand_in::PrivateInstance instance;

// Every byte of the instance's files (the data file, its write-ahead log and
// whatever else the folder holds).
QByteArray InstanceBytes() {
  QByteArray bytes;
  const QDir dir(instance.Path());
  for (const QString& name : dir.entryList(QDir::Files)) {
    QFile file(dir.filePath(name));
    if (file.open(QIODevice::ReadOnly)) bytes += file.readAll();
  }
  return bytes;
}

TEST(Passwords, NeverRestInClearInTheInstanceTheErrorTextOrTheConnectedSession) {
  app_test::ExceptionRecorder recorder;
  const QStringList& unhandled = recorder.messages;

  QString refusal;
  modal::AnswerNext([&](QWidget* window) {
    if (auto* oracle = qobject_cast<TOraErrorFrm*>(window); oracle && oracle->ShownException())
      refusal = oracle->ShownException()->Message();
    window->close();
  });
  {
    TForm1 refused(nullptr, [](TOSession* session) {
      session->UserInfo().Password = QStringLiteral("Wr0ngSecret");
      session->UserInfo().ShowLogin = false;
    });
    EXPECT_FALSE(refused.Created());
  }
  ReleaseOracleErrorWindow();
  EXPECT_TRUE(refusal.startsWith(QStringLiteral("ORA-01017"))) << refusal.toStdString();
  EXPECT_FALSE(refusal.contains(QStringLiteral("Wr0ngSecret"), Qt::CaseInsensitive));

  {
    TOSession* connected = nullptr;
    TForm1 form(nullptr, [&](TOSession* session) {
      session->UserInfo().Password = QStringLiteral("MANAGER");
      session->UserInfo().ShowLogin = false;
      connected = session;
    });
    ASSERT_TRUE(form.Created());
    EXPECT_TRUE(connected->UserInfo().Password.isEmpty());

    const QByteArray files = InstanceBytes().toLower();
    ASSERT_FALSE(files.isEmpty());
    for (const char* secret : {"manager", "tiger", "wr0ngsecret"})
      EXPECT_FALSE(files.contains(secret)) << secret;
    // The user names are there: the scan reads what the instance holds.
    EXPECT_TRUE(files.contains("system"));
  }
  ReleaseOracleErrorWindow();
  EXPECT_TRUE(unhandled.isEmpty()) << unhandled.join(QStringLiteral("; ")).toStdString();
}

}  // namespace
