// The OCI client library loader: the client loaded once per process through
// TOLibrary, its version check and the one table of OCI entry points.
#include "o_ociap.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <cstring>

#include "o_library.h"
#include "ui/exception.h"

TOCIEntryPoints oci;

namespace {

// The client library's three states: not loaded from program start, then
// whatever the first load attempt gave (loaded, or failed).
enum class LibraryState { NotLoaded, Loaded, Failed };

struct ClientLibrary {
  QString name = QStringLiteral("oci.dll");
  LibraryState state = LibraryState::NotLoaded;
  TOLibrary library;
  QStringList serviceNames;

  // Unloads at program end, only when a library was loaded.
  ~ClientLibrary() { ShutdownClientLibrary(); }
};

ClientLibrary& Client() {
  static ClientLibrary client;
  return client;
}

}  // namespace

QString ClientLibraryName() { return Client().name; }

QString PlatformLibraryFileName(const QString& name) {
  if (name.compare(QLatin1String("oci.dll"), Qt::CaseInsensitive) == 0)
    return QStringLiteral("libclntsh.so");
  return name;
}

QString ClientVersionText(const TOLibrary* library, const QString& path) {
  void* entry = library != nullptr ? library->Symbol("OCIClientVersion") : nullptr;
  if (auto version = reinterpret_cast<OCIClientVersion_t>(entry)) {
    sword major = 0, minor = 0, update = 0, patch = 0, port = 0;
    version(&major, &minor, &update, &patch, &port);
    return QStringLiteral("%1.%2.%3.%4.%5").arg(major).arg(minor).arg(update).arg(patch).arg(port);
  }
  // A client without the call still carries its version in its real file
  // name, as installed clients do: libclntsh.so.8.1.7 behind libclntsh.so.
  static const QRegularExpression suffix(QStringLiteral("\\.so\\.(\\d+(?:\\.\\d+)*)$"));
  const QString real = QFileInfo(path).canonicalFilePath();
  const auto match = suffix.match(real.isEmpty() ? path : real);
  if (match.hasMatch()) return match.captured(1);
  throw Exception(QStringLiteral("Oracle interface Dll must contain version info"));
}

void CheckClientVersion(const QString& version) {
  if (!version.startsWith(QLatin1Char('7')) && !version.startsWith(QLatin1Char('8')))
    throw Exception(QStringLiteral("Wrong Oracle client DLL version (%1)").arg(version));
}

void LoadClientLibrary() {
  ClientLibrary& client = Client();
  if (client.state != LibraryState::NotLoaded) return;
  try {
    const bool loaded = client.library.Open(PlatformLibraryFileName(client.name));
    client.state = loaded ? LibraryState::Loaded : LibraryState::Failed;
    if (!loaded) throw Exception(QStringLiteral("Can't find ") + client.name);
    CheckClientVersion(ClientVersionText(&client.library, client.library.Path()));
  } catch (const std::exception&) {
    // The inner reason is replaced; the state stays as stored, so no second
    // load or version check is ever tried.
    throw Exception(QStringLiteral("Load ") + client.name + QStringLiteral(" Error"));
  }
}

void GetOCIEntryPoint(const char* name) {
  void* entry = Client().library.Symbol(name);
  if (entry == nullptr)
    throw Exception(QStringLiteral("Can't find function ") + QLatin1String(name));
#define O_OCI_STORE(fn)                                    \
  if (std::strcmp(name, #fn) == 0) {                       \
    oci.fn = reinterpret_cast<fn##_t>(entry);              \
    return;                                                \
  }
  O_OCI_ENTRY_POINTS(O_OCI_STORE)
#undef O_OCI_STORE
}

void LoadOCIEntryPoints() {
  LoadClientLibrary();
#define O_OCI_LOOKUP(fn) GetOCIEntryPoint(#fn);
  O_OCI_ENTRY_POINTS(O_OCI_LOOKUP)
#undef O_OCI_LOOKUP
}

QString ClientLibraryPath() { return Client().library.Path(); }

void* ClientLibrarySymbol(const char* name) { return Client().library.Symbol(name); }

bool ClientLibraryLoaded() { return Client().state == LibraryState::Loaded; }

QStringList& ServiceNames() { return Client().serviceNames; }

bool ShutdownClientLibrary() {
  ClientLibrary& client = Client();
  client.serviceNames.clear();
  client.name.clear();
  if (client.state != LibraryState::Loaded || !client.library.Loaded()) return false;
  oci = TOCIEntryPoints{};
  client.library.Close();
  // Stays out of the not-loaded state: nothing loads again after shutdown.
  client.state = LibraryState::Failed;
  return true;
}
