// A record set over rows held in memory, for testing the record-set
// framework and the grid. It behaves like the Oracle query's cursor: a
// 4-byte record buffer holding the index of a cached row, rows pulled from
// the source one at a time only when the cursor moves past the cache, the
// bookmark flag and calculated values kept with the cached row.
#pragma once

#include <QBuffer>
#include <QDateTime>
#include <QScopedValueRollback>
#include <QStringList>
#include <QVariant>
#include <cstring>
#include <memory>
#include <vector>

#include "ui/dataset.h"
#include "ui/datetime.h"

class TMemDataSet : public TDataSet {
 public:
  struct Column {
    QString Name;
    TFieldType Type;
    int Size = 0;
  };

  TMemDataSet(QList<Column> columns, QList<QVariantList> rows)
      : columns_(std::move(columns)), source_(std::move(rows)) {
    SetBookmarkSize(4);
  }
  ~TMemDataSet() override { Destroying(); }

  // Test controls and counters.
  bool ReadOnly = false;
  bool QueryAll = false;           // the record count reads every row first
  bool WalkToRecNo = false;        // SetRecNo walks from the first record (the framework's way)
  bool FailOpen = false;           // InternalOpen raises after the field definitions
  int FailAllocationAfter = -1;    // AllocRecordBuffer raises once this many succeeded
  int Allocated = 0;
  int Freed = 0;
  int Pulled = 0;                  // rows taken from the source
  int ReadsAt = 0;                 // records read by index
  int* FreedCounter = nullptr;     // counts releases beyond the double's lifetime
  QStringList Log;                 // hooks and events, in order

  QList<QVariantList>& SourceRows() { return source_; }
  int CachedRows() const { return static_cast<int>(cache_.size()); }

  // Logs the framework's events into Log as well.
  void LogEvents() {
    BeforeOpen = [this](TDataSet*) { Log << "BeforeOpen"; };
    AfterOpen = [this](TDataSet*) { Log << "AfterOpen"; };
    BeforeClose = [this](TDataSet*) { Log << "BeforeClose"; };
    AfterClose = [this](TDataSet*) { Log << "AfterClose"; };
    BeforeScroll = [this](TDataSet*) { Log << "BeforeScroll"; };
    AfterScroll = [this](TDataSet*) { Log << "AfterScroll"; };
    BeforeDelete = [this](TDataSet*) { Log << "BeforeDelete"; };
  }

  int CompareBookmarks(const TBookmark& first, const TBookmark& second) override {
    if (first.isEmpty() || second.isEmpty()) return first.isEmpty() == second.isEmpty() ? 0 : first.isEmpty() ? 1 : -1;
    const int a = Int(first.constData()), b = Int(second.constData());
    return a < b ? -1 : a > b ? 1 : 0;
  }

  std::unique_ptr<QIODevice> CreateBlobStream(TField* field, TBlobStreamMode) override {
    if (!field->IsBlob())
      throw EDatabaseError(QStringLiteral("Can't create BLOB stream on non-blob field") + field->FieldName());
    auto stream = std::make_unique<QBuffer>();
    if (const Row* row = CurrentRow()) stream->setData(source_[row->Source][field->FieldNo() - 1].toByteArray());
    stream->open(QIODevice::ReadOnly);
    return stream;
  }

 protected:
  char* AllocRecordBuffer() override {
    Log << "AllocRecordBuffer";
    if (!open_) throw EDatabaseError(QStringLiteral("Can't allocate 0 bytes for record buffer."));
    if (FailAllocationAfter >= 0 && Allocated - Freed >= FailAllocationAfter)
      throw EDatabaseError(QStringLiteral("out of buffers"));
    ++Allocated;
    return new char[4]();
  }
  void FreeRecordBuffer(char*& buffer) override {
    Log << "FreeRecordBuffer";
    ++Freed;
    if (FreedCounter != nullptr) ++*FreedCounter;
    delete[] buffer;
    buffer = nullptr;
  }

