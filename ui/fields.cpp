// Field objects of the record-set framework: reading, converting and writing a
// record's values.
#include "ui/fields.h"

#include <QLocale>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <system_error>

#include "ui/dataset.h"
#include "ui/datetime.h"

namespace {

// Shortest text that reads back as the same double (12, 0.5, 1e+20). Numbers of
// ordinary size are written out in full (100000, not 1e+05): users read them so,
// and statements are built from field texts (a session's serial#).
QString FloatText(double value) {
  char text[64];
  const double magnitude = std::fabs(value);
  const bool plain = magnitude == 0 || (magnitude >= 1e-4 && magnitude < 1e15);
  const auto result = plain ? std::to_chars(text, text + sizeof text, value, std::chars_format::fixed)
                            : std::to_chars(text, text + sizeof text, value);
  return QString::fromLatin1(text, static_cast<int>(result.ptr - text));
}

bool ParseFloat(const QString& text, double& value) {
  const QString trimmed = text.trimmed();
  if (trimmed.isEmpty()) return false;
  bool ok = false;
  value = QLocale().toDouble(trimmed, &ok);
  if (!ok) value = QLocale::c().toDouble(trimmed, &ok);
  return ok;
}

int CheckedRound(double value, const TField& field) {
  const double rounded = std::round(value);
  if (!std::isfinite(rounded) || rounded < std::numeric_limits<qint32>::min() ||
      rounded > std::numeric_limits<qint32>::max())
    throw EDatabaseError(QStringLiteral("%1 is not a valid value for field '%2'. The allowed range is %3 to %4")
                             .arg(FloatText(value), field.FieldName())
                             .arg(std::numeric_limits<qint32>::min())
                             .arg(std::numeric_limits<qint32>::max()));
  return static_cast<int>(rounded);
}

QByteArray ReadStream(QIODevice* stream) { return stream != nullptr ? stream->readAll() : QByteArray(); }

}  // namespace

// ---------------------------------------------------------------- TField

TField::TField(TFieldType type, int size) : dataType_(type), size_(size) {}

TField::~TField() = default;

int TField::Index() const { return dataSet_ != nullptr ? dataSet_->Fields().IndexOf(this) : -1; }

void TField::SetFieldName(const QString& name) {
  if (dataSet_ != nullptr) {
    dataSet_->Fields().CheckInactive();
    TField* other = dataSet_->FindField(name);
    if (other != nullptr && other != this)
      throw EDatabaseError(QStringLiteral("Duplicate field name '%1'").arg(name));
  }
  fieldName_ = name;
}

void TField::SetSize(int size) {
  if (dataSet_ != nullptr) dataSet_->Fields().CheckInactive();
  size_ = size;
}

void TField::SetCalculated(bool value) {
  if (dataSet_ != nullptr) dataSet_->Fields().CheckInactive();
  kind_ = value ? fkCalculated : fkData;
}

bool TField::GetData(void* dest) const {
  if (dataSet_ == nullptr) throw EDatabaseError(QStringLiteral("Field '%1' has no dataset").arg(fieldName_));
  return dataSet_->ReadFieldData(const_cast<TField*>(this), dest);
}

void TField::SetData(const void* source) {
  if (dataSet_ == nullptr) throw EDatabaseError(QStringLiteral("Field '%1' has no dataset").arg(fieldName_));
  dataSet_->WriteFieldData(this, source);
}

bool TField::IsNull() const { return !GetData(nullptr); }

void TField::Clear() { SetData(nullptr); }

void TField::AccessError(const char* typeName) const {
  throw EDatabaseError(QStringLiteral("Cannot access field '%1' as type %2").arg(fieldName_, QLatin1String(typeName)));
}

void TField::SetValue(const QVariant& value) {
  if (value.isNull()) {
    Clear();
    return;
  }
  switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Bool:
      SetAsInteger(value.toInt());
      break;
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::UInt:
      SetAsFloat(value.toDouble());
      break;
    case QMetaType::QDateTime:
    case QMetaType::QDate:
      SetAsDateTime(value.toDateTime());
      break;
    default:
      SetAsString(value.toString());
  }
}

QString TField::AsString() const {
  const QVariant value = Value();
  return value.isNull() ? QString() : value.toString();
}

void TField::SetAsString(const QString&) { AccessError("String"); }
int TField::AsInteger() const { AccessError("Integer"); }
void TField::SetAsInteger(int) { AccessError("Integer"); }
double TField::AsFloat() const { AccessError("Float"); }
void TField::SetAsFloat(double) { AccessError("Float"); }
QDateTime TField::AsDateTime() const { AccessError("DateTime"); }
void TField::SetAsDateTime(const QDateTime&) { AccessError("DateTime"); }

// ---------------------------------------------------------------- TStringField

TStringField::TStringField(int size, TFieldType type) : TField(type, size) {}

