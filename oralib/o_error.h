// Oracle errors: EOError and the operations that raise it.
#pragma once

#include "ui/exception.h"

// The data-access library's exception: the client library's message, and for a
// failed statement the statement's text and the 0-based offset of the error in it.
class EOError : public Exception {
 public:
  explicit EOError(QString message, int errorPos = 0, QString problemSql = {})
      : Exception(std::move(message)), ErrorPos(errorPos), ProblemSQL(std::move(problemSql)) {}

  int ErrorPos;
  QString ProblemSQL;
};

// Raises EOError with `text`, no position and no statement.
[[noreturn]] void RaiseOracleError(const QString& text);

class TOSession;

// Traces "at postion <position> <text>" in category Error through `session`,
// then raises EOError carrying the statement and the position.
[[noreturn]] void RaiseStatementError(TOSession* session, const QString& text, const QString& sql,
                                      int position);
