// What every OCI entry point is made of. Each one checks its handles against
// the registry before touching them, runs under the registry's lock, and never
// lets an exception out: failures become OCI_ERROR with an Oracle error on the
// error handle (or the environment, for calls without one).
#pragma once

#include "o_oci.h"
#include "ocisim/call_log.h"
#include "ocisim/handles.h"
#include "ocisim/ora_errors.h"
#include "ocisim/statement.h"

#include <new>
#include <string>
#include <string_view>

#define OCISIM_EXPORT extern "C" __attribute__((visibility("default")))

namespace ocisim {

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
inline Error* useErrorHandle(Call& call, OCIError* errhp, int argument) {
  Error* err = need<Error>(errhp, OCI_HTYPE_ERROR, argument);
  call.record = &err->record;
  return err;
}

// Fails the call, or ends it with a plain status, when a test armed one for
// this entry point.
inline void checkArmed(EntryPoint entry) {
  if (const int code = takeFailure(entry)) throw OraError(code);
  if (const int status = takeStatus(entry)) throw ArmedStatus{status};
}

// The live session of a service context, for calls that work in it.
inline Session& liveSession(OCISvcCtx* svchp, int argument) {
  auto* svc = need<SvcCtx>(svchp, OCI_HTYPE_SVCCTX, argument);
  requireLiveSession(svc->session);
  return *svc->session;
}

}  // namespace ocisim
