// Field objects of the record-set framework: one per column of a record set
// (or per calculated value), reading and writing the current record's value
// through the record set's field-data hooks.
#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QVariant>
#include <memory>
#include <vector>

#include "ui/fielddefs.h"

class TDataSet;

enum TFieldKind { fkData, fkCalculated };

class TField {
 public:
  TField(TFieldType type, int size);
  virtual ~TField();
  TField(const TField&) = delete;
  TField& operator=(const TField&) = delete;

  TDataSet* DataSet() const { return dataSet_; }
  // Position in the record set's field list, or -1.
  int Index() const;

  QString FieldName() const { return fieldName_; }
  void SetFieldName(const QString& name);
  TFieldType DataType() const { return dataType_; }
  // Characters of a text field; 0 for fixed-size types.
  int Size() const { return size_; }
  void SetSize(int size);
  // Bytes that the field-data hooks copy for this field (a text field's size
  // plus its terminating zero; 0 for memo and blob fields).
  virtual int DataSize() const = 0;

  TFieldKind FieldKind() const { return kind_; }
  bool Calculated() const { return kind_ == fkCalculated; }
  void SetCalculated(bool value);
  // Position of a data field's column, counted from 1; negative for calculated fields.
  int FieldNo() const { return fieldNo_; }
  // Byte offset of a calculated field in a record's calculated-fields area.
  int Offset() const { return offset_; }

  QString DisplayLabel() const { return displayLabel_.isEmpty() ? fieldName_ : displayLabel_; }
  void SetDisplayLabel(const QString& label) { displayLabel_ = label; }
  int DisplayWidth() const { return displayWidth_ > 0 ? displayWidth_ : DefaultDisplayWidth(); }
  void SetDisplayWidth(int width) { displayWidth_ = width; }
  bool Visible() const { return visible_; }
  void SetVisible(bool visible) { visible_ = visible; }
  bool Required() const { return required_; }
  void SetRequired(bool required) { required_ = required; }
  // Numbers are shown right-aligned.
  virtual bool AlignRight() const { return false; }
  virtual bool IsBlob() const { return false; }

  bool IsNull() const;
  void Clear();

  // The value: an invalid QVariant for NULL, otherwise the field's native type.
  virtual QVariant Value() const = 0;
  virtual void SetValue(const QVariant& value);
  QVariant AsVariant() const { return Value(); }
  void SetAsVariant(const QVariant& value) { SetValue(value); }

  // Conversions; NULL reads as empty text, 0, or an invalid date-time.
  virtual QString AsString() const;
  virtual void SetAsString(const QString& value);
  virtual int AsInteger() const;
  virtual void SetAsInteger(int value);
  virtual double AsFloat() const;
  virtual void SetAsFloat(double value);
  virtual QDateTime AsDateTime() const;
  virtual void SetAsDateTime(const QDateTime& value);
  // The text a grid shows.
  virtual QString DisplayText() const { return AsString(); }

  // The raw value in its stored form. GetData with a null destination only
  // reports whether a value is present; SetData with a null source sets NULL.
  bool GetData(void* dest) const;
  void SetData(const void* source);

 protected:
  virtual int DefaultDisplayWidth() const { return 10; }
  [[noreturn]] void AccessError(const char* typeName) const;

 private:
  friend class TDataSet;
  friend class TFields;

  TDataSet* dataSet_ = nullptr;
  QString fieldName_;
  TFieldType dataType_;
  int size_;
  TFieldKind kind_ = fkData;
  int fieldNo_ = 0;
  int offset_ = 0;
  QString displayLabel_;
  int displayWidth_ = 0;
  bool visible_ = true;
  bool required_ = false;
};

// Zero-terminated text of Size bytes, UTF-8 in the record.
class TStringField : public TField {
 public:
  explicit TStringField(int size = 20, TFieldType type = ftString);
  int DataSize() const override { return Size() + 1; }
  QVariant Value() const override;
  QString AsString() const override;
  void SetAsString(const QString& value) override;
  int AsInteger() const override;
  void SetAsInteger(int value) override;
  double AsFloat() const override;
  void SetAsFloat(double value) override;
  // The text's bytes as the record holds them (UTF-8), for joining texts that
  // were cut by bytes before decoding them; empty when null.
  QByteArray AsUtf8() const;

