// What the SQL monitor client and the SQL monitor program agree on: the
// identities, the client interface handed out by the monitor's in-process
// library, and where the monitor's presence marker, socket and class registry
// live.
// Header-only, so that the monitor's own library needs nothing of oralib.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QString>
#include <cerrno>
#include <cstdint>
#include <cstring>

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

// Whether the folder at `path` is one that only `owner` may change: a real
// folder (not a symbolic link) of that user that neither the group nor others
// may write. Judged on the opened folder itself. The reason goes to `reason`
// when it is not.
inline bool SMIsPrivateFolder(const QString& path, uid_t owner, QString* reason = nullptr) {
  const auto refuse = [&](const QString& why) {
    if (reason != nullptr) *reason = QStringLiteral("%1 %2").arg(path, why);
    return false;
  };
  const int fd = open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    return refuse(error == ELOOP || error == ENOTDIR ? QStringLiteral("is not a folder")
                                                     : QString::fromLocal8Bit(std::strerror(error)));
  }
  struct stat info {};
  const bool known = fstat(fd, &info) == 0;
  close(fd);
  if (!known) return refuse(QStringLiteral("cannot be examined"));
  if (info.st_uid != owner) return refuse(QStringLiteral("belongs to user %1").arg(info.st_uid));
  if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) return refuse(QStringLiteral("may be written by others"));
  return true;
}

// Makes `path` a folder of this user's alone (mode 0700), its parents as
// usual; a folder already there must be this user's own. One that others may
// write is made private; anything else is refused with the reason.
inline bool SMMakePrivateFolder(const QString& path, QString* reason = nullptr) {
  const QByteArray encoded = QFile::encodeName(path);
  QDir().mkpath(QFileInfo(path).absolutePath());
  if (mkdir(encoded.constData(), 0700) != 0 && errno != EEXIST) {
    if (reason != nullptr) *reason = QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
    return false;
  }
  const int fd = open(encoded.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  struct stat info {};
  if (fd >= 0 && fstat(fd, &info) == 0 && info.st_uid == geteuid() && (info.st_mode & (S_IWGRP | S_IWOTH)) != 0)
    fchmod(fd, 0700);
  if (fd >= 0) close(fd);
  return SMIsPrivateFolder(path, geteuid(), reason);
}

// The folder of this user's monitor marker and socket: $XDG_RUNTIME_DIR when
// it is private to this user, otherwise /tmp/quenlow-<uid>, which the monitor
// creates (`create`) and clients only use. Being this user's alone, no other
// user can take the names in it first. Empty when neither will do.
inline QString SMRuntimeFolder(bool create) {
  const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (!runtime.isEmpty() && SMIsPrivateFolder(runtime, geteuid())) return runtime;
  const QString own = QStringLiteral("/tmp/quenlow-%1").arg(geteuid());
  if (create ? SMMakePrivateFolder(own) : SMIsPrivateFolder(own, geteuid())) return own;
  return {};
}

// The file name of the monitor's presence marker in the runtime folder:
// "quenlow-SMBuffer", or the override (without a leading "/").
inline QString SMMarkerFileName() {
  QString name = qEnvironmentVariable(kSMMarkerVariable);
  while (name.startsWith(QLatin1Char('/'))) name.remove(0, 1);
  return name.isEmpty() ? QStringLiteral("quenlow-SMBuffer") : name;
}

// The full name of the marker; empty when this user has no runtime folder.
inline QString SMMarkerPath(bool create = false) {
  const QString folder = SMRuntimeFolder(create);
  return folder.isEmpty() ? QString() : QDir(folder).filePath(SMMarkerFileName());
}

// Opens the presence marker at `path` for reading, never blocking (a FIFO
// under that name would block every traced program) nor following a link,
// and only when it is a plain file of this user that nobody else may write:
// another user's marker must not draw this user's trace lines to that user's
// socket. -1 otherwise; errno is EPERM when the name is taken by something
// that is not this user's marker.
inline int SMOpenOwnMarker(const QString& path) {
  if (path.isEmpty()) {
    errno = ENOENT;
    return -1;
  }
  const int fd = open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ELOOP) errno = EPERM;
    return -1;
  }
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
