// Oracle errors: EOError, the one reader of the client's error text, and the
// operations that raise EOError.
#pragma once

#include "o_oci.h"
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

// The client's text of the first error record of `handle` ("ORA-nnnnn: ..."),
// decoded from the client's character set. `handleType` is OCI_HTYPE_ERROR for
// an error handle or OCI_HTYPE_ENV for the environment (the calls that take no
// error handle report there). Empty for a null handle or when none is recorded.
QString OracleErrorText(dvoid* handle, ub4 handleType);

// Raises EOError with `text`, no position and no statement.
[[noreturn]] void RaiseOracleError(const QString& text);

class TOSession;

// Traces "at postion <position> <text>" in category Error through `session`,
// then raises EOError carrying the statement and the position.
[[noreturn]] void RaiseStatementError(TOSession* session, const QString& text, const QString& sql,
                                      int position);
