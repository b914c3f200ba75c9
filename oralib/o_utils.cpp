// Shared helpers of the data-access library: type names, the Oracle DATE
// conversion, text wiping and counted allocation.
#include "o_utils.h"

#include <QDate>
#include <QMessageBox>
#include <array>
#include <cstdlib>
#include <cmath>
#include <cstring>
#include <new>
#include <utility>

#include "ui/exception.h"

namespace {

int32_t allocCount = 0;
int32_t freeCount = 0;
void* SystemBlocks(std::size_t count, std::size_t size) { return std::calloc(count, size); }

TBlockSource blockSource = SystemBlocks;

const std::array<const char*, 10> kStatementTypeNames = {
    "not defined statement", "select statement",  "update statement",
    "delete statement",      "Insert Statement",  "create statement",
    "drop statement",        "alter statement",   "begin ... (pl/sql statement)",
    "declare .. (pl/sql statement)"};

const QDate kEpoch(1899, 12, 30);

// The whole allocation of a string's data when the string alone holds it.
template <class Pointer>
bool WipeOwnBuffer(Pointer& data) {
  if (data.needsDetach() || data.data() == nullptr) return false;  // shared, a literal, or none
  auto* start = data.data() - data.freeSpaceAtBegin();
  const qsizetype count = data.freeSpaceAtBegin() + data.size + data.freeSpaceAtEnd();
  WipeMemory(start, static_cast<std::size_t>(count) * sizeof(*start));
  return true;
}

}  // namespace

void WipeMemory(void* data, std::size_t size) {
  if (data != nullptr && size > 0) explicit_bzero(data, size);
}

bool WipeText(QString& text) { return WipeOwnBuffer(text.data_ptr()); }

bool WipeBytes(QByteArray& bytes) { return WipeOwnBuffer(bytes.data_ptr()); }

void ForgetText(QString& text) {
  WipeText(text);
  text = QString();
}

void ForgetBytes(QByteArray& bytes) {
  WipeBytes(bytes);
  bytes = QByteArray();
}

QString StatementTypeName(int code) {
  if (code < 0 || code >= static_cast<int>(kStatementTypeNames.size()))
    return QStringLiteral("statement type %1").arg(code);
  return QLatin1String(kStatementTypeNames[static_cast<std::size_t>(code)]);
}

QString FieldTypeName(int fieldType) {
  switch (fieldType) {
    case ftString: return QStringLiteral("ftString");
    case ftInteger: return QStringLiteral("ftInteger");
    case ftBoolean: return QStringLiteral("ftBoolean");
    case ftFloat: return QStringLiteral("ftFloat");
    case ftDateTime: return QStringLiteral("ftDateTime");
    case ftBlob: return QStringLiteral("ftBlob");
    case ftMemo: return QStringLiteral("ftMemo");
    case ftGraphic: return QStringLiteral("ftGraphic");
    case ftCursor: return QStringLiteral("ftCursor");
    default: return QStringLiteral("???");
  }
}

double OraDateToDateTime(const unsigned char* value) {
  const int year = (value[0] - 100) * 100 + (value[1] - 100);
  const int hour = value[4] - 1, minute = value[5] - 1, second = value[6] - 1;
  const QDate date(year, value[2], value[3]);
  if (!date.isValid() || hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 ||
      second > 59)
    throw Exception(QStringLiteral("Invalid argument to date encode"));
  const double days = static_cast<double>(kEpoch.daysTo(date));
  const double time = (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
  return days >= 0 ? days + time : days - time;
}

void DateTimeToOraDate(double dateTime, unsigned char* value) {
  // Nothing is written unless the value is a day Oracle's DATE can hold
  // (4712 BC to 9999 AD); far beyond that the day count is not even an integer.
  const auto refuse = [] { throw Exception(QStringLiteral("Invalid argument to date encode")); };
  if (!std::isfinite(dateTime) || std::abs(dateTime) > 1e8) refuse();
  // The whole part counts days; the fraction, whatever its sign, is the time.
  const double wholeDays = dateTime < 0 ? std::ceil(dateTime) : std::floor(dateTime);
  const double fraction = std::abs(dateTime - wholeDays);
  const QDate date = kEpoch.addDays(static_cast<qint64>(wholeDays));
  if (!date.isValid() || date.year() < -4712 || date.year() > 9999) refuse();
  int seconds = static_cast<int>(std::lround(fraction * 86400.0));
  if (seconds >= 86400) seconds = 86399;
  value[0] = static_cast<unsigned char>(date.year() / 100 + 100);
  value[1] = static_cast<unsigned char>(date.year() % 100 + 100);
  value[2] = static_cast<unsigned char>(date.month());
  value[3] = static_cast<unsigned char>(date.day());
  value[4] = static_cast<unsigned char>(seconds / 3600 + 1);
  value[5] = static_cast<unsigned char>(seconds / 60 % 60 + 1);
  value[6] = static_cast<unsigned char>(seconds % 60 + 1);
}

QString RemoveCarriageReturns(QString text) {
  text.remove(QLatin1Char('\r'));
  return text;
}

void* CountedAlloc(std::size_t size) {
  if (size == 0) return nullptr;
  void* block = blockSource(1, size);
  if (block == nullptr) throw std::bad_alloc();
  ++allocCount;
  return block;
}

TBlockSource SetBlockSource(TBlockSource source) {
  return std::exchange(blockSource, source != nullptr ? source : SystemBlocks);
}

void CountedFree(void* block) {
  ++freeCount;
  std::free(block);
}

int32_t AllocCount() { return allocCount; }
int32_t FreeCount() { return freeCount; }

QString UnfreedMemoryText() {
  return QStringLiteral("Not all allocated memory are freed (") + QString::number(freeCount) +
         QStringLiteral(" of") + QString::number(allocCount) + QStringLiteral(")");
}

void ReportUnfreedMemory() {
  if (allocCount == freeCount) return;
  QMessageBox box(QMessageBox::Critical, QStringLiteral("Kestrava"), UnfreedMemoryText(),
                  QMessageBox::Ok);
  box.setTextFormat(Qt::PlainText);
  box.exec();
}
