// Tests of the SQL monitor client against a stand-in monitor, and of the
// monitor program.
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QLocalSocket>
#include <QProcess>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QHelpEvent>
#include <QIcon>
#include <QImage>
#include <QTest>
#include <QToolTip>
#include <memory>
#include <string>
#include <vector>

#include "oralib/O_SMCli.h"
#include "oralib/o_class.h"
#include "oralib/o_class_query.h"
#include "oralib/o_error.h"
#include "tests/support/shown_text.h"
#include "tests/support/stand_in.h"
#include "tools/sqlmonitor/sm_protocol.h"
#include "tools/sqlmonitor/sm_server.h"
#include "tools/sqlmonitor/sm_window.h"
#include "ui/application.h"
#include "ui/programicon.h"

// The stand-in monitor client library, linked in and registered by path.
namespace fake_sm {
void Reset();
void SetAccept(bool accept);
void SetCategories(std::uint16_t categories);
int Created();
int Registrations();
int Live();
std::string Title();
std::intptr_t Component();
std::vector<std::string> Lines();
void CallBack(std::uint16_t categories);
}  // namespace fake_sm

namespace {

stand_in::PrivateInstance instance;

using Lines = std::vector<std::string>;

// Writes a file that only this user may write, as the monitor writes its registration.
bool WriteFile(const QString& fileName, const QByteArray& content) {
  QFile file(fileName);
  return file.open(QIODevice::WriteOnly) && file.setPermissions(QFile::ReadOwner | QFile::WriteOwner) &&
         file.write(content) == content.size();
}

mode_t ModeOf(const QString& path) {
  struct stat info {};
  return lstat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 07777 : mode_t(-1);
}

bool SetMode(const QString& path, mode_t mode) { return chmod(QFile::encodeName(path).constData(), mode) == 0; }

// A user id that is not this process's: files are given to it to stand for
// another user's (which needs root).
constexpr uid_t kOtherUser = 4242;
bool GiveAway(const QString& path, uid_t user = kOtherUser) {
  return lchown(QFile::encodeName(path).constData(), user, user) == 0;
}

// Points the client and the monitor at a runtime folder, a marker name and a
// class registry of this test alone, and removes the marker whatever the test left.
class IsolatedMonitorNames : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(registry_.isValid());
    ASSERT_TRUE(runtime_.isValid());
    savedRuntime_ = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", runtime_.path().toUtf8());
    qputenv(kSMMarkerVariable, QStringLiteral("/quenlow-sqlmonitor-test-%1").arg(getpid()).toUtf8());
    qputenv(kSMRegistryVariable, registry_.path().toUtf8());
    marker_ = SMMarkerPath();
    ASSERT_TRUE(marker_.startsWith(runtime_.path() + QLatin1Char('/'))) << marker_.toStdString();
  }
  void TearDown() override {
    RemoveMarker();
    qunsetenv(kSMMarkerVariable);
    qunsetenv(kSMRegistryVariable);
    if (savedRuntime_.isNull())
      qunsetenv("XDG_RUNTIME_DIR");
    else
      qputenv("XDG_RUNTIME_DIR", savedRuntime_);
  }

  // What a running monitor shows to the presence probe.
  void CreateMarker() {
    const int fd = open(QFile::encodeName(marker_).constData(), O_RDWR | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    close(fd);
  }
  void RemoveMarker() { unlink(QFile::encodeName(marker_).constData()); }
  bool MarkerExists() const { return QFileInfo::exists(marker_); }
  void RegisterClient(const QString& library) {
    ASSERT_TRUE(WriteFile(SMRegistrationFile(QLatin1String(kSMClientClassId)), library.toUtf8() + '\n'));
  }

  QString marker_;
  QTemporaryDir registry_;
  QTemporaryDir runtime_;
  QByteArray savedRuntime_;
};

class MonitorClient : public IsolatedMonitorNames {
 protected:
  void SetUp() override {
    IsolatedMonitorNames::SetUp();
    RegisterClient(QStringLiteral(SM_FAKE_CLIENT));
    fake_sm::Reset();
    monitor_ = std::make_unique<ToSQLMon>();
    monitor_->Active = true;
    session_.SetSQLMonitor(monitor_.get());
  }
  void TearDown() override {
    monitor_.reset();
    IsolatedMonitorNames::TearDown();
  }

  void TraceEveryCategory(const QString& text) {
    for (int category = 0; category <= static_cast<int>(TTraceCategory::DataOut); ++category)
      session_.Trace(static_cast<TTraceCategory>(category), text);
  }

  TOSession session_;
  std::unique_ptr<ToSQLMon> monitor_;
};

}  // namespace

TEST_F(MonitorClient, AnInactiveComponentNeitherProbesNorSends) {
  monitor_->Active = false;
  CreateMarker();
  const long probes = SMPresenceProbes();
  bool built = false;
  session_.Trace(TTraceCategory::Vendor, QStringLiteral("OCIServerAttach"));
  session_.TraceWith(TTraceCategory::Prepare, [&] {
    built = true;
    return QStringLiteral("select 1 from dual");
  });
  EXPECT_FALSE(built);
  EXPECT_EQ(SMPresenceProbes(), probes);
  EXPECT_EQ(fake_sm::Created(), 0);
  EXPECT_TRUE(fake_sm::Lines().empty());
}

