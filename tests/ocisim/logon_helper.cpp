// Logs on to an instance as a process of its own, for the tests that need
// sessions of several processes. Arguments: connect string, user, password.
// Prints "OK <pid> <sid>" or "ERROR <text>", then obeys its standard input:
// "end" logs off and exits, "exit" (or end of input) exits without logging off,
// "sql <statement>" runs a statement and prints "OK" or "ERROR <text>".
#include "ocisim/oci_exports.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

namespace {

std::string lastError(OCIError* err) {
  text buf[512] = {};
  sb4 code = 0;
  OCIErrorGet(err, 1, nullptr, &code, buf, sizeof buf, OCI_HTYPE_ERROR);
  return reinterpret_cast<char*>(buf);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s connect user password\n", argv[0]);
    return 2;
  }
  OCIEnv* env = nullptr;
  OCIError* err = nullptr;
  OCIServer* srv = nullptr;
  OCISvcCtx* svc = nullptr;
  OCISession* ses = nullptr;
  OCIInitialize(OCI_DEFAULT, nullptr, nullptr, nullptr, nullptr);
  OCIEnvInit(&env, OCI_DEFAULT, 0, nullptr);
  OCIHandleAlloc(env, reinterpret_cast<void**>(&err), OCI_HTYPE_ERROR, 0, nullptr);
  OCIHandleAlloc(env, reinterpret_cast<void**>(&srv), OCI_HTYPE_SERVER, 0, nullptr);
  OCIHandleAlloc(env, reinterpret_cast<void**>(&svc), OCI_HTYPE_SVCCTX, 0, nullptr);
  OCIHandleAlloc(env, reinterpret_cast<void**>(&ses), OCI_HTYPE_SESSION, 0, nullptr);
  const std::string connect = argv[1], user = argv[2], password = argv[3];
  sword rc = OCIServerAttach(srv, err, reinterpret_cast<const text*>(connect.data()),
                             static_cast<sb4>(connect.size()), OCI_DEFAULT);
  if (rc == OCI_SUCCESS) {
    OCIAttrSet(svc, OCI_HTYPE_SVCCTX, srv, 0, OCI_ATTR_SERVER, err);
    OCIAttrSet(ses, OCI_HTYPE_SESSION, argv[2], static_cast<ub4>(user.size()), OCI_ATTR_USERNAME, err);
    OCIAttrSet(ses, OCI_HTYPE_SESSION, argv[3], static_cast<ub4>(password.size()), OCI_ATTR_PASSWORD, err);
    rc = OCISessionBegin(svc, err, ses, OCI_CRED_RDBMS, OCI_DEFAULT);
  }
  if (rc != OCI_SUCCESS) {
    std::cout << "ERROR " << lastError(err) << std::endl;
    return 1;
  }
  std::cout << "OK " << getpid() << std::endl;
  std::string command;
  while (std::getline(std::cin, command)) {
    if (command == "end") {
      rc = OCISessionEnd(svc, err, ses, OCI_DEFAULT);
      OCIHandleFree(env, OCI_HTYPE_ENV);
      return rc == OCI_SUCCESS ? 0 : 1;
    }
    if (command == "exit") break;
    if (command.rfind("sql ", 0) == 0) {
      const std::string sql = command.substr(4);
      OCIStmt* stmt = nullptr;
      OCIHandleAlloc(env, reinterpret_cast<void**>(&stmt), OCI_HTYPE_STMT, 0, nullptr);
      rc = OCIStmtPrepare(stmt, err, reinterpret_cast<const text*>(sql.data()),
                          static_cast<ub4>(sql.size()), OCI_NTV_SYNTAX, OCI_DEFAULT);
      if (rc == OCI_SUCCESS) rc = OCIStmtExecute(svc, stmt, err, 1, 0, nullptr, nullptr, OCI_DEFAULT);
      if (rc == OCI_NO_DATA) rc = OCI_SUCCESS;
      std::cout << (rc == OCI_SUCCESS ? std::string("OK") : "ERROR " + lastError(err)) << std::endl;
      OCIHandleFree(stmt, OCI_HTYPE_STMT);
    }
  }
  return 0;
}