 protected:
  int DefaultDisplayWidth() const override { return Size(); }

 private:
  // The record's bytes of the text; false when the value is null.
  bool ReadUtf8(QByteArray& text) const;
};

// A 4-byte signed integer.
class TIntegerField : public TField {
 public:
  explicit TIntegerField(TFieldType type = ftInteger);
  int DataSize() const override { return 4; }
  bool AlignRight() const override { return true; }
  QVariant Value() const override;
  QString AsString() const override;
  void SetAsString(const QString& value) override;
  int AsInteger() const override;
  void SetAsInteger(int value) override;
  double AsFloat() const override { return AsInteger(); }
  void SetAsFloat(double value) override;
};

// An 8-byte IEEE double.
class TFloatField : public TField {
 public:
  explicit TFloatField(TFieldType type = ftFloat);
  int DataSize() const override { return 8; }
  bool AlignRight() const override { return true; }
  QVariant Value() const override;
  QString AsString() const override;
  void SetAsString(const QString& value) override;
  int AsInteger() const override;
  void SetAsInteger(int value) override { SetAsFloat(value); }
  double AsFloat() const override;
  void SetAsFloat(double value) override;
};

// An 8-byte double of milliseconds (see ui/datetime.h).
class TDateTimeField : public TField {
 public:
  TDateTimeField();
  int DataSize() const override { return 8; }
  QVariant Value() const override;
  QString AsString() const override;
  void SetAsString(const QString& value) override;
  // As a float: the framework's day count (TDateTime).
  double AsFloat() const override;
  void SetAsFloat(double value) override;
  QDateTime AsDateTime() const override;
  void SetAsDateTime(const QDateTime& value) override;

 protected:
  int DefaultDisplayWidth() const override { return 18; }
};

// Binary data read and written through the record set's blob streams.
class TBlobField : public TField {
 public:
  explicit TBlobField(TFieldType type = ftBlob);
  int DataSize() const override { return 0; }
  bool IsBlob() const override { return true; }
  QVariant Value() const override;
  void SetValue(const QVariant& value) override;
  // Bytes as Latin-1, so that every byte survives the round trip.
  QString AsString() const override;
  void SetAsString(const QString& value) override;
  // "(BLOB)" when a value is present, "(Blob)" when NULL.
  QString DisplayText() const override;

  QByteArray AsBytes() const;
  void SetAsBytes(const QByteArray& value);

 protected:
  virtual QString ClassDesc() const { return QStringLiteral("Blob"); }
};

// Text read through blob streams, UTF-8 in the stream.
class TMemoField : public TBlobField {
 public:
  explicit TMemoField(TFieldType type = ftMemo);
  QVariant Value() const override;
  void SetValue(const QVariant& value) override;
  QString AsString() const override;
  void SetAsString(const QString& value) override;

 protected:
  QString ClassDesc() const override { return QStringLiteral("Memo"); }
};

// A field object of the class that handles `type`, or nullptr when the
// framework has no field class for it.
std::unique_ptr<TField> NewField(TFieldType type, int size = 0);

// The field objects of a record set, owned by it.
class TFields {
 public:
  explicit TFields(TDataSet* dataSet) : dataSet_(dataSet) {}

  int Count() const { return static_cast<int>(fields_.size()); }
  TField* operator[](int index) const { return fields_.at(index).get(); }
  int IndexOf(const TField* field) const;
  // Letter case is ignored; nullptr when there is none.
  TField* FindField(const QString& name) const;
  // Raises EDatabaseError "Field 'X' not found" when there is none.
  TField* FieldByName(const QString& name) const;

  // Takes the field over; only while the record set is closed. Raises on a
  // duplicate name.
  TField* Add(std::unique_ptr<TField> field);
  void Remove(TField* field);
  void Clear();

  auto begin() const { return fields_.begin(); }
  auto end() const { return fields_.end(); }

 private:
  friend class TDataSet;
  friend class TField;
  void CheckInactive() const;

  TDataSet* dataSet_;
  std::vector<std::unique_ptr<TField>> fields_;
};
