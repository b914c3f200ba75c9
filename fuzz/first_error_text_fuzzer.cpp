// FirstErrorText over any message: never crashes, returns part of the message,
// and without "ORA-" the message itself.
#include <QString>
#include <cstdint>
#include <cstdlib>

#include "oralib/o_error_window.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const QString message = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  const QString first = FirstErrorText(message);
  if (!message.contains(first)) std::abort();
  if (!message.contains(QStringLiteral("ORA-")) && first != message) std::abort();
  return 0;
}
