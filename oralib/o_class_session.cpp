// The database session: connecting and logging on, the status check that turns
// OCI failures into EOError, tracing, the wait cursor and the attached queries.
#include "O_SMCli.h"
#include "o_charset.h"
#include "o_class.h"
#include "o_error.h"
#include "o_error_window.h"
#include "o_lang.h"
#include "o_login.h"
#include "o_ociap.h"
#include "o_utils.h"
#include "ui/scope_guard.h"

namespace {

// Sessions by name; names compare without letter case.
QList<TOSession*>& Registry() {
  static QList<TOSession*> sessions;
  return sessions;
}

}  // namespace

TOSession::TOSession(QObject* owner) : QObject(owner) {}

TOSession::~TOSession() {
  try {
    Disconnect();
  } catch (...) {
    // A failed log-off cannot stop the destruction; the environment is gone below.
  }
  if (hEnvironment_ != nullptr && oci.OCIHandleFree != nullptr)
    oci.OCIHandleFree(hEnvironment_, OCI_HTYPE_ENV);
  SetSQLMonitor(nullptr);
  queries_.clear();
  Registry().removeAll(this);
}

void TOSession::SetConnected(bool value) {
  if (value)
    Connect();
  else
    Disconnect();
}

void TOSession::RequestEntryPoints() {
  if (entryPointsRequested_) return;
  LoadOCIEntryPoints();
  entryPointsRequested_ = true;
}

void TOSession::Connect() {
  if (connected_) return;
  RequestEntryPoints();
  CreateOracleErrorWindow();
  if (!userInfo_.ShowLogin) {
    LogOn();
    return;
  }
  if (!ExecuteLogin(*this)) throw Exception(QStringLiteral("Not connected to Oracle"));
}

void TOSession::InitEnvironment() {
  RequestEntryPoints();
  if (hEnvironment_ != nullptr) return;
  Trace(TTraceCategory::Vendor, QStringLiteral("OCIInitialize"));
  if (oci.OCIInitialize(OCI_DEFAULT, nullptr, nullptr, nullptr, nullptr) != 0)
    RaiseOracleError(LoadStr(SCantInitOCI));
  try {
    Trace(TTraceCategory::Vendor, QStringLiteral("OCIEnvInit"));
    CheckStatus(nullptr, oci.OCIEnvInit(&hEnvironment_, OCI_DEFAULT, 0, nullptr));
    // A set that the client knows and this library cannot convert would
    // garble every text in both directions.
    if (const QString unsupported = TOCharset::ClientUnsupported(); !unsupported.isEmpty())
      RaiseOracleError(QStringLiteral("Character set %1 of NLS_LANG is not supported").arg(unsupported));
    AllocHandle(reinterpret_cast<void**>(&hError_), OCI_HTYPE_ERROR, "hError");
    AllocHandle(reinterpret_cast<void**>(&hServer_), OCI_HTYPE_SERVER, "hServer");
  } catch (...) {
    // A half-made environment would be taken as ready by the next attempt.
    FreeEnvironment();
    throw;
  }
}

void TOSession::AllocHandle(void** handle, ub4 type, const char* name) {
  Trace(TTraceCategory::Vendor, QStringLiteral("OCIHandleAlloc - ") + QLatin1String(name));
  CheckStatus(nullptr, oci.OCIHandleAlloc(hEnvironment_, handle, type, 0, nullptr));
}

void TOSession::FreeEnvironment() {
  if (hEnvironment_ != nullptr && oci.OCIHandleFree != nullptr) {
    Trace(TTraceCategory::Vendor, QStringLiteral("OCIHandleFree - hEnvironment"));
    oci.OCIHandleFree(hEnvironment_, OCI_HTYPE_ENV);
  }
  hEnvironment_ = nullptr;
  hServer_ = nullptr;
  hError_ = nullptr;
  hService_ = nullptr;
  hSession_ = nullptr;
  serverAttached_ = false;
  attachedService_.clear();
}

