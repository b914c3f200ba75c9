// The loader tries once per process, so each scenario runs in a process of its
// own: CTest starts this binary once per suite, pointing the library path at
// the client under test (see CMakeLists.txt).
#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>
#include <memory>

#include "oralib/o_class.h"
#include "oralib/o_class_query.h"
#include "oralib/o_ociap.h"
#include "ui/exception.h"

namespace {

QString MessageOf(void (*call)()) {
  try {
    call();
  } catch (const Exception& e) {
    return e.Message();
  }
  return QStringLiteral("(no error)");
}

}  // namespace

TEST(VersionRules, AcceptOnlySevenAndEightClients) {
  EXPECT_NO_THROW(CheckClientVersion(QStringLiteral("7.3.4.0.0")));
  EXPECT_NO_THROW(CheckClientVersion(QStringLiteral("8.1.7.0.0")));
  for (const char* refused : {"9.0.1.0.0", "10.2.0.1.0", "", "x"}) {
    try {
      CheckClientVersion(QLatin1String(refused));
      ADD_FAILURE() << "accepted " << refused;
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), QStringLiteral("Wrong Oracle client DLL version (%1)").arg(refused));
    }
  }
}

TEST(VersionRules, FileNameSuffixServesWhenTheClientCannotTell) {
  EXPECT_EQ(ClientVersionText(nullptr, QStringLiteral("/opt/ora/lib/libclntsh.so.8.1.7")),
            QStringLiteral("8.1.7"));
  try {
    ClientVersionText(nullptr, QStringLiteral("/opt/ora/lib/libclntsh.so"));
    ADD_FAILURE() << "a client without version information was read";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), QStringLiteral("Oracle interface Dll must contain version info"));
  }
}

TEST(VersionRules, ClientNameMapsToThisPlatformsFile) {
  EXPECT_EQ(ClientLibraryName(), QStringLiteral("oci.dll"));
  EXPECT_EQ(PlatformLibraryFileName(QStringLiteral("oci.dll")), QStringLiteral("libclntsh.so"));
}

TEST(StandInClient, LoadsOnceAndFindsEveryEntryPoint) {
  LoadOCIEntryPoints();
  EXPECT_TRUE(ClientLibraryLoaded());
  EXPECT_TRUE(ClientLibraryPath().endsWith(QStringLiteral("/oracle_home/lib/libclntsh.so")))
      << ClientLibraryPath().toStdString();
#define EXPECT_STORED(fn) EXPECT_NE(oci.fn, nullptr) << #fn;
  O_OCI_ENTRY_POINTS(EXPECT_STORED)
#undef EXPECT_STORED
  const QString path = ClientLibraryPath();
  LoadClientLibrary();  // a second request changes nothing
  EXPECT_EQ(ClientLibraryPath(), path);
  EXPECT_TRUE(ShutdownClientLibrary());
  EXPECT_TRUE(ClientLibraryName().isEmpty());
}

TEST(NewerClient, IsRefusedOnceAndNeverCheckedAgain) {
  EXPECT_EQ(MessageOf(LoadClientLibrary), QStringLiteral("Load oci.dll Error"));
  // The refused library stays loaded; the next request returns at once.
  EXPECT_EQ(MessageOf(LoadClientLibrary), QStringLiteral("(no error)"));
  EXPECT_TRUE(ClientLibraryLoaded());
}

TEST(ClientWithoutVersion, FailsToLoad) {
  EXPECT_EQ(MessageOf(LoadOCIEntryPoints), QStringLiteral("Load oci.dll Error"));
  EXPECT_EQ(oci.OCIInitialize, nullptr);
}

TEST(ClientWithoutLobTrim, StoresTheTwentyEightBeforeIt) {
  EXPECT_EQ(MessageOf(LoadOCIEntryPoints), QStringLiteral("Can't find function OCILobTrim"));
  EXPECT_NE(oci.OCIInitialize, nullptr);
  EXPECT_NE(oci.OCILobRead, nullptr);
  EXPECT_NE(oci.OCILobWrite, nullptr);
  EXPECT_EQ(oci.OCILobTrim, nullptr);
  EXPECT_EQ(oci.OCIBindArrayOfStruct, nullptr);
}

TEST(MissingClient, FailsOnceThenOnlyTheLookupFails) {
  EXPECT_EQ(MessageOf(LoadClientLibrary), QStringLiteral("Load oci.dll Error"));
  EXPECT_FALSE(ClientLibraryLoaded());
  // No second load: the next connection fails on the first entry point.
  EXPECT_EQ(MessageOf(LoadOCIEntryPoints), QStringLiteral("Can't find function OCIInitialize"));
  EXPECT_FALSE(ShutdownClientLibrary());
}

TEST(NoConnection, UnloadsNothingAtTheEnd) {
  EXPECT_FALSE(ShutdownClientLibrary());
  EXPECT_TRUE(ClientLibraryName().isEmpty());
}

TEST(SessionAtUnload, ASessionStillLoggedOnWhenTheClientUnloadsIsForgottenQuietly) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QTemporaryDir instance;
  qputenv("OCISIM_ORADATA", instance.path().toLocal8Bit());
  int argc = 0;
  QApplication application(argc, nullptr);
  auto session = std::make_unique<TOSession>();
  session->UserInfo().Password = QStringLiteral("MANAGER");
  session->UserInfo().ShowLogin = false;
  session->Connect();
  TOQuery query;
  query.SetSession(session.get());
  query.SQL().Add(QStringLiteral("select * from dual"));
  query.Open();
  // What the end of the program does when a session outlives the windows.
  EXPECT_TRUE(ShutdownClientLibrary());
  EXPECT_NO_THROW(query.Close());
  EXPECT_NO_THROW(session->Disconnect());
  EXPECT_FALSE(session->Connected());
  EXPECT_EQ(session->hEnvironment(), nullptr);
}
