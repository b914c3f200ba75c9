// Shared helpers of the data-access library: statement and field type names,
// the Oracle DATE conversion, text helpers and counted allocation.
#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <cstddef>
#include <cstdint>

#include "ui/fielddefs.h"

// "select statement" ... for the OCI statement type codes 0 to 9; a code
// outside the table is named by its number.
QString StatementTypeName(int code);
// "ftString", "ftInteger", ... for the named types, "???" for the others.
QString FieldTypeName(int fieldType);

// The 7-byte Oracle DATE at `value` as the framework's day count (days since
// 30 December 1899, the time fraction signed like the date part).
// Raises on bytes that make no valid date or time.
double OraDateToDateTime(const unsigned char* value);
// The 7-byte Oracle DATE of a day count; the inverse of OraDateToDateTime.
void DateTimeToOraDate(double dateTime, unsigned char* value);

// The text with every carriage return removed; line feeds stay.
QString RemoveCarriageReturns(QString text);

inline QString IfElseStr(bool flag, const QString& whenSet, const QString& whenClear) {
  return flag ? whenSet : whenClear;
}
inline int IfElseInt(bool flag, int whenSet, int whenClear) { return flag ? whenSet : whenClear; }

// True for an unassigned or null variant.
inline bool VarIsEmptyOrNull(const QVariant& value) { return !value.isValid() || value.isNull(); }

// Secrets (passwords) are overwritten before their memory is released, with a
// write the compiler may not drop. WipeText and WipeBytes overwrite the whole
// buffer (the characters and the room around them) with zeros when this
// string alone holds it; a buffer shared with another string, or a literal,
// is left to its other holders. True when the buffer was overwritten; the
// length stays. ForgetText and ForgetBytes wipe and then empty the string.
bool WipeText(QString& text);
bool WipeBytes(QByteArray& bytes);
void ForgetText(QString& text);
void ForgetBytes(QByteArray& bytes);
// Overwrites `size` bytes at `data` with zeros; never optimised away.
void WipeMemory(void* data, std::size_t size);

// Every variable-size buffer of the library comes from here: a zero-filled
// block, counted. Zero bytes give no block and count nothing; when memory is
// exhausted std::bad_alloc is raised and nothing is counted either, so the
// counts keep matching for a program that handled the failure.
void* CountedAlloc(std::size_t size);
// Where CountedAlloc takes its blocks from: std::calloc unless replaced. A
// replacement keeps calloc's contract (zero-filled blocks that std::free
// releases, none when memory is exhausted); it lets a program see how the
// library copes with exhausted memory. Returns the source it replaced.
using TBlockSource = void* (*)(std::size_t count, std::size_t size);
TBlockSource SetBlockSource(TBlockSource source);
// Releases a block of CountedAlloc, counted.
void CountedFree(void* block);
int32_t AllocCount();
int32_t FreeCount();
// The end-of-program report: when the counts differ, a modal box captioned
// "Kestrava" says how many blocks were released of how many allocated.
void ReportUnfreedMemory();
// The report's text for the current counts.
QString UnfreedMemoryText();
