// Oracle's SQL functions that SQLite lacks or spells differently, registered
// on each session's connection.
#include "ocisim/oracle_values.h"
#include "ocisim/ora_errors.h"
#include "ocisim/session_db.h"
#include "ocisim/sql_lexer.h"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <cmath>
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

// Errors carry the Oracle text; the statement layer reads the code back from it.
void oraError(sqlite3_context* ctx, int code, std::string_view arg = {}) {
  const std::string text = oraMessage(code, arg);
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

void fnInitcap(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (isNull(argv[0])) {
    sqlite3_result_null(ctx);
    return;
  }
  std::string s = textArg(argv[0]);
  bool start = true;
  for (char& c : s) {
    const auto u = static_cast<unsigned char>(c);
    // A character beyond ASCII is a letter of its word; its case stays as it is.
    if (u >= 0x80) {
      start = false;
      continue;
    }
    c = static_cast<char>(start ? std::toupper(u) : std::tolower(u));
    start = !std::isalnum(u);
  }
  resultText(ctx, s);
}

void fnChr(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (isNull(argv[0])) {
    sqlite3_result_null(ctx);
    return;
  }
  const long long c = sqlite3_value_int64(argv[0]);
  if (c < 0 || c > 255) {
    oraError(ctx, 1722);
    return;
  }
  const char ch = static_cast<char>(c);
  sqlite3_result_text(ctx, &ch, 1, SQLITE_TRANSIENT);
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
    {"chr", 1, fnChr, true},
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
    "exp", "first_value", "instr", "lag", "last_value", "lead", "length", "like", "ln", "log", "lower",
    "ltrim", "max", "min", "ntile", "nullif", "percent_rank", "rank", "replace", "round", "row_number",
    "rtrim", "sign", "sin", "sinh", "soundex", "sqrt", "substr", "sum", "tan", "tanh", "trim", "upper",
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
