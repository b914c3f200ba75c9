// The entry points of connections and sessions: attaching to a server,
// logging on and off, and the transaction calls.
#include "ocisim/entry_points/call.h"

#include "ocisim/session_db.h"
#include "ocisim/tnsnames.h"

#include <cstring>

namespace ocisim {
namespace {

// Entry points that are not carried out by this client yet.
sword unimplemented(Call&) { throw OraError(kOraUnimplemented); }

}  // namespace
}  // namespace ocisim

using namespace ocisim;

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
