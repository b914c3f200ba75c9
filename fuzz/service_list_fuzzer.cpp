// ServiceNamesOf over any text: never crashes, and every name it returns is
// made only of the characters a service name may hold (an empty alias before
// "=" is a name too).
#include <QByteArray>
#include <cstdint>
#include <cstdlib>

#include "oralib/o_login.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const QByteArray text(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  for (const QString& name : ServiceNamesOf(text)) {
    for (const QChar c : name)
      if (!(c.isLetterOrNumber() || c == QLatin1Char('.') || c == QLatin1Char('_'))) std::abort();
  }
  return 0;
}