  TGetResult GetRecord(char* buffer, TGetMode mode, bool doCheck) override {
    Log << QStringLiteral("GetRecord %1").arg(mode == gmCurrent ? "current" : mode == gmNext ? "next" : "prior");
    TGetResult result = grOK;
    const int count = CachedRows();
    switch (mode) {
      case gmCurrent:
        if ((index_ < 0 || index_ >= count) && !FetchRow()) result = grError;
        break;
      case gmNext:
        if (index_ < count - 1)
          ++index_;
        else if (!FetchRow())
          result = grEOF;
        break;
      case gmPrior:
        if (index_ > 0)
          --index_;
        else
          result = grBOF;
        break;
    }
    if (result == grOK && index_ < 0) result = grError;
    if (result == grOK) {
      std::memcpy(buffer, &index_, 4);
      cache_[index_].Flag = bfCurrent;
      cache_[index_].Number = index_;
      GetCalcFields(buffer);
    } else if (result == grError && doCheck) {
      throw EDatabaseError(QStringLiteral("No Records in dataset"));
    }
    return result;
  }

  bool GetRecordAt(int index, char* buffer) override {
    ++ReadsAt;
    if (index < 0) return false;
    {
      const QScopedValueRollback<int> cursor(index_);
      while (index >= CachedRows() && FetchRow()) {
      }
    }
    if (index >= CachedRows()) return false;
    std::memcpy(buffer, &index, 4);
    cache_[index].Flag = bfCurrent;
    cache_[index].Number = index;
    GetCalcFields(buffer);
    return true;
  }

  std::uint16_t GetRecordSize() override { return open_ ? 4 : 0; }

  bool GetFieldData(TField* field, void* dest) override {
    const Row* row = CurrentRow();
    if (row == nullptr) return false;
    if (field->FieldNo() < 0) {
      if (dest != nullptr) std::memcpy(dest, row->Calc.data() + field->Offset(), field->DataSize());
      return true;
    }
    const QVariant value = State() == dsEdit ? edited_[field->FieldNo() - 1] : source_[row->Source][field->FieldNo() - 1];
    if (value.isNull()) return false;
    if (dest == nullptr) return true;
    switch (field->DataType()) {
      case ftInteger: {
        const qint32 v = value.toInt();
        std::memcpy(dest, &v, 4);
        break;
      }
      case ftFloat: {
        const double v = value.toDouble();
        std::memcpy(dest, &v, 8);
        break;
      }
      case ftDateTime: {
        const double v = QDateTimeToMSecs(value.toDateTime());
        std::memcpy(dest, &v, 8);
        break;
      }
      case ftString: {
        const QByteArray text = value.toString().toUtf8();
        std::memcpy(dest, text.constData(), std::min<size_t>(text.size() + 1, field->DataSize()));
        break;
      }
      default:
        break;
    }
    return true;
  }

  void SetFieldData(TField* field, const void* source) override {
    if (field->FieldNo() < 0) {
      std::memcpy(Calc(CalcBuffer()) + field->Offset(), source, field->DataSize());
      return;
    }
    if (State() != dsEdit) throw EDatabaseError(QStringLiteral("Read only - can't set data into field"));
    QVariant& target = edited_[field->FieldNo() - 1];
    if (source == nullptr) {
      target = QVariant();
    } else if (field->DataType() == ftInteger) {
      target = *static_cast<const qint32*>(source);
    } else if (field->DataType() == ftFloat) {
      target = *static_cast<const double*>(source);
    } else if (field->DataType() == ftString) {
      target = QString::fromUtf8(static_cast<const char*>(source));
    }
  }