void TOSession::LogOn() {
  if (connected_) return;  // a second server session would stay open unseen
  // A password that is not to be kept is forgotten on every way out: after
  // the session began, after a refusal and after any other failure.
  const TScopeExit forget([this] {
    if (userInfo_.ForgetPassword) ForgetText(userInfo_.Password);
  });
  const TOWaitCursor wait(*this);
  {
    // The user session handle is forgotten (the environment owns it) when the
    // log-on fails; the environment and the attachment stay for the next attempt.
    const TUndoOnFailure forgetSession([this] { hSession_ = nullptr; });
    // The attachment a failed log-on left serves only the service it was made for.
    if (serverAttached_ && attachedService_ != userInfo_.Service) FreeEnvironment();
    InitEnvironment();
    AllocHandle(reinterpret_cast<void**>(&hService_), OCI_HTYPE_SVCCTX, "hService");
    AllocHandle(reinterpret_cast<void**>(&hSession_), OCI_HTYPE_SESSION, "hSession");
    if (!serverAttached_) {
      Trace(TTraceCategory::Vendor, QStringLiteral("OCIServerAttach"));
      const QByteArray service = TOCharset::Client().Encode(userInfo_.Service);
      CheckStatus(hError_, oci.OCIServerAttach(hServer_, hError_,
                                               reinterpret_cast<const text*>(service.constData()),
                                               static_cast<sb4>(service.size()), OCI_DEFAULT));
      serverAttached_ = true;
      attachedService_ = userInfo_.Service;
    }
    Trace(TTraceCategory::Vendor, QStringLiteral("OCIAttrSet - hServer"));
    CheckStatus(hError_, oci.OCIAttrSet(hService_, OCI_HTYPE_SVCCTX, hServer_, 0,
                                        OCI_ATTR_SERVER, hError_));
    Trace(TTraceCategory::Vendor, QStringLiteral("OCIAttrSet - Username"));
    QByteArray username = TOCharset::Client().Encode(userInfo_.Username);
    CheckStatus(hError_, oci.OCIAttrSet(hSession_, OCI_HTYPE_SESSION, username.data(),
                                        static_cast<ub4>(username.size()), OCI_ATTR_USERNAME,
                                        hError_));
    Trace(TTraceCategory::Vendor, QStringLiteral("OCIAttrSet - Password"));
    // The encoded copy lives only until the client has taken its own.
    struct Encoded {
      QByteArray bytes;
      ~Encoded() { ForgetBytes(bytes); }
    } password{TOCharset::Client().Encode(userInfo_.Password)};
    CheckStatus(hError_, oci.OCIAttrSet(hSession_, OCI_HTYPE_SESSION, password.bytes.data(),
                                        static_cast<ub4>(password.bytes.size()), OCI_ATTR_PASSWORD,
                                        hError_));
    ForgetBytes(password.bytes);
    Trace(TTraceCategory::Vendor, QStringLiteral("OCISessionBegin"));
    CheckStatus(hError_, oci.OCISessionBegin(hService_, hError_, hSession_, OCI_CRED_RDBMS,
                                             OCI_DEFAULT));
    Trace(TTraceCategory::Vendor, QStringLiteral("OCIAttrSet - hSession"));
    CheckStatus(hError_, oci.OCIAttrSet(hService_, OCI_HTYPE_SVCCTX, hSession_, 0,
                                        OCI_ATTR_SESSION, hError_));
  }
  connected_ = true;
}

void TOSession::Disconnect() {
  {
    const TOWaitCursor wait(*this);
    CloseQueries();
    // After the client library was unloaded (at program end) its handles are gone with it.
    if (hSession_ != nullptr && oci.OCISessionEnd != nullptr) {
      Trace(TTraceCategory::Vendor, QStringLiteral("OCISessionEnd"));
      CheckStatus(hError_, oci.OCISessionEnd(hService_, hError_, hSession_, OCI_DEFAULT));
      hSession_ = nullptr;
    }
    FreeEnvironment();
  }
  connected_ = false;
}

void TOSession::CheckStatus(OCIError* errorHandle, sword status) {
  if (status != OCI_ERROR && status != OCI_INVALID_HANDLE) {
    lastStatus_ = status;
    return;
  }
  RaiseOracleError(errorHandle != nullptr ? OracleErrorText(errorHandle, OCI_HTYPE_ERROR)
                                           : OracleErrorText(hEnvironment_, OCI_HTYPE_ENV));
}

bool TOSession::Tracing(TTraceCategory category) const {
  return sqlMonitor_ != nullptr && sqlMonitor_->WillSend(category);
}

void TOSession::Trace(TTraceCategory category, const QString& text) {
  if (sqlMonitor_ != nullptr) sqlMonitor_->SendTrace(category, text);
}

void TOSession::BeginWait() {
  if (Cursor == crDefault) return;
  if (waitDepth_ == 0) {
    savedCursor_ = Screen::Cursor();
    Screen::SetCursor(Cursor);
  }
  ++waitDepth_;
}

void TOSession::EndWait() {
  if (Cursor == crDefault || waitDepth_ == 0) return;
  if (--waitDepth_ == 0) Screen::SetCursor(savedCursor_);
}

void TOSession::DoTransChange() {
  if (OnTransChange) OnTransChange(this);
}

void TOSession::AttachQuery(TOSessionQuery* query) {
  queries_.removeAll(query);
  queries_.append(query);
}

void TOSession::DetachQuery(TOSessionQuery* query) {
  queries_.removeAll(query);
  if (AutoDisconnect && queries_.isEmpty()) Disconnect();
}

void TOSession::CloseQueries() {
  while (!queries_.isEmpty()) {
    TOSessionQuery* last = queries_.last();
    last->Unprepare();
    // A query that failed to detach itself must not stall the loop.
    queries_.removeAll(last);
  }
}

void TOSession::SetSessionName(const QString& name) {
  if (name == sessionName_) return;
  if (!name.isEmpty()) {
    if (FindSession(name) != nullptr)
      throw Exception(QStringLiteral("Duplicate Session Name \"%1\"").arg(name));
    Registry().append(this);
  }
  if (!sessionName_.isEmpty()) Registry().removeOne(this);
  sessionName_ = name;
}

TOSession* TOSession::FindSession(const QString& name) {
  for (TOSession* session : Registry())
    if (session->sessionName_.compare(name, Qt::CaseInsensitive) == 0) return session;
  return nullptr;
}

void TOSession::SetSQLMonitor(ToSQLMon* monitor) {
  if (monitor == sqlMonitor_) return;
  if (sqlMonitor_ != nullptr) sqlMonitor_->sessions_.removeAll(this);
  if (monitor != nullptr) monitor->sessions_.append(this);
  sqlMonitor_ = monitor;
}
