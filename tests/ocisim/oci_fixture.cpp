// Shared pieces of the stand-in's tests: an instance folder per test, an OCI
// connection, child processes.
#include "oci_fixture.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "ocisim/ocisim_controls.h"

extern char** environ;

namespace ocisim_test {

std::string errorText(void* handle, ub4 type) {
  text buf[512] = {};
  sb4 code = 0;
  if (OCIErrorGet(handle, 1, nullptr, &code, buf, sizeof buf, type) != OCI_SUCCESS) return {};
  return reinterpret_cast<char*>(buf);
}

Connection::Connection() {
  EXPECT_EQ(OCIInitialize(OCI_DEFAULT, nullptr, nullptr, nullptr, nullptr), OCI_SUCCESS);
  EXPECT_EQ(OCIEnvInit(&env, OCI_DEFAULT, 0, nullptr), OCI_SUCCESS);
  EXPECT_EQ(OCIHandleAlloc(env, reinterpret_cast<void**>(&err), OCI_HTYPE_ERROR, 0, nullptr), OCI_SUCCESS);
  EXPECT_EQ(OCIHandleAlloc(env, reinterpret_cast<void**>(&srv), OCI_HTYPE_SERVER, 0, nullptr), OCI_SUCCESS);
  EXPECT_EQ(OCIHandleAlloc(env, reinterpret_cast<void**>(&svc), OCI_HTYPE_SVCCTX, 0, nullptr), OCI_SUCCESS);
  EXPECT_EQ(OCIHandleAlloc(env, reinterpret_cast<void**>(&ses), OCI_HTYPE_SESSION, 0, nullptr), OCI_SUCCESS);
}

Connection::~Connection() { freeEnvironment(); }

void Connection::freeEnvironment() {
  if (env) OCIHandleFree(env, OCI_HTYPE_ENV);
  env = nullptr;
}

sword Connection::attach(const std::string& connect) {
  const sword rc = OCIServerAttach(srv, err, reinterpret_cast<const text*>(connect.data()),
                                   static_cast<sb4>(connect.size()), OCI_DEFAULT);
  if (rc == OCI_SUCCESS) OCIAttrSet(svc, OCI_HTYPE_SVCCTX, srv, 0, OCI_ATTR_SERVER, err);
  return rc;
}

sword Connection::logon(const std::string& user, const std::string& password) {
  OCIAttrSet(ses, OCI_HTYPE_SESSION, const_cast<char*>(user.data()), static_cast<ub4>(user.size()),
             OCI_ATTR_USERNAME, err);
  OCIAttrSet(ses, OCI_HTYPE_SESSION, const_cast<char*>(password.data()),
             static_cast<ub4>(password.size()), OCI_ATTR_PASSWORD, err);
  return OCISessionBegin(svc, err, ses, OCI_CRED_RDBMS, OCI_DEFAULT);
}

void Connection::open(const std::string& user, const std::string& password, const std::string& connect) {
  ASSERT_EQ(attach(connect), OCI_SUCCESS) << error();
  ASSERT_EQ(logon(user, password), OCI_SUCCESS) << error();
}

sword Connection::logoff() { return OCISessionEnd(svc, err, ses, OCI_DEFAULT); }

Statement::Statement(Connection& c) : conn(c) {
  EXPECT_EQ(OCIHandleAlloc(c.env, reinterpret_cast<void**>(&stmt), OCI_HTYPE_STMT, 0, nullptr), OCI_SUCCESS);
}

Statement::~Statement() {
  if (conn.env) OCIHandleFree(stmt, OCI_HTYPE_STMT);
}

sword Statement::prepare(const std::string& sql) {
  return OCIStmtPrepare(stmt, conn.err, reinterpret_cast<const text*>(sql.data()),
                        static_cast<ub4>(sql.size()), OCI_NTV_SYNTAX, OCI_DEFAULT);
}

sword Statement::execute(ub4 iters, ub4 mode) {
  return OCIStmtExecute(conn.svc, stmt, conn.err, iters, 0, nullptr, nullptr, mode);
}

sword Statement::run(const std::string& sql, ub4 mode) {
  const sword rc = prepare(sql);
  if (rc != OCI_SUCCESS) return rc;
  ub2 type = 0;
  OCIAttrGet(stmt, OCI_HTYPE_STMT, &type, nullptr, OCI_ATTR_STMT_TYPE, conn.err);
  return execute(type == OCI_STMT_SELECT ? 0 : 1, mode);
}

std::vector<std::vector<std::string>> Statement::fetchAll() {
  std::vector<std::vector<std::string>> rows;
  ub4 columns = 0;
  OCIAttrGet(stmt, OCI_HTYPE_STMT, &columns, nullptr, OCI_ATTR_PARAM_COUNT, conn.err);
  std::vector<std::vector<char>> buffers(columns, std::vector<char>(4001));
  std::vector<sb2> indicators(columns);
  for (ub4 i = 0; i < columns; ++i) {
    OCIDefine* def = nullptr;
    EXPECT_EQ(OCIDefineByPos(stmt, &def, conn.err, i + 1, buffers[i].data(), 4001, SQLT_STR,
                             &indicators[i], nullptr, nullptr, OCI_DEFAULT),
              OCI_SUCCESS);
  }
  for (;;) {
    const sword rc = OCIStmtFetch(stmt, conn.err, 1, OCI_FETCH_NEXT, OCI_DEFAULT);
    if (rc == OCI_NO_DATA) break;
    EXPECT_EQ(rc, OCI_SUCCESS) << conn.error();
    if (rc != OCI_SUCCESS) break;
    std::vector<std::string> row;
    for (ub4 i = 0; i < columns; ++i)
      row.push_back(indicators[i] == -1 ? "<null>" : std::string(buffers[i].data()));
    rows.push_back(row);
  }
  return rows;
}

ub2 Statement::errorOffset() {
  ub2 offset = 0;
  OCIAttrGet(stmt, OCI_HTYPE_STMT, &offset, nullptr, OCI_ATTR_PARSE_ERROR_OFFSET, conn.err);
  return offset;
}

ub4 Statement::rowCount() {
  ub4 count = 0;
  OCIAttrGet(stmt, OCI_HTYPE_STMT, &count, nullptr, OCI_ATTR_ROW_COUNT, conn.err);
  return count;
}

std::vector<std::vector<std::string>> query(Connection& c, const std::string& sql) {
  Statement s(c);
  const sword rc = s.run(sql);
  EXPECT_EQ(rc, OCI_SUCCESS) << sql << ": " << c.error();
  if (rc != OCI_SUCCESS) return {};
  return s.fetchAll();
}

std::vector<SessionRow> userSessions(const std::string& connect) {
  std::vector<SessionRow> rows;
  char path[4096];
  if (ocisim_instance_file(connect.c_str(), path, sizeof path) < 0) return rows;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path, &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return rows;
  }
  sqlite3_stmt* q = nullptr;
  sqlite3_prepare_v2(db,
                     "SELECT sid, \"serial#\", username, program, type, status, server, osuser,"
                     " machine, terminal, process FROM \"v$session\" WHERE type = 'USER' ORDER BY sid",
                     -1, &q, nullptr);
  const auto str = [q](int col) {
    const auto* t = sqlite3_column_text(q, col);
    return t ? std::string(reinterpret_cast<const char*>(t)) : std::string();
  };
  while (q && sqlite3_step(q) == SQLITE_ROW) {
    rows.push_back({sqlite3_column_int(q, 0), sqlite3_column_int(q, 1), str(2), str(3), str(4),
                    str(5), str(6), str(7), str(8), str(9), std::atol(str(10).c_str())});
  }
  sqlite3_finalize(q);
  sqlite3_close(db);
  return rows;
}