TEST_F(MonitorClient, ProbesOnEveryLineUntilTheMonitorRunsThenRegistersOnTheNext) {
  const long probes = SMPresenceProbes();
  bool built = false;
  session_.Trace(TTraceCategory::Vendor, QStringLiteral("OCIInitialize"));
  session_.Trace(TTraceCategory::Vendor, QStringLiteral("OCIEnvInit"));
  session_.TraceWith(TTraceCategory::Prepare, [&] {
    built = true;
    return QStringLiteral("select 1 from dual");
  });
  EXPECT_EQ(SMPresenceProbes(), probes + 3);
  EXPECT_FALSE(built);
  EXPECT_EQ(fake_sm::Created(), 0);
  EXPECT_FALSE(monitor_->RegistrationFailed());

  CreateMarker();
  session_.Trace(TTraceCategory::Vendor, QStringLiteral("OCIServerAttach"));
  EXPECT_TRUE(monitor_->Registered());
  EXPECT_EQ(fake_sm::Registrations(), 1);
  EXPECT_EQ(fake_sm::Title(), Application().Title().toStdString());
  EXPECT_EQ(fake_sm::Component(), reinterpret_cast<std::intptr_t>(monitor_.get()));
  // The categories come with the registration: the line that caused it goes out.
  EXPECT_EQ(fake_sm::Lines(), Lines{"SQL Vendor: OCIServerAttach"});

  const long registeredProbes = SMPresenceProbes();
  session_.Trace(TTraceCategory::Stmt, QStringLiteral("Query1 Preparing"));
  EXPECT_EQ(SMPresenceProbes(), registeredProbes);
  EXPECT_EQ(fake_sm::Created(), 1);
  EXPECT_EQ(fake_sm::Lines().size(), 2u);
}

TEST_F(MonitorClient, SendsOnlyTheCategoriesTheMonitorAsksFor) {
  fake_sm::SetCategories(0x0102);
  CreateMarker();
  TraceEveryCategory(QStringLiteral("step"));
  EXPECT_EQ(fake_sm::Lines(), (Lines{"SQL Execute: step", "SQL Vendor: step"}));
  EXPECT_EQ(monitor_->EnabledCategories(), 0x0102);
  EXPECT_FALSE(session_.Tracing(TTraceCategory::Prepare));
  EXPECT_TRUE(session_.Tracing(TTraceCategory::Execute));

  // The monitor may change its mind at any time.
  fake_sm::CallBack(1u << 10);
  TraceEveryCategory(QStringLiteral("row"));
  EXPECT_EQ(fake_sm::Lines().back(), "SQL DataOut: row");
  EXPECT_EQ(fake_sm::Lines().size(), 3u);

  fake_sm::CallBack(0);
  bool built = false;
  session_.TraceWith(TTraceCategory::DataOut, [&] {
    built = true;
    return QString();
  });
  EXPECT_FALSE(built);
}

TEST_F(MonitorClient, SendsTheLineAsUtf8TakenLiterally) {
  CreateMarker();
  session_.Trace(TTraceCategory::Prepare, QStringLiteral("select 'Größe %1' from dual\nwhere 1 = 1"));
  EXPECT_EQ(fake_sm::Lines(),
            Lines{QStringLiteral("SQL Prepare: select 'Größe %1' from dual\nwhere 1 = 1").toStdString()});
}

TEST_F(MonitorClient, ARefusedRegistrationIsFinalEvenWhenTheMonitorStartsAgain) {
  fake_sm::SetAccept(false);
  CreateMarker();
  session_.Trace(TTraceCategory::Vendor, QStringLiteral("OCIInitialize"));
  EXPECT_EQ(fake_sm::Registrations(), 1);
  EXPECT_TRUE(monitor_->RegistrationFailed());
  EXPECT_EQ(fake_sm::Live(), 0);  // the refused object was released

  RemoveMarker();
  fake_sm::SetAccept(true);
  CreateMarker();
  const long probes = SMPresenceProbes();
  TraceEveryCategory(QStringLiteral("step"));
  EXPECT_EQ(SMPresenceProbes(), probes);
  EXPECT_EQ(fake_sm::Created(), 1);
  EXPECT_TRUE(fake_sm::Lines().empty());
}

TEST_F(MonitorClient, AMonitorWithoutAUsableClientLibraryIsGivenUpQuietly) {
  CreateMarker();
  for (const QByteArray& registration : {QByteArray(), QByteArray("/nonexistent/libnothing.so\n"),
                                         QByteArray("\n")}) {
    SCOPED_TRACE(registration.toStdString());
    QFile::remove(SMRegistrationFile(QLatin1String(kSMClientClassId)));
    if (!registration.isEmpty()) {
      ASSERT_TRUE(WriteFile(SMRegistrationFile(QLatin1String(kSMClientClassId)), registration));
    }
    ToSQLMon monitor;
    monitor.Active = true;
    TOSession session;
    session.SetSQLMonitor(&monitor);
    EXPECT_NO_THROW(session.Trace(TTraceCategory::Vendor, QStringLiteral("OCIInitialize")));
    EXPECT_TRUE(monitor.RegistrationFailed());

    RegisterClient(QStringLiteral(SM_FAKE_CLIENT));
    session.Trace(TTraceCategory::Vendor, QStringLiteral("OCIEnvInit"));
    EXPECT_EQ(fake_sm::Created(), 0);
  }
}

