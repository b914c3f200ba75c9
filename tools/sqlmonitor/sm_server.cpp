#include "sm_server.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
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
  server_ = std::make_unique<QLocalServer>();
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  static int servers = 0;
  const QString name = QStringLiteral("quenlow-sqlmonitor-%1-%2").arg(getpid()).arg(++servers);
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
  QSaveFile file(entry);
  if (!QDir().mkpath(QFileInfo(entry).absolutePath()) || !file.open(QIODevice::WriteOnly) ||
      file.write(QFile::encodeName(clientLibrary) + '\n') < 0 || !file.commit())
    registrationWarning_ =
        QStringLiteral("Cannot register the client library in %1: %2").arg(entry, file.errorString());
}

bool TSMServer::MarkerNameFree() {
  const QString name = SMMarkerName();
  // Never blocking on what holds the name (a FIFO would), and never taking
  // over what is another user's.
  const int probe = shm_open(QFile::encodeName(name).constData(), O_RDONLY | O_NONBLOCK, 0);
  if (probe < 0 && errno == ENOENT) return true;
  struct stat info {};
  const bool ours = probe >= 0 && fstat(probe, &info) == 0 && info.st_uid == geteuid();
  if (probe >= 0) close(probe);
  if (!ours) {
    error_ = QStringLiteral("The shared memory %1 belongs to another user's SQL monitor.").arg(name);
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
  const QString name = SMMarkerName();
  const QByteArray encoded = QFile::encodeName(name);
  int fd = shm_open(encoded.constData(), O_RDWR | O_CREAT | O_EXCL, 0600);
  if (fd < 0 && errno == EEXIST) {
    if (!MarkerNameFree()) return false;
    shm_unlink(encoded.constData());
    fd = shm_open(encoded.constData(), O_RDWR | O_CREAT | O_EXCL, 0600);
  }
  if (fd < 0) {
    error_ = QStringLiteral("Cannot create the shared memory %1: %2").arg(name, SystemError());
    return false;
  }
  sm::TSMMarker marker{};
  std::memcpy(marker.magic, sm::kMarkerMagic, sizeof marker.magic);
  marker.pid = getpid();
  const QByteArray server = QFile::encodeName(serverName);
  std::memcpy(marker.server, server.constData(),
              std::min<std::size_t>(server.size(), sizeof marker.server - 1));
  bool written = ftruncate(fd, sizeof marker) == 0;
  if (written) {
    void* view = mmap(nullptr, sizeof marker, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    written = view != MAP_FAILED;
    if (written) {
      std::memcpy(view, &marker, sizeof marker);
      munmap(view, sizeof marker);
    }
  }
  if (!written) error_ = QStringLiteral("Cannot fill the shared memory %1: %2").arg(name, SystemError());
  close(fd);
  if (!written) {
    shm_unlink(encoded.constData());
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
      shm_unlink(QFile::encodeName(markerName_).constData());
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
