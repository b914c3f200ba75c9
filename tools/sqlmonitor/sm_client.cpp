// The SQL monitor's in-process client library: what a traced application
// loads by the monitor's class id. Its object relays the application's lines
// to the running monitor over the socket that the presence marker names, and
// hands the monitor's category choices back through the registered callback.
#include <sys/socket.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QLocalSocket>
#include <algorithm>
#include <cstring>
#include <memory>

#include "oralib/O_SMCli_intf.h"
#include "sm_protocol.h"

namespace {

constexpr int kConnectTimeoutMs = 2000;
constexpr int kAnswerTimeoutMs = 5000;
constexpr int kFlushTimeoutMs = 2000;
// What may wait for a monitor that does not read (stopped, or busy): a line
// that would go beyond it is dropped rather than held in the traced program's memory.
constexpr qint64 kMaxQueuedBytes = 24 << 20;

class TSMClient final : public _oISMClient {
 public:
  std::int32_t QueryInterface(const char* interfaceId, void** object) override {
    if (object == nullptr) return -1;
    *object = nullptr;
    if (interfaceId == nullptr || (std::strcmp(interfaceId, kSMClientInterfaceId) != 0 &&
                                   std::strcmp(interfaceId, kSMBaseInterfaceId) != 0))
      return -1;
    AddRef();
    *object = static_cast<_oISMClient*>(this);
    return 0;
  }

  std::uint32_t AddRef() override { return ++references_; }

  std::uint32_t Release() override {
    const std::uint32_t left = --references_;
    // Reference-counted like any object of the interface: the last release frees it.
    if (left == 0) delete this;
    return left;
  }

  std::int16_t Register(std::intptr_t&, const char* title, void* data,
                        TSMCallback callback) override {
    title_ = QByteArray(title != nullptr ? title : "");
    data_ = data;
    callback_ = callback;
    if (!Connect()) return 0;
    // The answer carries the categories the monitor wants, so the very line
    // that made the application register is already filtered by them.
    QElapsedTimer clock;
    clock.start();
    while (answer_ == Answer::Waiting && socket_->state() == QLocalSocket::ConnectedState &&
           clock.elapsed() < kAnswerTimeoutMs) {
      socket_->waitForReadyRead(static_cast<int>(kAnswerTimeoutMs - clock.elapsed()));
      ReadFrames();
    }
    if (answer_ != Answer::Accepted) {
      Drop();
      return 0;
    }
    return 1;
  }

  std::int32_t Send(const char* text, std::int32_t length) override {
    if (answer_ != Answer::Accepted || text == nullptr || length < 0) return -1;
    // A monitor that was closed and started again gets this application back
    // without its noticing; the answer to the new registration comes later.
    if (socket_->state() != QLocalSocket::ConnectedState && !Connect()) return -1;
    // The monitor drops the connection for a frame above its limit, and the
    // lines queued behind it with it: a longer line is cut, at a character.
    qsizetype size = std::min<qsizetype>(length, sm::kMaxFrame - 1);
    if (size < length)
      while (size > 0 && (static_cast<unsigned char>(text[size]) & 0xC0) == 0x80) --size;
    if (socket_->bytesToWrite() + size > kMaxQueuedBytes) return -1;
    socket_->write(sm::Frame(sm::kLine, QByteArray(text, size)));
    socket_->flush();
    return 0;
  }

 private:
  enum class Answer { Waiting, Accepted, Refused };

  ~TSMClient() { Drop(); }

  // Connects to the monitor that the marker names and sends the registration.
  bool Connect() {
    sm::TSMMarker marker{};
    if (!sm::ReadMarker(SMMarkerPath(), marker)) return false;
    socket_ = std::make_unique<QLocalSocket>();
    QLocalSocket* socket = socket_.get();
    QObject::connect(socket, &QLocalSocket::readyRead, socket, [this] { ReadFrames(); });
    socket->connectToServer(QString::fromLocal8Bit(marker.server));
    if (!socket->waitForConnected(kConnectTimeoutMs)) return false;
    // Only a monitor of this user hears this program's statements.
    ucred peer{};
    socklen_t size = sizeof peer;
    if (getsockopt(static_cast<int>(socket->socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 ||
        peer.uid != geteuid()) {
      socket_->abort();
      return false;
    }
    QByteArray payload(4, '\0');
    qToBigEndian<std::uint32_t>(static_cast<std::uint32_t>(getpid()), payload.data());
    socket->write(sm::Frame(sm::kRegister, payload + title_));
    socket->flush();
    return true;
  }

  void ReadFrames() {
    if (socket_ == nullptr) return;
    inbox_.append(socket_->readAll());
    char kind = 0;
    QByteArray payload;
    for (;;) {
      const sm::TakeResult taken = sm::TakeFrame(inbox_, kind, payload);
      if (taken == sm::TakeResult::Incomplete) return;
      if (taken == sm::TakeResult::Broken) {
        inbox_.clear();
        socket_->abort();
        return;
      }
      if (kind == sm::kRefused && answer_ == Answer::Waiting) answer_ = Answer::Refused;
      if (kind == sm::kAccepted && answer_ == Answer::Waiting) answer_ = Answer::Accepted;
      if ((kind == sm::kAccepted || kind == sm::kCategories) && callback_ != nullptr)
        callback_(data_, nullptr, sm::PayloadCategories(payload));
    }
  }

  // Writes out what is still queued, then closes the connection.
  void Drop() {
    if (socket_ == nullptr) return;
    QElapsedTimer clock;
    clock.start();
    while (socket_->state() == QLocalSocket::ConnectedState && socket_->bytesToWrite() > 0 &&
           clock.elapsed() < kFlushTimeoutMs)
      socket_->waitForBytesWritten(static_cast<int>(kFlushTimeoutMs - clock.elapsed()));
    socket_->disconnect();
    socket_->abort();
    socket_.reset();
    inbox_.clear();
  }

  std::uint32_t references_ = 1;
  std::unique_ptr<QLocalSocket> socket_;
  QByteArray inbox_;
  QByteArray title_;
  void* data_ = nullptr;
  TSMCallback callback_ = nullptr;
  Answer answer_ = Answer::Waiting;
};

}  // namespace

extern "C" __attribute__((visibility("default"))) std::int32_t SMCreateInstance(
    const char* classId, const char* interfaceId, void** object) {
  if (object == nullptr) return -1;
  *object = nullptr;
  if (classId == nullptr || std::strcmp(classId, kSMClientClassId) != 0) return -2;
  // Starts with one reference, which QueryInterface's own replaces.
  auto* client = new TSMClient;
  const std::int32_t result = client->QueryInterface(interfaceId, object);
  client->Release();
  return result;
}