TEST_F(MonitorClient, DestroyingTheComponentEmptiesEveryAttachedSessionAndReleasesTheMonitor) {
  CreateMarker();
  TOSession second;
  auto third = std::make_unique<TOSession>();
  second.SetSQLMonitor(monitor_.get());
  third->SetSQLMonitor(monitor_.get());
  third.reset();
  EXPECT_EQ(monitor_->Sessions(), (QList<TOSession*>{&session_, &second}));
  session_.Trace(TTraceCategory::Vendor, QStringLiteral("OCIInitialize"));
  ASSERT_EQ(fake_sm::Live(), 1);

  monitor_.reset();
  EXPECT_EQ(session_.SQLMonitor(), nullptr);
  EXPECT_EQ(second.SQLMonitor(), nullptr);
  EXPECT_EQ(fake_sm::Live(), 0);
  EXPECT_NO_THROW(session_.Trace(TTraceCategory::Vendor, QStringLiteral("OCIEnvInit")));
}

TEST_F(MonitorClient, AQueryTracesEveryStepWithItsStatementParametersAndValues) {
  CreateMarker();
  session_.UserInfo().Username = QStringLiteral("SCOTT");
  session_.UserInfo().Password = QStringLiteral("TIGER");
  session_.UserInfo().ShowLogin = false;
  session_.Connect();
  TOQuery query;
  query.SetName(QStringLiteral("Query1"));
  query.SetSession(&session_);
  query.SQL().Add(QStringLiteral("create table sm_rows (n number(5), e varchar2(5))"));
  query.ExecuteStatement();
  query.SQL().Clear();
  query.SQL().Add(QStringLiteral("insert into sm_rows values (3, null)"));
  query.ExecuteStatement();

  fake_sm::Reset();
  query.SQL().Clear();
  query.SQL().Add(QStringLiteral("select n, e from sm_rows where n = :p"));
  query.Params().CreateParam(QStringLiteral("p"), ftInteger, optIn).SetAsInteger(3);
  query.Open();
  query.Close();
  EXPECT_EQ(fake_sm::Lines(), (Lines{
      "SQL Stmt: Query1 Unpreparing",
      "SQL Stmt: Query1 Preparing",
      "SQL Prepare: select n, e from sm_rows where n = :p\n",
      "SQL Vendor: OCIAttrGet - statement type is select statement",
      "SQL Execute: Describe -select n, e from sm_rows where n = :p\n",
      "SQL Vendor: OCIAttrGet - param count is 2",
      "SQL Vendor: OCIAttrGet - param 1 type = 2",
      "SQL Vendor: OCIAttrGet - param 1 name = N",
      "SQL Vendor: OCIAttrGet - param 1 size = 22 precission = 5 scale = 0 may be Null = 1",
      "SQL Vendor: OCIAttrGet - param 2 type = 1",
      "SQL Vendor: OCIAttrGet - param 2 name = E",
      "SQL Vendor: OCIAttrGet - param 2 size = 5 precission = 0 scale = 0 may be Null = 1",
      "SQL Stmt: Query1 Opening",
      "SQL DataIn: Param \"p\" type ftInteger value is '3'",
      "SQL Execute: select n, e from sm_rows where n = :p\n",
      "SQL DataOut: field N is not null, size=4",
      "SQL DataOut: field E is null, size=6",
      "SQL Stmt: Query1 Closing",
  }));

  // A table, an array and a null parameter; the error's position and text.
  fake_sm::Reset();
  query.SQL().Clear();
  query.SQL().Add(QStringLiteral("begin :r := :t; end;"));
  TOParams& params = query.Params();
  params.Clear();
  params.CreateParam(QStringLiteral("r"), ftString, optOut);
  TOParam& table = params.CreateParam(QStringLiteral("t"), ftInteger, optIn);
  table.IsTable = true;
  table.SetArraySize(2);
  table.SetAsInteger(1, 0);
  query.ExecuteStatement();
  query.SQL().Clear();
  query.SQL().Add(QStringLiteral("select * from nosuchtable"));
  EXPECT_THROW(query.Open(), EOError);
  Lines selected;
  for (const std::string& line : fake_sm::Lines())
    if (line.rfind("SQL DataIn", 0) == 0 || line.rfind("SQL Error", 0) == 0) selected.push_back(line);
  EXPECT_EQ(selected, (Lines{"SQL DataIn: Param \"r\" type ftString value is ''",
                             "SQL DataIn: Param \"t\" type ftInteger value is variant array (table)",
                             "SQL Error: at postion 14 ORA-00942: table or view does not exist"}));
  // The instance outlives the test within its process: leave it as found.
  query.Params().Clear();
  query.SQL().Clear();
  query.SQL().Add(QStringLiteral("drop table sm_rows"));
  query.ExecuteStatement();
}

// What a failed registration message says about trust; empty when `action` raises nothing.
template <class Action>
QString Refusal(Action action) {
  try {
    action();
  } catch (const Exception& e) {
    return e.Message();
  }
  return {};
}

