// The OCI client library loader: loads the client once per process, checks
// its version, and keeps the one table of OCI entry points.
#pragma once

#include <QString>
#include <QStringList>

#include "o_oci.h"

class TOLibrary;

// The process-wide entry-point table, filled only by LoadOCIEntryPoints.
struct TOCIEntryPoints {
#define O_OCI_SLOT(name) name##_t name = nullptr;
  O_OCI_ENTRY_POINTS(O_OCI_SLOT)
#undef O_OCI_SLOT
};
extern TOCIEntryPoints oci;

// The name under which the client library is loaded and which the loader's
// messages carry ("oci.dll"); empty after shutdown.
QString ClientLibraryName();
// The platform file that stands for a client library name: "oci.dll" is the
// OCI client, libclntsh.so on this platform.
QString PlatformLibraryFileName(const QString& name);

// Makes sure the client library is loaded and its version accepted. Tries at
// most once per process. Fails with "Load oci.dll Error".
void LoadClientLibrary();
// Loads the library, then looks up all thirty entry points in table order.
// Fails with "Can't find function " + the first missing name.
void LoadOCIEntryPoints();
// Looks `name` up in the loaded library and stores it in its table slot.
void GetOCIEntryPoint(const char* name);
// Full file name of the loaded client library; empty when none is loaded.
QString ClientLibraryPath();

// The client's version text ("8.1.7.0.0"): from OCIClientVersion when the
// library exports it, else from the version suffix of its real file name
// (libclntsh.so.8.1.7). `library` may be null: then only the file name counts.
// Fails with "Oracle interface Dll must contain version info".
QString ClientVersionText(const TOLibrary* library, const QString& path);
// Fails with "Wrong Oracle client DLL version (...)" unless the text starts with 7 or 8.
void CheckClientVersion(const QString& version);

// Any symbol of the loaded client library, or null (for the client's own
// extensions; the OCI entry points go through the table).
void* ClientLibrarySymbol(const char* name);
// Whether a load was attempted and succeeded.
bool ClientLibraryLoaded();

// The service names shown by the login dialog; created at program start.
QStringList& ServiceNames();

// Program end: releases the service list, unloads the library if it was
// loaded and clears the library name. Returns whether a library was unloaded.
bool ShutdownClientLibrary();
