#include "O_SMCli.h"

#include "o_class.h"

ToSQLMon::ToSQLMon(QObject* owner) : QObject(owner) {}

ToSQLMon::~ToSQLMon() {
  // Each session's property points here; clear them all before going away.
  while (!sessions_.isEmpty()) sessions_.last()->SetSQLMonitor(nullptr);
}

bool ToSQLMon::WillSend(TTraceCategory) const {
  // The connection to the monitor program is not built yet: nothing is sent.
  return false;
}

void ToSQLMon::SendTrace(TTraceCategory category, const QString& text) {
  if (!WillSend(category)) return;
  Q_UNUSED(text);
}
