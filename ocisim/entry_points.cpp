// The OCI entry points. Each one checks its handles against the registry before
// touching them, runs under the registry's lock, and never lets an exception
// out: failures become OCI_ERROR with an Oracle error on the error handle (or
// the environment, for calls without one).
#include "o_oci.h"
#include "ocisim/call_log.h"
#include "ocisim/handles.h"
#include "ocisim/oci_exports.h"
#include "ocisim/ora_errors.h"
#include "ocisim/session_db.h"
#include "ocisim/statement.h"
#include "ocisim/tnsnames.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <type_traits>

#define OCISIM_EXPORT extern "C" __attribute__((visibility("default")))

namespace ocisim {
namespace {

// Raised when an argument is not a live handle of the expected type.
struct InvalidHandle {
  int argument;  // 1-based position in the entry point's argument list
};

// The state of one entry-point call: where its failure is reported.
struct Call {
  ErrorRecord* record = nullptr;

  sword fail(int code, std::string_view arg = {}, std::string_view detail = {}) {
    if (record) record->set(code, arg, detail);
    return OCI_ERROR;
  }
};

// A status a test armed for a call: the call returns it and does nothing else.
struct ArmedStatus {
  sword status;
};

constexpr size_t kMaxAttributeText = 4096;

template <class Body>
sword run(EntryPoint entry, Body&& body) noexcept {
  Call call;
  try {
    std::lock_guard lock(Registry::instance().mutex());
    countCall(entry);
    try {
      return body(call);
    } catch (const InvalidHandle& bad) {
      // Real clients leave no diagnostics here; a message naming the argument
      // serves the caller better than an empty or stale one.
      if (call.record) call.record->set(kOraBadArgument, std::to_string(bad.argument));
      return OCI_INVALID_HANDLE;
    } catch (const ArmedStatus& armed) {
      return armed.status;
    } catch (const OraError& e) {
      return call.fail(e.code, e.arg, e.detail);
    } catch (const std::bad_alloc&) {
      return call.fail(kOraNoMemory);
    } catch (const std::exception& e) {
      return call.fail(kOraInternal, e.what());
    } catch (...) {
      return call.fail(kOraInternal, "unknown exception");
    }
  } catch (...) {
    // Taking the lock or recording the failure itself failed.
    return OCI_ERROR;
  }
}

template <class T>
T* need(const void* p, ub4 type, int argument) {
  T* h = Registry::instance().find<T>(p, type);
  if (!h) throw InvalidHandle{argument};
  return h;
}

// Validates the error handle and makes it the place where failures go.
Error* useErrorHandle(Call& call, OCIError* errhp, int argument) {
  Error* err = need<Error>(errhp, OCI_HTYPE_ERROR, argument);
  call.record = &err->record;
  return err;
}

// Fails the call, or ends it with a plain status, when a test armed one for
// this entry point.
void checkArmed(EntryPoint entry) {
  if (const int code = takeFailure(entry)) throw OraError(code);
  if (const int status = takeStatus(entry)) throw ArmedStatus{status};
}

void giveUserMemory(Handle* h, size_t xtramem_sz, dvoid** usrmempp) {
  if (!usrmempp) return;
  *usrmempp = nullptr;
  if (xtramem_sz == 0) return;
  h->userMemory.assign(xtramem_sz, 0);
  *usrmempp = h->userMemory.data();
}

// Entry points that are not carried out by this client yet.
sword unimplemented(Call&) { throw OraError(kOraUnimplemented); }

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

OCISIM_EXPORT sword OCIServerAttach(OCIServer* srvhp, OCIError* errhp, const text* dblink,
                                    sb4 dblink_len, ub4 mode) {
  (void)mode;
  return run(EntryPoint::OCIServerAttach, [&](Call& call) -> sword {
    useErrorHandle(call, errhp, 2);
    Server* server = need<Server>(srvhp, OCI_HTYPE_SERVER, 1);
    checkArmed(EntryPoint::OCIServerAttach);
    if (dblink_len < 0 || (dblink_len > 0 && !dblink)) throw OraError(kOraBadArgument, "4");
    if (server->instance) throw OraError(kOraAlreadyAttached);
    const std::string connect = toDatabase(
        server->env->charset,
        std::string_view(reinterpret_cast<const char*>(dblink), static_cast<size_t>(dblink_len)));
    const Resolution where = resolveConnectString(connect);
    if (where.oraCode) throw OraError(where.oraCode);
    server->instance = Instance::open(where.sid);
    return OCI_SUCCESS;
  });
}

OCISIM_EXPORT sword OCIAttrSet(dvoid* trgthndlp, ub4 trghndltyp, dvoid* attributep, ub4 size,
                               ub4 attrtype, OCIError* errhp) {
  return run(EntryPoint::OCIAttrSet, [&](Call& call) -> sword {
    useErrorHandle(call, errhp, 6);
    Handle* target = need<Handle>(trgthndlp, trghndltyp, 1);
    checkArmed(EntryPoint::OCIAttrSet);
    Registry& reg = Registry::instance();
    switch (trghndltyp) {
      case OCI_HTYPE_SVCCTX: {
        auto* svc = static_cast<SvcCtx*>(target);
        if (attrtype == OCI_ATTR_SERVER) {
          svc->server = attributep ? reg.find<Server>(attributep, OCI_HTYPE_SERVER) : nullptr;
          if (attributep && !svc->server) throw InvalidHandle{3};
          return OCI_SUCCESS;
        }
        if (attrtype == OCI_ATTR_SESSION) {
          svc->session = attributep ? reg.find<Session>(attributep, OCI_HTYPE_SESSION) : nullptr;
          if (attributep && !svc->session) throw InvalidHandle{3};
          return OCI_SUCCESS;
        }
        break;
      }
      case OCI_HTYPE_SESSION: {
        auto* session = static_cast<Session*>(target);
        if (attrtype != OCI_ATTR_USERNAME && attrtype != OCI_ATTR_PASSWORD) break;
        if (size > 0 && !attributep) throw OraError(kOraBadArgument, "3");
        if (size > kMaxAttributeText) throw OraError(kOraBadAttributeValue);
        const std::string_view value(static_cast<const char*>(attributep), size);
        if (attrtype == OCI_ATTR_USERNAME) {
          session->username.assign(value);
        } else {
          session->wipePassword();
          session->password.assign(value);
        }
        return OCI_SUCCESS;
      }
      case OCI_HTYPE_STMT: {
        auto* stmt = static_cast<Stmt*>(target);
        if (attrtype != OCI_ATTR_PREFETCH_ROWS && attrtype != OCI_ATTR_PREFETCH_MEMORY) break;
        if (!attributep) throw OraError(kOraBadArgument, "3");
        ub4 value = 0;
        std::memcpy(&value, attributep, sizeof value);
        (attrtype == OCI_ATTR_PREFETCH_ROWS ? stmt->prefetchRows : stmt->prefetchMemory) = value;
        return OCI_SUCCESS;
      }
      default: break;
    }
    throw OraError(kOraBadAttribute);
  });
}

OCISIM_EXPORT sword OCIAttrGet(const dvoid* trgthndlp, ub4 trghndltyp, dvoid* attributep,
                               ub4* sizep, ub4 attrtype, OCIError* errhp) {
  return run(EntryPoint::OCIAttrGet, [&](Call& call) -> sword {
    useErrorHandle(call, errhp, 6);
    Handle* target = need<Handle>(trgthndlp, trghndltyp, 1);
    checkArmed(EntryPoint::OCIAttrGet);
    if (!attributep) throw OraError(kOraBadArgument, "3");
    Registry& reg = Registry::instance();
    // Writes a fixed-size attribute value and its size.
    const auto put = [&](auto value) -> sword {
      std::memcpy(attributep, &value, sizeof value);
      if (sizep) *sizep = sizeof value;
      return OCI_SUCCESS;
    };
    switch (trghndltyp) {
      case OCI_HTYPE_SVCCTX: {
        auto* svc = static_cast<SvcCtx*>(target);
        if (attrtype == OCI_ATTR_SERVER) {
          *static_cast<void**>(attributep) = svc->server;
          return OCI_SUCCESS;
        }
        if (attrtype == OCI_ATTR_SESSION) {
          *static_cast<void**>(attributep) = svc->session;
          return OCI_SUCCESS;
        }
        break;
      }
      case OCI_HTYPE_SESSION: {
        // The user name can be read back; the password is write-only.
        auto* session = static_cast<Session*>(target);
        if (attrtype != OCI_ATTR_USERNAME) break;
        *static_cast<const text**>(attributep) =
            reinterpret_cast<const text*>(session->username.c_str());
        if (sizep) *sizep = static_cast<ub4>(session->username.size());
        return OCI_SUCCESS;
      }
      case OCI_HTYPE_STMT: {
        auto* stmt = static_cast<Stmt*>(target);
        if (attrtype == OCI_ATTR_PREFETCH_ROWS || attrtype == OCI_ATTR_PREFETCH_MEMORY) {
          const ub4 value =
              attrtype == OCI_ATTR_PREFETCH_ROWS ? stmt->prefetchRows : stmt->prefetchMemory;
          return put(value);
        }
        if (attrtype == OCI_ATTR_ROWID) {
          // The descriptor itself is passed and filled.
          auto* rowid = reg.find<RowidDesc>(attributep, OCI_DTYPE_ROWID);
          if (!rowid) throw OraError(kOraBadArgument, "3");
          if (!stmt->executed) throw OraError(kOraStmtNotExecuted);
          rowid->rowid = stmt->lastRowid;
          return OCI_SUCCESS;
        }
        if (attrtype == OCI_ATTR_PARSE_ERROR_OFFSET) return put(stmt->parseErrorOffset);
        // Everything else a statement tells comes from preparing it.
        if (!stmt->prepared) throw OraError(kOraStmtNotPrepared);
        if (attrtype == OCI_ATTR_STMT_TYPE) return put(stmt->statementType);
        if (attrtype == OCI_ATTR_ROW_COUNT) return put(stmt->rowCount);
        if (attrtype == OCI_ATTR_PARAM_COUNT) return put(static_cast<ub4>(stmt->columns.size()));
        break;
      }
      case OCI_DTYPE_PARAM: {
        const ColumnDesc& c = static_cast<Param*>(target)->column;
        switch (attrtype) {
          case OCI_ATTR_DATA_TYPE: return put(c.type);
          case OCI_ATTR_DATA_SIZE: return put(c.type == kTypeDate ? dateDescribeSize() : c.size);
          case OCI_ATTR_PRECISION: return put(c.precision);
          case OCI_ATTR_SCALE: return put(c.scale);
          case OCI_ATTR_IS_NULL: return put(c.nullable);
          case OCI_ATTR_NAME: {
            const std::string& name = static_cast<Param*>(target)->clientName;
            *static_cast<const text**>(attributep) = reinterpret_cast<const text*>(name.c_str());
            if (sizep) *sizep = static_cast<ub4>(name.size());
            return OCI_SUCCESS;
          }
          default: break;
        }
        break;
      }
      case OCI_DTYPE_LOB:
      case OCI_DTYPE_FILE: {
        auto* lob = static_cast<LobLocator*>(target);
        if (attrtype != OCI_ATTR_LOBEMPTY) break;
        return put(static_cast<ub4>(lob->initialized && lob->data.empty() ? 1 : 0));
      }
      default: break;
    }
    throw OraError(kOraBadAttribute);
  });
}

OCISIM_EXPORT sword OCISessionBegin(OCISvcCtx* svchp, OCIError* errhp, OCISession* usrhp,
                                    ub4 credt, ub4 mode) {
  (void)mode;
  return run(EntryPoint::OCISessionBegin, [&](Call& call) -> sword {
    useErrorHandle(call, errhp, 2);
    auto* svc = need<SvcCtx>(svchp, OCI_HTYPE_SVCCTX, 1);
    auto* session = need<Session>(usrhp, OCI_HTYPE_SESSION, 3);
    // The handle forgets the password on the way out, whatever the outcome:
    // a session that began needs it no more, and a refused one is set anew.
    struct Forget {
      Session* session;
      ~Forget() { session->wipePassword(); }
    } forget{session};
    checkArmed(EntryPoint::OCISessionBegin);
    if (!svc->server || !svc->server->instance) throw OraError(kOraNeedAttach);
    if (session->open()) throw OraError(kOraAlreadyAuthenticated);
    // Operating-system authentication is not offered: no user is identified externally.
    if (credt != OCI_CRED_RDBMS) throw OraError(kOraInvalidLogon);
    Instance& instance = *svc->server->instance;
    // The credentials as the database holds them; the converted password is
    // wiped like the one it came from.
    const Charset cs = session->env->charset;
    std::string password = toDatabase(cs, session->password);
    struct Wipe {
      std::string& text;
      ~Wipe() {
        if (!text.empty()) explicit_bzero(text.data(), text.size());
      }
    } wipe{password};
    session->logon = instance.beginSession(toDatabase(cs, session->username), password);
    try {
      session->db = std::make_shared<SessionDb>(instance.sid(), session->logon,
                                                instance.rightsOf(session->logon.username));
    } catch (...) {
      instance.endSession(session->logon);
      throw;
    }
    session->server = svc->server;
    svc->session = session;
    return OCI_SUCCESS;
  });
}

OCISIM_EXPORT sword OCISessionEnd(OCISvcCtx* svchp, OCIError* errhp, OCISession* usrhp,
                                  ub4 mode) {
  (void)mode;
  return run(EntryPoint::OCISessionEnd, [&](Call& call) -> sword {
    useErrorHandle(call, errhp, 2);
    auto* svc = need<SvcCtx>(svchp, OCI_HTYPE_SVCCTX, 1);
    // Without a session handle, the one on the service context is ended.
    Session* session =
        usrhp ? need<Session>(usrhp, OCI_HTYPE_SESSION, 3) : svc->session;
    checkArmed(EntryPoint::OCISessionEnd);
    if (!session) throw OraError(kOraSvcNotInitialized);
    if (!session->open()) throw OraError(kOraNotLoggedOn);
    // A session killed since its last call learns it here; it is logged off all the same.
    if (!Registry::instance().closeSession(session, true)) throw OraError(kOraSessionKilled);
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

OCISIM_EXPORT sword OCIStmtPrepare(OCIStmt* stmtp, OCIError* errhp, const text* stmt,
                                   ub4 stmt_len, ub4 language, ub4 mode) {
  (void)language, (void)mode;  // every syntax is the server's own (native)
  return run(EntryPoint::OCIStmtPrepare, [&](Call& call) -> sword {
    useErrorHandle(call, errhp, 2);
    Stmt* st = need<Stmt>(stmtp, OCI_HTYPE_STMT, 1);
    checkArmed(EntryPoint::OCIStmtPrepare);
    if (!stmt && stmt_len > 0) throw OraError(kOraBadArgument, "3");
    prepareStatement(*st, toDatabase(st->env->charset, std::string_view(reinterpret_cast<const char*>(stmt),
                                                                         stmt ? stmt_len : 0)));
    return OCI_SUCCESS;
  });
}

OCISIM_EXPORT sword OCIDefineByPos(OCIStmt* stmtp, OCIDefine** defnp, OCIError* errhp,
                                   ub4 position, dvoid* valuep, sb4 value_sz, ub2 dty,
                                   dvoid* indp, ub2* rlenp, ub2* rcodep, ub4 mode) {
  return run(EntryPoint::OCIDefineByPos, [&](Call& call) -> sword {
    useErrorHandle(call, errhp, 3);
    Stmt* st = need<Stmt>(stmtp, OCI_HTYPE_STMT, 1);
    checkArmed(EntryPoint::OCIDefineByPos);
    if (!defnp) throw OraError(kOraBadArgument, "2");
    if (!st->prepared) throw OraError(kOraStmtNotPrepared);
    if (position == 0 || position > 1000) throw OraError(kOraBadArgument, "4");
    if (value_sz < 0) throw OraError(kOraBadArgument, "6");
    switch (dty) {
      case SQLT_CHR: case SQLT_INT: case SQLT_FLT: case SQLT_STR: case SQLT_LNG: case SQLT_VCS:
      case SQLT_DAT: case SQLT_VBI: case SQLT_BIN: case SQLT_LBI: case SQLT_UIN: case SQLT_AFC:
      case SQLT_AVC: case SQLT_CLOB: case SQLT_BLOB: case SQLT_BFILEE: case SQLT_CFILEE: break;
      default: throw OraError(kOraBadDataType, std::to_string(dty));
    }
    // One define per position: defining a position again (as a caller that gives
    // each row buffers of its own does) changes the define in place.
    if (st->defines.size() < position) st->defines.resize(position, nullptr);
    Define*& d = st->defines[position - 1];
    if (!d) {
      d = Registry::instance().newChild<Define>(st->env, st->env);
      d->owner = st;
    }
    d->position = position;
    d->slot = ExternalSlot{valuep, value_sz, dty, static_cast<sb2*>(indp), rlenp, rcodep};
    d->mode = mode;
    d->callback = nullptr;
    d->callbackContext = nullptr;
    *defnp = reinterpret_cast<OCIDefine*>(static_cast<Handle*>(d));
    return OCI_SUCCESS;
  });
}

OCISIM_EXPORT sword OCIStmtExecute(OCISvcCtx* svchp, OCIStmt* stmtp, OCIError* errhp, ub4 iters,
                                   ub4 rowoff, const OCISnapshot* snap_in, OCISnapshot* snap_out,
                                   ub4 mode) {
  (void)snap_in, (void)snap_out;  // every statement reads the latest committed data
  return run(EntryPoint::OCIStmtExecute, [&](Call& call) -> sword {
    Error* err = useErrorHandle(call, errhp, 3);
    auto* svc = need<SvcCtx>(svchp, OCI_HTYPE_SVCCTX, 1);
    Stmt* st = need<Stmt>(stmtp, OCI_HTYPE_STMT, 2);
    checkArmed(EntryPoint::OCIStmtExecute);
    if (rowoff != 0) throw OraError(kOraUnimplemented);
    if (!st->prepared) throw OraError(kOraStmtNotPrepared);
    requireLiveSession(svc->session);
    return executeStatement(*st, *svc->session, iters, mode, err->record);
  });
}

OCISIM_EXPORT sword OCIParamGet(const dvoid* hndlp, ub4 htype, OCIError* errhp, dvoid** parmdpp,
                                ub4 pos) {
  return run(EntryPoint::OCIParamGet, [&](Call& call) -> sword {
    useErrorHandle(call, errhp, 3);
    Handle* h = need<Handle>(hndlp, htype, 1);
    if (parmdpp) *parmdpp = nullptr;
    checkArmed(EntryPoint::OCIParamGet);
    if (!parmdpp) throw OraError(kOraBadArgument, "4");
    if (htype != OCI_HTYPE_STMT) throw OraError(kOraUnimplemented);
    auto* st = static_cast<Stmt*>(h);
    if (!st->prepared) throw OraError(kOraStmtNotPrepared);
    // Positions beyond the select list have no descriptor.
    if (pos == 0 || pos > st->columns.size()) throw OraError(kOraInvalidPosition);
    if (st->params.size() < st->columns.size()) st->params.resize(st->columns.size(), nullptr);
    Param*& param = st->params[pos - 1];
    if (!param) {
      param = Registry::instance().newChild<Param>(st->env, st->env, st->columns[pos - 1]);
      param->owner = st;
    } else {
      param->column = st->columns[pos - 1];
    }
    param->clientName = toClient(st->env->charset, param->column.name);
    *parmdpp = static_cast<Handle*>(param);
    return OCI_SUCCESS;
  });
}

OCISIM_EXPORT sword OCIStmtFetch(OCIStmt* stmtp, OCIError* errhp, ub4 nrows, ub2 orientation,
                                 ub4 mode) {
  (void)mode;
  return run(EntryPoint::OCIStmtFetch, [&](Call& call) -> sword {
    Error* err = useErrorHandle(call, errhp, 2);
    Stmt* st = need<Stmt>(stmtp, OCI_HTYPE_STMT, 1);
    checkArmed(EntryPoint::OCIStmtFetch);
    if (orientation != OCI_FETCH_NEXT && orientation != OCI_DEFAULT) throw OraError(kOraUnimplemented);
    if (st->executed) {
      if (!st->session) throw OraError(kOraNotLoggedOn);
      requireLiveSession(st->session);
    }
    return fetchRows(*st, nrows, err->record);
  });
}

OCISIM_EXPORT sword OCIDefineDynamic(OCIDefine* defnp, OCIError* errhp, dvoid* octxp,
                                     OCICallbackDefine ocbfp) {
  return run(EntryPoint::OCIDefineDynamic, [&](Call& call) -> sword {
    useErrorHandle(call, errhp, 2);
    auto* d = need<Define>(defnp, OCI_HTYPE_DEFINE, 1);
    checkArmed(EntryPoint::OCIDefineDynamic);
    if (!(d->mode & OCI_DYNAMIC_FETCH)) throw OraError(kOraBadArgument, "1");
    if (!ocbfp) throw OraError(kOraBadArgument, "4");
    d->callback = ocbfp;
    d->callbackContext = octxp;
    return OCI_SUCCESS;
  });
}

OCISIM_EXPORT sword OCIBindByName(OCIStmt* stmtp, OCIBind** bindp, OCIError* errhp,
                                  const text* placeholder, sb4 placeh_len, dvoid* valuep,
                                  sb4 value_sz, ub2 dty, dvoid* indp, ub2* alenp, ub2* rcodep,
                                  ub4 maxarr_len, ub4* curelep, ub4 mode) {
  (void)mode;
  return run(EntryPoint::OCIBindByName, [&](Call& call) -> sword {
    useErrorHandle(call, errhp, 3);
    Stmt* st = need<Stmt>(stmtp, OCI_HTYPE_STMT, 1);
    checkArmed(EntryPoint::OCIBindByName);
    if (!bindp) throw OraError(kOraBadArgument, "2");
    if (!st->prepared) throw OraError(kOraStmtNotPrepared);
    if (!placeholder || placeh_len <= 0) throw OraError(kOraBadArgument, "4");
    if (value_sz < 0) throw OraError(kOraBadArgument, "7");
    std::string_view name(reinterpret_cast<const char*>(placeholder), static_cast<size_t>(placeh_len));
    if (!name.empty() && name.front() == ':') name.remove_prefix(1);
    const std::string upperName = upperAscii(name);
    if (std::find(st->placeholders.begin(), st->placeholders.end(), upperName) == st->placeholders.end())
      throw OraError(kOraBadBindName);
    switch (dty) {
      case SQLT_CHR: case SQLT_INT: case SQLT_FLT: case SQLT_STR: case SQLT_LNG: case SQLT_VCS:
      case SQLT_DAT: case SQLT_VBI: case SQLT_BIN: case SQLT_LBI: case SQLT_UIN: case SQLT_AFC:
      case SQLT_AVC: case SQLT_CLOB: case SQLT_BLOB: case SQLT_BFILEE: case SQLT_CFILEE: break;
      default: throw OraError(kOraBadDataType, std::to_string(dty));
    }
    // Binding a name again replaces its earlier bind.
    Bind* b = nullptr;
    for (Bind* existing : st->binds)
      if (existing && existing->name == upperName) b = existing;
    if (!b) {
      b = Registry::instance().newChild<Bind>(st->env, st->env);
      b->owner = st;
      st->binds.push_back(b);
    }
    b->name = upperName;
    b->slot = ExternalSlot{valuep, value_sz, dty, static_cast<sb2*>(indp), nullptr, rcodep};
    b->actualLengths = alenp;
    b->maxElements = maxarr_len;
    b->currentElements = curelep;
    b->skipsSet = false;
    b->valueSkip = 0;
    b->indicatorSkip = sizeof(sb2);
    b->lengthSkip = sizeof(ub2);
    b->returnCodeSkip = sizeof(ub2);
    *bindp = reinterpret_cast<OCIBind*>(static_cast<Handle*>(b));
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

namespace {

// The live session of a service context, for calls that work in it.
Session& liveSession(OCISvcCtx* svchp, int argument) {
  auto* svc = need<SvcCtx>(svchp, OCI_HTYPE_SVCCTX, argument);
  requireLiveSession(svc->session);
  return *svc->session;
}

}  // namespace

OCISIM_EXPORT sword OCITransCommit(OCISvcCtx* svchp, OCIError* errhp, ub4 flags) {
  (void)flags;
  return run(EntryPoint::OCITransCommit, [&](Call& call) -> sword {
    useErrorHandle(call, errhp, 2);
    need<SvcCtx>(svchp, OCI_HTYPE_SVCCTX, 1);
    checkArmed(EntryPoint::OCITransCommit);
    liveSession(svchp, 1).db->commit();
    return OCI_SUCCESS;
  });
}

OCISIM_EXPORT sword OCITransRollback(dvoid* svchp, OCIError* errhp, ub4 flags) {
  (void)flags;
  return run(EntryPoint::OCITransRollback, [&](Call& call) -> sword {
    useErrorHandle(call, errhp, 2);
    need<SvcCtx>(svchp, OCI_HTYPE_SVCCTX, 1);
    checkArmed(EntryPoint::OCITransRollback);
    liveSession(static_cast<OCISvcCtx*>(svchp), 1).db->rollback();
    return OCI_SUCCESS;
  });
}

// Global (distributed) transaction calls: the service context must be live;
// the simulated server does not offer them.
#define OCISIM_TRANS_CALL(name, svcType, ...)                              \
  OCISIM_EXPORT sword name(svcType svchp, OCIError* errhp, __VA_ARGS__) {  \
    return run(EntryPoint::name, [&](Call& call) -> sword {                \
      useErrorHandle(call, errhp, 2);                                      \
      need<SvcCtx>(svchp, OCI_HTYPE_SVCCTX, 1);                            \
      checkArmed(EntryPoint::name);                                        \
      return unimplemented(call);                                          \
    });                                                                    \
  }

OCISIM_TRANS_CALL(OCITransStart, OCISvcCtx*, uword, ub4)
OCISIM_TRANS_CALL(OCITransDetach, OCISvcCtx*, ub4)
OCISIM_TRANS_CALL(OCITransPrepare, OCISvcCtx*, ub4)
OCISIM_TRANS_CALL(OCITransForget, OCISvcCtx*, ub4)
#undef OCISIM_TRANS_CALL

namespace {

// A LOB call: service context, error handle and a live LOB or file locator.
template <class Body>
sword lobCall(EntryPoint entry, OCISvcCtx* svchp, OCIError* errhp, OCILobLocator* locp, Body&& body) {
  return run(entry, [&](Call& call) -> sword {
    useErrorHandle(call, errhp, 2);
    need<SvcCtx>(svchp, OCI_HTYPE_SVCCTX, 1);
    Registry& reg = Registry::instance();
    auto* lob = reg.find<LobLocator>(locp, OCI_DTYPE_LOB);
    if (!lob) lob = reg.find<LobLocator>(locp, OCI_DTYPE_FILE);
    if (!lob) throw InvalidHandle{3};
    checkArmed(entry);
    return body(liveSession(svchp, 1), *lob);
  });
}

}  // namespace

OCISIM_EXPORT sword OCILobGetLength(OCISvcCtx* svchp, OCIError* errhp, OCILobLocator* locp,
                                    ub4* lenp) {
  return lobCall(EntryPoint::OCILobGetLength, svchp, errhp, locp, [&](Session& s, LobLocator& lob) {
    if (!lenp) throw OraError(kOraBadArgument, "4");
    const std::optional<ub4> armed = takeArmedLobLength();
    *lenp = armed ? *armed : lobLength(s, lob);
    return OCI_SUCCESS;
  });
}

OCISIM_EXPORT sword OCILobRead(OCISvcCtx* svchp, OCIError* errhp, OCILobLocator* locp, ub4* amtp,
                               ub4 offset, dvoid* bufp, ub4 bufl, dvoid* ctxp,
                               OCICallbackLobRead cbfp, ub2 csid, ub1 csfrm) {
  (void)ctxp, (void)csid, (void)csfrm;  // the client and server character sets are the same
  return lobCall(EntryPoint::OCILobRead, svchp, errhp, locp, [&](Session& s, LobLocator& lob) {
    if (cbfp) throw OraError(kOraUnimplemented);
    return lobRead(s, lob, amtp, offset, bufp, bufl);
  });
}

OCISIM_EXPORT sword OCILobWrite(OCISvcCtx* svchp, OCIError* errhp, OCILobLocator* locp,
                                ub4* amtp, ub4 offset, dvoid* bufp, ub4 buflen, ub1 piece,
                                dvoid* ctxp, OCICallbackLobWrite cbfp, ub2 csid, ub1 csfrm) {
  (void)ctxp, (void)csid, (void)csfrm;
  return lobCall(EntryPoint::OCILobWrite, svchp, errhp, locp, [&](Session& s, LobLocator& lob) {
    // The whole amount is written in one piece; streaming is not offered.
    if (cbfp || piece != OCI_ONE_PIECE) throw OraError(kOraUnimplemented);
    lobWrite(s, lob, amtp, offset, bufp, buflen);
    return OCI_SUCCESS;
  });
}

OCISIM_EXPORT sword OCILobTrim(OCISvcCtx* svchp, OCIError* errhp, OCILobLocator* locp,
                               ub4 newlen) {
  return lobCall(EntryPoint::OCILobTrim, svchp, errhp, locp, [&](Session& s, LobLocator& lob) {
    lobTrim(s, lob, newlen);
    return OCI_SUCCESS;
  });
}

OCISIM_EXPORT sword OCIBindArrayOfStruct(OCIBind* bindp, OCIError* errhp, ub4 pvskip,
                                         ub4 indskip, ub4 alskip, ub4 rcskip) {
  return run(EntryPoint::OCIBindArrayOfStruct, [&](Call& call) -> sword {
    useErrorHandle(call, errhp, 2);
    auto* b = need<Bind>(bindp, OCI_HTYPE_BIND, 1);
    checkArmed(EntryPoint::OCIBindArrayOfStruct);
    b->skipsSet = true;
    b->valueSkip = pvskip;
    // A skip of 0 leaves the element size of that array as it is.
    b->indicatorSkip = indskip ? indskip : sizeof(sb2);
    b->lengthSkip = alskip ? alskip : sizeof(ub2);
    b->returnCodeSkip = rcskip ? rcskip : sizeof(ub2);
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
