// The entry points of the environment, its handles and descriptors, the error
// handle's messages and the client's version.
#include "ocisim/entry_points/call.h"

#include "ocisim/oci_exports.h"

#include <cstdlib>
#include <cstring>
#include <type_traits>

namespace ocisim {
namespace {

void giveUserMemory(Handle* h, size_t xtramem_sz, dvoid** usrmempp) {
  if (!usrmempp) return;
  *usrmempp = nullptr;
  if (xtramem_sz == 0) return;
  h->userMemory.assign(xtramem_sz, 0);
  *usrmempp = h->userMemory.data();
}

}  // namespace
}  // namespace ocisim

using namespace ocisim;

OCISIM_EXPORT sword OCIInitialize(ub4 mode, dvoid* ctxp, dvoid* (*malocfp)(dvoid*, size_t),
                                  dvoid* (*ralocfp)(dvoid*, dvoid*, size_t),
                                  void (*mfreefp)(dvoid*, dvoid*)) {
  // Nothing process-wide needs preparing. The memory callbacks are accepted but
  // not used: the client keeps its own memory.
  (void)mode, (void)ctxp, (void)malocfp, (void)ralocfp, (void)mfreefp;
  return run(EntryPoint::OCIInitialize, [&](Call&) -> sword {
    checkArmed(EntryPoint::OCIInitialize);
    return OCI_SUCCESS;
  });
}

OCISIM_EXPORT sword OCIEnvInit(OCIEnv** envp, ub4 mode, size_t xtramem_sz, dvoid** usrmempp) {
  return run(EntryPoint::OCIEnvInit, [&](Call& call) -> sword {
    if (!envp) return OCI_INVALID_HANDLE;
    *envp = nullptr;
    Env* env = Registry::instance().newEnv(mode);
    *envp = reinterpret_cast<OCIEnv*>(static_cast<Handle*>(env));
    // From here on failures are read back from the environment itself.
    call.record = &env->error;
    giveUserMemory(env, xtramem_sz, usrmempp);
    // The client's character set is read as the environment is made. A set
    // without data fails it; the handle is still handed out, so that the
    // caller can read why and free it.
    const std::optional<Charset> charset = charsetOfNlsLang(std::getenv("NLS_LANG"));
    if (!charset) throw OraError(kOraNlsData);
    env->charset = *charset;
    checkArmed(EntryPoint::OCIEnvInit);
    return OCI_SUCCESS;
  });
}

OCISIM_EXPORT sword OCIHandleAlloc(const dvoid* parenth, dvoid** hndlpp, ub4 type,
                                   size_t xtramem_sz, dvoid** usrmempp) {
  return run(EntryPoint::OCIHandleAlloc, [&](Call& call) -> sword {
    Env* env = need<Env>(parenth, OCI_HTYPE_ENV, 1);
    call.record = &env->error;
    if (!hndlpp) throw OraError(kOraBadArgument, "2");
    *hndlpp = nullptr;
    checkArmed(EntryPoint::OCIHandleAlloc);
    Registry& reg = Registry::instance();
    Handle* h = nullptr;
    switch (type) {
      case OCI_HTYPE_ERROR: h = reg.newChild<Error>(env, env); break;
      case OCI_HTYPE_SERVER: h = reg.newChild<Server>(env, env); break;
      case OCI_HTYPE_SVCCTX: h = reg.newChild<SvcCtx>(env, env); break;
      case OCI_HTYPE_SESSION: h = reg.newChild<Session>(env, env); break;
      case OCI_HTYPE_STMT: h = reg.newChild<Stmt>(env, env); break;
      case OCI_HTYPE_TRANS:
      case OCI_HTYPE_DESCRIBE: h = reg.newChild<Plain>(env, type, env); break;
      default: throw OraError(kOraBadArgument, "3");
    }
    giveUserMemory(h, xtramem_sz, usrmempp);
    *hndlpp = h;
    return OCI_SUCCESS;
  });
}

OCISIM_EXPORT sword OCIHandleFree(dvoid* hndlp, ub4 type) {
  return run(EntryPoint::OCIHandleFree, [&](Call& call) -> sword {
    switch (type) {
      case OCI_HTYPE_ENV: case OCI_HTYPE_ERROR: case OCI_HTYPE_SERVER: case OCI_HTYPE_SVCCTX:
      case OCI_HTYPE_SESSION: case OCI_HTYPE_STMT: case OCI_HTYPE_TRANS: case OCI_HTYPE_DESCRIBE:
        break;
      default: return OCI_INVALID_HANDLE;
    }
    Handle* h = need<Handle>(hndlp, type, 1);
    Env* env = type == OCI_HTYPE_ENV ? static_cast<Env*>(h) : h->env;
    call.record = &env->error;
    checkArmed(EntryPoint::OCIHandleFree);
    Registry::instance().free(h);
    return OCI_SUCCESS;
  });
}

