// The platform side of the SQL monitor client: the presence probe on the
// monitor's shared-memory marker and the in-process server lookup by class id.
#pragma once

#include <QString>
#include <memory>

#include "O_SMCli_intf.h"

// Releases a client object instead of deleting it.
struct TSMClientRelease {
  void operator()(_oISMClient* client) const { client->Release(); }
};
using TSMClientPtr = std::unique_ptr<_oISMClient, TSMClientRelease>;

// Whether the monitor's shared-memory marker exists and can be read: opens it
// read-only and closes it at once.
bool SMMonitorPresent();
// How many presence probes this process has made (a diagnostic; tests count it).
long SMPresenceProbes();

// Creates an object of `classId` from the library that the class registry
// names for it and asks it for `interfaceId`. Raises Exception with a message
// naming the registration file, the library or the missing factory.
TSMClientPtr SMCreateInProcServer(const char* classId, const char* interfaceId);
