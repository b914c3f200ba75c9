// The SQL monitor client: copies the trace lines of its sessions to an
// external SQL monitor program.
#pragma once

#include <QList>
#include <QObject>

#include "o_trace.h"

class TOSession;

class ToSQLMon : public QObject {
  Q_OBJECT

 public:
  explicit ToSQLMon(QObject* owner = nullptr);
  ~ToSQLMon() override;  // clears the SQLMonitor of every attached session

  bool Active = false;

  // Whether a line of `category` would be sent now.
  bool WillSend(TTraceCategory category) const;
  void SendTrace(TTraceCategory category, const QString& text);

  const QList<TOSession*>& Sessions() const { return sessions_; }

 private:
  friend class TOSession;
  QList<TOSession*> sessions_;  // kept in step with each session's SQLMonitor
};
