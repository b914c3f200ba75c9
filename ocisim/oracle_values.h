// Values as the simulated server holds them (SQLite storage classes) and their
// conversion to and from the external types of OCI binds and defines.
#pragma once

#include "o_oci.h"
#include "ocisim/charset.h"

#include <optional>
#include <string>
#include <string_view>

struct sqlite3_stmt;
struct sqlite3_value;

namespace ocisim {

// Oracle's internal type codes, as OCI_ATTR_DATA_TYPE reports them.
enum OraType : ub2 {
  kTypeVarchar2 = 1,
  kTypeNumber = 2,
  kTypeLong = 8,
  kTypeRowid = 11,
  kTypeDate = 12,
  kTypeRaw = 23,
  kTypeLongRaw = 24,
  kTypeChar = 96,
  kTypeClob = 112,
  kTypeBlob = 113,
  kTypeBfile = 114,
};

// A select-list column as a describe reports it.
struct ColumnDesc {
  std::string name;
  ub2 type = kTypeVarchar2;
  ub2 size = 4000;    // bytes (OCI_ATTR_DATA_SIZE)
  sb2 precision = 0;  // NUMBER only
  sb1 scale = 0;      // NUMBER only
  ub1 nullable = 1;
  bool namesColumn = false;  // the select item only names a table's column
};

// The scale a describe reports for a NUMBER without precision: 0 (older
// servers, the default) or -127 (current servers). Set by a test control.
sb1 unconstrainedNumberScale();
void setUnconstrainedNumberScale(sb1 scale);

// The size a describe reports for a DATE: 7, a DATE's external size, unless
// a test control asks for a wrong one.
ub2 dateDescribeSize();
void setDateDescribeSize(ub2 size);

// A length the next OCILobGetLength reports instead of the LOB's own, armed
// by a test control; taken (and disarmed) by that call.
void armLobLength(ub4 length);
std::optional<ub4> takeArmedLobLength();

// The column type a declared SQL type names (e.g. "NUMBER(8,2)", "VARCHAR2(30)").
// Empty for a declaration that names no Oracle type.
std::optional<ColumnDesc> columnTypeOf(std::string_view declared);

// A value read from or written to the store.
struct Value {
  enum Kind { Null, Int, Real, Text, Blob } kind = Null;
  long long i = 0;
  double r = 0;
  std::string s;  // Text or Blob bytes

  static Value null() { return {}; }
  static Value integer(long long v) { Value x; x.kind = Int; x.i = v; return x; }
  static Value real(double v) { Value x; x.kind = Real; x.r = v; return x; }
  static Value text(std::string v) { Value x; x.kind = Text; x.s = std::move(v); return x; }
  static Value blob(std::string v) { Value x; x.kind = Blob; x.s = std::move(v); return x; }
  static Value fromColumn(sqlite3_stmt* stmt, int col);
  // Makes this value the one fromColumn would return, reusing the text buffer
  // it already holds, so that reading row after row into the same values does
  // not allocate. Reads the column through one sqlite3_column_value call.
  void assignColumn(sqlite3_stmt* stmt, int col);
  static Value fromSql(sqlite3_value* v);
  bool isNull() const { return kind == Null; }
  double number() const;  // for Int and Real
};

// Binds a value to a parameter of a prepared SQLite statement.
void bindValue(sqlite3_stmt* stmt, int index, const Value& v);

// A broken-down date and time; DATE values are stored as "YYYY-MM-DD HH:MM:SS".
struct DateTime {
  int year = 1, month = 1, day = 1, hour = 0, minute = 0, second = 0;
};
std::string isoText(const DateTime& d);
// Reads a stored DATE value ("YYYY-MM-DD[ HH:MM:SS]") or Oracle's default text
// form ("DD-MON-YY" or "DD-MON-YYYY"). Empty when the text is neither.
std::optional<DateTime> parseDate(std::string_view text);
bool validDate(const DateTime& d);
void toOracleDate(const DateTime& d, unsigned char out[7]);
std::optional<DateTime> fromOracleDate(const unsigned char in[7]);
// The current local date and time.
DateTime now();
// A DATE in a format model (YYYY, YY, MM, MON, MONTH, DD, DY, DAY, HH, HH24,
// MI, SS, AM/PM and literal text); the default model is DD-MON-YY.
std::string formatDate(const DateTime& d, std::string_view model = "DD-MON-YY");
// Reads text in a format model; empty when it does not match.
std::optional<DateTime> parseDateWith(std::string_view text, std::string_view model);

// A number as Oracle writes it in text: no trailing zeros, ".5" for 0.5.
std::string numberText(const Value& v);
// A number from text as Oracle's implicit conversion reads it; empty when the
// text is not a number.
std::optional<Value> parseNumber(std::string_view text);

// The text form of a value of a column type, as a SQLT_STR define receives it.
std::string textOf(const Value& v, ub2 columnType);

// Where a define or bind keeps one element of its value.
struct ExternalSlot {
  void* value = nullptr;
  sb4 size = 0;
  ub2 type = 0;
  sb2* indicator = nullptr;
  ub2* length = nullptr;      // returned (define) or actual (bind) length
  ub2* returnCode = nullptr;
};

// Writes a value into a define or output bind, character types in the client's
// set cs. Returns 0, or the Oracle code of a warning (1406 when the value was
// truncated); raises OraError on failure (1405 for NULL without indicator, 932
// inconsistent types, 1722 invalid number, 1455 integer overflow).
int writeExternal(const Value& v, ub2 columnType, const ExternalSlot& slot, Charset cs);

// Reads the value of an input bind; lengthOverride is the element's actual
// length when the bind has a length array. Text stays in the client's set.
// Raises OraError for an unsupported type.
Value readExternal(const ExternalSlot& slot, std::optional<ub4> actualLength);

}  // namespace ocisim
