// Per-entry-point bookkeeping of this process: how often each entry point was
// called, and failures the test controls asked to inject into the next call.
#pragma once

#include "o_oci.h"

#include <optional>
#include <string_view>

namespace ocisim {

enum class EntryPoint {
#define OCISIM_ENUM(name) name,
  O_OCI_ENTRY_POINTS(OCISIM_ENUM)
#undef OCISIM_ENUM
      Count
};

std::optional<EntryPoint> entryPointNamed(std::string_view name);

void countCall(EntryPoint e);
long callCount(EntryPoint e);
void resetCallCounts();

// Arms a failure with an Oracle error code for the next call of an entry point.
void armFailure(EntryPoint e, int oraCode);
// Arms a plain status (not OCI_SUCCESS) for the next call of an entry point.
void armStatus(EntryPoint e, int status);
// Forgets armed failures and statuses.
void disarmFailures();
// The armed failure of an entry point, disarming it; 0 when none.
int takeFailure(EntryPoint e);
// The armed status of an entry point, disarming it; OCI_SUCCESS when none.
int takeStatus(EntryPoint e);

}  // namespace ocisim
