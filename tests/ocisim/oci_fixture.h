// Shared pieces of the stand-in client's tests: an isolated instance folder per
// test, a connection driven through the OCI entry points, and child processes.
#pragma once

#include "ocisim/oci_exports.h"

#include <gtest/gtest.h>
#include <sys/types.h>

#include <string>
#include <vector>

namespace ocisim_test {

// The text OCIErrorGet gives for record 1 of a handle ("" when there is none).
std::string errorText(void* handle, ub4 type = OCI_HTYPE_ERROR);

// One environment with its error, server, service-context and session handles.
struct Connection {
  Connection();
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  sword attach(const std::string& connect = "DEMO");
  sword logon(const std::string& user, const std::string& password);
  // attach + logon; fails the test unless both succeed.
  void open(const std::string& user = "scott", const std::string& password = "tiger",
            const std::string& connect = "DEMO");
  sword logoff();
  void freeEnvironment();
  std::string error() { return errorText(err); }

  OCIEnv* env = nullptr;
  OCIError* err = nullptr;
  OCIServer* srv = nullptr;
  OCISvcCtx* svc = nullptr;
  OCISession* ses = nullptr;
};

// A statement handle of a connection, with shortcuts for the common steps.
struct Statement {
  explicit Statement(Connection& c);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  sword prepare(const std::string& sql);
  sword execute(ub4 iters = 0, ub4 mode = OCI_DEFAULT);
  // prepare + execute (0 iterations for a query, else 1).
  sword run(const std::string& sql, ub4 mode = OCI_DEFAULT);
  // Defines every column as text (NULL reads "<null>") and fetches all rows.
  std::vector<std::vector<std::string>> fetchAll();
  ub2 errorOffset();
  ub4 rowCount();
  std::string error() { return conn.error(); }

  Connection& conn;
  OCIStmt* stmt = nullptr;
};

// The rows of a query run on a connection; fails the test when it does not run.
std::vector<std::vector<std::string>> query(Connection& c, const std::string& sql);

// A session row of the instance's data file.
struct SessionRow {
  long sid = 0;
  long serial = 0;
  std::string username, program, type, status, server, osuser, machine, terminal;
  long osPid = 0;
};
std::vector<SessionRow> userSessions(const std::string& connect = "DEMO");

// Every test gets a fresh data-file folder and a neutral environment.
class OciSimTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Writes a tnsnames.ora into a folder of its own and points TNS_ADMIN at it.
  void useTnsnames(const std::string& text);

  std::string dir_;
};

// A helper process that logs on and then obeys "end" (log off and exit) or
// "exit" (exit without logging off) on its standard input.
class HelperProcess {
 public:
  explicit HelperProcess(const std::vector<std::string>& args);
  // The same, run from another copy of the helper program.
  HelperProcess(const std::string& program, const std::vector<std::string>& args);
  ~HelperProcess();
  HelperProcess(const HelperProcess&) = delete;
  HelperProcess& operator=(const HelperProcess&) = delete;

  std::string readLine();
  void send(const std::string& line);
  int wait();  // exit status, or -signal
  void killHard();
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  int in_ = -1;
  int out_ = -1;
};

}  // namespace ocisim_test
