// Query parameters and macros: OCI-ready storage for bind values.
#pragma once

#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>
#include <memory>
#include <vector>

#include "o_class_lob.h"
#include "o_oci.h"
#include "ui/fielddefs.h"

class TOQueryContext;

enum TOInOutType : int { optIn, optInOut, optOut };

// A one-dimensional array of values with its low bound; elements that hold
// no value are unassigned variants.
struct TVariantArray {
  int LowBound = 0;
  QVariantList Items;
};
Q_DECLARE_METATYPE(TVariantArray)

// True when `value` holds a TVariantArray.
bool VarIsArray(const QVariant& value);

class TOParam {
 public:
  explicit TOParam(TOQueryContext* query) : query_(query) {}
  ~TOParam();
  TOParam(const TOParam&) = delete;
  TOParam& operator=(const TOParam&) = delete;

  bool IsTable = false;
  QString Name;
  TOInOutType InOut = optIn;
  ub4 ElementCount = 0;  // elements of a table bind; OCI writes it for output
  sb4 LowBound = 0;
  sb4 DataLength = 0;    // bytes of a blob element turned into a value
  sb4 BoundSize = 0;

  TFieldType DataType() const { return dataType_; }
  // Stores the type normalised to one that can be bound and rebuilds the storage.
  void SetDataType(TFieldType type);
  sb4 ArraySize() const { return arraySize_; }
  void SetArraySize(sb4 count);
  void FreeBuffers();

  ub4 ElementSize() const { return elementSize_; }
  sb2* Indicators() const { return indicators_; }
  void* Values() const { return values_; }
  ub2* Lengths() const { return lengths_; }
  TLOB* LOB() const { return lob_.get(); }

  // The value: unassigned, a single value, or a TVariantArray of elements.
  QVariant GetValue() const;
  QVariant ElementValue(const void* address) const;
  bool ValueIsEmpty() const;
  QString ValueAsText() const;
  // The OCI type this parameter binds as.
  ub2 BindType() const;

  // Typed setters for element `index` (0 for a single value); each marks the
  // element present. Text longer than an element holds is refused.
  void SetAsString(const QString& value, int index = 0);
  void SetAsInteger(int32_t value, int index = 0);
  void SetAsFloat(double value, int index = 0);
  void SetAsDateTime(double value, int index = 0);  // the framework's day count
  void SetNull(int index = 0);

 private:
  [[noreturn]] void RaiseTypeError() const;
  char* Element(int index, TFieldType expected);
  void Present(int index, ub2 length);

  TOQueryContext* query_;
  TFieldType dataType_ = ftString;
  sb4 arraySize_ = 1;
  ub4 elementSize_ = 0;
  sb2* indicators_ = nullptr;
  void* values_ = nullptr;
  ub2* lengths_ = nullptr;
  std::unique_ptr<TLOB> lob_;
};

class TOParams {
 public:
  explicit TOParams(TOQueryContext* query) : query_(query) {}

  TOQueryContext* Query() const { return query_; }
  TOParam& CreateParam(const QString& name, TFieldType type, TOInOutType direction);
  // The last parameter whose name matches (letter case ignored), or null.
  TOParam* FindParam(const QString& name) const;
  // Rebuilds the collection from the names marked by `marker` in `lines`.
  void ParseNames(QChar marker, const QStringList& lines);
  // Frees the LOB locator of every blob parameter.
  void FreeLOBs();

  int Count() const { return static_cast<int>(items_.size()); }
  TOParam& operator[](int index) const { return *items_[static_cast<std::size_t>(index)]; }
  void Clear() { items_.clear(); }
  void Delete(int index) { items_.erase(items_.begin() + index); }

 private:
  TOQueryContext* query_;
  std::vector<std::unique_ptr<TOParam>> items_;
};

// The statement text with the first occurrence of each macro's marked name
// (`marker` followed by the name) replaced by the macro's value as text.
QString ExpandMacros(QString text, QChar marker, const TOParams& macros);
