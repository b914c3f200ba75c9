// The SQL monitor client: finds a running monitor, loads its client library and
// passes trace lines to it.
#include "O_SMCli.h"

#include "o_class.h"
#include "ui/application.h"

ToSQLMon::ToSQLMon(QObject* owner) : QObject(owner) {}

ToSQLMon::~ToSQLMon() {
  // Each session's property points here; clear them all before going away.
  while (!sessions_.isEmpty()) sessions_.last()->SetSQLMonitor(nullptr);
  // Released before the component goes, so the monitor never calls back into it.
  try {
    monitor_.reset();
  } catch (...) {
  }
}

void ToSQLMon::ConnectMonitor() {
  if (monitor_ != nullptr || registrationFailed_) return;
  try {
    if (!SMMonitorPresent()) return;
    TSMClientPtr client = SMCreateInProcServer(kSMClientClassId, kSMClientInterfaceId);
    component_ = reinterpret_cast<std::intptr_t>(this);
    const QByteArray title = Application().Title().toUtf8();
    if (client->Register(component_, title.constData(), this, &ToSQLMon::MonitorCallback) != 0)
      monitor_ = std::move(client);
  } catch (...) {
    // A missing or broken monitor library only stops the lines; it never
    // reaches the code that traced.
  }
  registrationFailed_ = monitor_ == nullptr;
}

void ToSQLMon::MonitorCallback(void* data, void*, std::uint16_t categories) {
  if (data != nullptr) static_cast<ToSQLMon*>(data)->enabledCategories_ = categories;
}

bool ToSQLMon::WillSend(TTraceCategory category) {
  if (!Active) return false;
  ConnectMonitor();
  const auto bit = static_cast<unsigned>(category);
  return monitor_ != nullptr && bit <= 15 && (enabledCategories_ & (1u << bit)) != 0;
}

void ToSQLMon::SendTrace(TTraceCategory category, const QString& text) {
  if (!WillSend(category)) return;
  const QByteArray line =
      QStringLiteral("SQL %1: %2").arg(TraceCategoryName(category), text).toUtf8();
  try {
    monitor_->Send(line.constData(), static_cast<std::int32_t>(line.size()));
  } catch (...) {
    // The line is lost; the traced operation goes on.
  }
}