  void InternalOpen() override {
    Log << "InternalOpen";
    index_ = -1;
    InternalInitFieldDefs();
    if (FailOpen) throw EDatabaseError(QStringLiteral("open failed"));
    if (DefaultFields()) CreateFields();
    BindFields(true);
    open_ = true;
  }
  void InternalClose() override {
    Log << "InternalClose";
    index_ = -1;
    open_ = false;
    BindFields(false);
    if (DefaultFields()) DestroyFields();
    cache_.clear();
    next_ = 0;
  }
  void InternalInitFieldDefs() override {
    Log << "InternalInitFieldDefs";
    if (FieldDefs().Count() > 0) return;
    for (const Column& column : columns_) FieldDefs().Add(column.Name, column.Type, column.Size);
  }
  void InternalFirst() override { index_ = -1; }
  void InternalLast() override {
    while (FetchRow()) {
    }
    index_ = CachedRows();
  }
  void InternalInitRecord(char* buffer) override { std::memset(buffer, 0, 4); }
  void InternalSetToRecord(char* buffer) override { index_ = cache_[Int(buffer)].Number; }
  void InternalGotoBookmark(const void* bookmark) override { index_ = Int(bookmark); }
  void GetBookmarkData(char* buffer, void* data) override { std::memcpy(data, &cache_[Int(buffer)].Number, 4); }
  void SetBookmarkData(char* buffer, const void* data) override { std::memcpy(&cache_[Int(buffer)].Number, data, 4); }
  TBookmarkFlag GetBookmarkFlag(char* buffer) override { return cache_[Int(buffer)].Flag; }
  void SetBookmarkFlag(char* buffer, TBookmarkFlag flag) override { cache_[Int(buffer)].Flag = flag; }
  bool IsCursorOpen() override { return open_; }
  int GetRecordCount() override {
    if (QueryAll)
      while (FetchRow()) {
      }
    return CachedRows();
  }
  int GetRecNo() override { return index_ == -1 && CachedRows() > 0 ? 1 : index_ + 1; }
  void InternalSetRecNo(int value) override {
    if (WalkToRecNo) return TDataSet::InternalSetRecNo(value);
    if (value < 1 || value > CachedRows()) return;
    index_ = value - 1;
    Resync({});
  }
  bool GetCanModify() override { return !ReadOnly; }
  void InternalEdit() override { edited_ = source_[cache_[index_].Source]; }
  void InternalPost() override { source_[cache_[index_].Source] = edited_; }
  void InternalDelete() override {
    Log << "InternalDelete";
    if (ReadOnly) throw EDatabaseError(QStringLiteral("Sorry, deleting not supported."));
    const int removed = cache_[index_].Source;
    source_.removeAt(removed);
    cache_.erase(cache_.begin() + index_);
    --next_;
    // The cursor stays where the next record now is.
    for (Row& row : cache_)
      if (row.Source > removed) --row.Source;
  }
  void InternalRefresh() override {
    Log << "InternalRefresh";
    Close();
    Open();
  }
  void InternalHandleException() override { Log << "InternalHandleException"; }
  void ClearCalcFields(char* buffer) override {
    TDataSet::ClearCalcFields(buffer);
    if (CalcFieldsSize() > 0) std::memset(Calc(buffer), 0, CalcFieldsSize());
  }

 private:
  struct Row {
    int Source;
    int Number = 0;
    TBookmarkFlag Flag = bfCurrent;
    std::vector<char> Calc;
  };

  static int Int(const void* bytes) {
    int value;
    std::memcpy(&value, bytes, 4);
    return value;
  }
  char* Calc(char* buffer) { return cache_[Int(buffer)].Calc.data(); }

  const Row* CurrentRow() const {
    int index = -1;
    switch (State()) {
      case dsBrowse:
      case dsEdit:
      case dsCurValue:
        if (ActiveBuffer() != nullptr && WindowRecordCount() > 0) index = Int(ActiveBuffer());
        break;
      case dsCalcFields:
        index = Int(CalcBuffer());
        break;
      case dsFilter:
        index = filterRow_;
        break;
      default:
        break;
    }
    return index >= 0 && index < CachedRows() ? &cache_[index] : nullptr;
  }

  // Appends the next source row that the filter accepts and moves onto it.
  bool FetchRow() {
    while (next_ < source_.size()) {
      ++Pulled;
      cache_.push_back(Row{static_cast<int>(next_++), 0, bfCurrent, std::vector<char>(CalcFieldsSize(), 0)});
      index_ = CachedRows() - 1;
      if (Filtered()) {
        filterRow_ = index_;
        if (!FilterRecord()) {
          cache_.pop_back();
          --index_;
          continue;
        }
      }
      return true;
    }
    return false;
  }

  QList<Column> columns_;
  QList<QVariantList> source_;
  std::vector<Row> cache_;
  qsizetype next_ = 0;
  int index_ = -1;
  int filterRow_ = -1;
  bool open_ = false;
  QVariantList edited_;
};
