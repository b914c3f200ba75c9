// Values as the simulated server holds them: the Oracle type of a declared
// column type, values read from and bound to SQLite, and NUMBER as text.
#include "ocisim/oracle_values.h"

#include "ocisim/ora_errors.h"
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

}  // namespace ocisim
