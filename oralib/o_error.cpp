// EOError's helpers: reading the client's error text and raising EOError.
#include "o_error.h"

#include <cstring>

#include "o_charset.h"
#include "o_class.h"
#include "o_ociap.h"

QString OracleErrorText(dvoid* handle, ub4 handleType) {
  if (handle == nullptr || oci.OCIErrorGet == nullptr) return {};
  text buffer[512] = {0};
  sb4 code = 0;
  oci.OCIErrorGet(handle, 1, nullptr, &code, buffer, sizeof buffer, handleType);
  buffer[sizeof buffer - 1] = 0;  // a client that fills the buffer whole still ends here
  const char* message = reinterpret_cast<const char*>(buffer);
  return TOCharset::Client().Decode(message, static_cast<qsizetype>(std::strlen(message)));
}

void RaiseOracleError(const QString& text) { throw EOError(text); }

void RaiseStatementError(TOSession* session, const QString& text, const QString& sql,
                         int position) {
  if (session != nullptr)
    session->TraceWith(TTraceCategory::Error, [&] {
      return QStringLiteral("at postion ") + QString::number(position) + QLatin1Char(' ') + text;
    });
  throw EOError(text, position, sql);
}