TEST(MonitorRegistration, IsReadOnlyFromAFolderAndAFileOfTheUsersOwnThatAreNoLinks) {
  QTemporaryDir home;
  const QString folder = home.filePath(QStringLiteral("classes"));
  ASSERT_TRUE(QDir().mkdir(folder));
  ASSERT_TRUE(SetMode(folder, 0700));
  const QString entry = QDir(folder).filePath(QLatin1String(kSMClientClassId));
  ASSERT_TRUE(WriteFile(entry, "libclient.so\n"));
  const uid_t me = geteuid();
  EXPECT_EQ(SMRegisteredLibrary(folder, kSMClientClassId, me), QDir(folder).filePath(QStringLiteral("libclient.so")));

  const auto refusal = [&](const QString& from) {
    return Refusal([&] { SMRegisteredLibrary(from, kSMClientClassId, me); });
  };
  for (const mode_t mode : {0777, 0720, 0702}) {
    ASSERT_TRUE(SetMode(folder, mode));
    EXPECT_TRUE(refusal(folder).endsWith(QStringLiteral("is not trusted: others may write it"))) << mode;
  }
  ASSERT_TRUE(SetMode(folder, 0700));
  for (const mode_t mode : {0666, 0620}) {
    ASSERT_TRUE(SetMode(entry, mode));
    EXPECT_EQ(refusal(folder), QStringLiteral("The SQL monitor's registration %1 is not trusted: others may write it")
                                   .arg(entry)) << mode;
  }
  ASSERT_TRUE(SetMode(entry, 0600));

  // A link in place of the file, or of the folder, is not followed.
  const QString elsewhere = home.filePath(QStringLiteral("elsewhere"));
  ASSERT_TRUE(QFile::rename(entry, elsewhere));
  ASSERT_TRUE(QFile::link(elsewhere, entry));
  EXPECT_EQ(refusal(folder), QStringLiteral("The SQL monitor's registration %1 is not trusted: it is a link").arg(entry));
  ASSERT_TRUE(QFile::remove(entry));
  ASSERT_TRUE(QFile::rename(elsewhere, entry));
  const QString linkedFolder = home.filePath(QStringLiteral("linked"));
  ASSERT_TRUE(QFile::link(folder, linkedFolder));
  EXPECT_TRUE(refusal(linkedFolder).endsWith(QStringLiteral("is not trusted: it is not a folder")));

  // Whose they are: judged against the owner asked for.
  if (me != 0) GTEST_SKIP() << "giving files to another user needs root";
  ASSERT_TRUE(GiveAway(entry));
  EXPECT_EQ(refusal(folder), QStringLiteral("The SQL monitor's registration %1 is not trusted: it belongs to user 4242")
                                 .arg(entry));
  ASSERT_TRUE(GiveAway(folder));
  EXPECT_TRUE(refusal(folder).endsWith(QStringLiteral("is not trusted: it belongs to user 4242")));
  EXPECT_NO_THROW(SMRegisteredLibrary(folder, kSMClientClassId, kOtherUser));
}

TEST(MonitorRegistration, ALibraryIsTrustedOnlyWhenItAndItsFolderAreTheUsersOrRootsAndClosedToOthers) {
  QTemporaryDir dir;
  const QString folder = dir.filePath(QStringLiteral("lib"));
  ASSERT_TRUE(QDir().mkdir(folder));
  ASSERT_TRUE(SetMode(folder, 0755));
  const QString library = QDir(folder).filePath(QStringLiteral("libclient.so"));
  ASSERT_TRUE(WriteFile(library, "not really a library"));
  ASSERT_TRUE(SetMode(library, 0755));
  const uid_t me = geteuid();
  EXPECT_EQ(SMTrustedLibrary(library, me), library);
  // A link is judged, and loaded, as the file it leads to; the group may write.
  const QString link = dir.filePath(QStringLiteral("libclient-link.so"));
  ASSERT_TRUE(QFile::link(library, link));
  EXPECT_EQ(SMTrustedLibrary(link, me), library);
  ASSERT_TRUE(SetMode(library, 0775));
  EXPECT_NO_THROW(SMTrustedLibrary(library, me));

  const auto refusal = [&] { return Refusal([&] { SMTrustedLibrary(link, me); }); };
  ASSERT_TRUE(SetMode(library, 0757));
  EXPECT_EQ(refusal(), QStringLiteral("The SQL monitor's client library %1 is not trusted: others may write it").arg(library));
  ASSERT_TRUE(SetMode(library, 0755));
  for (const mode_t mode : {0777, 01777}) {
    ASSERT_TRUE(SetMode(folder, mode));
    EXPECT_EQ(refusal(), QStringLiteral("The SQL monitor's client library folder %1 is not trusted: others may write it")
                             .arg(folder)) << mode;
  }
  ASSERT_TRUE(SetMode(folder, 0755));
  EXPECT_TRUE(Refusal([&] { SMTrustedLibrary(dir.filePath(QStringLiteral("missing.so")), me); })
                  .startsWith(QStringLiteral("Can't load the SQL monitor client")));

  if (me != 0) GTEST_SKIP() << "giving files to another user needs root";
  ASSERT_TRUE(GiveAway(library));
  EXPECT_EQ(refusal(), QStringLiteral("The SQL monitor's client library %1 is not trusted: it belongs to user 4242")
                           .arg(library));
  // Root's library in root's folder serves any user.
  EXPECT_NO_THROW(SMTrustedLibrary(QStringLiteral(SM_FAKE_CLIENT), kOtherUser));
  EXPECT_EQ(SMTrustedLibrary(link, kOtherUser), library);
}

TEST(MonitorNames, LiveInARuntimeFolderOfTheUsersOwnOrElseInTheirOwnFolderInTmp) {
  const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR");
  QTemporaryDir runtime;
  ASSERT_TRUE(SetMode(runtime.path(), 0700));
  qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
  EXPECT_EQ(SMRuntimeFolder(false), runtime.path());
  EXPECT_EQ(SMMarkerPath(), runtime.path() + QStringLiteral("/quenlow-SMBuffer"));
  qputenv(kSMMarkerVariable, "/another-name");
  EXPECT_EQ(SMMarkerPath(), runtime.path() + QStringLiteral("/another-name"));
  qunsetenv(kSMMarkerVariable);

  // A runtime folder that others may write, or another user's, is passed over.
  const QString own = QStringLiteral("/tmp/quenlow-%1").arg(geteuid());
  ASSERT_TRUE(SetMode(runtime.path(), 0777));
  EXPECT_EQ(SMRuntimeFolder(true), own);
  EXPECT_TRUE(SMIsPrivateFolder(own, geteuid()));
  EXPECT_EQ(SMMarkerPath(), own + QStringLiteral("/quenlow-SMBuffer"));
  if (geteuid() == 0) {
    ASSERT_TRUE(SetMode(runtime.path(), 0700));
    ASSERT_TRUE(GiveAway(runtime.path()));
    EXPECT_EQ(SMRuntimeFolder(false), own);
    ASSERT_TRUE(GiveAway(runtime.path(), 0));
  }
  qputenv("XDG_RUNTIME_DIR", savedRuntime);
  if (savedRuntime.isNull()) qunsetenv("XDG_RUNTIME_DIR");
}

