// The monitor's side of the connection: presence marker, registration of the
// client library, registered applications.
#include "sm_server.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSaveFile>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "oralib/O_SMCli_intf.h"
#include "sm_protocol.h"

namespace {

bool ProcessAlive(std::int32_t pid) {
  return pid > 0 && (kill(pid, 0) == 0 || errno == EPERM);
}

QString SystemError() { return QString::fromLocal8Bit(std::strerror(errno)); }

}  // namespace

TSMServer::TSMServer(QObject* parent) : QObject(parent) {}

TSMServer::~TSMServer() { Stop(); }

bool TSMServer::Start(const QString& clientLibrary) {
  if (server_ != nullptr) return true;
  error_.clear();
  // The marker and the socket live in a folder of this user's alone, so that
  // no other user can take their names first.
  const QString folder = SMRuntimeFolder(true);
  if (folder.isEmpty()) {
    error_ = QStringLiteral("No folder of this user's own for the marker and the socket: "
                            "neither XDG_RUNTIME_DIR nor /tmp/quenlow-%1 is one.").arg(geteuid());
    return false;
  }
  server_ = std::make_unique<QLocalServer>();
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  static int servers = 0;
  const QString name =
      QDir(folder).filePath(QStringLiteral("quenlow-sqlmonitor-%1-%2").arg(getpid()).arg(++servers));
  QLocalServer::removeServer(name);  // a socket file left by a process of the same id
  if (!server_->listen(name)) {
    error_ = QStringLiteral("Cannot listen on %1: %2").arg(name, server_->errorString());
    Stop();
    return false;
  }
  connect(server_.get(), &QLocalServer::newConnection, this, &TSMServer::Accept);
  // A monitor that is already running, or another user's, keeps its
  // registration as well as its marker.
  if (!MarkerNameFree()) {
    Stop();
    return false;
  }
  RegisterClass(clientLibrary);
  if (!CreateMarker(server_->fullServerName())) {
    Stop();
    return false;
  }
  return true;
}

void TSMServer::RegisterClass(const QString& clientLibrary) {
  registrationWarning_.clear();
  const QString entry = SMRegistrationFile(QLatin1String(kSMClientClassId));
  // Clients trust a registration only in a folder and a file of this user's alone.
  QString reason;
  if (!SMMakePrivateFolder(SMRegistryFolder(), &reason)) {
    registrationWarning_ = QStringLiteral("Cannot register the client library in %1: %2").arg(entry, reason);
    return;
  }
  QSaveFile file(entry);
  if (!file.open(QIODevice::WriteOnly) || !file.setPermissions(QFile::ReadOwner | QFile::WriteOwner) ||
      file.write(QFile::encodeName(clientLibrary) + '\n') < 0 || !file.commit())
    registrationWarning_ =
        QStringLiteral("Cannot register the client library in %1: %2").arg(entry, file.errorString());
}

bool TSMServer::MarkerNameFree() {
  const QString name = SMMarkerPath();
  // Whatever holds the name is looked at, never opened (a FIFO would block),
  // and never taken over when it is another user's.
  struct stat info {};
  if (lstat(QFile::encodeName(name).constData(), &info) != 0) {
    if (errno == ENOENT) return true;
    error_ = QStringLiteral("Cannot examine the marker %1: %2").arg(name, SystemError());
    return false;
  }
  if (info.st_uid != geteuid()) {
    error_ = QStringLiteral("The marker %1 belongs to another user's SQL monitor.").arg(name);
    return false;
  }
  // A marker of a monitor that still runs wins; one left by a monitor that
  // died, or that is not a monitor's at all, may be replaced.
  sm::TSMMarker other{};
  if (sm::ReadMarker(name, other) && ProcessAlive(other.pid)) {
    error_ = QStringLiteral("Another SQL monitor is running (process %1).").arg(other.pid);
    return false;
  }
  return true;
}

