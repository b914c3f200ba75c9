// The monitor's side of the connection: the presence marker, the class
// registration of the client library, and the registered client applications.
#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>

class QLocalServer;
class QLocalSocket;

struct TSMClientInfo {
  int id = 0;
  std::uint32_t pid = 0;
  QString title;
};

class TSMServer : public QObject {
  Q_OBJECT

 public:
  // All eleven trace categories.
  static constexpr std::uint16_t kAllCategories = 0x07FF;

  explicit TSMServer(QObject* parent = nullptr);
  ~TSMServer() override;

  // Listens, registers `clientLibrary` under the client class id and creates
  // the presence marker, in this order, so that a client that sees the marker
  // finds everything else ready. False with Error() set when another monitor
  // is running or the socket or the marker cannot be made.
  bool Start(const QString& clientLibrary);
  // Drops every client and removes the marker. Also done on destruction.
  void Stop();
  QString Error() const { return error_; }
  // Set when the class registration could not be written: clients that are
  // not yet registered will not find the library.
  QString RegistrationWarning() const { return registrationWarning_; }

  std::uint16_t Categories() const { return categories_; }
  // Sends the new set to every registered client.
  void SetCategories(std::uint16_t categories);

  QList<TSMClientInfo> Clients() const;

 signals:
  void ClientsChanged();
  void LineReceived(const QString& client, const QString& line);

 private:
  struct Peer {
    int id = 0;
    bool registered = false;
    std::uint32_t pid = 0;
    QString title;
    QByteArray inbox;
  };

  void Accept();
  void Read(QLocalSocket* socket);
  void Forget(QLocalSocket* socket);
  // True when the marker's name is free or holds a leftover of this user;
  // otherwise false with the reason in error_.
  bool MarkerNameFree();
  bool CreateMarker(const QString& serverName);
  void RegisterClass(const QString& clientLibrary);

  std::unique_ptr<QLocalServer> server_;
  QHash<QLocalSocket*, Peer> peers_;
  int nextId_ = 1;
  std::uint16_t categories_ = kAllCategories;
  QString markerName_;  // set while this monitor owns the marker
  QString error_;
  QString registrationWarning_;
};
