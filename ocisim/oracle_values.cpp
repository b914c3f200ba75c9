#include "ocisim/oracle_values.h"

#include "ocisim/instance.h"
#include "ocisim/sql_lexer.h"

#include <sqlite3.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace ocisim {

namespace {

constexpr const char* kMonths[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                   "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
constexpr const char* kMonthNames[] = {"JANUARY", "FEBRUARY", "MARCH",     "APRIL",
                                       "MAY",     "JUNE",     "JULY",      "AUGUST",
                                       "SEPTEMBER", "OCTOBER", "NOVEMBER", "DECEMBER"};
constexpr const char* kDays[] = {"SUNDAY", "MONDAY", "TUESDAY", "WEDNESDAY",
                                 "THURSDAY", "FRIDAY", "SATURDAY"};

// Reads n digits (1..n when n is negative: at least one, at most -n).
bool digits(std::string_view s, size_t& at, int n, int& out) {
  const int most = n < 0 ? -n : n;
  int got = 0;
  out = 0;
  while (got < most && at < s.size() && std::isdigit(static_cast<unsigned char>(s[at]))) {
    out = out * 10 + (s[at++] - '0');
    ++got;
  }
  return n < 0 ? got > 0 : got == n;
}

int weekday(const DateTime& d) {
  std::tm t{};
  t.tm_year = d.year - 1900;
  t.tm_mon = d.month - 1;
  t.tm_mday = d.day;
  t.tm_hour = 12;
  timegm(&t);
  return t.tm_wday;
}

// Oracle's century rule for two-digit years read with YY: the current century.
int fullYear(int yy) { return (now().year / 100) * 100 + yy; }

// Whether the model at i starts with element e (case-insensitive).
bool starts(std::string_view model, size_t i, std::string_view e) {
  if (model.size() - i < e.size()) return false;
  for (size_t k = 0; k < e.size(); ++k)
    if (std::toupper(static_cast<unsigned char>(model[i + k])) != e[k]) return false;
  return true;
}

std::string hex(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char b : bytes) {
    out += kHex[b >> 4];
    out += kHex[b & 15];
  }
  return out;
}

}  // namespace

namespace {

std::atomic<int> numberScale{0};

}  // namespace

sb1 unconstrainedNumberScale() { return static_cast<sb1>(numberScale.load(std::memory_order_relaxed)); }

void setUnconstrainedNumberScale(sb1 scale) { numberScale.store(scale, std::memory_order_relaxed); }

namespace {

std::atomic<int> dateSize{7};
// The armed length plus one; 0 while none is armed.
std::atomic<std::uint64_t> armedLobLength{0};

}  // namespace

ub2 dateDescribeSize() { return static_cast<ub2>(dateSize.load(std::memory_order_relaxed)); }

void setDateDescribeSize(ub2 size) { dateSize.store(size, std::memory_order_relaxed); }

void armLobLength(ub4 length) { armedLobLength.store(std::uint64_t{length} + 1, std::memory_order_relaxed); }

std::optional<ub4> takeArmedLobLength() {
  const std::uint64_t armed = armedLobLength.exchange(0, std::memory_order_relaxed);
  if (armed == 0) return std::nullopt;
  return static_cast<ub4>(armed - 1);
}

