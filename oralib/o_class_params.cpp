// Query parameters and macros: bind storage, values and indicators, name
// parsing and macro expansion.
#include "o_class_params.h"

#include <QDateTime>
#include <cstring>

#include "o_charset.h"
#include "o_error.h"
#include "o_utils.h"
#include "ui/datetime.h"

namespace {

constexpr ub4 kStringElementSize = 4000;

TFieldType Normalised(TFieldType type) {
  switch (type) {
    case ftUnknown: return ftString;
    case ftSmallint: case ftWord: case ftBoolean: case ftAutoInc: return ftInteger;
    case ftCurrency: case ftBCD: return ftFloat;
    case ftDate: case ftTime: return ftDateTime;
    case ftBytes: case ftVarBytes: case ftMemo: case ftGraphic: case ftFmtMemo: case ftParadoxOle:
    case ftDBaseOle: case ftTypedBinary: return ftBlob;
    default: return type;
  }
}

QString WithCrLf(QString text) {
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
  return text;
}

template <class T>
T* NewBlock(sb4 count, T fill) {
  auto* block = static_cast<T*>(CountedAlloc(sizeof(T) * static_cast<std::size_t>(count)));
  for (sb4 i = 0; i < count; ++i) block[i] = fill;
  return block;
}

}  // namespace

bool VarIsArray(const QVariant& value) { return value.userType() == qMetaTypeId<TVariantArray>(); }

TOParam::~TOParam() { FreeBuffers(); }

void TOParam::FreeBuffers() {
  if (values_ != nullptr) CountedFree(std::exchange(values_, nullptr));
  if (indicators_ != nullptr) CountedFree(std::exchange(indicators_, nullptr));
  if (lengths_ != nullptr) CountedFree(std::exchange(lengths_, nullptr));
}

void TOParam::RaiseTypeError() const {
  const QString word = dataType_ == ftUnknown
                           ? QStringLiteral("unknown")
                           : QStringLiteral("unsupported ") + QString::number(static_cast<int>(dataType_));
  RaiseOracleError(QStringLiteral("TOParam: parameter '%1' is of %2 type").arg(Name, word));
}

void TOParam::SetDataType(TFieldType type) {
  dataType_ = Normalised(type);
  if (indicators_ != nullptr) CountedFree(std::exchange(indicators_, nullptr));
  indicators_ = NewBlock<sb2>(arraySize_, -1);
  if (lengths_ != nullptr) CountedFree(std::exchange(lengths_, nullptr));
  lengths_ = NewBlock<ub2>(arraySize_, 0);
  LowBound = 0;
  if (values_ != nullptr) CountedFree(std::exchange(values_, nullptr));
  elementSize_ = 0;
  lob_.reset();
  switch (dataType_) {
    case ftString: elementSize_ = kStringElementSize; break;
    case ftInteger: elementSize_ = 4; break;
    // OCI writes a statement handle into a cursor element: as wide as a pointer.
    case ftCursor: elementSize_ = sizeof(OCIStmt*); break;
    case ftFloat: elementSize_ = 8; break;
    case ftDateTime: elementSize_ = 7; break;
    case ftBlob: lob_ = std::make_unique<TLOB>(query_, SQLT_BLOB); break;
    default: RaiseTypeError();
  }
  if (elementSize_ > 0) values_ = CountedAlloc(static_cast<std::size_t>(arraySize_) * elementSize_);
}

void TOParam::SetArraySize(sb4 count) {
  if (count == arraySize_) return;
  if (count < 1) RaiseOracleError(QStringLiteral("TOParam: parameter '%1' needs at least one element").arg(Name));
  FreeBuffers();
  arraySize_ = count;
  indicators_ = NewBlock<sb2>(count, -1);
  lengths_ = NewBlock<ub2>(count, 0);
  if (elementSize_ > 0) values_ = CountedAlloc(static_cast<std::size_t>(count) * elementSize_);
}

QVariant TOParam::ElementValue(const void* address) const {
  const auto* bytes = static_cast<const unsigned char*>(address);
  switch (dataType_) {
    case ftString: {
      const auto* text = static_cast<const char*>(address);
      return WithCrLf(TOCharset::Client().Decode(text, static_cast<qsizetype>(strnlen(text, elementSize_))));
    }
    case ftInteger: {
      int32_t value;
      std::memcpy(&value, address, sizeof value);
      return value;
    }
    case ftCursor: {
      quintptr value;
      std::memcpy(&value, address, sizeof value);
      return static_cast<qulonglong>(value);
    }
    case ftFloat: {
      double value;
      std::memcpy(&value, address, sizeof value);
      return value;
    }
    case ftDateTime: return OraDateToDateTime(bytes);
    case ftBlob:
      if (address == nullptr || DataLength <= 0) return QByteArray();
      return QByteArray(static_cast<const char*>(address), DataLength);
    default: return QVariant();
  }
}

QVariant TOParam::GetValue() const {
  if (indicators_ == nullptr) return QVariant();
  auto element = [this](sb4 i) -> const void* {
    return values_ != nullptr ? static_cast<const char*>(values_) + static_cast<std::size_t>(i) * elementSize_
                              : nullptr;
  };
  if (arraySize_ == 1 && !IsTable) {
    if (indicators_[0] == -1) return QVariant();
    return ElementValue(element(0));
  }
  // A table holds as many elements as OCI or the application said, never more than its storage.
  const sb4 n = IsTable ? std::min<sb4>(static_cast<sb4>(ElementCount), arraySize_) : arraySize_;
  if (n < 1) return QVariant();
  TVariantArray array;
  array.LowBound = LowBound;
  for (sb4 i = 0; i < n; ++i)
    array.Items.append(indicators_[i] == -1 ? QVariant() : ElementValue(element(i)));
  return QVariant::fromValue(array);
}