TEST(MonitorNames, APrivateFolderIsMadeOrClosedToOthersButNeverTakenOver) {
  QTemporaryDir dir;
  const QString made = dir.filePath(QStringLiteral("a/b/private"));
  const mode_t savedMask = umask(0);
  EXPECT_TRUE(SMMakePrivateFolder(made));
  umask(savedMask);
  EXPECT_EQ(ModeOf(made), 0700u);
  ASSERT_TRUE(SetMode(made, 0777));
  EXPECT_TRUE(SMMakePrivateFolder(made));
  EXPECT_EQ(ModeOf(made), 0700u);

  QString reason;
  const QString link = dir.filePath(QStringLiteral("link"));
  ASSERT_TRUE(QFile::link(made, link));
  EXPECT_FALSE(SMMakePrivateFolder(link, &reason));
  EXPECT_EQ(reason, link + QStringLiteral(" is not a folder"));
  if (geteuid() != 0) GTEST_SKIP() << "giving files to another user needs root";
  ASSERT_TRUE(SetMode(made, 0777));
  ASSERT_TRUE(GiveAway(made));
  EXPECT_FALSE(SMMakePrivateFolder(made, &reason));
  EXPECT_EQ(reason, made + QStringLiteral(" belongs to user 4242"));
  EXPECT_EQ(ModeOf(made), 0777u);  // not this user's to change
}

TEST_F(MonitorClient, AnUntrustedRegistrationOrLibraryLoadsNothingAndIsGivenUp) {
  CreateMarker();
  // A copy of the client library that no one has loaded, so that loading it would show.
  QTemporaryDir dir;
  ASSERT_TRUE(SetMode(dir.path(), 0755));
  const QString copy = dir.filePath(QStringLiteral("libcopied_client.so"));
  ASSERT_TRUE(QFile::copy(QStringLiteral(SM_FAKE_CLIENT), copy));
  const QString entry = SMRegistrationFile(QLatin1String(kSMClientClassId));
  const auto traceOnce = [&] {
    ToSQLMon monitor;
    monitor.Active = true;
    TOSession session;
    session.SetSQLMonitor(&monitor);
    EXPECT_NO_THROW(session.Trace(TTraceCategory::Vendor, QStringLiteral("OCIInitialize")));
    return monitor.RegistrationFailed();
  };
  const auto loaded = [&] {
    void* handle = dlopen(QFile::encodeName(copy).constData(), RTLD_NOW | RTLD_NOLOAD);
    if (handle != nullptr) dlclose(handle);
    return handle != nullptr;
  };

  // A registration file that is a link to a good one.
  const QString good = dir.filePath(QStringLiteral("registration"));
  ASSERT_TRUE(WriteFile(good, copy.toUtf8() + '\n'));
  ASSERT_TRUE(QFile::remove(entry));
  ASSERT_TRUE(QFile::link(good, entry));
  EXPECT_TRUE(traceOnce());
  ASSERT_TRUE(QFile::remove(entry));

  // A registry folder anyone may write.
  RegisterClient(copy);
  ASSERT_TRUE(SetMode(registry_.path(), 0777));
  EXPECT_TRUE(traceOnce());
  ASSERT_TRUE(SetMode(registry_.path(), 0700));

  // A library of another user.
  if (geteuid() == 0) {
    ASSERT_TRUE(GiveAway(copy));
    EXPECT_TRUE(traceOnce());
  }
  EXPECT_EQ(fake_sm::Created(), 0);
  EXPECT_FALSE(loaded());

  // The same registration and library, trusted, are loaded (so the check above would see it).
  if (geteuid() == 0) {
    ASSERT_TRUE(GiveAway(copy, 0));
  }
  EXPECT_FALSE(traceOnce());
  EXPECT_TRUE(loaded());
}

// The monitor's side, driven by a raw client that speaks its protocol.
class MonitorServer : public IsolatedMonitorNames {
 protected:
  static bool ReadFrame(QLocalSocket& socket, QByteArray& inbox, char& kind, QByteArray& payload) {
    const bool got = QTest::qWaitFor([&] {
      inbox.append(socket.readAll());
      QByteArray copy = inbox;
      return sm::TakeFrame(copy, kind, payload) == sm::TakeResult::Frame;
    }, 10000);
    if (got) sm::TakeFrame(inbox, kind, payload);
    return got;
  }
};

