// Macro expansion over any statement and values: the macros found in the
// text are given values from the input, then expanded. Never crashes; text
// without any macro comes back unchanged.
#include <QStringList>
#include <cstdint>
#include <cstdlib>

#include "oralib/o_class_params.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Input: the statement, a NUL byte, then the values separated by NUL bytes.
  const QByteArray input(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  const QList<QByteArray> parts = input.split('\0');
  const QString statement = QString::fromUtf8(parts.front());
  const QChar marker = QLatin1Char('%');
  TOParams macros(nullptr);
  macros.ParseNames(marker, statement.split(QLatin1Char('\n')));
  for (int i = 0; i < macros.Count(); ++i) {
    const qsizetype part = i + 1;
    if (part >= parts.size()) break;
    try {
      macros[i].SetAsString(QString::fromUtf8(parts[part]));
    } catch (const std::exception&) {
      // A value longer than the macro holds is refused with an error; that is fine.
    }
  }
  const QString expanded = ExpandMacros(statement, marker, macros);
  if (macros.Count() == 0 && expanded != statement) std::abort();
  return 0;
}
