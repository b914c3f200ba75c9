// The client character set: encoding and decoding of every text that crosses
// OCI, and byte and character counting in it.
#include "o_charset.h"

#include <QStringView>
#include <algorithm>

namespace {

constexpr TOCharset kAL32UTF8(TOCharset::csAL32UTF8);
constexpr TOCharset kUTF8(TOCharset::csUTF8);
constexpr TOCharset kWE8ISO8859P1(TOCharset::csWE8ISO8859P1);
constexpr TOCharset kUS7ASCII(TOCharset::csUS7ASCII);

struct ClientChoice {
  const TOCharset* set;
  QString unsupported;
};

const ClientChoice& Choice() {
  static const ClientChoice choice = [] {
    const QString name = TOCharset::NlsLangCharset(qEnvironmentVariable("NLS_LANG"));
    if (name.isEmpty()) return ClientChoice{&kAL32UTF8, {}};
    const TOCharset* set = TOCharset::Named(name);
    return set != nullptr ? ClientChoice{set, {}} : ClientChoice{&kAL32UTF8, name};
  }();
  return choice;
}

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Bytes of the sequence that starts at `text`: its byte and the continuation bytes after it.
std::size_t SequenceLength(const char* text, std::size_t available) {
  std::size_t n = 1;
  while (n < available && IsContinuation(static_cast<unsigned char>(text[n]))) ++n;
  return n;
}

// The surrogate that the 3-byte sequence at `text` stands for, or 0.
unsigned Surrogate(const char* text, std::size_t available) {
  if (available < 3) return 0;
  const auto b0 = static_cast<unsigned char>(text[0]);
  const auto b1 = static_cast<unsigned char>(text[1]);
  const auto b2 = static_cast<unsigned char>(text[2]);
  if (b0 != 0xED || b1 < 0xA0 || b1 > 0xBF || !IsContinuation(b2)) return 0;
  return 0xD000u | ((b1 & 0x3Fu) << 6) | (b2 & 0x3Fu);
}

// The code point of a surrogate pair of UTF8 at `text` (6 bytes), or 0.
char32_t SurrogatePair(const char* text, std::size_t available) {
  const unsigned high = Surrogate(text, available);
  if (high < 0xD800 || high > 0xDBFF) return 0;
  const unsigned low = available >= 6 ? Surrogate(text + 3, available - 3) : 0;
  if (low < 0xDC00 || low > 0xDFFF) return 0;
  return 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00);
}

void AppendUtf8(QByteArray& out, char32_t cp) {
  char buffer[4];
  int n = 0;
  if (cp < 0x80) {
    buffer[n++] = static_cast<char>(cp);
  } else if (cp < 0x800) {
    buffer[n++] = static_cast<char>(0xC0 | (cp >> 6));
    buffer[n++] = static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    buffer[n++] = static_cast<char>(0xE0 | (cp >> 12));
    buffer[n++] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    buffer[n++] = static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    buffer[n++] = static_cast<char>(0xF0 | (cp >> 18));
    buffer[n++] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    buffer[n++] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    buffer[n++] = static_cast<char>(0x80 | (cp & 0x3F));
  }
  out.append(buffer, n);
}

}  // namespace

const TOCharset& TOCharset::Client() { return *Choice().set; }

QString TOCharset::ClientUnsupported() { return Choice().unsupported; }

const TOCharset* TOCharset::Named(const QString& name) {
  const QString upper = name.trimmed().toUpper();
  if (upper == QLatin1String("AL32UTF8")) return &kAL32UTF8;
  if (upper == QLatin1String("UTF8")) return &kUTF8;
  if (upper == QLatin1String("WE8ISO8859P1")) return &kWE8ISO8859P1;
  if (upper == QLatin1String("US7ASCII")) return &kUS7ASCII;
  return nullptr;
}

QString TOCharset::NlsLangCharset(const QString& nlsLang) {
  const qsizetype dot = nlsLang.indexOf(QLatin1Char('.'));
  return dot < 0 ? QString() : nlsLang.mid(dot + 1).trimmed();
}

QString TOCharset::Name() const {
  switch (kind_) {
    case csAL32UTF8: return QStringLiteral("AL32UTF8");
    case csUTF8: return QStringLiteral("UTF8");
    case csWE8ISO8859P1: return QStringLiteral("WE8ISO8859P1");
    case csUS7ASCII: return QStringLiteral("US7ASCII");
  }
  return {};
}

namespace {

// The character at text[i], and how many UTF-16 units it takes; half a
// surrogate pair is no character and reads as '?'.
char32_t CharacterAt(QStringView text, qsizetype i, qsizetype& units) {
  const QChar c = text[i];
  units = 1;
  if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
    units = 2;
    return QChar::surrogateToUcs4(c, text[i + 1]);
  }
  return c.isSurrogate() ? U'?' : c.unicode();
}

}  // namespace

std::size_t TOCharset::EncodedSize(char32_t cp) const {
  switch (kind_) {
    case csAL32UTF8: return cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
    case csUTF8: return cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 6;
    default: return 1;
  }
}

