// The database session (TOSession) and its user information (ToUserInfo).
#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <functional>

#include "o_oci.h"
#include "o_trace.h"
#include "ui/screen.h"

class TOSession;
class ToSQLMon;
class TFieldDefs;

// What the row cache, LOBs and parameters need of the query that owns them.
class TOQueryContext {
 public:
  // The query's session; null when none is assigned.
  virtual TOSession* QuerySession() const = 0;
  // The record set's field definitions, filled as columns are described.
  virtual TFieldDefs& QueryFieldDefs() = 0;
  // Bytes of calculated-field values kept with each row.
  virtual int QueryCalcFieldsSize() const = 0;

 protected:
  ~TOQueryContext() = default;
};

// What a session needs of a query attached to it: a query is attached while it
// is prepared, and unpreparing closes it, releases its statement and detaches it.
class TOSessionQuery {
 public:
  virtual void Unprepare() = 0;

 protected:
  ~TOSessionQuery() = default;
};

// Credentials and log-on options; owned by its session.
class ToUserInfo {
 public:
  QString Username = QStringLiteral("system");
  QString Password;
  QString Service;  // connect string, passed to the server unchanged even when empty
  bool ForgetPassword = true;
  bool SelectService = true;
  bool ShowLogin = true;
  int Retries = 3;
};

using TOSessionEvent = std::function<void(TOSession* sender)>;

// One connection: one OCI environment, one server attachment, one user session.
class TOSession : public QObject {
  Q_OBJECT

 public:
  explicit TOSession(QObject* owner = nullptr);
  ~TOSession() override;

  bool Connected() const { return connected_; }
  void SetConnected(bool value);

  bool AutoCommit = true;
  TCursor Cursor = crSQLWait;
  TOSessionEvent OnTransChange;
  bool AutoDisconnect = false;

  QString SessionName() const { return sessionName_; }
  void SetSessionName(const QString& name);

  ToSQLMon* SQLMonitor() const { return sqlMonitor_; }
  void SetSQLMonitor(ToSQLMon* monitor);

  ToUserInfo& UserInfo() { return userInfo_; }
  const ToUserInfo& UserInfo() const { return userInfo_; }

  void Connect();
  void LogOn();
  void Disconnect();
  void InitEnvironment();

  // Raises EOError for OCI_ERROR and OCI_INVALID_HANDLE with the client's
  // message; stores every other status in LastStatus.
  void CheckStatus(OCIError* errorHandle, sword status);

  // Hands a trace line to the SQL monitor, if one is attached.
  void Trace(TTraceCategory category, const QString& text);
  // Whether a line of `category` would reach a monitor. Callers that build
  // their text ask first, so that tracing costs nothing without a monitor.
  bool Tracing(TTraceCategory category) const;
  template <class MakeText>
  void TraceWith(TTraceCategory category, MakeText&& makeText) {
    if (Tracing(category)) Trace(category, makeText());
  }

  // The wait-cursor bracket; TOWaitCursor holds one open for a scope.
  void BeginWait();
  void EndWait();
  void DoTransChange();

  void AttachQuery(TOSessionQuery* query);
  void DetachQuery(TOSessionQuery* query);
  void CloseQueries();
  const QList<TOSessionQuery*>& AttachedQueries() const { return queries_; }

  OCIEnv* hEnvironment() const { return hEnvironment_; }
  OCIError* hError() const { return hError_; }
  OCIServer* hServer() const { return hServer_; }
  OCISvcCtx* hService() const { return hService_; }
  OCISession* hSession() const { return hSession_; }
  sword LastStatus() const { return lastStatus_; }
  void SetLastStatus(sword status) { lastStatus_ = status; }

  // The registry of sessions by name (letter case ignored); null when none.
  static TOSession* FindSession(const QString& name);

 private:
  friend class ToSQLMon;
  void RequestEntryPoints();
  // Frees the environment with every handle made under it and forgets them
  // all; with the client library already unloaded it only forgets them.
  void FreeEnvironment();
  // Allocates a handle of `type` under the environment, traced by its `name`.
  void AllocHandle(void** handle, ub4 type, const char* name);

  bool connected_ = false;
  QString sessionName_;
  ToSQLMon* sqlMonitor_ = nullptr;
  ToUserInfo userInfo_;

  bool entryPointsRequested_ = false;
  QList<TOSessionQuery*> queries_;
  bool serverAttached_ = false;
  QString attachedService_;  // what the attachment was made for
  int waitDepth_ = 0;
  TCursor savedCursor_ = crDefault;
  sword lastStatus_ = OCI_SUCCESS;
  OCIEnv* hEnvironment_ = nullptr;
  OCIError* hError_ = nullptr;
  OCIServer* hServer_ = nullptr;
  OCISvcCtx* hService_ = nullptr;
  OCISession* hSession_ = nullptr;
};

// The session's wait cursor for the life of this object: BeginWait when it is
// made, EndWait when it goes, whichever way the scope is left.
class TOWaitCursor {
 public:
  explicit TOWaitCursor(TOSession& session) : session_(session) { session_.BeginWait(); }
  ~TOWaitCursor() { session_.EndWait(); }
  TOWaitCursor(const TOWaitCursor&) = delete;
  TOWaitCursor& operator=(const TOWaitCursor&) = delete;

 private:
  TOSession& session_;
};