std::optional<ColumnDesc> columnTypeOf(std::string_view declared) {
  const std::vector<Token> toks = [&] {
    try {
      return tokenize(declared);
    } catch (const OraError&) {
      return std::vector<Token>{};
    }
  }();
  if (toks.empty() || toks[0].kind != TokKind::Word) return std::nullopt;
  std::vector<long> args;
  for (size_t i = 1; i < toks.size(); ++i) {
    if (toks[i].kind == TokKind::Number) args.push_back(std::strtol(std::string(toks[i].text).c_str(), nullptr, 10));
    if (toks[i].op("-") && i + 1 < toks.size() && toks[i + 1].kind == TokKind::Number) {
      args.push_back(-std::strtol(std::string(toks[i + 1].text).c_str(), nullptr, 10));
      ++i;
    }
  }
  const auto arg = [&](size_t k, long dflt) { return k < args.size() ? args[k] : dflt; };
  const std::string name = upperAscii(toks[0].text);
  const bool second = toks.size() > 1 && toks[1].kind == TokKind::Word;
  const std::string next = second ? upperAscii(toks[1].text) : std::string();
  ColumnDesc c;
  if (name == "NUMBER" || name == "NUMERIC" || name == "DECIMAL" || name == "INTEGER" ||
      name == "INT" || name == "SMALLINT" || name == "FLOAT") {
    c.type = kTypeNumber;
    c.size = 22;
    if (name == "INTEGER" || name == "INT" || name == "SMALLINT") {
      c.precision = 38;
      c.scale = 0;
    } else if (name == "FLOAT") {
      c.precision = static_cast<sb2>(arg(0, 126));
      c.scale = -127;
    } else {
      c.precision = static_cast<sb2>(arg(0, 0));
      c.scale = static_cast<sb1>(arg(1, 0));
      if (name == "NUMBER" && args.empty()) c.scale = unconstrainedNumberScale();
    }
  } else if (name == "VARCHAR2" || name == "VARCHAR" || name == "NVARCHAR2") {
    c.type = kTypeVarchar2;
    c.size = static_cast<ub2>(arg(0, 4000));
  } else if (name == "CHAR" || name == "NCHAR") {
    c.type = kTypeChar;
    c.size = static_cast<ub2>(arg(0, 1));
  } else if (name == "DATE") {
    c.type = kTypeDate;
    c.size = 7;
  } else if (name == "LONG") {
    // Tables keep a LONG as "LONG VARCHAR" so that SQLite stores its text as text.
    c.type = next == "RAW" ? kTypeLongRaw : kTypeLong;
    c.size = 0;
  } else if (name == "RAW") {
    c.type = kTypeRaw;
    c.size = static_cast<ub2>(arg(0, 2000));
  } else if (name == "ROWID") {
    c.type = kTypeRowid;
    c.size = 18;
  } else if (name == "CLOB" || name == "NCLOB") {
    c.type = kTypeClob;
    c.size = 4000;
  } else if (name == "BLOB") {
    c.type = kTypeBlob;
    c.size = 4000;
  } else if (name == "BFILE") {
    c.type = kTypeBfile;
    c.size = 530;
  } else {
    return std::nullopt;
  }
  return c;
}

Value Value::fromColumn(sqlite3_stmt* stmt, int col) {
  switch (sqlite3_column_type(stmt, col)) {
    case SQLITE_INTEGER: return integer(sqlite3_column_int64(stmt, col));
    case SQLITE_FLOAT: return real(sqlite3_column_double(stmt, col));
    case SQLITE_TEXT: {
      const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(stmt, col));
      return text(std::string(t, static_cast<size_t>(sqlite3_column_bytes(stmt, col))));
    }
    case SQLITE_BLOB: {
      const auto* b = static_cast<const char*>(sqlite3_column_blob(stmt, col));
      return blob(std::string(b ? b : "", static_cast<size_t>(sqlite3_column_bytes(stmt, col))));
    }
    default: return null();
  }
}

void Value::assignColumn(sqlite3_stmt* stmt, int col) {
  sqlite3_value* v = sqlite3_column_value(stmt, col);
  i = 0;
  r = 0;
  switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER:
      kind = Int;
      i = sqlite3_value_int64(v);
      s.clear();
      return;
    case SQLITE_FLOAT:
      kind = Real;
      r = sqlite3_value_double(v);
      s.clear();
      return;
    case SQLITE_TEXT: {
      kind = Text;
      const auto* t = reinterpret_cast<const char*>(sqlite3_value_text(v));
      s.assign(t, static_cast<size_t>(sqlite3_value_bytes(v)));
      return;
    }
    case SQLITE_BLOB: {
      kind = Blob;
      const auto* b = static_cast<const char*>(sqlite3_value_blob(v));
      s.assign(b ? b : "", static_cast<size_t>(sqlite3_value_bytes(v)));
      return;
    }
    default:
      kind = Null;
      s.clear();
      return;
  }
}

