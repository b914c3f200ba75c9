// Values in the external types of OCI binds and defines: writing a value into
// a define's buffer as its type asks, and reading a bind's buffer as a value.
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
