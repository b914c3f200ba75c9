// Oracle's SQL functions that SQLite lacks or spells differently, registered
// on each session's connection.
#include "ocisim/charset.h"
#include "ocisim/oracle_values.h"
#include "ocisim/ora_errors.h"
#include "ocisim/session_db.h"
#include "ocisim/sql_lexer.h"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cwctype>
#include <locale.h>
#include <optional>
#include <wctype.h>
#include <ctime>
#include <string>

namespace ocisim {

namespace {

SessionDb* sessionOf(sqlite3_context* ctx) { return static_cast<SessionDb*>(sqlite3_user_data(ctx)); }

void resultValue(sqlite3_context* ctx, const Value& v) {
  switch (v.kind) {
    case Value::Null: sqlite3_result_null(ctx); break;
    case Value::Int: sqlite3_result_int64(ctx, v.i); break;
    case Value::Real: sqlite3_result_double(ctx, v.r); break;
    case Value::Text:
      sqlite3_result_text(ctx, v.s.data(), static_cast<int>(v.s.size()), SQLITE_TRANSIENT);
      break;
    case Value::Blob:
      sqlite3_result_blob(ctx, v.s.data(), static_cast<int>(v.s.size()), SQLITE_TRANSIENT);
      break;
  }
}

void resultText(sqlite3_context* ctx, const std::string& s) {
  if (s.empty()) sqlite3_result_null(ctx);  // Oracle's empty string is NULL
  else sqlite3_result_text(ctx, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
}

// Errors carry the Oracle text; the statement layer reads the code back from
// it, and the text after the colon as the argument of a text that has one.
void oraError(sqlite3_context* ctx, int code, std::string_view arg = {}) {
  const std::string text = arg.empty() ? oraMessage(code, arg) : oraMessage(code, {}).substr(0, 11) + std::string(arg);
  sqlite3_result_error(ctx, text.c_str(), static_cast<int>(text.size()));
}

std::string textArg(sqlite3_value* v) {
  const auto* t = reinterpret_cast<const char*>(sqlite3_value_text(v));
  return t ? std::string(t, static_cast<size_t>(sqlite3_value_bytes(v))) : std::string();
}

bool isNull(sqlite3_value* v) { return sqlite3_value_type(v) == SQLITE_NULL; }

// A numeric argument, converted from text as Oracle converts implicitly.
bool numberArg(sqlite3_context* ctx, sqlite3_value* v, Value& out) {
  const Value x = Value::fromSql(v);
  if (x.kind == Value::Int || x.kind == Value::Real) {
    out = x;
    return true;
  }
  if (x.kind == Value::Text) {
    if (auto n = parseNumber(x.s)) {
      out = *n;
      return true;
    }
  }
  oraError(ctx, 1722);
  return false;
}

// A DATE argument: stored DATE text, or text in the default format.
bool dateArg(sqlite3_context* ctx, sqlite3_value* v, DateTime& out) {
  if (const auto d = parseDate(textArg(v))) {
    out = *d;
    return true;
  }
  oraError(ctx, 1858);
  return false;
}

void fnSysdate(sqlite3_context* ctx, int, sqlite3_value**) { resultText(ctx, isoText(now())); }

// Seconds since the epoch, for the views that count the age of something (v$lock's CTIME).
void fnEpoch(sqlite3_context* ctx, int, sqlite3_value**) {
  sqlite3_result_int64(ctx, static_cast<sqlite3_int64>(std::time(nullptr)));
}

void fnUser(sqlite3_context* ctx, int, sqlite3_value**) {
  SessionDb* s = sessionOf(ctx);
  if (s) resultText(ctx, s->logon().username);
  else sqlite3_result_null(ctx);
}

void fnSid(sqlite3_context* ctx, int, sqlite3_value**) {
  SessionDb* s = sessionOf(ctx);
  sqlite3_result_int64(ctx, s ? s->logon().sid : -1);
}

void fnSerial(sqlite3_context* ctx, int, sqlite3_value**) {
  SessionDb* s = sessionOf(ctx);
  sqlite3_result_int64(ctx, s ? s->logon().serial : -1);
}

void fnUserenv(sqlite3_context* ctx, int, sqlite3_value** argv) {
  const std::string what = upperAscii(textArg(argv[0]));
  SessionDb* s = sessionOf(ctx);
  if (what == "SESSIONID") sqlite3_result_int64(ctx, s ? s->logon().audsid : 0);
  else if (what == "LANGUAGE") resultText(ctx, "AMERICAN_AMERICA.WE8ISO8859P1");
  else if (what == "LANG") resultText(ctx, "US");
  else if (what == "TERMINAL") resultText(ctx, "UNKNOWN");
  else if (what == "ISDBA") resultText(ctx, s && s->isDba() ? "TRUE" : "FALSE");
  else oraError(ctx, 2003);
}

void fnNvl(sqlite3_context* ctx, int, sqlite3_value** argv) {
  sqlite3_result_value(ctx, isNull(argv[0]) ? argv[1] : argv[0]);
}

void fnNvl2(sqlite3_context* ctx, int, sqlite3_value** argv) {
  sqlite3_result_value(ctx, isNull(argv[0]) ? argv[2] : argv[1]);
}

// decode(expr, search1, result1, ..., [default]); NULL matches NULL.
void fnDecode(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (argc < 3) {
    oraError(ctx, 938);
    return;
  }
  const Value x = Value::fromSql(argv[0]);
  for (int k = 1; k + 1 < argc; k += 2) {
    const Value s = Value::fromSql(argv[k]);
    bool same = x.isNull() && s.isNull();
    if (!x.isNull() && !s.isNull()) {
      const bool xn = x.kind == Value::Int || x.kind == Value::Real;
      const bool sn = s.kind == Value::Int || s.kind == Value::Real;
      same = xn && sn ? x.number() == s.number() : textOf(x, 0) == textOf(s, 0);
    }
    if (same) {
      sqlite3_result_value(ctx, argv[k + 1]);
      return;
    }
  }
  if (argc % 2 == 0) sqlite3_result_value(ctx, argv[argc - 1]);
  else sqlite3_result_null(ctx);
}

void fnToChar(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (isNull(argv[0])) {
    sqlite3_result_null(ctx);
    return;
  }
  const Value v = Value::fromSql(argv[0]);
  if (v.kind == Value::Text) {
    // Text that holds a stored DATE is a date; other text passes unchanged.
    const auto d = v.s.size() >= 10 && v.s[4] == '-' ? parseDate(v.s) : std::nullopt;
    if (d) resultText(ctx, argc > 1 ? formatDate(*d, textArg(argv[1])) : formatDate(*d));
    else resultText(ctx, v.s);
    return;
  }
  resultText(ctx, textOf(v, kTypeNumber));
}

void fnToDate(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (isNull(argv[0])) {
    sqlite3_result_null(ctx);
    return;
  }
  const std::string text = textArg(argv[0]);
  const auto d = argc > 1 ? parseDateWith(text, textArg(argv[1])) : parseDate(text);
  if (!d) {
    oraError(ctx, 1861);
    return;
  }
  resultText(ctx, isoText(*d));
}

void fnToNumber(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (isNull(argv[0])) {
    sqlite3_result_null(ctx);
    return;
  }
  Value n;
  if (numberArg(ctx, argv[0], n)) resultValue(ctx, n);
}

void fnTrunc(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (isNull(argv[0])) {
    sqlite3_result_null(ctx);
    return;
  }
  if (sqlite3_value_type(argv[0]) == SQLITE_TEXT && !parseNumber(textArg(argv[0]))) {
    DateTime d;
    if (!dateArg(ctx, argv[0], d)) return;
    d.hour = d.minute = d.second = 0;
    resultText(ctx, isoText(d));
    return;
  }
  Value n;
  if (!numberArg(ctx, argv[0], n)) return;
  if (n.kind == Value::Int && argc == 1) {
    resultValue(ctx, n);
    return;
  }
  const double places = argc > 1 ? sqlite3_value_double(argv[1]) : 0;
  const double scale = std::pow(10.0, std::trunc(places));
  const double r = std::trunc(n.number() * scale) / scale;
  if (r == std::trunc(r) && std::fabs(r) < 9e18) sqlite3_result_int64(ctx, static_cast<long long>(r));
  else sqlite3_result_double(ctx, r);
}

void fnMod(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (isNull(argv[0]) || isNull(argv[1])) {
    sqlite3_result_null(ctx);
    return;
  }
  Value a, b;
  if (!numberArg(ctx, argv[0], a) || !numberArg(ctx, argv[1], b)) return;
  if (a.kind == Value::Int && b.kind == Value::Int) {
    // Any integer modulo -1 is 0; computing it would trap for the smallest integer.
    sqlite3_result_int64(ctx, b.i == 0 ? a.i : b.i == -1 ? 0 : a.i % b.i);
    return;
  }
  const double y = b.number();
  sqlite3_result_double(ctx, y == 0 ? a.number() : std::fmod(a.number(), y));
}

void extreme(sqlite3_context* ctx, int argc, sqlite3_value** argv, bool greatest) {
  int best = 0;
  for (int k = 0; k < argc; ++k) {
    if (isNull(argv[k])) {
      sqlite3_result_null(ctx);
      return;
    }
  }
  for (int k = 1; k < argc; ++k) {
    const Value a = Value::fromSql(argv[best]), b = Value::fromSql(argv[k]);
    const bool numeric = (a.kind == Value::Int || a.kind == Value::Real) &&
                         (b.kind == Value::Int || b.kind == Value::Real);
    const int cmp = numeric ? (b.number() > a.number()) - (b.number() < a.number())
                            : textOf(b, 0).compare(textOf(a, 0));
    if (greatest ? cmp > 0 : cmp < 0) best = k;
  }
  sqlite3_result_value(ctx, argv[best]);
}

void fnGreatest(sqlite3_context* ctx, int argc, sqlite3_value** argv) { extreme(ctx, argc, argv, true); }
void fnLeast(sqlite3_context* ctx, int argc, sqlite3_value** argv) { extreme(ctx, argc, argv, false); }

// Bytes of the UTF-8 character that starts at i (malformed bytes count one each).
size_t charBytes(std::string_view s, size_t i) {
  size_t n = 1;
  while (i + n < s.size() && (static_cast<unsigned char>(s[i + n]) & 0xC0) == 0x80) ++n;
  return n;
}

// Bytes of the first n characters of UTF-8 text (all of it when it has fewer).
size_t prefixBytes(std::string_view s, size_t n) {
  size_t i = 0;
  for (; n > 0 && i < s.size(); --n) i += charBytes(s, i);
  return i;
}

size_t charCount(std::string_view s) {
  size_t n = 0;
  for (size_t i = 0; i < s.size(); i += charBytes(s, i)) ++n;
  return n;
}

// lpad and rpad count characters, as the server does for single-width ones.
void pad(sqlite3_context* ctx, int argc, sqlite3_value** argv, bool left) {
  if (isNull(argv[0]) || isNull(argv[1])) {
    sqlite3_result_null(ctx);
    return;
  }
  std::string s = textArg(argv[0]);
  const long long n = sqlite3_value_int64(argv[1]);
  const std::string with = argc > 2 ? textArg(argv[2]) : " ";
  if (n <= 0 || with.empty()) {
    sqlite3_result_null(ctx);
    return;
  }
  if (n > 32767) {
    oraError(ctx, 1489);
    return;
  }
  const size_t want = static_cast<size_t>(n);
  const size_t have = charCount(s);
  if (have >= want) {
    resultText(ctx, s.substr(0, prefixBytes(s, want)));
    return;
  }
  std::string fill;
  for (size_t missing = want - have, at = 0; missing > 0; --missing) {
    if (at >= with.size()) at = 0;
    const size_t k = charBytes(with, at);
    fill.append(with, at, k);
    at += k;
  }
  resultText(ctx, left ? fill + s : s + fill);
}

void fnLpad(sqlite3_context* ctx, int argc, sqlite3_value** argv) { pad(ctx, argc, argv, true); }
void fnRpad(sqlite3_context* ctx, int argc, sqlite3_value** argv) { pad(ctx, argc, argv, false); }

// Characters of UTF-8 text as code points, and back. A byte that starts no
// valid sequence stands for itself (as Latin-1), so that nothing is lost.
std::u32string decodeUtf8(std::string_view s) {
  std::u32string out;
  for (size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    const int n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    bool valid = n > 0 && i + static_cast<size_t>(n) <= s.size();
    char32_t cp = n == 1 ? c : n == 2 ? (c & 0x1F) : n == 3 ? (c & 0x0F) : (c & 0x07);
    for (int k = 1; valid && k < n; ++k) {
      const auto f = static_cast<unsigned char>(s[i + static_cast<size_t>(k)]);
      valid = (f & 0xC0) == 0x80;
      cp = (cp << 6) | (f & 0x3F);
    }
    if (!valid) {
      out += c;
      ++i;
      continue;
    }
    out += cp;
    i += static_cast<size_t>(n);
  }
  return out;
}

// The letter case of every character the database's Unicode knows, not just
// of ASCII (the server's UPPER of 'müller' is 'MÜLLER'), by the C library's
// UTF-8 locale; one character stays one character ('ß' stays 'ß').
locale_t unicodeLocale() {
  static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  return locale;
}

char32_t toUpperChar(char32_t c) {
  if (c < 0x80) return static_cast<char32_t>(std::toupper(static_cast<int>(c)));
  const locale_t l = unicodeLocale();
  return l ? static_cast<char32_t>(towupper_l(static_cast<wint_t>(c), l)) : c;
}

char32_t toLowerChar(char32_t c) {
  if (c < 0x80) return static_cast<char32_t>(std::tolower(static_cast<int>(c)));
  const locale_t l = unicodeLocale();
  return l ? static_cast<char32_t>(towlower_l(static_cast<wint_t>(c), l)) : c;
}

bool isAlnumChar(char32_t c) {
  if (c < 0x80) return std::isalnum(static_cast<int>(c)) != 0;
  const locale_t l = unicodeLocale();
  return l ? iswalnum_l(static_cast<wint_t>(c), l) != 0 : true;
}

void caseMapped(sqlite3_context* ctx, sqlite3_value* v, char32_t (*map)(char32_t)) {
  if (isNull(v)) {
    sqlite3_result_null(ctx);
    return;
  }
  std::string out;
  for (char32_t c : decodeUtf8(textArg(v))) appendUtf8(out, map(c));
  resultText(ctx, out);
}

void fnUpper(sqlite3_context* ctx, int, sqlite3_value** argv) { caseMapped(ctx, argv[0], toUpperChar); }
void fnLower(sqlite3_context* ctx, int, sqlite3_value** argv) { caseMapped(ctx, argv[0], toLowerChar); }

void fnInitcap(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (isNull(argv[0])) {
    sqlite3_result_null(ctx);
    return;
  }
  std::string out;
  bool start = true;
  for (char32_t c : decodeUtf8(textArg(argv[0]))) {
    appendUtf8(out, start ? toUpperChar(c) : toLowerChar(c));
    start = !isAlnumChar(c);
  }
  resultText(ctx, out);
}

// CHR(n): the character whose code in the database's character set (AL32UTF8)
// is n: the bytes of n, most significant first (chr(50084) is 'ä', C3 A4). A
// value whose bytes are no character of the set gives the replacement
// character, as text the database can hold.
void fnChr(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (isNull(argv[0])) {
    sqlite3_result_null(ctx);
    return;
  }
  Value n;
  if (!numberArg(ctx, argv[0], n)) return;
  const double d = n.number();
  if (d < 0 || d >= 4294967296.0) {
    oraError(ctx, 1722);
    return;
  }
  const auto code = static_cast<std::uint32_t>(d);
  std::string bytes;
  for (int shift = 24; shift >= 0; shift -= 8)
    if (const auto b = static_cast<char>((code >> shift) & 0xFF); b != 0 || !bytes.empty() || shift == 0)
      bytes += b;
  const std::u32string decoded = decodeUtf8(bytes);
  std::string out;
  if (decoded.size() == 1 && (decoded[0] < 0x80 || bytes.size() > 1)) out = bytes;
  else appendUtf8(out, 0xFFFD);
  sqlite3_result_text(ctx, out.data(), static_cast<int>(out.size()), SQLITE_TRANSIENT);
}

// INSTR(string, substring [, position [, occurrence]]), in characters: a
// negative position counts from the end and searches backwards; the
// occurrence must be at least 1.
void fnInstr(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  for (int i = 0; i < argc; ++i) {
    if (isNull(argv[i])) {
      sqlite3_result_null(ctx);
      return;
    }
  }
  Value position = Value::integer(1), occurrence = Value::integer(1);
  if (argc > 2 && !numberArg(ctx, argv[2], position)) return;
  if (argc > 3 && !numberArg(ctx, argv[3], occurrence)) return;
  const auto from = static_cast<long long>(std::trunc(position.number()));
  const auto nth = static_cast<long long>(std::trunc(occurrence.number()));
  if (nth < 1) {
    oraError(ctx, 1428, std::to_string(nth));
    return;
  }
  const std::u32string s = decodeUtf8(textArg(argv[0]));
  const std::u32string sub = decodeUtf8(textArg(argv[1]));
  const auto length = static_cast<long long>(s.size());
  const auto width = static_cast<long long>(sub.size());
  long long found = 0, seen = 0;
  if (from > 0) {
    for (long long at = from - 1; at + width <= length; ++at)
      if (s.compare(static_cast<size_t>(at), static_cast<size_t>(width), sub) == 0 && ++seen == nth) {
        found = at + 1;
        break;
      }
  } else if (from < 0) {
    for (long long at = std::min(length + from, length - width); at >= 0; --at)
      if (s.compare(static_cast<size_t>(at), static_cast<size_t>(width), sub) == 0 && ++seen == nth) {
        found = at + 1;
        break;
      }
  }
  sqlite3_result_int64(ctx, found);
}

// The right operand of a division: zero raises ORA-01476 as the server does
// (SQLite would answer NULL).
void fnDivisor(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (isNull(argv[0])) {
    sqlite3_result_null(ctx);
    return;
  }
  Value d;
  if (!numberArg(ctx, argv[0], d)) return;
  if (d.number() == 0) {
    oraError(ctx, 1476);
    return;
  }
  resultValue(ctx, d);
}

// A stored DATE: text of exactly the form "YYYY-MM-DD HH:MM:SS" (what the
// date functions and DATE columns hold).
std::optional<DateTime> storedDate(const Value& v) {
  if (v.kind != Value::Text || v.s.size() != 19 || v.s[4] != '-' || v.s[10] != ' ') return std::nullopt;
  return parseDate(v.s);
}

// A number operand of + and -: text is converted as Oracle converts implicitly.
bool arithmeticNumber(sqlite3_context* ctx, const Value& v, Value& out) {
  if (v.kind == Value::Int || v.kind == Value::Real) {
    out = v;
    return true;
  }
  if (v.kind == Value::Text)
    if (auto n = parseNumber(v.s)) {
      out = *n;
      return true;
    }
  oraError(ctx, 1722);
  return false;
}

long long daysFromCivil(int y, int m, int d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const long long yoe = y - era * 400;
  const long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

DateTime civilFromDays(long long z) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const long long doe = z - era * 146097;
  const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long long mp = (5 * doy + 2) / 153;
  DateTime d;
  d.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  d.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  d.year = static_cast<int>(yoe + era * 400 + (d.month <= 2));
  return d;
}

long long secondsOf(const DateTime& d) {
  return daysFromCivil(d.year, d.month, d.day) * 86400 + d.hour * 3600 + d.minute * 60 + d.second;
}

// A DATE moved by a number of days (fractions are hours, minutes and seconds,
// to the nearest second), within the years the server allows.
void resultShiftedDate(sqlite3_context* ctx, const DateTime& d, double days) {
  const double seconds = static_cast<double>(secondsOf(d)) + std::round(days * 86400.0);
  const double first = static_cast<double>(daysFromCivil(-4712, 1, 1)) * 86400.0;
  const double last = static_cast<double>(daysFromCivil(9999, 12, 31)) * 86400.0 + 86399.0;
  if (!(seconds >= first && seconds <= last)) {
    oraError(ctx, 1841);
    return;
  }
  const auto total = static_cast<long long>(seconds);
  const long long day = total >= 0 ? total / 86400 : -((-total + 86399) / 86400);
  const long long rest = total - day * 86400;
  DateTime out = civilFromDays(day);
  out.hour = static_cast<int>(rest / 3600);
  out.minute = static_cast<int>(rest / 60 % 60);
  out.second = static_cast<int>(rest % 60);
  resultText(ctx, isoText(out));
}

void resultNumber(sqlite3_context* ctx, const Value& a, const Value& b, bool minus) {
  if (a.kind == Value::Int && b.kind == Value::Int) {
    long long r = 0;
    if (!(minus ? __builtin_sub_overflow(a.i, b.i, &r) : __builtin_add_overflow(a.i, b.i, &r))) {
      sqlite3_result_int64(ctx, r);
      return;
    }
  }
  sqlite3_result_double(ctx, minus ? a.number() - b.number() : a.number() + b.number());
}

// Oracle's + and - (SQLite's would read a DATE's text as a number): a DATE and
// a number of days give a DATE, two DATEs subtracted the days between them.
void fnPlus(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (isNull(argv[0]) || isNull(argv[1])) {
    sqlite3_result_null(ctx);
    return;
  }
  const Value a = Value::fromSql(argv[0]), b = Value::fromSql(argv[1]);
  const auto da = storedDate(a), db = storedDate(b);
  if (da && db) {
    oraError(ctx, 975);
    return;
  }
  Value x, y;
  if (da || db) {
    if (!arithmeticNumber(ctx, da ? b : a, x)) return;
    resultShiftedDate(ctx, da ? *da : *db, x.number());
    return;
  }
  if (!arithmeticNumber(ctx, a, x) || !arithmeticNumber(ctx, b, y)) return;
  resultNumber(ctx, x, y, false);
}

void fnMinus(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (isNull(argv[0]) || isNull(argv[1])) {
    sqlite3_result_null(ctx);
    return;
  }
  const Value a = Value::fromSql(argv[0]), b = Value::fromSql(argv[1]);
  const auto da = storedDate(a), db = storedDate(b);
  Value x, y;
  if (da && db) {
    const long long seconds = secondsOf(*da) - secondsOf(*db);
    if (seconds % 86400 == 0) sqlite3_result_int64(ctx, seconds / 86400);
    else sqlite3_result_double(ctx, static_cast<double>(seconds) / 86400.0);
    return;
  }
  if (db) {
    oraError(ctx, 932);
    return;
  }
  if (da) {
    if (!arithmeticNumber(ctx, b, y)) return;
    resultShiftedDate(ctx, *da, -y.number());
    return;
  }
  if (!arithmeticNumber(ctx, a, x) || !arithmeticNumber(ctx, b, y)) return;
  resultNumber(ctx, x, y, true);
}

// Oracle's ||: NULL is the empty string, and an empty result is NULL.
void fnConcatenate(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  std::string out;
  for (int i = 0; i < argc; ++i) out += textOf(Value::fromSql(argv[i]), 0);
  resultText(ctx, out);
}

void fnConcat(sqlite3_context* ctx, int, sqlite3_value** argv) {
  resultText(ctx, textOf(Value::fromSql(argv[0]), 0) + textOf(Value::fromSql(argv[1]), 0));
}

void fnEmptyClob(sqlite3_context* ctx, int, sqlite3_value**) { sqlite3_result_text(ctx, "", 0, SQLITE_STATIC); }
void fnEmptyBlob(sqlite3_context* ctx, int, sqlite3_value**) { sqlite3_result_zeroblob(ctx, 0); }

// A BFILE value is kept as "DIRECTORY/file name".
void fnBfilename(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (isNull(argv[0]) || isNull(argv[1])) {
    sqlite3_result_null(ctx);
    return;
  }
  resultText(ctx, textArg(argv[0]) + "/" + textArg(argv[1]));
}

void fnAddMonths(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (isNull(argv[0]) || isNull(argv[1])) {
    sqlite3_result_null(ctx);
    return;
  }
  DateTime d;
  if (!dateArg(ctx, argv[0], d)) return;
  // Beyond a few hundred thousand months no date is left; the bound keeps the sum in range.
  const long long added = std::clamp<long long>(sqlite3_value_int64(argv[1]), -1000000, 1000000);
  const long long months = d.year * 12LL + (d.month - 1) + added;
  DateTime r = d;
  r.year = static_cast<int>(months / 12);
  r.month = static_cast<int>(months % 12) + 1;
  while (!validDate(r) && r.day > 28) --r.day;  // the last day of a shorter month
  if (!validDate(r)) {
    oraError(ctx, 1841);
    return;
  }
  resultText(ctx, isoText(r));
}

void fnLastDay(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (isNull(argv[0])) {
    sqlite3_result_null(ctx);
    return;
  }
  DateTime d;
  if (!dateArg(ctx, argv[0], d)) return;
  d.day = 31;
  while (!validDate(d)) --d.day;
  resultText(ctx, isoText(d));
}

void rounding(sqlite3_context* ctx, sqlite3_value* v, double (*f)(double)) {
  if (isNull(v)) {
    sqlite3_result_null(ctx);
    return;
  }
  Value n;
  if (!numberArg(ctx, v, n)) return;
  if (n.kind == Value::Int) {
    sqlite3_result_int64(ctx, n.i);
    return;
  }
  const double r = f(n.r);
  if (std::fabs(r) < 9e18) sqlite3_result_int64(ctx, static_cast<long long>(r));
  else sqlite3_result_double(ctx, r);
}

void fnCeil(sqlite3_context* ctx, int, sqlite3_value** argv) { rounding(ctx, argv[0], [](double x) { return std::ceil(x); }); }
void fnFloor(sqlite3_context* ctx, int, sqlite3_value** argv) { rounding(ctx, argv[0], [](double x) { return std::floor(x); }); }

void fnPower(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (isNull(argv[0]) || isNull(argv[1])) {
    sqlite3_result_null(ctx);
    return;
  }
  Value a, b;
  if (!numberArg(ctx, argv[0], a) || !numberArg(ctx, argv[1], b)) return;
  sqlite3_result_double(ctx, std::pow(a.number(), b.number()));
}

struct Fn {
  const char* name;
  int args;
  void (*fn)(sqlite3_context*, int, sqlite3_value**);
  bool deterministic;
};

constexpr Fn kFunctions[] = {
    {"ocisim_sysdate", 0, fnSysdate, false},
    {"ocisim_epoch", 0, fnEpoch, false},
    {"ocisim_user", 0, fnUser, false},
    {"ocisim_sid", 0, fnSid, false},
    {"ocisim_serial", 0, fnSerial, false},
    {"userenv", 1, fnUserenv, false},
    {"nvl", 2, fnNvl, true},
    {"nvl2", 3, fnNvl2, true},
    {"decode", -1, fnDecode, true},
    {"to_char", 1, fnToChar, true},
    {"to_char", 2, fnToChar, true},
    {"to_date", 1, fnToDate, true},
    {"to_date", 2, fnToDate, true},
    {"to_number", 1, fnToNumber, true},
    {"trunc", 1, fnTrunc, true},
    {"trunc", 2, fnTrunc, true},
    {"mod", 2, fnMod, true},
    {"greatest", -1, fnGreatest, true},
    {"least", -1, fnLeast, true},
    {"lpad", 2, fnLpad, true},
    {"lpad", 3, fnLpad, true},
    {"rpad", 2, fnRpad, true},
    {"rpad", 3, fnRpad, true},
    {"initcap", 1, fnInitcap, true},
    {"upper", 1, fnUpper, true},
    {"lower", 1, fnLower, true},
    {"chr", 1, fnChr, true},
    {"instr", 2, fnInstr, true},
    {"instr", 3, fnInstr, true},
    {"instr", 4, fnInstr, true},
    {"ocisim_divisor", 1, fnDivisor, true},
    {"ocisim_plus", 2, fnPlus, true},
    {"ocisim_minus", 2, fnMinus, true},
    {"ocisim_concat", 2, fnConcatenate, true},
    {"concat", 2, fnConcat, true},
    {"empty_clob", 0, fnEmptyClob, true},
    {"empty_blob", 0, fnEmptyBlob, true},
    {"bfilename", 2, fnBfilename, true},
    {"add_months", 2, fnAddMonths, true},
    {"last_day", 1, fnLastDay, true},
    {"ceil", 1, fnCeil, true},
    {"floor", 1, fnFloor, true},
    {"power", 2, fnPower, true},
};

// SQLite's own functions that mean what Oracle's of the same name mean. The
// rest of SQLite's (fts3_tokenizer, load_extension, zeroblob, printf, the
// json and date functions...) are no part of the dialect.
constexpr std::string_view kEngineFunctions[] = {
    "abs", "acos", "asin", "atan", "avg", "coalesce", "cos", "cosh", "count", "cume_dist", "dense_rank",
    "exp", "first_value", "lag", "last_value", "lead", "length", "like", "ln", "log",
    "ltrim", "max", "min", "ntile", "nullif", "percent_rank", "rank", "replace", "round", "row_number",
    "rtrim", "sign", "sin", "sinh", "soundex", "sqrt", "substr", "sum", "tan", "tanh", "trim",
};

}  // namespace

bool isDialectFunction(std::string_view name) {
  for (const Fn& f : kFunctions)
    if (equalNoCase(name, f.name)) return true;
  for (std::string_view f : kEngineFunctions)
    if (equalNoCase(name, f)) return true;
  return false;
}

void registerOracleFunctions(sqlite3* db, SessionDb* session) {
  for (const Fn& f : kFunctions) {
    // None has side effects: a view of the user's may call them.
    const int flags = SQLITE_UTF8 | SQLITE_INNOCUOUS | (f.deterministic ? SQLITE_DETERMINISTIC : 0);
    sqlite3_create_function_v2(db, f.name, f.args, flags, session, f.fn, nullptr, nullptr, nullptr);
  }
}

}  // namespace ocisim