bool TStringField::ReadUtf8(QByteArray& text) const {
  std::vector<char> buffer(DataSize(), '\0');
  if (!GetData(buffer.data())) return false;
  // The hook may fill every byte: never read past the field's data size.
  text = QByteArray(buffer.data(), static_cast<qsizetype>(strnlen(buffer.data(), buffer.size())));
  return true;
}

QByteArray TStringField::AsUtf8() const {
  QByteArray text;
  ReadUtf8(text);
  return text;
}

QVariant TStringField::Value() const {
  QByteArray text;
  if (!ReadUtf8(text)) return {};
  return QString::fromUtf8(text);
}

QString TStringField::AsString() const { return Value().toString(); }

void TStringField::SetAsString(const QString& value) {
  // Text longer than the field is cut at a character boundary, like a
  // column of that width would.
  QByteArray bytes = value.toUtf8();
  if (bytes.size() > Size()) {
    qsizetype cut = Size();
    while (cut > 0 && (static_cast<unsigned char>(bytes[cut]) & 0xC0) == 0x80) --cut;
    bytes.truncate(cut);
  }
  std::vector<char> buffer(DataSize(), '\0');
  std::memcpy(buffer.data(), bytes.constData(), bytes.size());
  SetData(buffer.data());
}

int TStringField::AsInteger() const {
  const QString text = AsString().trimmed();
  if (text.isEmpty() && IsNull()) return 0;
  bool ok = false;
  const int value = text.toInt(&ok);
  if (!ok) throw EDatabaseError(QStringLiteral("'%1' is not a valid integer value").arg(text));
  return value;
}

void TStringField::SetAsInteger(int value) { SetAsString(QString::number(value)); }

double TStringField::AsFloat() const {
  const QString text = AsString();
  if (text.isEmpty() && IsNull()) return 0;
  double value = 0;
  if (!ParseFloat(text, value))
    throw EDatabaseError(QStringLiteral("'%1' is not a valid floating point value").arg(text));
  return value;
}

void TStringField::SetAsFloat(double value) { SetAsString(FloatText(value)); }

// ---------------------------------------------------------------- TIntegerField

TIntegerField::TIntegerField(TFieldType type) : TField(type, 0) {}

QVariant TIntegerField::Value() const {
  qint32 value = 0;
  if (!GetData(&value)) return {};
  return int(value);
}

QString TIntegerField::AsString() const {
  const QVariant value = Value();
  return value.isNull() ? QString() : QString::number(value.toInt());
}

void TIntegerField::SetAsString(const QString& value) {
  const QString text = value.trimmed();
  if (text.isEmpty()) {
    Clear();
    return;
  }
  bool ok = false;
  const int number = text.toInt(&ok);
  if (!ok) throw EDatabaseError(QStringLiteral("'%1' is not a valid integer value").arg(text));
  SetAsInteger(number);
}

int TIntegerField::AsInteger() const { return Value().toInt(); }

void TIntegerField::SetAsInteger(int value) {
  const qint32 stored = value;
  SetData(&stored);
}

void TIntegerField::SetAsFloat(double value) { SetAsInteger(CheckedRound(value, *this)); }

// ---------------------------------------------------------------- TFloatField

TFloatField::TFloatField(TFieldType type) : TField(type, 0) {}

QVariant TFloatField::Value() const {
  double value = 0;
  if (!GetData(&value)) return {};
  return value;
}

QString TFloatField::AsString() const {
  const QVariant value = Value();
  return value.isNull() ? QString() : FloatText(value.toDouble());
}

void TFloatField::SetAsString(const QString& value) {
  if (value.trimmed().isEmpty()) {
    Clear();
    return;
  }
  double number = 0;
  if (!ParseFloat(value, number))
    throw EDatabaseError(QStringLiteral("'%1' is not a valid floating point value").arg(value));
  SetAsFloat(number);
}

int TFloatField::AsInteger() const { return IsNull() ? 0 : CheckedRound(AsFloat(), *this); }

double TFloatField::AsFloat() const { return Value().toDouble(); }

void TFloatField::SetAsFloat(double value) { SetData(&value); }

// ---------------------------------------------------------------- TDateTimeField

TDateTimeField::TDateTimeField() : TField(ftDateTime, 0) {}

QVariant TDateTimeField::Value() const {
  double msecs = 0;
  if (!GetData(&msecs)) return {};
  return MSecsToQDateTime(msecs);
}

QString TDateTimeField::AsString() const { return DateTimeText(AsDateTime()); }

void TDateTimeField::SetAsString(const QString& value) {
  const QString text = value.trimmed();
  if (text.isEmpty()) {
    Clear();
    return;
  }
  const QDateTime parsed = ParseDateTimeText(text);
  if (!parsed.isValid()) throw EDatabaseError(QStringLiteral("'%1' is not a valid date and time").arg(text));
  SetAsDateTime(parsed);
}

