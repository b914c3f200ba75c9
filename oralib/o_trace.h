// Trace categories of the SQL monitor, in their published order.
#pragma once

#include <QString>

enum class TTraceCategory {
  Prepare,
  Execute,
  Error,
  Stmt,
  Connect,
  Transact,
  Blob,
  Misc,
  Vendor,
  DataIn,
  DataOut
};

// "Prepare", "Execute", ... "DataOut".
QString TraceCategoryName(TTraceCategory category);