Value Value::fromSql(sqlite3_value* v) {
  switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER: return integer(sqlite3_value_int64(v));
    case SQLITE_FLOAT: return real(sqlite3_value_double(v));
    case SQLITE_TEXT: {
      const auto* t = reinterpret_cast<const char*>(sqlite3_value_text(v));
      return text(std::string(t, static_cast<size_t>(sqlite3_value_bytes(v))));
    }
    case SQLITE_BLOB: {
      const auto* b = static_cast<const char*>(sqlite3_value_blob(v));
      return blob(std::string(b ? b : "", static_cast<size_t>(sqlite3_value_bytes(v))));
    }
    default: return null();
  }
}

double Value::number() const { return kind == Int ? static_cast<double>(i) : r; }

void bindValue(sqlite3_stmt* stmt, int index, const Value& v) {
  switch (v.kind) {
    case Value::Null: sqlite3_bind_null(stmt, index); break;
    case Value::Int: sqlite3_bind_int64(stmt, index, v.i); break;
    case Value::Real: sqlite3_bind_double(stmt, index, v.r); break;
    case Value::Text:
      sqlite3_bind_text(stmt, index, v.s.data(), static_cast<int>(v.s.size()), SQLITE_TRANSIENT);
      break;
    case Value::Blob:
      sqlite3_bind_blob(stmt, index, v.s.data(), static_cast<int>(v.s.size()), SQLITE_TRANSIENT);
      break;
  }
}

std::string isoText(const DateTime& d) {
  char out[32];
  std::snprintf(out, sizeof out, "%04d-%02d-%02d %02d:%02d:%02d", d.year, d.month, d.day, d.hour,
                d.minute, d.second);
  return out;
}

bool validDate(const DateTime& d) {
  static constexpr int kDaysIn[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (d.year < -4712 || d.year > 9999 || d.year == 0 || d.month < 1 || d.month > 12) return false;
  const bool leap = (d.year % 4 == 0 && d.year % 100 != 0) || d.year % 400 == 0;
  const int days = kDaysIn[d.month - 1] + (d.month == 2 && leap ? 1 : 0);
  return d.day >= 1 && d.day <= days && d.hour >= 0 && d.hour < 24 && d.minute >= 0 &&
         d.minute < 60 && d.second >= 0 && d.second < 60;
}

std::optional<DateTime> parseDate(std::string_view text) {
  DateTime d;
  size_t at = 0;
  if (text.size() >= 10 && text[4] == '-') {
    if (!digits(text, at, 4, d.year) || text[at++] != '-' || !digits(text, at, 2, d.month) ||
        text[at++] != '-' || !digits(text, at, 2, d.day))
      return std::nullopt;
    if (at < text.size()) {
      if ((text[at] != ' ' && text[at] != 'T') || !digits(text, ++at, 2, d.hour) ||
          at >= text.size() || text[at++] != ':' || !digits(text, at, 2, d.minute) ||
          at >= text.size() || text[at++] != ':' || !digits(text, at, 2, d.second))
        return std::nullopt;
    }
    if (at != text.size() || !validDate(d)) return std::nullopt;
    return d;
  }
  auto viaModel = parseDateWith(text, "DD-MON-YYYY");
  if (!viaModel) viaModel = parseDateWith(text, "DD-MON-YY");
  return viaModel;
}

void toOracleDate(const DateTime& d, unsigned char out[7]) {
  out[0] = static_cast<unsigned char>(d.year / 100 + 100);
  out[1] = static_cast<unsigned char>(d.year % 100 + 100);
  out[2] = static_cast<unsigned char>(d.month);
  out[3] = static_cast<unsigned char>(d.day);
  out[4] = static_cast<unsigned char>(d.hour + 1);
  out[5] = static_cast<unsigned char>(d.minute + 1);
  out[6] = static_cast<unsigned char>(d.second + 1);
}

std::optional<DateTime> fromOracleDate(const unsigned char in[7]) {
  DateTime d;
  d.year = (in[0] - 100) * 100 + (in[1] - 100);
  d.month = in[2];
  d.day = in[3];
  d.hour = in[4] - 1;
  d.minute = in[5] - 1;
  d.second = in[6] - 1;
  if (!validDate(d)) return std::nullopt;
  return d;
}

DateTime now() {
  const std::time_t t = std::time(nullptr);
  std::tm local{};
  localtime_r(&t, &local);
  return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
          local.tm_hour,        local.tm_min,     local.tm_sec};
}

