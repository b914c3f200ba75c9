#include "O_SMCli_server.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QHash>

#include "ui/exception.h"

namespace {

long probes = 0;

// The monitor's client libraries are loaded here and nowhere else (the OCI
// client has its own loader). A library stays loaded for the life of the
// process: objects it handed out may outlive the component that asked for
// them, and its code must stay mapped until the last one is released.
class TSMLibraries {
 public:
  static void* Open(const QString& fileName) {
    static QHash<QString, void*> loaded;
    if (void* handle = loaded.value(fileName)) return handle;
    void* handle = dlopen(QFile::encodeName(fileName).constData(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
      const char* reason = dlerror();
      throw Exception(QStringLiteral("Can't load the SQL monitor client %1: %2")
                          .arg(fileName, QString::fromLocal8Bit(reason ? reason : "unknown error")));
    }
    loaded.insert(fileName, handle);
    return handle;
  }

  static void* Symbol(void* handle, const QString& fileName, const char* name) {
    void* symbol = dlsym(handle, name);
    if (symbol == nullptr)
      throw Exception(QStringLiteral("Can't find function %1 in %2")
                          .arg(QLatin1String(name), fileName));
    return symbol;
  }
};

// The library file that the class registry names for `classId`; relative
// names are taken from the registry folder.
QString RegisteredLibrary(const char* classId) {
  const QString entry = SMRegistrationFile(QLatin1String(classId));
  QFile file(entry);
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
    throw Exception(QStringLiteral("Class %1 is not registered (%2)")
                        .arg(QLatin1String(classId), entry));
  const QString library = QString::fromUtf8(file.readLine(4096)).trimmed();
  if (library.isEmpty())
    throw Exception(QStringLiteral("The registration %1 names no library").arg(entry));
  return QFileInfo(QFileInfo(entry).dir(), library).absoluteFilePath();
}

}  // namespace

bool SMMonitorPresent() {
  ++probes;
  const int fd = SMOpenOwnMarker(SMMarkerName());
  if (fd < 0) return false;
  close(fd);
  return true;
}

long SMPresenceProbes() { return probes; }

TSMClientPtr SMCreateInProcServer(const char* classId, const char* interfaceId) {
  const QString library = RegisteredLibrary(classId);
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
