// The SQL monitor client: copies the trace lines of its sessions to an
// external SQL monitor program, when one is running.
#pragma once

#include <QList>
#include <QObject>
#include <cstdint>

#include "O_SMCli_server.h"
#include "o_trace.h"

class TOSession;

class ToSQLMon : public QObject {
  Q_OBJECT

 public:
  explicit ToSQLMon(QObject* owner = nullptr);
  ~ToSQLMon() override;  // clears the SQLMonitor of every attached session

  // Lines are forwarded only while true.
  bool Active = false;

  // Whether a line of `category` would be sent now. Like SendTrace, it first
  // looks for the monitor, so that callers that ask before building their
  // text register as soon as the monitor is there.
  bool WillSend(TTraceCategory category);
  // Sends "SQL <category name>: <text>" when the monitor wants the category.
  // Never raises.
  void SendTrace(TTraceCategory category, const QString& text);
  // Registers with the monitor unless that happened or failed before. While
  // the monitor is not running nothing is marked, so the next line tries again.
  void ConnectMonitor();
  // Handed to the monitor: `data` is the component, the category set replaces
  // its enabled categories.
  static void MonitorCallback(void* data, void* unused, std::uint16_t categories);

  std::uint16_t EnabledCategories() const { return enabledCategories_; }
  bool Registered() const { return monitor_ != nullptr; }
  bool RegistrationFailed() const { return registrationFailed_; }

  const QList<TOSession*>& Sessions() const { return sessions_; }

 private:
  friend class TOSession;
  QList<TOSession*> sessions_;  // kept in step with each session's SQLMonitor
  TSMClientPtr monitor_;
  bool registrationFailed_ = false;
  std::uint16_t enabledCategories_ = 0;  // set only by the monitor's callback
  std::intptr_t component_ = 0;          // the value handed to Register
};