std::string formatDate(const DateTime& d, std::string_view model) {
  std::string out;
  char buf[16];
  for (size_t i = 0; i < model.size();) {
    const auto put = [&](const char* fmt, int v, size_t len) {
      std::snprintf(buf, sizeof buf, fmt, v);
      out += buf;
      i += len;
    };
    if (starts(model, i, "YYYY")) put("%04d", d.year, 4);
    else if (starts(model, i, "YY")) put("%02d", d.year % 100, 2);
    else if (starts(model, i, "MONTH")) { out += kMonthNames[d.month - 1]; i += 5; }
    else if (starts(model, i, "MON")) { out += kMonths[d.month - 1]; i += 3; }
    else if (starts(model, i, "MM")) put("%02d", d.month, 2);
    else if (starts(model, i, "MI")) put("%02d", d.minute, 2);
    else if (starts(model, i, "DDD")) {
      std::tm t{};
      t.tm_year = d.year - 1900; t.tm_mon = d.month - 1; t.tm_mday = d.day; t.tm_hour = 12;
      timegm(&t);
      put("%03d", t.tm_yday + 1, 3);
    }
    else if (starts(model, i, "DAY")) { out += kDays[weekday(d)]; i += 3; }
    else if (starts(model, i, "DY")) { out += std::string(kDays[weekday(d)], 3); i += 2; }
    else if (starts(model, i, "DD")) put("%02d", d.day, 2);
    else if (starts(model, i, "HH24")) put("%02d", d.hour, 4);
    else if (starts(model, i, "HH12")) put("%02d", d.hour % 12 == 0 ? 12 : d.hour % 12, 4);
    else if (starts(model, i, "HH")) put("%02d", d.hour % 12 == 0 ? 12 : d.hour % 12, 2);
    else if (starts(model, i, "SS")) put("%02d", d.second, 2);
    else if (starts(model, i, "AM") || starts(model, i, "PM")) { out += d.hour < 12 ? "AM" : "PM"; i += 2; }
    else if (model[i] == '"') {
      const size_t end = model.find('"', i + 1);
      out += model.substr(i + 1, end == std::string_view::npos ? std::string_view::npos : end - i - 1);
      i = end == std::string_view::npos ? model.size() : end + 1;
    } else {
      out += model[i++];
    }
  }
  return out;
}

