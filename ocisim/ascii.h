// ASCII letter case, whatever the process's locale: names, keywords, format
// elements and character-set names are ASCII, and a locale's idea of letters
// (a single-byte locale upper-cases bytes of UTF-8 sequences) must not change
// which name a text matches. Only a-z and A-Z count as letters; every other
// byte stays as it is.
#pragma once

#include <string>
#include <string_view>

namespace ocisim {

constexpr char upperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// An upper-cased copy.
inline std::string upperAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = upperAscii(c);
  return out;
}

// Whether two texts are equal, letter case aside.
inline bool equalNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (upperAscii(a[i]) != upperAscii(b[i])) return false;
  return true;
}

}  // namespace ocisim