OCISIM_EXPORT sword OCIErrorGet(dvoid* hndlp, ub4 recordno, text* sqlstate, sb4* errcodep,
                                text* bufp, ub4 bufsiz, ub4 type) {
  (void)sqlstate;  // not maintained, as in the published client
  return run(EntryPoint::OCIErrorGet, [&](Call&) -> sword {
    const ErrorRecord* record = nullptr;
    Env* env = nullptr;
    if (type == OCI_HTYPE_ERROR) {
      Error* err = need<Error>(hndlp, OCI_HTYPE_ERROR, 1);
      record = &err->record;
      env = err->env;
    } else if (type == OCI_HTYPE_ENV) {
      env = need<Env>(hndlp, OCI_HTYPE_ENV, 1);
      record = &env->error;
    } else {
      return OCI_INVALID_HANDLE;
    }
    checkArmed(EntryPoint::OCIErrorGet);
    if (recordno != 1 || record->empty()) return OCI_NO_DATA;
    if (errcodep) *errcodep = record->code;
    if (bufp && bufsiz > 0) {
      // The message may quote the statement's names and values.
      const std::string message = toClient(env->charset, record->text);
      // Whole characters only: a cut one would read as another.
      const size_t n = clientPrefix(env->charset, message, bufsiz - 1);
      std::memcpy(bufp, message.data(), n);
      bufp[n] = '\0';
    }
    return OCI_SUCCESS;
  });
}

OCISIM_EXPORT sword OCIDescriptorAlloc(const dvoid* parenth, dvoid** descpp, ub4 type,
                                       size_t xtramem_sz, dvoid** usrmempp) {
  return run(EntryPoint::OCIDescriptorAlloc, [&](Call& call) -> sword {
    Env* env = need<Env>(parenth, OCI_HTYPE_ENV, 1);
    call.record = &env->error;
    if (!descpp) throw OraError(kOraBadArgument, "2");
    *descpp = nullptr;
    checkArmed(EntryPoint::OCIDescriptorAlloc);
    Registry& reg = Registry::instance();
    Handle* h = nullptr;
    switch (type) {
      case OCI_DTYPE_LOB: case OCI_DTYPE_FILE: h = reg.newChild<LobLocator>(env, type, env); break;
      case OCI_DTYPE_ROWID: h = reg.newChild<RowidDesc>(env, env); break;
      case OCI_DTYPE_SNAP: h = reg.newChild<Plain>(env, type, env); break;
      default: throw OraError(kOraBadArgument, "3");
    }
    giveUserMemory(h, xtramem_sz, usrmempp);
    *descpp = h;
    return OCI_SUCCESS;
  });
}

OCISIM_EXPORT sword OCIDescriptorFree(dvoid* descp, ub4 type) {
  return run(EntryPoint::OCIDescriptorFree, [&](Call& call) -> sword {
    switch (type) {
      case OCI_DTYPE_LOB: case OCI_DTYPE_FILE: case OCI_DTYPE_ROWID: case OCI_DTYPE_SNAP:
      case OCI_DTYPE_PARAM: break;
      default: return OCI_INVALID_HANDLE;
    }
    Handle* h = need<Handle>(descp, type, 1);
    call.record = &h->env->error;
    checkArmed(EntryPoint::OCIDescriptorFree);
    Registry::instance().free(h);
    return OCI_SUCCESS;
  });
}

OCISIM_EXPORT void OCIClientVersion(sword* major_version, sword* minor_version, sword* update_num,
                                    sword* patch_num, sword* port_update_num) {
  if (major_version) *major_version = 8;
  if (minor_version) *minor_version = 1;
  if (update_num) *update_num = 7;
  if (patch_num) *patch_num = 0;
  if (port_update_num) *port_update_num = 0;
}

// Each exported entry point has exactly its published type.
#define OCISIM_CHECK_TYPE(name) \
  static_assert(std::is_same_v<decltype(&name), name##_t>, #name " has not its published type");
O_OCI_ENTRY_POINTS(OCISIM_CHECK_TYPE)
OCISIM_CHECK_TYPE(OCIClientVersion)
#undef OCISIM_CHECK_TYPE