TEST_F(MonitorServer, RegistersClientsRelaysTheirLinesAndTellsThemTheCategories) {
  TSMServer server;
  ASSERT_TRUE(server.Start(QStringLiteral("/opt/monitor/libquenlow_smclient.so"))) << server.Error().toStdString();
  EXPECT_TRUE(server.RegistrationWarning().isEmpty());
  QFile registration(SMRegistrationFile(QLatin1String(kSMClientClassId)));
  ASSERT_TRUE(registration.open(QIODevice::ReadOnly));
  EXPECT_EQ(registration.readAll(), "/opt/monitor/libquenlow_smclient.so\n");
  sm::TSMMarker marker{};
  ASSERT_TRUE(sm::ReadMarker(marker_, marker));
  EXPECT_EQ(marker.pid, getpid());

  TSMServer second;
  EXPECT_FALSE(second.Start(QStringLiteral("lib.so")));
  EXPECT_NE(second.Error().indexOf(QLatin1String("Another SQL monitor is running")), -1);
  registration.seek(0);
  EXPECT_EQ(registration.readAll(), "/opt/monitor/libquenlow_smclient.so\n");  // the running one's stays

  QLocalSocket client;
  client.connectToServer(QString::fromLocal8Bit(marker.server));
  ASSERT_TRUE(client.waitForConnected(10000));
  QByteArray hello(4, '\0');
  qToBigEndian<std::uint32_t>(4242, hello.data());
  client.write(sm::Frame(sm::kRegister, hello + "Quenlow"));
  QByteArray inbox, payload;
  char kind = 0;
  ASSERT_TRUE(ReadFrame(client, inbox, kind, payload));
  EXPECT_EQ(kind, sm::kAccepted);
  EXPECT_EQ(sm::PayloadCategories(payload), TSMServer::kAllCategories);
  ASSERT_EQ(server.Clients().size(), 1);
  EXPECT_EQ(server.Clients()[0].title, QStringLiteral("Quenlow"));
  EXPECT_EQ(server.Clients()[0].pid, 4242u);

  QStringList received;
  QObject::connect(&server, &TSMServer::LineReceived,
                   [&](const QString& title, const QString& line) { received << title + ": " + line; });
  client.write(sm::Frame(sm::kLine, "SQL Vendor: OCIServerAttach"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return !received.isEmpty(); }, 10000));
  EXPECT_EQ(received, QStringList{QStringLiteral("Quenlow: SQL Vendor: OCIServerAttach")});

  server.SetCategories(0x0102);
  ASSERT_TRUE(ReadFrame(client, inbox, kind, payload));
  EXPECT_EQ(kind, sm::kCategories);
  EXPECT_EQ(sm::PayloadCategories(payload), 0x0102);

  client.disconnectFromServer();
  ASSERT_TRUE(QTest::qWaitFor([&] { return server.Clients().isEmpty(); }, 10000));
  server.Stop();
  EXPECT_FALSE(MarkerExists());
}

TEST_F(MonitorServer, AMarkerNameTakenByAFifoOrAFileOthersMayWriteIsNeitherWaitedOnNorTrusted) {
  const QByteArray path = QFile::encodeName(marker_);
  ASSERT_EQ(mkfifo(path.constData(), 0600), 0);
  EXPECT_FALSE(SMMonitorPresent());  // would block forever on the FIFO
  sm::TSMMarker marker{};
  EXPECT_FALSE(sm::ReadMarker(marker_, marker));
  {
    TSMServer server;  // this user's own leftover is replaced
    EXPECT_TRUE(server.Start(QStringLiteral("lib.so"))) << server.Error().toStdString();
    EXPECT_TRUE(SMMonitorPresent());
  }

  CreateMarker();
  const int fd = open(path.constData(), O_RDWR);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(fchmod(fd, 0666), 0);
  EXPECT_FALSE(SMMonitorPresent());
  if (geteuid() == 0) {  // another user's marker, when this test may make one
    ASSERT_EQ(fchmod(fd, 0600), 0);
    ASSERT_EQ(fchown(fd, 65534, 65534), 0);
    EXPECT_FALSE(SMMonitorPresent());
    TSMServer server;
    EXPECT_FALSE(server.Start(QStringLiteral("other.so")));
    EXPECT_NE(server.Error().indexOf(QLatin1String("belongs to another user")), -1);
    QFile registration(SMRegistrationFile(QLatin1String(kSMClientClassId)));
    ASSERT_TRUE(registration.open(QIODevice::ReadOnly));
    EXPECT_EQ(registration.readAll(), "lib.so\n");
  }
  close(fd);
}

TEST_F(MonitorServer, KeepsItsMarkerSocketAndRegistrationWhereOnlyItsUserCanReachThem) {
  // What another user made under the old machine-wide name blocks nothing.
  const QByteArray shared = "/" + QFile::encodeName(SMMarkerFileName());
  const int other = shm_open(shared.constData(), O_RDWR | O_CREAT, 0644);
  ASSERT_GE(other, 0);
  if (geteuid() == 0) {
    EXPECT_EQ(fchown(other, kOtherUser, kOtherUser), 0);
  }
  close(other);
  // A registry folder others may write is closed to them, and a loose umask changes nothing.
  ASSERT_TRUE(SetMode(registry_.path(), 0775));
  const mode_t savedMask = umask(0002);
  TSMServer server;
  const bool started = server.Start(QStringLiteral("lib.so"));
  umask(savedMask);
  shm_unlink(shared.constData());
  ASSERT_TRUE(started) << server.Error().toStdString();
  EXPECT_TRUE(server.RegistrationWarning().isEmpty()) << server.RegistrationWarning().toStdString();
  EXPECT_EQ(ModeOf(marker_), 0600u);
  sm::TSMMarker marker{};
  ASSERT_TRUE(sm::ReadMarker(marker_, marker));
  const QString socket = QString::fromLocal8Bit(marker.server);
  EXPECT_EQ(QFileInfo(socket).absolutePath(), runtime_.path());
  EXPECT_EQ(ModeOf(socket) & 0077, 0u);
  EXPECT_EQ(ModeOf(registry_.path()), 0700u);
  EXPECT_EQ(ModeOf(SMRegistrationFile(QLatin1String(kSMClientClassId))), 0600u);
  EXPECT_NO_THROW(SMRegisteredLibrary(registry_.path(), kSMClientClassId, geteuid()));
  server.Stop();
  EXPECT_FALSE(MarkerExists());
}