std::optional<DateTime> parseDateWith(std::string_view text, std::string_view model) {
  DateTime d;
  bool pm = false, twelve = false;
  size_t at = 0;
  const auto word = [&](const char* const* names, int count, size_t len, int& out) {
    for (int k = 0; k < count; ++k) {
      const std::string_view n(names[k]);
      const size_t take = len ? len : n.size();
      if (text.size() - at >= take && upperAscii(text.substr(at, take)) == n.substr(0, take)) {
        out = k + 1;
        at += take;
        return true;
      }
    }
    return false;
  };
  for (size_t i = 0; i < model.size();) {
    bool ok = true;
    if (starts(model, i, "YYYY")) { ok = digits(text, at, -4, d.year); i += 4; }
    else if (starts(model, i, "YY")) { ok = digits(text, at, -2, d.year); d.year = fullYear(d.year); i += 2; }
    else if (starts(model, i, "MONTH")) { ok = word(kMonthNames, 12, 0, d.month); i += 5; }
    else if (starts(model, i, "MON")) { ok = word(kMonths, 12, 3, d.month); i += 3; }
    else if (starts(model, i, "MM")) { ok = digits(text, at, -2, d.month); i += 2; }
    else if (starts(model, i, "MI")) { ok = digits(text, at, -2, d.minute); i += 2; }
    else if (starts(model, i, "DD")) { ok = digits(text, at, -2, d.day); i += 2; }
    else if (starts(model, i, "HH24")) { ok = digits(text, at, -2, d.hour); i += 4; }
    else if (starts(model, i, "HH12") || starts(model, i, "HH")) {
      ok = digits(text, at, -2, d.hour);
      twelve = true;
      i += starts(model, i, "HH12") ? 4 : 2;
    }
    else if (starts(model, i, "SS")) { ok = digits(text, at, -2, d.second); i += 2; }
    else if (starts(model, i, "AM") || starts(model, i, "PM")) {
      const std::string m = upperAscii(text.substr(at, 2));
      ok = m == "AM" || m == "PM";
      pm = m == "PM";
      at += 2;
      i += 2;
    } else {
      // Punctuation in the model matches any one punctuation or blank in the text.
      if (at < text.size() && !std::isalnum(static_cast<unsigned char>(text[at]))) ++at;
      else ok = false;
      ++i;
    }
    if (!ok) return std::nullopt;
  }
  if (at != text.size()) return std::nullopt;
  if (twelve) {
    if (d.hour < 1 || d.hour > 12) return std::nullopt;
    d.hour = d.hour % 12 + (pm ? 12 : 0);
  }
  if (!validDate(d)) return std::nullopt;
  return d;
}

std::string numberText(const Value& v) {
  if (v.kind == Value::Int) return std::to_string(v.i);
  if (v.kind != Value::Real) return v.s;
  const double x = v.r;
  if (std::isnan(x) || std::isinf(x)) return x > 0 ? "~" : "-~";
  char buf[64];
  // The shortest text that reads back as the same number.
  for (int prec = 15; prec <= 17; ++prec) {
    std::snprintf(buf, sizeof buf, "%.*g", prec, x);
    if (std::strtod(buf, nullptr) == x) break;
  }
  std::string out = buf;
  if (out.find('e') != std::string::npos) {
    // Oracle writes large and small numbers out in full up to 40 digits.
    if (std::fabs(x) < 1e40 && std::fabs(x) >= 1e-30) {
      std::snprintf(buf, sizeof buf, "%.30f", x);
      out = buf;
      out.erase(out.find_last_not_of('0') + 1);
      if (!out.empty() && out.back() == '.') out.pop_back();
    } else {
      const auto e = out.find('e');
      out = out.substr(0, e) + "E" + out.substr(e + 1);
    }
  }
  if (out.rfind("0.", 0) == 0) out.erase(0, 1);
  else if (out.rfind("-0.", 0) == 0) out.erase(1, 1);
  return out;
}

std::optional<Value> parseNumber(std::string_view text) {
  std::string t(text);
  const auto first = t.find_first_not_of(" \t\n\r");
  if (first == std::string::npos) return std::nullopt;
  t = t.substr(first, t.find_last_not_of(" \t\n\r") - first + 1);
  const char* s = t.c_str();
  char* end = nullptr;
  errno = 0;
  const long long i = std::strtoll(s, &end, 10);
  if (*end == '\0' && errno == 0 && end != s) return Value::integer(i);
  const double r = std::strtod(s, &end);
  if (*end != '\0' || end == s || std::isnan(r) || std::isinf(r)) return std::nullopt;
  // Hexadecimal and the like are not numbers to Oracle.
  for (const char* p = s; p < end; ++p)
    if (!std::isdigit(static_cast<unsigned char>(*p)) && !std::strchr("+-.eE", *p)) return std::nullopt;
  return Value::real(r);
}

std::string textOf(const Value& v, ub2 columnType) {
  switch (v.kind) {
    case Value::Null: return {};
    case Value::Int:
    case Value::Real: return numberText(v);
    case Value::Blob: return hex(v.s);
    case Value::Text:
      if (columnType == kTypeDate) {
        if (const auto d = parseDate(v.s)) return formatDate(*d);
      }
      return v.s;
  }
  return {};
}

