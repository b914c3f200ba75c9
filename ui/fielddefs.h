// Field types and field definitions of the record-set framework.
#pragma once

#include <QList>
#include <QString>

// The framework's field types; the ordinals are fixed and relied upon.
enum TFieldType : int {
  ftUnknown, ftString, ftSmallint, ftInteger, ftWord, ftBoolean, ftFloat, ftCurrency, ftBCD,
  ftDate, ftTime, ftDateTime, ftBytes, ftVarBytes, ftAutoInc, ftBlob, ftMemo, ftGraphic,
  ftFmtMemo, ftParadoxOle, ftDBaseOle, ftTypedBinary, ftCursor, ftFixedChar, ftWideString,
  ftLargeint, ftADT, ftArray, ftReference, ftDataSet, ftOraBlob, ftOraClob, ftVariant,
  ftInterface, ftIDispatch, ftGuid
};
constexpr int kFieldTypeCount = ftGuid + 1;

// What a record set says about one of its columns before field objects exist.
struct TFieldDef {
  QString Name;
  TFieldType DataType = ftUnknown;
  int Size = 0;           // characters for text fields, 0 for fixed-size types
  bool Required = false;  // the column does not allow NULL
  int FieldNo = 0;        // position in the record, counted from 1
};

class TFieldDefs {
 public:
  // Appends a definition numbered after the last one and returns it.
  TFieldDef& Add(const QString& name, TFieldType type, int size = 0, bool required = false) {
    defs_.append(TFieldDef{name, type, size, required, static_cast<int>(defs_.size()) + 1});
    return defs_.last();
  }
  void Clear() { defs_.clear(); }
  int Count() const { return static_cast<int>(defs_.size()); }
  const TFieldDef& operator[](int index) const { return defs_[index]; }
  // Index of the definition named `name` (letter case ignored), or -1.
  int IndexOf(const QString& name) const {
    for (int i = 0; i < defs_.size(); ++i)
      if (defs_[i].Name.compare(name, Qt::CaseInsensitive) == 0) return i;
    return -1;
  }
  auto begin() const { return defs_.begin(); }
  auto end() const { return defs_.end(); }

 private:
  QList<TFieldDef> defs_;
};
