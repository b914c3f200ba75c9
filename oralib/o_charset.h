// The client character set: the one encoding of every text that crosses OCI
// (statements, credentials, service names, bind values, fetched text, LONG and
// CLOB values, column names and error messages). It is decided once, from
// NLS_LANG, as the client library decides it. Text the record-set framework
// holds is UTF-8; fetched text is converted to it.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstddef>

class TOCharset {
 public:
  enum TKind {
    csAL32UTF8,      // UTF-8
    csUTF8,          // Oracle's older UTF8: characters beyond U+FFFF as two 3-byte surrogates
    csWE8ISO8859P1,  // ISO 8859-1
    csUS7ASCII,
  };

  explicit constexpr TOCharset(TKind kind) : kind_(kind) {}

  // The client's set: the one named by the character-set part of NLS_LANG
  // (AMERICAN_AMERICA.WE8ISO8859P1), read once per process. AL32UTF8 when
  // NLS_LANG is unset or names no set: the text of a Unicode desktop then
  // reaches the database unchanged (a client without NLS_LANG would take
  // US7ASCII and turn every other character into '?').
  static const TOCharset& Client();
  // The set NLS_LANG names when this library cannot convert it (Client() is
  // then AL32UTF8 all the same); empty otherwise.
  static QString ClientUnsupported();
  // The set of that name, letter case ignored; null for one this library does not know.
  static const TOCharset* Named(const QString& name);
  // The character-set part of an NLS_LANG value; empty when it has none.
  static QString NlsLangCharset(const QString& nlsLang);

  TKind Kind() const { return kind_; }
  QString Name() const;
  // Text of this set is UTF-8 byte for byte: fetched text needs no conversion.
  bool IsUtf8() const { return kind_ == csAL32UTF8; }

  // Text in this set; a character the set cannot hold becomes '?'.
  QByteArray Encode(const QString& text) const;
  // Where in `text` the character starts that begins `bytes` bytes into its
  // encoding (the next one when `bytes` falls inside a character): a byte
  // offset into Encode(text) as a position in text.
  qsizetype TextPosition(const QString& text, std::size_t bytes) const;
  // Bytes of this set as text.
  QString Decode(const char* data, qsizetype size) const;
  QString Decode(const QByteArray& bytes) const { return Decode(bytes.constData(), bytes.size()); }

  // Bytes of the first `chars` characters at `text`, at most `available`.
  // Malformed text is walked a lead byte and its continuation bytes at a time.
  std::size_t CharBytes(const char* text, std::size_t available, std::size_t chars) const;

  // The most bytes one character takes in this set.
  int MaxCharBytes() const;
  // The most bytes of UTF-8 that one byte of this set becomes.
  int Utf8Growth() const { return kind_ == csWE8ISO8859P1 ? 2 : 1; }
  // Bytes of UTF-8 that `size` bytes of this set at `text` become.
  std::size_t Utf8Size(const char* text, std::size_t size) const;
  // Writes the UTF-8 of `size` bytes of this set at `text` to `out` (room for
  // Utf8Size bytes, not overlapping `text`); returns the bytes written.
  std::size_t ToUtf8(const char* text, std::size_t size, char* out) const;

 private:
  // Bytes that one character takes in this set ('?' for one it cannot hold).
  std::size_t EncodedSize(char32_t cp) const;

  TKind kind_;
};
