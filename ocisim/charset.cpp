// Client character sets: the set NLS_LANG names, and converting text between
// it and the database's UTF-8.
#include "ocisim/charset.h"

#include "ocisim/ascii.h"

#include <cstring>

namespace ocisim {

namespace {

bool isContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Bytes of the sequence that starts at i: the byte and the continuation bytes
// after it, so that malformed text is still walked one character at a time.
std::size_t sequenceLength(std::string_view s, std::size_t i) {
  std::size_t n = 1;
  while (i + n < s.size() && isContinuation(static_cast<unsigned char>(s[i + n]))) ++n;
  return n;
}

// The code point of a well-formed sequence of 1 to 4 bytes; -1 otherwise.
long codePoint(std::string_view s, std::size_t i, std::size_t n) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[i + k]); };
  const unsigned char lead = byte(0);
  long cp = 0;
  std::size_t expected = 0;
  if (lead < 0x80) return lead;
  if ((lead & 0xE0) == 0xC0) cp = lead & 0x1F, expected = 2;
  else if ((lead & 0xF0) == 0xE0) cp = lead & 0x0F, expected = 3;
  else if ((lead & 0xF8) == 0xF0) cp = lead & 0x07, expected = 4;
  else return -1;
  if (n != expected) return -1;
  for (std::size_t k = 1; k < n; ++k) cp = (cp << 6) | (byte(k) & 0x3F);
  // Overlong forms are not characters.
  if ((n == 2 && cp < 0x80) || (n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF))) return -1;
  return cp;
}

bool isHighSurrogate(long cp) { return cp >= 0xD800 && cp <= 0xDBFF; }
bool isLowSurrogate(long cp) { return cp >= 0xDC00 && cp <= 0xDFFF; }

// The code point of a 3-byte sequence at i, which UTF8 also uses for
// surrogates (codePoint refuses none of them); -1 when it is not one.
long cesuUnit(std::string_view s, std::size_t i) {
  if (i + 3 > s.size() || sequenceLength(s, i) != 3) return -1;
  return codePoint(s, i, 3);
}

}  // namespace

void appendUtf8(std::string& out, unsigned long cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::optional<Charset> charsetOfNlsLang(const char* nlsLang) {
  if (!nlsLang) return Charset::AL32UTF8;
  const std::string_view value(nlsLang);
  const auto dot = value.find('.');
  if (dot == std::string_view::npos || dot + 1 == value.size()) return Charset::AL32UTF8;
  const std::string name = upperAscii(value.substr(dot + 1));
  if (name == "AL32UTF8") return Charset::AL32UTF8;
  if (name == "UTF8") return Charset::UTF8;
  if (name == "WE8ISO8859P1") return Charset::WE8ISO8859P1;
  if (name == "US7ASCII") return Charset::US7ASCII;
  return std::nullopt;
}

std::string toDatabase(Charset cs, std::string_view text) {
  if (sameAsDatabase(cs)) return std::string(text);
  std::string out;
  out.reserve(text.size() + text.size() / 2);
  switch (cs) {
    case Charset::WE8ISO8859P1:
      for (unsigned char c : text) appendUtf8(out, c);
      break;
    case Charset::US7ASCII:
      for (unsigned char c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
      break;
    case Charset::UTF8:
      for (std::size_t i = 0; i < text.size();) {
        const long high = cesuUnit(text, i);
        const long low = isHighSurrogate(high) ? cesuUnit(text, i + 3) : -1;
        if (isLowSurrogate(low)) {
          appendUtf8(out, 0x10000 + ((static_cast<unsigned long>(high) - 0xD800) << 10) +
                              (static_cast<unsigned long>(low) - 0xDC00));
          i += 6;
          continue;
        }
        const std::size_t n = sequenceLength(text, i);
        const long cp = codePoint(text, i, n);
        // A lone surrogate or a malformed byte is no character of the database.
        if (cp < 0 || isHighSurrogate(cp) || isLowSurrogate(cp)) out += '?';
        else out.append(text.substr(i, n));
        i += n;
      }
      break;
    case Charset::AL32UTF8: break;
  }
  return out;
}

std::string toClient(Charset cs, std::string_view text) {
  if (sameAsDatabase(cs)) return std::string(text);
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t n = sequenceLength(text, i);
    const long cp = codePoint(text, i, n);
    i += n;
    if (cp < 0) {
      out += '?';
      continue;
    }
    switch (cs) {
      case Charset::WE8ISO8859P1: out += cp < 0x100 ? static_cast<char>(cp) : '?'; break;
      case Charset::US7ASCII: out += cp < 0x80 ? static_cast<char>(cp) : '?'; break;
      case Charset::UTF8:
        if (cp < 0x10000) {
          out.append(text.substr(i - n, n));
        } else {
          const unsigned long v = static_cast<unsigned long>(cp) - 0x10000;
          appendUtf8(out, 0xD800 + (v >> 10));
          appendUtf8(out, 0xDC00 + (v & 0x3FF));
        }
        break;
      case Charset::AL32UTF8: break;
    }
  }
  return out;
}

void makeClientText(Charset cs, std::string& text) {
  switch (cs) {
    case Charset::AL32UTF8: return;
    case Charset::UTF8:
      for (unsigned char c : text)
        if (c >= 0xF0) {
          text = toClient(cs, text);
          return;
        }
      return;
    case Charset::WE8ISO8859P1:
    case Charset::US7ASCII: {
      // ASCII text is the same in every set.
      std::size_t out = 0;
      while (out < text.size() && static_cast<unsigned char>(text[out]) < 0x80) ++out;
      // Each further character becomes one byte, never ahead of the ones still to read.
      for (std::size_t i = out; i < text.size();) {
        const std::size_t n = sequenceLength(text, i);
        const long cp = codePoint(text, i, n);
        const long limit = cs == Charset::WE8ISO8859P1 ? 0x100 : 0x80;
        text[out++] = cp >= 0 && cp < limit ? static_cast<char>(cp) : '?';
        i += n;
      }
      text.resize(out);
      return;
    }
  }
}

std::size_t clientCharBytes(Charset cs, std::string_view text, std::size_t n) {
  if (cs == Charset::WE8ISO8859P1 || cs == Charset::US7ASCII) return n < text.size() ? n : text.size();
  std::size_t i = 0;
  for (; n > 0 && i < text.size(); --n) {
    if (cs == Charset::UTF8 && isHighSurrogate(cesuUnit(text, i)) && isLowSurrogate(cesuUnit(text, i + 3))) {
      i += 6;
      continue;
    }
    i += sequenceLength(text, i);
  }
  return i;
}

std::size_t clientPrefix(Charset cs, std::string_view text, std::size_t maxBytes) {
  if (text.size() <= maxBytes) return text.size();
  std::size_t n = 0;
  for (;;) {
    const std::size_t next = n + clientCharBytes(cs, text.substr(n), 1);
    if (next > maxBytes || next == n) return n;
    n = next;
  }
}

std::size_t clientChars(Charset cs, std::string_view text) {
  if (cs == Charset::WE8ISO8859P1 || cs == Charset::US7ASCII) return text.size();
  std::size_t count = 0;
  for (std::size_t i = 0; i < text.size(); ++count) i = clientCharBytes(cs, text.substr(i), 1) + i;
  return count;
}

}  // namespace ocisim
