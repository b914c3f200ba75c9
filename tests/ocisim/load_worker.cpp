// A client process for the load test: logs on and off again and again while
// another process kills its sessions. Arguments: connect string, rounds,
// listings per round, pause in milliseconds after each listing.
//
// Each round logs on as MONITOR, finds its own session and prints
// "SESSION <sid> <serial>", lists the sid of every session a few times, then
// logs off. What it prints besides, one line each:
//   GOT28 <sid> <serial>  a call failed with ORA-00028; the round ends there
//                         ("GOT28 - -" when that came before the session knew
//                         its own sid)
//   LOST <sid>            a listing lacked the worker's own session
//   DUPLICATE <sid>       a listing had a sid twice
//   ERROR <text>          any other failure
//   DONE                  every round has run
#include "ocisim/oci_exports.h"

#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

namespace {

// Ends a round; carries the error of the call that failed.
struct CallFailed {
  sb4 code;
  std::string text;
};

void say(const std::string& line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

void pause(long ms) {
  timespec t{ms / 1000, (ms % 1000) * 1000000L};
  while (nanosleep(&t, &t) != 0) {
  }
}

class Round {
 public:
  Round() {
    OCIEnvInit(&env_, OCI_DEFAULT, 0, nullptr);
    OCIHandleAlloc(env_, reinterpret_cast<void**>(&err_), OCI_HTYPE_ERROR, 0, nullptr);
    OCIHandleAlloc(env_, reinterpret_cast<void**>(&srv_), OCI_HTYPE_SERVER, 0, nullptr);
    OCIHandleAlloc(env_, reinterpret_cast<void**>(&svc_), OCI_HTYPE_SVCCTX, 0, nullptr);
    OCIHandleAlloc(env_, reinterpret_cast<void**>(&ses_), OCI_HTYPE_SESSION, 0, nullptr);
  }
  // Freeing the environment frees every handle of the round.
  ~Round() { OCIHandleFree(env_, OCI_HTYPE_ENV); }
  Round(const Round&) = delete;
  Round& operator=(const Round&) = delete;

  void run(const std::string& connect, int listings, long pauseMs) {
    check(OCIServerAttach(srv_, err_, reinterpret_cast<const text*>(connect.data()),
                          static_cast<sb4>(connect.size()), OCI_DEFAULT));
    check(OCIAttrSet(svc_, OCI_HTYPE_SVCCTX, srv_, 0, OCI_ATTR_SERVER, err_));
    static char user[] = "MONITOR", password[] = "MONITOR";
    check(OCIAttrSet(ses_, OCI_HTYPE_SESSION, user, sizeof user - 1, OCI_ATTR_USERNAME, err_));
    check(OCIAttrSet(ses_, OCI_HTYPE_SESSION, password, sizeof password - 1, OCI_ATTR_PASSWORD, err_));
    check(OCISessionBegin(svc_, err_, ses_, OCI_CRED_RDBMS, OCI_DEFAULT));

    OCIStmt* stmt = nullptr;
    check(OCIHandleAlloc(env_, reinterpret_cast<void**>(&stmt), OCI_HTYPE_STMT, 0, nullptr));
    {
      int sid = 0, serial = 0;
      execute(stmt, "select sid, serial# from v$session where audsid = userenv('sessionid')");
      define(stmt, 1, &sid);
      define(stmt, 2, &serial);
      if (!fetch(stmt)) throw CallFailed{0, "no row for the own session"};
      if (fetch(stmt)) throw CallFailed{0, "more than one row for the own session"};
      sid_ = sid;
      serial_ = serial;
      say("SESSION " + std::to_string(sid_) + " " + std::to_string(serial_));
    }
    // The pause after each listing lets kills land before a listing as well as
    // before the logoff.
    for (int i = 0; i < listings; ++i) {
      int sid = 0;
      execute(stmt, "select sid from v$session");
      define(stmt, 1, &sid);
      std::set<int> seen;
      while (fetch(stmt)) {
        if (!seen.insert(sid).second) say("DUPLICATE " + std::to_string(sid));
      }
      if (!seen.count(sid_)) say("LOST " + std::to_string(sid_));
      pause(pauseMs);
    }
    check(OCISessionEnd(svc_, err_, ses_, OCI_DEFAULT));
  }

  // The session the round had learnt, for the report of a kill.
  std::string sessionText() const {
    if (sid_ == 0) return "- -";
    return std::to_string(sid_) + " " + std::to_string(serial_);
  }

 private:
  void check(sword rc) {
    if (rc == OCI_SUCCESS) return;
    text buf[512] = {};
    sb4 code = 0;
    OCIErrorGet(err_, 1, nullptr, &code, buf, sizeof buf, OCI_HTYPE_ERROR);
    throw CallFailed{code, "rc " + std::to_string(rc) + ": " + reinterpret_cast<char*>(buf)};
  }

  void execute(OCIStmt* stmt, const std::string& sql) {
    check(OCIStmtPrepare(stmt, err_, reinterpret_cast<const text*>(sql.data()),
                         static_cast<ub4>(sql.size()), OCI_NTV_SYNTAX, OCI_DEFAULT));
    check(OCIStmtExecute(svc_, stmt, err_, 0, 0, nullptr, nullptr, OCI_DEFAULT));
  }

  void define(OCIStmt* stmt, ub4 position, int* value) {
    OCIDefine* def = nullptr;
    check(OCIDefineByPos(stmt, &def, err_, position, value, sizeof *value, SQLT_INT, nullptr,
                         nullptr, nullptr, OCI_DEFAULT));
  }

  // True when a row came, false at the end of the rows.
  bool fetch(OCIStmt* stmt) {
    const sword rc = OCIStmtFetch(stmt, err_, 1, OCI_FETCH_NEXT, OCI_DEFAULT);
    if (rc == OCI_NO_DATA) return false;
    check(rc);
    return true;
  }

  OCIEnv* env_ = nullptr;
  OCIError* err_ = nullptr;
  OCIServer* srv_ = nullptr;
  OCISvcCtx* svc_ = nullptr;
  OCISession* ses_ = nullptr;
  int sid_ = 0, serial_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s connect rounds listings pause-ms\n", argv[0]);
    return 2;
  }
  const std::string connect = argv[1];
  const int rounds = std::atoi(argv[2]);
  const int listings = std::atoi(argv[3]);
  const long pauseMs = std::atol(argv[4]);
  OCIInitialize(OCI_DEFAULT, nullptr, nullptr, nullptr, nullptr);
  for (int r = 0; r < rounds; ++r) {
    Round round;
    try {
      round.run(connect, listings, pauseMs);
    } catch (const CallFailed& failed) {
      if (failed.code == 28)
        say("GOT28 " + round.sessionText());
      else
        say("ERROR " + failed.text);
    }
  }
  say("DONE");
  return 0;
}
