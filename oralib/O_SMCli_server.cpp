// The SQL monitor client's platform side: the presence probe, the trusted
// class registry and the in-process server factory.
#include "O_SMCli_server.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "o_library.h"
#include "ui/exception.h"

namespace {

long probes = 0;

// The monitor's client libraries, loaded through the library's one loader
// class. A library stays loaded for the life of the process: objects it
// handed out may outlive the component that asked for them, and its code must
// stay mapped until the last one is released.
class TSMLibraries {
 public:
  static TOLibrary Open(const QString& fileName) {
    static QHash<QString, TOLibrary> loaded;
    if (const auto found = loaded.constFind(fileName); found != loaded.constEnd()) return *found;
    TOLibrary library;
    if (!library.Open(fileName))
      throw Exception(QStringLiteral("Can't load the SQL monitor client %1: %2").arg(fileName, library.Error()));
    loaded.insert(fileName, library);
    return library;
  }

  static void* Symbol(const TOLibrary& library, const QString& fileName, const char* name) {
    void* symbol = library.Symbol(name);
    if (symbol == nullptr)
      throw Exception(QStringLiteral("Can't find function %1 in %2")
                          .arg(QLatin1String(name), fileName));
    return symbol;
  }
};

// A descriptor closed when it goes out of scope.
class TFd {
 public:
  explicit TFd(int fd) : fd_(fd) {}
  ~TFd() {
    if (fd_ >= 0) close(fd_);
  }
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

QString SystemError() { return QString::fromLocal8Bit(std::strerror(errno)); }

[[noreturn]] void Untrusted(const QString& what, const QString& why) {
  throw Exception(QStringLiteral("The SQL monitor's %1 is not trusted: %2").arg(what, why));
}

// Why a file or folder described by `info` is not one that `owners` alone may
// change (`groupMayWrite` lets the group write); empty when it is.
QString Distrust(const struct stat& info, std::initializer_list<uid_t> owners, bool groupMayWrite) {
  if (std::find(owners.begin(), owners.end(), info.st_uid) == owners.end())
    return QStringLiteral("it belongs to user %1").arg(info.st_uid);
  if ((info.st_mode & S_IWOTH) != 0 || (!groupMayWrite && (info.st_mode & S_IWGRP) != 0))
    return QStringLiteral("others may write it");
  return {};
}

}  // namespace

QString SMRegisteredLibrary(const QString& folder, const char* classId, uid_t owner) {
  const QString entry = QDir(folder).filePath(QLatin1String(classId));
  // The folder and the file are judged as opened, never through a link, so
  // that what was checked is what is read.
  const TFd dir(open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (dir.get() < 0) {
    if (errno == ELOOP || errno == ENOTDIR)
      Untrusted(QStringLiteral("class registry %1").arg(folder), QStringLiteral("it is not a folder"));
    throw Exception(QStringLiteral("Class %1 is not registered (%2)").arg(QLatin1String(classId), entry));
  }
  struct stat info {};
  if (fstat(dir.get(), &info) != 0) Untrusted(QStringLiteral("class registry %1").arg(folder), SystemError());
  if (const QString why = Distrust(info, {owner}, false); !why.isEmpty())
    Untrusted(QStringLiteral("class registry %1").arg(folder), why);

  const TFd file(openat(dir.get(), classId, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (file.get() < 0) {
    if (errno == ELOOP) Untrusted(QStringLiteral("registration %1").arg(entry), QStringLiteral("it is a link"));
    throw Exception(QStringLiteral("Class %1 is not registered (%2)").arg(QLatin1String(classId), entry));
  }
  if (fstat(file.get(), &info) != 0) Untrusted(QStringLiteral("registration %1").arg(entry), SystemError());
  if (!S_ISREG(info.st_mode))
    Untrusted(QStringLiteral("registration %1").arg(entry), QStringLiteral("it is not a plain file"));
  if (const QString why = Distrust(info, {owner}, false); !why.isEmpty())
    Untrusted(QStringLiteral("registration %1").arg(entry), why);

  char text[4096];
  const ssize_t size = pread(file.get(), text, sizeof text, 0);
  const QByteArray content(text, size > 0 ? static_cast<qsizetype>(size) : 0);
  const qsizetype end = content.indexOf('\n');
  const QString library = QFile::decodeName(end >= 0 ? content.left(end) : content).trimmed();
  if (library.isEmpty())
    throw Exception(QStringLiteral("The registration %1 names no library").arg(entry));
  return QFileInfo(QDir(folder), library).absoluteFilePath();
}

QString SMTrustedLibrary(const QString& library, uid_t owner) {
  // The real file, every link resolved: that is what the loader maps.
  char* resolved = realpath(QFile::encodeName(library).constData(), nullptr);
  if (resolved == nullptr)
    throw Exception(QStringLiteral("Can't load the SQL monitor client %1: %2").arg(library, SystemError()));
  const QByteArray real(resolved);
  std::free(resolved);
  const QString realName = QFile::decodeName(real);

  const QByteArray folder = QFile::encodeName(QFileInfo(realName).absolutePath());
  struct stat info {};
  if (stat(folder.constData(), &info) != 0 || !S_ISDIR(info.st_mode))
    Untrusted(QStringLiteral("client library %1").arg(realName), QStringLiteral("its folder cannot be examined"));
  if (const QString why = Distrust(info, {owner, 0}, true); !why.isEmpty())
    Untrusted(QStringLiteral("client library folder %1").arg(QFile::decodeName(folder)), why);

  const TFd file(open(real.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (file.get() < 0 || fstat(file.get(), &info) != 0)
    throw Exception(QStringLiteral("Can't load the SQL monitor client %1: %2").arg(realName, SystemError()));
  if (!S_ISREG(info.st_mode))
    Untrusted(QStringLiteral("client library %1").arg(realName), QStringLiteral("it is not a plain file"));
  if (const QString why = Distrust(info, {owner, 0}, true); !why.isEmpty())
    Untrusted(QStringLiteral("client library %1").arg(realName), why);
  return realName;
}

bool SMMonitorPresent() {
  ++probes;
  const int fd = SMOpenOwnMarker(SMMarkerPath());
  if (fd < 0) return false;
  close(fd);
  return true;
}

long SMPresenceProbes() { return probes; }

TSMClientPtr SMCreateInProcServer(const char* classId, const char* interfaceId) {
  // Nothing is loaded unless the registration and the library it names are trusted.
  const QString library =
      SMTrustedLibrary(SMRegisteredLibrary(SMRegistryFolder(), classId, geteuid()), geteuid());
  auto factory = reinterpret_cast<TSMFactory>(
      TSMLibraries::Symbol(TSMLibraries::Open(library), library, kSMFactoryName));
  void* object = nullptr;
  const std::int32_t result = factory(classId, interfaceId, &object);
  if (result != 0 || object == nullptr)
    throw Exception(QStringLiteral("%1 refused to create class %2 (code %3)")
                        .arg(library, QLatin1String(classId))
                        .arg(result));
  return TSMClientPtr(static_cast<_oISMClient*>(object));
}