TEST_F(MonitorServer, ReplacesTheMarkerOfAMonitorThatDied) {
  CreateMarker();  // not a monitor's marker: no process owns it
  TSMServer server;
  ASSERT_TRUE(server.Start(QStringLiteral("lib.so"))) << server.Error().toStdString();
  sm::TSMMarker marker{};
  EXPECT_TRUE(sm::ReadMarker(marker_, marker));
}

TEST_F(MonitorServer, TheWindowWearsTheProgramIcon) {
  TSMServer server;
  TSMMonitorWindow window(server);
  const QIcon icon = window.windowIcon();
  EXPECT_EQ(icon.availableSizes().size(), 8);
  const QImage shown = icon.pixmap(QSize(48, 48)).toImage();
  EXPECT_EQ(shown.size(), QSize(48, 48));
  EXPECT_EQ(shown, ProgramIcon().pixmap(QSize(48, 48)).toImage());
}

TEST_F(MonitorServer, TheWindowCountsFiltersFollowsAndSavesTheLog) {
  TSMServer server;
  TSMMonitorWindow window(server);
  window.resize(900, 400);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  QScrollBar* scroll = window.View()->verticalScrollBar();
  const auto settle = [] { QCoreApplication::processEvents(); QCoreApplication::processEvents(); };

  for (int i = 0; i < 200; ++i)
    emit server.LineReceived(QStringLiteral("Quenlow"),
                             QStringLiteral("SQL %1: step %2").arg(i % 2 ? "Vendor" : "Execute").arg(i));
  settle();
  EXPECT_EQ(window.LineCountText(), QStringLiteral("200 lines"));
  EXPECT_GT(scroll->maximum(), 0);
  EXPECT_EQ(scroll->value(), scroll->maximum());

  // Scrolling up pauses following; new lines leave the view where it is.
  scroll->setValue(10);
  EXPECT_FALSE(window.Following());
  emit server.LineReceived(QStringLiteral("Quenlow"), QStringLiteral("SQL Vendor: OCIStmtFetch"));
  settle();
  EXPECT_EQ(scroll->value(), 10);
  scroll->setValue(scroll->maximum());
  EXPECT_TRUE(window.Following());
  emit server.LineReceived(QStringLiteral("Quenlow"), QStringLiteral("SQL Vendor: OCIStmtFetch"));
  settle();
  EXPECT_EQ(scroll->value(), scroll->maximum());

  QTest::keyClicks(window.FilterBox(), QStringLiteral("vendor"));
  EXPECT_EQ(window.LineCountText(), QStringLiteral("102 of 202 lines shown"));
  EXPECT_EQ(window.View()->model()->rowCount(), 102);

  window.CategoryBox(static_cast<int>(TTraceCategory::Vendor))->click();
  EXPECT_EQ(server.Categories(), TSMServer::kAllCategories & ~(1u << 8));

  QTemporaryDir dir;
  const QString saved = dir.filePath(QStringLiteral("monitor.log"));
  ASSERT_TRUE(window.SaveLog(saved));
  EXPECT_EQ(ModeOf(saved), 0600u);  // the statements are the user's alone
  QFile file(saved);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QList<QByteArray> lines = file.readAll().split('\n');
  EXPECT_EQ(lines.size(), 203);  // the whole log, whatever the filter shows
  EXPECT_TRUE(lines[0].endsWith("\tQuenlow\tSQL Execute: step 0"));
  EXPECT_FALSE(window.SaveLog(dir.filePath(QStringLiteral("missing/monitor.log"))));
  // A file of the user's own keeps the mode they gave it.
  ASSERT_TRUE(SetMode(saved, 0644));
  ASSERT_TRUE(window.SaveLog(saved));
  EXPECT_EQ(ModeOf(saved), 0644u);

  // So is a log the lines are copied to as they come; another user's file takes none.
  const QString tee = dir.filePath(QStringLiteral("tee.log"));
  ASSERT_TRUE(window.TeeTo(tee));
  EXPECT_EQ(ModeOf(tee), 0600u);
  if (geteuid() == 0) {
    const QString theirs = dir.filePath(QStringLiteral("theirs.log"));
    ASSERT_TRUE(WriteFile(theirs, "their own\n"));
    ASSERT_TRUE(GiveAway(theirs));
    QString error;
    EXPECT_FALSE(window.TeeTo(theirs, &error));
    EXPECT_EQ(error, QStringLiteral("the file belongs to another user"));
  }

  window.ClearLog();
  EXPECT_EQ(window.Log().Count(), 0);
}

