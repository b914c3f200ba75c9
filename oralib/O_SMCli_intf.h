// What the SQL monitor client and the SQL monitor program agree on: the
// identities, the client interface handed out by the monitor's in-process
// library, and where the monitor's presence marker and class registry live.
// Header-only, so that the monitor's own library needs nothing of oralib.
#pragma once

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QString>
#include <cerrno>
#include <cstdint>

// The monitor's client class and the interface its objects answer to.
inline constexpr const char* kSMClientClassId = "{CB9879E2-4395-11D0-9FFC-00A0248E4B9A}";
inline constexpr const char* kSMClientInterfaceId = "{CB9879E1-4395-11D0-9FFC-00A0248E4B9A}";
inline constexpr const char* kSMBaseInterfaceId = "{00000000-0000-0000-C000-000000000046}";

// Called by the monitor with the data pointer given to Register, an argument
// it does not use, and the set of trace categories it wants (bit n = category n).
using TSMCallback = void (*)(void* data, void* unused, std::uint16_t categories);

// The client interface. The base three methods come first, then Register and
// Send, in this order; an object is freed by its last Release, never deleted.
class _oISMClient {
 public:
  // Hands out the object again under `interfaceId` (adding a reference);
  // 0 on success, nonzero when the object does not answer to it.
  virtual std::int32_t QueryInterface(const char* interfaceId, void** object) = 0;
  virtual std::uint32_t AddRef() = 0;
  virtual std::uint32_t Release() = 0;
  // Registers the client application with the monitor. `component` holds the
  // registering component, `title` is the application's title, `data` is
  // handed back to `callback`. Nonzero when the monitor accepts the client.
  virtual std::int16_t Register(std::intptr_t& component, const char* title, void* data,
                                TSMCallback callback) = 0;
  // One trace line, `length` bytes of UTF-8 (no terminator needed). The
  // result carries nothing the client relies on.
  virtual std::int32_t Send(const char* text, std::int32_t length) = 0;

 protected:
  ~_oISMClient() = default;
};

// The factory every monitor client library exports under kSMFactoryName:
// creates an object of `classId` and hands it out as `interfaceId` with one
// reference. 0 on success.
using TSMFactory = std::int32_t (*)(const char* classId, const char* interfaceId, void** object);
inline constexpr const char* kSMFactoryName = "SMCreateInstance";

// Developers' overrides, read only when set: another marker name (a second
// monitor, or an isolated test) and another class registry folder.
inline constexpr const char* kSMMarkerVariable = "QUENLOW_SQLMONITOR_SHM";
inline constexpr const char* kSMRegistryVariable = "QUENLOW_SQLMONITOR_REGISTRY";

// The POSIX shared-memory name of the monitor's presence marker: "/SMBuffer".
inline QString SMMarkerName() {
  QString name = qEnvironmentVariable(kSMMarkerVariable);
  if (name.isEmpty()) name = QStringLiteral("SMBuffer");
  if (!name.startsWith(QLatin1Char('/'))) name.prepend(QLatin1Char('/'));
  return name;
}

// Opens the presence marker `name` for reading, never blocking (a FIFO under
// that name would block every traced program), and only when it is a plain
// file of this user that nobody else may write: another user's marker must
// not draw this user's trace lines to that user's socket. -1 otherwise; errno
// is EPERM when the name is taken by something that is not this user's marker.
inline int SMOpenOwnMarker(const QString& name) {
  const int fd = shm_open(QFile::encodeName(name).constData(), O_RDONLY | O_NONBLOCK, 0);
  if (fd < 0) return -1;
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != geteuid() ||
      (info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    close(fd);
    errno = EPERM;
    return -1;
  }
  return fd;
}

// The per-user folder of class registrations: one file per class id, named
// after it, whose first line is the file name of the library that serves it.
// By default ~/.local/share/quenlow/classes (following XDG_DATA_HOME).
inline QString SMRegistryFolder() {
  const QString overridden = qEnvironmentVariable(kSMRegistryVariable);
  if (!overridden.isEmpty()) return overridden;
  return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
         QStringLiteral("/quenlow/classes");
}

inline QString SMRegistrationFile(const QString& classId) {
  return QDir(SMRegistryFolder()).filePath(classId);
}
