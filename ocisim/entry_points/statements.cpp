// The entry points of statements: preparing, executing and fetching, defines,
// binds and the select list's parameters.
#include "ocisim/entry_points/call.h"

#include "ocisim/session_db.h"

#include <algorithm>
#include <cstring>

using namespace ocisim;

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
