// The client character set and the conversion of text between it and the
// database character set. The simulated database holds its text in UTF-8
// (AL32UTF8); every text a client sends is converted to it, and every text
// the client receives is converted back to the client's set, where a
// character the set cannot hold becomes '?'.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace ocisim {

enum class Charset : unsigned char {
  AL32UTF8,      // UTF-8, the database's own set
  UTF8,          // Oracle's older UTF8: characters beyond U+FFFF as two 3-byte surrogates
  WE8ISO8859P1,  // ISO 8859-1
  US7ASCII,
};

// The client set named by the character-set part of an NLS_LANG value
// ("AMERICAN_AMERICA.WE8ISO8859P1"), letter case ignored. AL32UTF8 when the
// value is null or empty or has no character-set part; empty for a set this
// client has no data for.
std::optional<Charset> charsetOfNlsLang(const char* nlsLang);

// Appends one character, given by its code point, in UTF-8.
void appendUtf8(std::string& out, unsigned long cp);

// Whether client text of this set is the database's text byte for byte.
inline bool sameAsDatabase(Charset cs) { return cs == Charset::AL32UTF8; }

// Client text to database text.
std::string toDatabase(Charset cs, std::string_view text);
// Database text to client text.
std::string toClient(Charset cs, std::string_view text);
// The same, turning `text` itself into client text: a single-byte set takes
// no more room than UTF-8 did, and UTF8 differs only beyond U+FFFF, so the
// text of a fetched value is mostly converted without a copy.
void makeClientText(Charset cs, std::string& text);

// Characters of client text (a surrogate pair of UTF8 counts as one).
std::size_t clientChars(Charset cs, std::string_view text);
// Bytes of the first n characters of client text; the text's size when it has fewer.
std::size_t clientCharBytes(Charset cs, std::string_view text, std::size_t n);
// Bytes of the longest run of whole characters at the start of client text
// that fits in maxBytes.
std::size_t clientPrefix(Charset cs, std::string_view text, std::size_t maxBytes);

}  // namespace ocisim