bool TSMServer::CreateMarker(const QString& serverName) {
  const QString name = SMMarkerPath();
  const QByteArray encoded = QFile::encodeName(name);
  // Made new, never through a link, readable and writable by this user alone.
  const int flags = O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
  int fd = open(encoded.constData(), flags, 0600);
  if (fd < 0 && errno == EEXIST) {
    if (!MarkerNameFree()) return false;
    unlink(encoded.constData());
    fd = open(encoded.constData(), flags, 0600);
  }
  if (fd < 0) {
    error_ = QStringLiteral("Cannot create the marker %1: %2").arg(name, SystemError());
    return false;
  }
  sm::TSMMarker marker{};
  std::memcpy(marker.magic, sm::kMarkerMagic, sizeof marker.magic);
  marker.pid = getpid();
  const QByteArray server = QFile::encodeName(serverName);
  std::memcpy(marker.server, server.constData(),
              std::min<std::size_t>(server.size(), sizeof marker.server - 1));
  const bool written = pwrite(fd, &marker, sizeof marker, 0) == static_cast<ssize_t>(sizeof marker);
  if (!written) error_ = QStringLiteral("Cannot fill the marker %1: %2").arg(name, SystemError());
  close(fd);
  if (!written) {
    unlink(encoded.constData());
    return false;
  }
  markerName_ = name;
  return true;
}

void TSMServer::Stop() {
  if (!markerName_.isEmpty()) {
    // Only our own marker: another monitor may have replaced it meanwhile.
    sm::TSMMarker marker{};
    if (sm::ReadMarker(markerName_, marker) && marker.pid == getpid())
      unlink(QFile::encodeName(markerName_).constData());
    markerName_.clear();
  }
  const QList<QLocalSocket*> sockets = peers_.keys();
  peers_.clear();
  for (QLocalSocket* socket : sockets) {
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
  }
  if (server_ != nullptr) {
    server_->close();
    server_.reset();
  }
  if (!sockets.isEmpty()) emit ClientsChanged();
}

void TSMServer::Accept() {
  while (QLocalSocket* socket = server_->nextPendingConnection()) {
    peers_.insert(socket, Peer{nextId_++, false, 0, {}, {}});
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] { Read(socket); });
    connect(socket, &QLocalSocket::disconnected, this, [this, socket] { Forget(socket); });
    if (socket->bytesAvailable() > 0) Read(socket);
  }
}

void TSMServer::Read(QLocalSocket* socket) {
  if (!peers_.contains(socket)) return;
  peers_[socket].inbox.append(socket->readAll());
  char kind = 0;
  QByteArray payload;
  for (;;) {
    // Looked up afresh each time: a slot of LineReceived may process events,
    // in which peers come and go.
    auto found = peers_.find(socket);
    if (found == peers_.end()) return;
    Peer& peer = found.value();
    const sm::TakeResult taken = sm::TakeFrame(peer.inbox, kind, payload);
    if (taken == sm::TakeResult::Incomplete) return;
    if (taken == sm::TakeResult::Broken) {
      Forget(socket);
      return;
    }
    if (kind == sm::kRegister && payload.size() >= 4) {
      peer.registered = true;
      peer.pid = qFromBigEndian<std::uint32_t>(payload.constData());
      peer.title = QString::fromUtf8(payload.mid(4));
      socket->write(sm::Frame(sm::kAccepted, sm::CategoriesPayload(categories_)));
      socket->flush();
      emit ClientsChanged();
    } else if (kind == sm::kLine && peer.registered) {
      // A client may still send lines of a category just switched off.
      const QString title = peer.title;
      emit LineReceived(title, QString::fromUtf8(payload));
    }
  }
}

void TSMServer::Forget(QLocalSocket* socket) {
  const bool wasRegistered = peers_.value(socket).registered;
  if (peers_.remove(socket) == 0) return;
  socket->disconnect(this);
  socket->abort();
  socket->deleteLater();
  if (wasRegistered) emit ClientsChanged();
}

void TSMServer::SetCategories(std::uint16_t categories) {
  if (categories == categories_) return;
  categories_ = categories;
  const QByteArray frame = sm::Frame(sm::kCategories, sm::CategoriesPayload(categories));
  for (auto it = peers_.begin(); it != peers_.end(); ++it) {
    if (!it.value().registered) continue;
    it.key()->write(frame);
    it.key()->flush();
  }
}

QList<TSMClientInfo> TSMServer::Clients() const {
  QList<TSMClientInfo> clients;
  for (const Peer& peer : peers_)
    if (peer.registered) clients.append({peer.id, peer.pid, peer.title});
  std::sort(clients.begin(), clients.end(),
            [](const TSMClientInfo& a, const TSMClientInfo& b) { return a.id < b.id; });
  return clients;
}