QByteArray TOCharset::Encode(const QString& text) const {
  QByteArray out;
  // Room for the longest encoding at once: a password leaves no copies behind.
  out.reserve(text.size() * (kind_ == csAL32UTF8 || kind_ == csUTF8 ? 3 : 1));
  const QStringView view(text);
  qsizetype units = 1;
  for (qsizetype i = 0; i < view.size(); i += units) {
    const char32_t cp = CharacterAt(view, i, units);
    switch (kind_) {
      case csAL32UTF8: AppendUtf8(out, cp); break;
      case csWE8ISO8859P1: out.append(cp < 0x100 ? static_cast<char>(cp) : '?'); break;
      case csUS7ASCII: out.append(cp < 0x80 ? static_cast<char>(cp) : '?'); break;
      case csUTF8:
        if (cp < 0x10000) {
          AppendUtf8(out, cp);
        } else {
          AppendUtf8(out, QChar::highSurrogate(cp));
          AppendUtf8(out, QChar::lowSurrogate(cp));
        }
        break;
    }
  }
  return out;
}

qsizetype TOCharset::TextPosition(const QString& text, std::size_t bytes) const {
  const QStringView view(text);
  std::size_t at = 0;
  qsizetype i = 0;
  qsizetype units = 1;
  for (; i < view.size() && at < bytes; i += units) at += EncodedSize(CharacterAt(view, i, units));
  return i;
}

QString TOCharset::Decode(const char* data, qsizetype size) const {
  switch (kind_) {
    case csAL32UTF8: return QString::fromUtf8(data, size);
    case csWE8ISO8859P1: return QString::fromLatin1(data, size);
    case csUS7ASCII: {
      QString text = QString::fromLatin1(data, size);
      for (QChar& c : text)
        if (c.unicode() >= 0x80) c = QLatin1Char('?');
      return text;
    }
    case csUTF8: {
      const auto n = static_cast<std::size_t>(size);
      QByteArray utf8(static_cast<qsizetype>(Utf8Size(data, n)), Qt::Uninitialized);
      ToUtf8(data, n, utf8.data());
      return QString::fromUtf8(utf8);
    }
  }
  return {};
}

int TOCharset::MaxCharBytes() const {
  switch (kind_) {
    case csAL32UTF8: return 4;
    case csUTF8: return 6;
    default: return 1;
  }
}

std::size_t TOCharset::CharBytes(const char* text, std::size_t available, std::size_t chars) const {
  if (kind_ == csWE8ISO8859P1 || kind_ == csUS7ASCII) return chars < available ? chars : available;
  std::size_t bytes = 0;
  for (; chars > 0 && bytes < available; --chars) {
    if (kind_ == csUTF8 && SurrogatePair(text + bytes, available - bytes) != 0)
      bytes += 6;
    else
      bytes += SequenceLength(text + bytes, available - bytes);
  }
  return bytes;
}

std::size_t TOCharset::Utf8Size(const char* text, std::size_t size) const {
  switch (kind_) {
    case csAL32UTF8:
    case csUS7ASCII: return size;
    case csWE8ISO8859P1: {
      std::size_t n = size;
      for (std::size_t i = 0; i < size; ++i) n += static_cast<unsigned char>(text[i]) >> 7;
      return n;
    }
    case csUTF8: {
      std::size_t n = 0;
      for (std::size_t i = 0; i < size;) {
        if (SurrogatePair(text + i, size - i) != 0) {
          n += 4;
          i += 6;
        } else {
          const std::size_t length = SequenceLength(text + i, size - i);
          n += length;
          i += length;
        }
      }
      return n;
    }
  }
  return size;
}

std::size_t TOCharset::ToUtf8(const char* text, std::size_t size, char* out) const {
  std::size_t n = 0;
  switch (kind_) {
    case csAL32UTF8:
      std::copy(text, text + size, out);
      return size;
    case csUS7ASCII:
      for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<unsigned char>(text[i]) < 0x80 ? text[i] : '?';
      return size;
    case csWE8ISO8859P1:
      for (std::size_t i = 0; i < size; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
          out[n++] = static_cast<char>(c);
        } else {
          out[n++] = static_cast<char>(0xC0 | (c >> 6));
          out[n++] = static_cast<char>(0x80 | (c & 0x3F));
        }
      }
      return n;
    case csUTF8:
      for (std::size_t i = 0; i < size;) {
        if (const char32_t cp = SurrogatePair(text + i, size - i)) {
          out[n++] = static_cast<char>(0xF0 | (cp >> 18));
          out[n++] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
          out[n++] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
          out[n++] = static_cast<char>(0x80 | (cp & 0x3F));
          i += 6;
        } else {
          const std::size_t length = SequenceLength(text + i, size - i);
          std::copy(text + i, text + i + length, out + n);
          n += length;
          i += length;
        }
      }
      return n;
  }
  return n;
}