void OciSimTest::SetUp() {
  char templ[] = "/tmp/ocisim-test-XXXXXX";
  ASSERT_NE(mkdtemp(templ), nullptr);
  dir_ = templ;
  setenv("OCISIM_ORADATA", (dir_ + "/oradata").c_str(), 1);
  unsetenv("TNS_ADMIN");
  unsetenv("ORACLE_SID");
  unsetenv("OCISIM_LOCK_WAIT_MS");
  unsetenv("OCISIM_DEMO_SESSIONS");
  unsetenv("NLS_LANG");
  ocisim_clear_failures();
  ocisim_reset_counts();
}

void OciSimTest::TearDown() {
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

void OciSimTest::useTnsnames(const std::string& text) {
  const std::string admin = dir_ + "/admin";
  std::filesystem::create_directories(admin);
  std::ofstream(admin + "/tnsnames.ora", std::ios::binary) << text;
  setenv("TNS_ADMIN", admin.c_str(), 1);
}

HelperProcess::HelperProcess(const std::vector<std::string>& args)
    : HelperProcess(OCISIM_LOGON_HELPER, args) {}

HelperProcess::HelperProcess(const std::string& helper, const std::vector<std::string>& args) {
  int toChild[2], fromChild[2];
  if (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0) return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, toChild[0], 0);
  posix_spawn_file_actions_adddup2(&actions, fromChild[1], 1);
  std::vector<char*> argv;
  std::string program = helper;
  argv.push_back(program.data());
  std::vector<std::string> copies = args;
  for (std::string& a : copies) argv.push_back(a.data());
  argv.push_back(nullptr);
  if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
  posix_spawn_file_actions_destroy(&actions);
  close(toChild[0]);
  close(fromChild[1]);
  in_ = toChild[1];
  out_ = fromChild[0];
}

HelperProcess::~HelperProcess() {
  if (in_ >= 0) close(in_);
  if (out_ >= 0) close(out_);
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

std::string HelperProcess::readLine() {
  std::string line;
  char c;
  while (read(out_, &c, 1) == 1 && c != '\n') line += c;
  return line;
}

void HelperProcess::send(const std::string& line) {
  const std::string data = line + "\n";
  EXPECT_EQ(write(in_, data.data(), data.size()), static_cast<ssize_t>(data.size()));
}

int HelperProcess::wait() {
  int status = 0;
  if (waitpid(pid_, &status, 0) != pid_) return -1000;
  pid_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

void HelperProcess::killHard() { kill(pid_, SIGKILL); }

}  // namespace ocisim_test
