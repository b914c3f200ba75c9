// ParseNames over any statement text and marker: never crashes, and every
// name found is a non-empty run of letters, digits and underscores that the
// text holds right after a marker (control characters read as blanks).
#include <QStringList>
#include <cstdint>
#include <cstdlib>

#include "oralib/o_class_params.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const QChar marker = QLatin1Char(static_cast<char>(data[0]));
  const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));
  const QStringList lines = text.split(QLatin1Char('\n'));
  TOParams params(nullptr);
  params.ParseNames(marker, lines);
  QString blanked = text;
  for (QChar& c : blanked)
    if (c.unicode() < 32) c = QLatin1Char(' ');
  for (int i = 0; i < params.Count(); ++i) {
    const QString& name = params[i].Name;
    if (name.isEmpty()) std::abort();
    for (const QChar c : name) {
      const char16_t u = c.unicode();
      if (!((u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9') || u == '_')) std::abort();
    }
    if (!blanked.contains(marker + name)) std::abort();
  }
  return 0;
}