double TDateTimeField::AsFloat() const {
  double msecs = 0;
  if (!GetData(&msecs)) return 0;
  return MSecsToDateTime(msecs);
}

void TDateTimeField::SetAsFloat(double value) {
  const double msecs = DateTimeToMSecs(value);
  SetData(&msecs);
}

QDateTime TDateTimeField::AsDateTime() const { return Value().toDateTime(); }

void TDateTimeField::SetAsDateTime(const QDateTime& value) {
  if (!value.isValid()) {
    Clear();
    return;
  }
  const double msecs = QDateTimeToMSecs(value);
  SetData(&msecs);
}

// ---------------------------------------------------------------- TBlobField, TMemoField

TBlobField::TBlobField(TFieldType type) : TField(type, 0) {}

QByteArray TBlobField::AsBytes() const {
  if (IsNull()) return {};
  std::unique_ptr<QIODevice> stream = DataSet()->CreateBlobStream(const_cast<TBlobField*>(this), bmRead);
  return ReadStream(stream.get());
}

void TBlobField::SetAsBytes(const QByteArray& value) {
  std::unique_ptr<QIODevice> stream = DataSet()->CreateBlobStream(this, bmWrite);
  if (stream == nullptr || stream->write(value) != value.size())
    throw EDatabaseError(QStringLiteral("Cannot write the value of field '%1'").arg(FieldName()));
}

QVariant TBlobField::Value() const {
  if (IsNull()) return {};
  return AsBytes();
}

void TBlobField::SetValue(const QVariant& value) {
  if (value.isNull())
    Clear();
  else
    SetAsBytes(value.toByteArray());
}

QString TBlobField::AsString() const { return QString::fromLatin1(AsBytes()); }

void TBlobField::SetAsString(const QString& value) { SetAsBytes(value.toLatin1()); }

QString TBlobField::DisplayText() const {
  const QString desc = ClassDesc();
  return u'(' + (IsNull() ? desc : desc.toUpper()) + u')';
}

TMemoField::TMemoField(TFieldType type) : TBlobField(type) {}

QVariant TMemoField::Value() const {
  if (IsNull()) return {};
  return AsString();
}

void TMemoField::SetValue(const QVariant& value) {
  if (value.isNull())
    Clear();
  else
    SetAsString(value.toString());
}

QString TMemoField::AsString() const { return QString::fromUtf8(AsBytes()); }

void TMemoField::SetAsString(const QString& value) { SetAsBytes(value.toUtf8()); }

// ---------------------------------------------------------------- factory, TFields

std::unique_ptr<TField> NewField(TFieldType type, int size) {
  switch (type) {
    case ftString:
    case ftFixedChar:
      return std::make_unique<TStringField>(size, type);
    case ftInteger:
    case ftAutoInc:
      return std::make_unique<TIntegerField>(type);
    case ftFloat:
    case ftCurrency:
      return std::make_unique<TFloatField>(type);
    case ftDateTime:
      return std::make_unique<TDateTimeField>();
    case ftMemo:
    case ftFmtMemo:
    case ftOraClob:
      return std::make_unique<TMemoField>(type);
    case ftBlob:
    case ftGraphic:
    case ftTypedBinary:
    case ftOraBlob:
      return std::make_unique<TBlobField>(type);
    default:
      return nullptr;
  }
}

int TFields::IndexOf(const TField* field) const {
  for (size_t i = 0; i < fields_.size(); ++i)
    if (fields_[i].get() == field) return static_cast<int>(i);
  return -1;
}

TField* TFields::FindField(const QString& name) const {
  for (const auto& field : fields_)
    if (field->FieldName().compare(name, Qt::CaseInsensitive) == 0) return field.get();
  return nullptr;
}

TField* TFields::FieldByName(const QString& name) const {
  TField* field = FindField(name);
  if (field == nullptr) throw EDatabaseError(QStringLiteral("Field '%1' not found").arg(name));
  return field;
}

void TFields::CheckInactive() const {
  if (dataSet_ != nullptr && dataSet_->Active())
    throw EDatabaseError(QStringLiteral("Cannot perform this operation on an open dataset"));
}

TField* TFields::Add(std::unique_ptr<TField> field) {
  CheckInactive();
  if (!field) throw EDatabaseError(QStringLiteral("No field given"));
  if (FindField(field->FieldName()) != nullptr)
    throw EDatabaseError(QStringLiteral("Duplicate field name '%1'").arg(field->FieldName()));
  field->dataSet_ = dataSet_;
  fields_.push_back(std::move(field));
  return fields_.back().get();
}

void TFields::Remove(TField* field) {
  CheckInactive();
  const int index = IndexOf(field);
  if (index >= 0) fields_.erase(fields_.begin() + index);
}

void TFields::Clear() {
  CheckInactive();
  fields_.clear();
}