TEST_F(MonitorServer, TheWindowShowsClientTitlesAndLinesAsTextNeverAsMarkup) {
  TSMServer server;
  ASSERT_TRUE(server.Start(QStringLiteral("lib.so"))) << server.Error().toStdString();
  TSMMonitorWindow window(server);
  window.resize(900, 400);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  sm::TSMMarker marker{};
  ASSERT_TRUE(sm::ReadMarker(marker_, marker));

  // A client whose title looks like markup.
  QLocalSocket client;
  client.connectToServer(QString::fromLocal8Bit(marker.server));
  ASSERT_TRUE(client.waitForConnected(10000));
  QByteArray hello(4, '\0');
  qToBigEndian<std::uint32_t>(4242, hello.data());
  client.write(sm::Frame(sm::kRegister, hello + MarkupLike().toUtf8()));
  QByteArray inbox, payload;
  char kind = 0;
  ASSERT_TRUE(ReadFrame(client, inbox, kind, payload));
  ASSERT_TRUE(QTest::qWaitFor([&] { return window.ClientList()->count() == 1; }, 10000));
  EXPECT_EQ(window.ClientList()->item(0)->text(), MarkupLike() + QStringLiteral(" (process 4242)"));

  // A traced statement and value that look like markup, one of two lines.
  const QString line = QStringLiteral("SQL DataOut: ") + MarkupLike() + QStringLiteral("\n  <i>second</i> line");
  emit server.LineReceived(MarkupLike(), line);
  QCoreApplication::processEvents();
  const QModelIndex shown = window.View()->model()->index(0, TSMLog::LineColumn);
  EXPECT_EQ(shown.data().toString(), QString(line).replace(QLatin1Char('\n'), QLatin1Char(' ')));
  EXPECT_EQ(ShownText(shown.data(Qt::ToolTipRole).toString()), line);
  EXPECT_EQ(window.View()->model()->index(0, TSMLog::ClientColumn).data().toString(), MarkupLike());

  // Pointing at the line shows the same tip.
  QWidget* viewport = window.View()->viewport();
  const QPoint at = window.View()->visualRect(shown).center();
  QHelpEvent help(QEvent::ToolTip, at, viewport->mapToGlobal(at));
  QApplication::sendEvent(viewport, &help);
  EXPECT_TRUE(QToolTip::isVisible());
  EXPECT_EQ(ShownText(QToolTip::text()), line);
  QToolTip::hideText();

  // Lines that markup would change in other ways: a document type, an entity
  // alone, markup only after the first line break, blanks and tabs.
  const QStringList others = {QStringLiteral("<!DOCTYPE html><p>x</p>"), QStringLiteral("SQL DataIn: a &lt; b &amp;"),
                              QStringLiteral("SQL Prepare: select 1\n<b>from</b> dual"),
                              QStringLiteral("SQL Prepare:   select\t<tt>x</tt>  ")};
  for (const QString& other : others) {
    emit server.LineReceived(QStringLiteral("Quenlow"), other);
    QCoreApplication::processEvents();
    const QModelIndex last = window.View()->model()->index(window.View()->model()->rowCount() - 1, TSMLog::LineColumn);
    EXPECT_EQ(ShownText(last.data(Qt::ToolTipRole).toString()), other) << other.toStdString();
  }

  client.disconnectFromServer();
  ASSERT_TRUE(QTest::qWaitFor([&] { return server.Clients().isEmpty(); }, 10000));
  server.Stop();
}

// The monitor program as a user starts it, watching a session on the stand-in.
class MonitorProgram : public IsolatedMonitorNames {
 protected:
  void TearDown() override {
    Stop();
    IsolatedMonitorNames::TearDown();
  }

  // Starts the program offscreen, copying its lines to `log_`; true once its
  // marker is there.
  bool Start() {
    program_ = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    program_->setProcessEnvironment(environment);
    program_->setProcessChannelMode(QProcess::ForwardedChannels);
    program_->start(QStringLiteral(SM_MONITOR_PROGRAM), {QStringLiteral("--log"), log_});
    return program_->waitForStarted(10000) && QTest::qWaitFor([&] { return MarkerExists(); }, 30000);
  }

  // Ends the program as the desktop would (SIGTERM); whether it ended normally.
  bool Stop() {
    if (program_ == nullptr) return true;
    program_->terminate();
    bool normal = program_->waitForFinished(20000) && program_->exitStatus() == QProcess::NormalExit &&
                  program_->exitCode() == 0;
    if (program_->state() != QProcess::NotRunning) {
      program_->kill();
      program_->waitForFinished(10000);
      normal = false;
    }
    program_.reset();
    return normal;
  }

  bool Logged(const QByteArray& text) {
    return QTest::qWaitFor([&] {
      QFile file(log_);
      return file.open(QIODevice::ReadOnly) && file.readAll().contains(text);
    }, 20000);
  }

  QTemporaryDir dir_;
  QString log_ = dir_.filePath(QStringLiteral("monitor.log"));
  std::unique_ptr<QProcess> program_;
};

TEST_F(MonitorProgram, ShowsTheOciStepsAndStatementsOfAnAttachedSession) {
  ASSERT_TRUE(Start());
  ToSQLMon monitor;
  monitor.Active = true;
  TOSession session;
  session.UserInfo().ShowLogin = false;
  session.UserInfo().Password = QStringLiteral("MANAGER");
  session.SetSQLMonitor(&monitor);
  session.Connect();
  ASSERT_TRUE(monitor.Registered());
  TOQuery query;
  query.SetSession(&session);
  query.SQL().Add(QStringLiteral("select banner from v$version"));
  query.Open();
  EXPECT_TRUE(Logged("SQL Vendor: OCIServerAttach"));
  EXPECT_TRUE(Logged("SQL Prepare: select banner from v$version"));
  EXPECT_TRUE(Logged("\t" + Application().Title().toUtf8() + "\t"));

  EXPECT_TRUE(Stop());
  EXPECT_FALSE(MarkerExists());

  // A monitor started again gets the session back without a new component.
  ASSERT_TRUE(Start());
  EXPECT_TRUE(QTest::qWaitFor([&] {
    session.Trace(TTraceCategory::Vendor, QStringLiteral("after the restart"));
    QFile file(log_);
    return file.open(QIODevice::ReadOnly) && file.readAll().contains("SQL Vendor: after the restart");
  }, 20000));
}