namespace {

void setLength(const ExternalSlot& slot, size_t n) {
  if (slot.length) *slot.length = static_cast<ub2>(n > 65535 ? 65535 : n);
}

// Copies bytes into a character or raw buffer, truncating to what fits.
int putBytes(const ExternalSlot& slot, std::string_view bytes, bool terminate, bool pad) {
  const size_t room = slot.size > 0 ? static_cast<size_t>(slot.size) - (terminate ? 1 : 0) : 0;
  if (slot.size <= 0 && terminate) throw OraError(1406);
  auto* out = static_cast<char*>(slot.value);
  const size_t n = std::min(bytes.size(), room);
  if (n) std::memcpy(out, bytes.data(), n);
  size_t used = n;
  if (pad && n < room) {
    std::memset(out + n, ' ', room - n);
    used = room;
  }
  if (terminate) out[used] = '\0';
  setLength(slot, used);
  if (bytes.size() > room) {
    if (slot.indicator) *slot.indicator = static_cast<sb2>(bytes.size() > 32767 ? -2 : bytes.size());
    if (slot.returnCode) *slot.returnCode = 1406;
    return 1406;
  }
  return 0;
}

Value numericOf(const Value& v) {
  if (v.kind == Value::Int || v.kind == Value::Real) return v;
  if (v.kind == Value::Text) {
    if (auto n = parseNumber(v.s)) return *n;
  }
  throw OraError(1722);
}

}  // namespace

int writeExternal(const Value& v, ub2 columnType, const ExternalSlot& slot, Charset cs) {
  // The text of a value as the client receives it.
  const auto clientText = [&] {
    std::string text = textOf(v, columnType);
    makeClientText(cs, text);
    return text;
  };
  if (slot.returnCode) *slot.returnCode = 0;
  if (v.isNull()) {
    if (!slot.indicator) throw OraError(1405);
    *slot.indicator = -1;
    setLength(slot, 0);
    return 0;
  }
  if (slot.indicator) *slot.indicator = 0;
  if (!slot.value) throw OraError(21560, "value");
  switch (slot.type) {
    case SQLT_STR:
    case SQLT_AVC:
      return putBytes(slot, clientText(), true, slot.type == SQLT_AVC);
    case SQLT_CHR:
    case SQLT_AFC:
    case SQLT_LNG:
      return putBytes(slot, clientText(), false, slot.type == SQLT_AFC);
    case SQLT_BIN:
    case SQLT_LBI:
      return putBytes(slot, v.kind == Value::Blob || v.kind == Value::Text ? std::string_view(v.s)
                                                                            : textOf(v, columnType),
                      false, false);
    case SQLT_VCS:
    case SQLT_VBI: {
      if (slot.size < 2) throw OraError(1406);
      const std::string bytes = slot.type == SQLT_VBI ? v.s : clientText();
      ExternalSlot body = slot;
      body.value = static_cast<char*>(slot.value) + 2;
      body.size = slot.size - 2;
      const int rc = putBytes(body, bytes, false, false);
      const ub2 n = static_cast<ub2>(std::min<size_t>(bytes.size(), static_cast<size_t>(body.size)));
      std::memcpy(slot.value, &n, 2);
      setLength(slot, n + 2u);
      return rc;
    }
    case SQLT_INT:
    case SQLT_UIN: {
      const Value n = numericOf(v);
      // Fractions are cut off, as Oracle converts NUMBER to an integer type.
      const double d = n.kind == Value::Int ? static_cast<double>(n.i) : std::trunc(n.r);
      const long long x = n.kind == Value::Int ? n.i : static_cast<long long>(d);
      if (n.kind == Value::Real && (d >= 9.3e18 || d <= -9.3e18)) throw OraError(1455);
      const bool uns = slot.type == SQLT_UIN;
      if (uns && x < 0) throw OraError(1455);
      switch (slot.size) {
        case 1: if (uns ? x > 255 : (x < -128 || x > 127)) throw OraError(1455);
          *static_cast<signed char*>(slot.value) = static_cast<signed char>(x); break;
        case 2: if (uns ? x > 65535 : (x < SHRT_MIN || x > SHRT_MAX)) throw OraError(1455);
          { const short s = static_cast<short>(x); std::memcpy(slot.value, &s, 2); } break;
        case 4: if (uns ? x > 4294967295LL : (x < INT_MIN || x > INT_MAX)) throw OraError(1455);
          { const int s = static_cast<int>(x); std::memcpy(slot.value, &s, 4); } break;
        case 8: std::memcpy(slot.value, &x, 8); break;
        default: throw OraError(932);
      }
      setLength(slot, static_cast<size_t>(slot.size));
      return 0;
    }
    case SQLT_FLT: {
      const double d = numericOf(v).number();
      if (slot.size == 8) std::memcpy(slot.value, &d, 8);
      else if (slot.size == 4) { const float f = static_cast<float>(d); std::memcpy(slot.value, &f, 4); }
      else throw OraError(932);
      setLength(slot, static_cast<size_t>(slot.size));
      return 0;
    }
    case SQLT_DAT: {
      if (slot.size < 7) throw OraError(932);
      std::optional<DateTime> d;
      if (v.kind == Value::Text) d = parseDate(v.s);
      if (!d) throw OraError(v.kind == Value::Text ? 1861 : 932);
      toOracleDate(*d, static_cast<unsigned char*>(slot.value));
      setLength(slot, 7);
      return 0;
    }
    default: throw OraError(932);
  }
}

