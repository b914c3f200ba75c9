// Stand-in client libraries for testing the loader: each exports the OCI entry
// points by name (every one fails if called) and, where configured, a client
// version. Built several times with different switches:
//   OCISIM_TESTCLIENT_VERSION=a,b,c,d,e  exports OCIClientVersion reporting a.b.c.d.e
//   OCISIM_TESTCLIENT_WITHOUT_LOB_TRIM   leaves out OCILobTrim and OCIBindArrayOfStruct
#include "o_oci.h"

#include <type_traits>

#define OCISIM_STUB(name, params)                                         \
  extern "C" __attribute__((visibility("default"))) sword name params {   \
    return OCI_ERROR;                                                     \
  }                                                                       \
  static_assert(std::is_same_v<decltype(&name), name##_t>, #name);

OCISIM_STUB(OCIInitialize, (ub4, dvoid*, dvoid* (*)(dvoid*, size_t),
                            dvoid* (*)(dvoid*, dvoid*, size_t), void (*)(dvoid*, dvoid*)))
OCISIM_STUB(OCIEnvInit, (OCIEnv**, ub4, size_t, dvoid**))
OCISIM_STUB(OCIHandleAlloc, (const dvoid*, dvoid**, ub4, size_t, dvoid**))
OCISIM_STUB(OCIServerAttach, (OCIServer*, OCIError*, const text*, sb4, ub4))
OCISIM_STUB(OCIAttrSet, (dvoid*, ub4, dvoid*, ub4, ub4, OCIError*))
OCISIM_STUB(OCISessionBegin, (OCISvcCtx*, OCIError*, OCISession*, ub4, ub4))
OCISIM_STUB(OCISessionEnd, (OCISvcCtx*, OCIError*, OCISession*, ub4))
OCISIM_STUB(OCIErrorGet, (dvoid*, ub4, text*, sb4*, text*, ub4, ub4))
OCISIM_STUB(OCIStmtPrepare, (OCIStmt*, OCIError*, const text*, ub4, ub4, ub4))
OCISIM_STUB(OCIDefineByPos, (OCIStmt*, OCIDefine**, OCIError*, ub4, dvoid*, sb4, ub2, dvoid*,
                             ub2*, ub2*, ub4))
OCISIM_STUB(OCIStmtExecute, (OCISvcCtx*, OCIStmt*, OCIError*, ub4, ub4, const OCISnapshot*,
                             OCISnapshot*, ub4))
OCISIM_STUB(OCIHandleFree, (dvoid*, ub4))
OCISIM_STUB(OCIAttrGet, (const dvoid*, ub4, dvoid*, ub4*, ub4, OCIError*))
OCISIM_STUB(OCIParamGet, (const dvoid*, ub4, OCIError*, dvoid**, ub4))
OCISIM_STUB(OCIStmtFetch, (OCIStmt*, OCIError*, ub4, ub2, ub4))
OCISIM_STUB(OCIDefineDynamic, (OCIDefine*, OCIError*, dvoid*, OCICallbackDefine))
OCISIM_STUB(OCIBindByName, (OCIStmt*, OCIBind**, OCIError*, const text*, sb4, dvoid*, sb4, ub2,
                            dvoid*, ub2*, ub2*, ub4, ub4*, ub4))
OCISIM_STUB(OCIDescriptorAlloc, (const dvoid*, dvoid**, ub4, size_t, dvoid**))
OCISIM_STUB(OCIDescriptorFree, (dvoid*, ub4))
OCISIM_STUB(OCITransStart, (OCISvcCtx*, OCIError*, uword, ub4))
OCISIM_STUB(OCITransDetach, (OCISvcCtx*, OCIError*, ub4))
OCISIM_STUB(OCITransCommit, (OCISvcCtx*, OCIError*, ub4))
OCISIM_STUB(OCITransRollback, (dvoid*, OCIError*, ub4))
OCISIM_STUB(OCITransPrepare, (OCISvcCtx*, OCIError*, ub4))
OCISIM_STUB(OCITransForget, (OCISvcCtx*, OCIError*, ub4))
OCISIM_STUB(OCILobGetLength, (OCISvcCtx*, OCIError*, OCILobLocator*, ub4*))
OCISIM_STUB(OCILobRead, (OCISvcCtx*, OCIError*, OCILobLocator*, ub4*, ub4, dvoid*, ub4, dvoid*,
                         OCICallbackLobRead, ub2, ub1))
OCISIM_STUB(OCILobWrite, (OCISvcCtx*, OCIError*, OCILobLocator*, ub4*, ub4, dvoid*, ub4, ub1,
                          dvoid*, OCICallbackLobWrite, ub2, ub1))
#ifndef OCISIM_TESTCLIENT_WITHOUT_LOB_TRIM
OCISIM_STUB(OCILobTrim, (OCISvcCtx*, OCIError*, OCILobLocator*, ub4))
OCISIM_STUB(OCIBindArrayOfStruct, (OCIBind*, OCIError*, ub4, ub4, ub4, ub4))
#endif

#ifdef OCISIM_TESTCLIENT_VERSION
namespace {
constexpr sword kVersion[] = {OCISIM_TESTCLIENT_VERSION};
static_assert(sizeof kVersion / sizeof kVersion[0] == 5, "a version has five numbers");
}  // namespace

extern "C" __attribute__((visibility("default"))) void OCIClientVersion(
    sword* major_version, sword* minor_version, sword* update_num, sword* patch_num,
    sword* port_update_num) {
  sword* out[] = {major_version, minor_version, update_num, patch_num, port_update_num};
  for (int i = 0; i < 5; ++i)
    if (out[i]) *out[i] = kVersion[i];
}
static_assert(std::is_same_v<decltype(&OCIClientVersion), OCIClientVersion_t>);
#endif
