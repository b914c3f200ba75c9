// The platform side of the SQL monitor client: the presence probe on the
// monitor's presence marker and the in-process server lookup by class id.
#pragma once

#include <sys/types.h>

#include <QString>
#include <memory>

#include "O_SMCli_intf.h"

// Releases a client object instead of deleting it.
struct TSMClientRelease {
  void operator()(_oISMClient* client) const { client->Release(); }
};
using TSMClientPtr = std::unique_ptr<_oISMClient, TSMClientRelease>;

// Whether this user's monitor marker exists and can be read: opens it
// read-only and closes it at once.
bool SMMonitorPresent();
// How many presence probes this process has made (a diagnostic; tests count it).
long SMPresenceProbes();

// The library file that the registration of `classId` in `folder` names
// (relative names are taken from the folder). The folder and the file are
// trusted only when they belong to `owner`, are not symbolic links and
// neither the group nor others may write them; both are judged as opened.
// Raises Exception naming the registration and what is wrong with it.
QString SMRegisteredLibrary(const QString& folder, const char* classId, uid_t owner);
// The real file (links resolved) of `library` when it and its folder belong
// to `owner` or to root and others may not write them: the file to load.
// Raises Exception naming the library and what is wrong with it.
QString SMTrustedLibrary(const QString& library, uid_t owner);

// Creates an object of `classId` from the library that the class registry
// names for it, once both are trusted, and asks it for `interfaceId`. Raises Exception with a message
// naming the registration file, the library or the missing factory.
TSMClientPtr SMCreateInProcServer(const char* classId, const char* interfaceId);
