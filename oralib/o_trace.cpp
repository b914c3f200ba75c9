// Trace categories of the SQL monitor, in their published order.
#include "o_trace.h"

#include <array>

QString TraceCategoryName(TTraceCategory category) {
  static const std::array<const char*, 11> names = {
      "Prepare", "Execute", "Error", "Stmt", "Connect", "Transact",
      "Blob",    "Misc",    "Vendor", "DataIn", "DataOut"};
  const auto index = static_cast<std::size_t>(category);
  return index < names.size() ? QLatin1String(names[index]) : QString();
}
