// Declarations of the entry points this library exports, made from their
// published function types, for code that links the library directly (its own
// tests and helpers).
#pragma once

#include "o_oci.h"

#include <type_traits>

#define OCISIM_DECLARE(name) extern "C" std::remove_pointer_t<name##_t> name;
O_OCI_ENTRY_POINTS(OCISIM_DECLARE)
OCISIM_DECLARE(OCIClientVersion)
#undef OCISIM_DECLARE