Value readExternal(const ExternalSlot& slot, std::optional<ub4> actualLength) {
  if (slot.indicator && *slot.indicator < 0) return Value::null();
  if (!slot.value) return Value::null();
  const auto* p = static_cast<const char*>(slot.value);
  const size_t size = slot.size > 0 ? static_cast<size_t>(slot.size) : 0;
  const size_t len = actualLength ? std::min<size_t>(*actualLength, size) : size;
  // Oracle stores an empty character value as NULL.
  const auto textValue = [](std::string s) { return s.empty() ? Value::null() : Value::text(std::move(s)); };
  switch (slot.type) {
    case SQLT_STR: return textValue(std::string(p, strnlen(p, size)));
    case SQLT_AVC: {
      std::string s(p, strnlen(p, len));
      s.erase(s.find_last_not_of(' ') + 1);
      return textValue(std::move(s));
    }
    case SQLT_CHR:
    case SQLT_AFC:
    case SQLT_LNG: return textValue(std::string(p, len));
    case SQLT_VCS: {
      if (size < 2) return Value::null();
      ub2 n = 0;
      std::memcpy(&n, p, 2);
      return textValue(std::string(p + 2, std::min<size_t>(n, size - 2)));
    }
    case SQLT_BIN:
    case SQLT_LBI: return len ? Value::blob(std::string(p, len)) : Value::null();
    case SQLT_INT:
      switch (size) {
        case 1: return Value::integer(*reinterpret_cast<const signed char*>(p));
        case 2: { short s; std::memcpy(&s, p, 2); return Value::integer(s); }
        case 4: { int s; std::memcpy(&s, p, 4); return Value::integer(s); }
        case 8: { long long s; std::memcpy(&s, p, 8); return Value::integer(s); }
        default: throw OraError(1460);
      }
    case SQLT_UIN:
      switch (size) {
        case 1: return Value::integer(*reinterpret_cast<const unsigned char*>(p));
        case 2: { unsigned short s; std::memcpy(&s, p, 2); return Value::integer(s); }
        case 4: { unsigned s; std::memcpy(&s, p, 4); return Value::integer(s); }
        default: throw OraError(1460);
      }
    case SQLT_FLT:
      if (size == 8) { double d; std::memcpy(&d, p, 8); return Value::real(d); }
      if (size == 4) { float f; std::memcpy(&f, p, 4); return Value::real(f); }
      throw OraError(1460);
    case SQLT_DAT: {
      if (size < 7) throw OraError(1460);
      const auto d = fromOracleDate(reinterpret_cast<const unsigned char*>(p));
      if (!d) throw OraError(1858);
      return Value::text(isoText(*d));
    }
    default: throw OraError(1460);
  }
}

}  // namespace ocisim
