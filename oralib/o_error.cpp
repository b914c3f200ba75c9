#include "o_error.h"

#include "o_class.h"

void RaiseOracleError(const QString& text) { throw EOError(text); }

void RaiseStatementError(TOSession* session, const QString& text, const QString& sql,
                         int position) {
  if (session != nullptr)
    session->TraceWith(TTraceCategory::Error, [&] {
      return QStringLiteral("at postion ") + QString::number(position) + QLatin1Char(' ') + text;
    });
  throw EOError(text, position, sql);
}
