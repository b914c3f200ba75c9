// Text as the instance's tables keep it.

#include "ocisim/stored_text.h"

#include <ctime>

namespace ocisim {

// A text cut to the width of the column it goes into, in bytes, as the server
// keeps it: never in the middle of a character.
std::string fit(std::string_view text, size_t width) {
  if (text.size() <= width) return std::string(text);
  size_t end = width;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return std::string(text.substr(0, end));
}

std::string nowText() {
  const std::time_t t = std::time(nullptr);
  std::tm local{};
  localtime_r(&t, &local);
  char out[32];
  std::strftime(out, sizeof out, "%Y-%m-%d %H:%M:%S", &local);
  return out;
}

}  // namespace ocisim
