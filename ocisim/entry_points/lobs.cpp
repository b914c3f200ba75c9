// The entry points of LOB and BFILE locators: length, read, write and trim.
#include "ocisim/entry_points/call.h"

namespace ocisim {
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
}  // namespace ocisim

using namespace ocisim;

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