bool TOParam::ValueIsEmpty() const { return VarIsEmptyOrNull(GetValue()); }

QString TOParam::ValueAsText() const {
  const QVariant value = GetValue();
  if (VarIsEmptyOrNull(value)) return QString();
  // The same text as a date field shows: short date, long time, no time zone.
  if (dataType_ == ftDateTime && !VarIsArray(value)) return DateTimeText(DateTimeToQDateTime(value.toDouble()));
  if (VarIsArray(value)) return QStringLiteral("variant array");
  return value.toString();
}

ub2 TOParam::BindType() const {
  switch (dataType_) {
    case ftString: return SQLT_STR;
    case ftInteger: return SQLT_INT;
    case ftFloat: return SQLT_FLT;
    case ftDateTime: return SQLT_DAT;
    case ftCursor: return SQLT_RSET;
    case ftBlob: return SQLT_BLOB;
    default: RaiseTypeError();
  }
}

char* TOParam::Element(int index, TFieldType expected) {
  if (dataType_ != expected)
    RaiseOracleError(QStringLiteral("TOParam: parameter '%1' does not hold %2 values")
                         .arg(Name, FieldTypeName(expected)));
  if (index < 0 || index >= arraySize_ || values_ == nullptr)
    RaiseOracleError(QStringLiteral("TOParam: parameter '%1' has no element %2").arg(Name).arg(index));
  return static_cast<char*>(values_) + static_cast<std::size_t>(index) * elementSize_;
}

void TOParam::Present(int index, ub2 length) {
  indicators_[index] = 0;
  lengths_[index] = length;
  if (IsTable && static_cast<ub4>(index) >= ElementCount) ElementCount = static_cast<ub4>(index) + 1;
}

void TOParam::SetAsString(const QString& value, int index) {
  char* element = Element(index, ftString);
  const QByteArray bytes = TOCharset::Client().Encode(value);
  if (static_cast<ub4>(bytes.size()) >= elementSize_)
    RaiseOracleError(QStringLiteral("TOParam: value of parameter '%1' is longer than %2 bytes")
                         .arg(Name).arg(elementSize_ - 1));
  std::memset(element, 0, elementSize_);
  std::memcpy(element, bytes.constData(), static_cast<std::size_t>(bytes.size()));
  Present(index, static_cast<ub2>(bytes.size() + 1));
}

void TOParam::SetAsInteger(int32_t value, int index) {
  std::memcpy(Element(index, ftInteger), &value, sizeof value);
  Present(index, sizeof value);
}

void TOParam::SetAsFloat(double value, int index) {
  std::memcpy(Element(index, ftFloat), &value, sizeof value);
  Present(index, sizeof value);
}

void TOParam::SetAsDateTime(double value, int index) {
  DateTimeToOraDate(value, reinterpret_cast<unsigned char*>(Element(index, ftDateTime)));
  Present(index, 7);
}

void TOParam::SetNull(int index) {
  if (index < 0 || index >= arraySize_ || indicators_ == nullptr)
    RaiseOracleError(QStringLiteral("TOParam: parameter '%1' has no element %2").arg(Name).arg(index));
  indicators_[index] = -1;
  lengths_[index] = 0;
}

TOParam& TOParams::CreateParam(const QString& name, TFieldType type, TOInOutType direction) {
  if (name.isEmpty()) RaiseOracleError(QStringLiteral("Can not define parameter without name."));
  TOParam* param = FindParam(name);
  if (param != nullptr) {
    param->FreeBuffers();
  } else {
    items_.push_back(std::make_unique<TOParam>(query_));
    param = items_.back().get();
  }
  param->Name = name;
  param->InOut = direction;
  param->SetDataType(type);
  return *param;
}

TOParam* TOParams::FindParam(const QString& name) const {
  const QString key = name.toUpper();
  TOParam* found = nullptr;
  for (const auto& param : items_)
    if (param->Name.toUpper() == key) found = param.get();
  return found;
}

namespace {

// The characters of a parameter or macro name.
bool IsNameChar(QChar c) {
  const char16_t u = c.unicode();
  return (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9') || u == '_';
}

}  // namespace

void TOParams::ParseNames(QChar marker, const QStringList& lines) {
  items_.clear();
  QString text;
  for (const QString& line : lines) text += line + QStringLiteral("\r\n");
  text += QLatin1Char(' ');
  for (QChar& c : text)
    if (c.unicode() < 32) c = QLatin1Char(' ');
  bool inName = false;
  QString name;
  for (const QChar c : text) {
    if (!inName) {
      if (c == marker) {
        name.clear();
        inName = true;
      }
      continue;
    }
    if (IsNameChar(c)) {
      name += c;
    } else {
      if (!name.isEmpty()) CreateParam(name, ftString, optIn);
      inName = false;
    }
  }
}

QString ExpandMacros(QString text, QChar marker, const TOParams& macros) {
  for (int i = 0; i < macros.Count(); ++i) {
    const TOParam& macro = macros[i];
    const QString marked = marker + macro.Name;
    // Only the whole name: the macro T is not the start of the macro TAB.
    qsizetype at = text.indexOf(marked, 0, Qt::CaseSensitive);
    while (at >= 0 && at + marked.size() < text.size() && IsNameChar(text[at + marked.size()]))
      at = text.indexOf(marked, at + 1, Qt::CaseSensitive);
    if (at >= 0) text.replace(at, marked.size(), macro.ValueAsText());
  }
  return text;
}

void TOParams::FreeLOBs() {
  for (const auto& param : items_)
    if (param->LOB() != nullptr) param->LOB()->FreeLocator();
}
