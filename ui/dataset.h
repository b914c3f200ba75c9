// The record-set framework's cursor: an abstract record set that subclasses
// supply through protected hooks, with a window of record buffers, states,
// events, field objects and change notifications for data sources.
#pragma once

#include <QByteArray>
#include <QFlags>
#include <QIODevice>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariant>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "ui/exception.h"
#include "ui/fielddefs.h"
#include "ui/fields.h"

class TDataSource;

// Failures of the record-set framework itself ("No Records in dataset", ...).
class EDatabaseError : public Exception {
 public:
  using Exception::Exception;
};

enum TDataSetState {
  dsInactive,
  dsBrowse,
  dsEdit,
  dsInsert,
  dsCalcFields,  // computing the calculated fields of CalcBuffer()
  dsFilter,      // a record is offered to OnFilterRecord or to a search
  dsNewValue,
  dsOldValue,
  dsCurValue
};

enum TGetMode { gmCurrent, gmNext, gmPrior };
enum TGetResult { grOK, grBOF, grEOF, grError };

// What a record buffer holds: a record of the set, a placeholder for the
// position before the first or after the last record, or a new record.
enum TBookmarkFlag : std::uint8_t { bfCurrent, bfBOF, bfEOF, bfInserted };

enum TResyncModeFlag { rmExact = 0x1, rmCenter = 0x2 };
Q_DECLARE_FLAGS(TResyncMode, TResyncModeFlag)
Q_DECLARE_OPERATORS_FOR_FLAGS(TResyncMode)

enum TLocateOption { loCaseInsensitive = 0x1, loPartialKey = 0x2 };
Q_DECLARE_FLAGS(TLocateOptions, TLocateOption)
Q_DECLARE_OPERATORS_FOR_FLAGS(TLocateOptions)

enum TBlobStreamMode { bmRead, bmWrite, bmReadWrite };

// Notifications from a record set to its data sources.
enum TDataEvent {
  deFieldChange,      // a field of the current record was set (field given)
  deRecordChange,     // the current record changed as a whole
  deDataSetChange,    // the buffer window was read again (first, last, resync, ...)
  deDataSetScroll,    // the cursor moved by a number of records (info)
  deLayoutChange,     // the field list changed
  deUpdateState,      // the state changed
  deCheckBrowseMode,  // pending edits of controls are about to be posted
  deDataSetReset      // the records themselves may differ (refresh, post, delete, filter)
};

// Raw bytes of BookmarkSize(); empty when there is none.
using TBookmark = QByteArray;

class TDataSet : public QObject {
  Q_OBJECT

 public:
  using TDataSetNotifyEvent = std::function<void(TDataSet* dataSet)>;
  using TFilterRecordEvent = std::function<void(TDataSet* dataSet, bool& accept)>;

  explicit TDataSet(QObject* owner = nullptr);
  // A subclass calls Destroying() in its own destructor: the hooks that free
  // the record buffers cannot be reached from here any more.
  ~TDataSet() override;

  // Opening and closing. Opening a record set that fails to open leaves it closed.
  void Open() { SetActive(true); }
  void Close() { SetActive(false); }
  bool Active() const { return state_ != dsInactive; }
  virtual void SetActive(bool value);
  TDataSetState State() const { return state_; }

  // Navigation; each needs an open record set.
  void First();
  void Last();
  void Next() { MoveBy(1); }
  void Prior() { MoveBy(-1); }
  // Returns the number of records actually moved (negative backwards).
  int MoveBy(int distance);
  // Both are true on a closed or empty record set.
  bool Bof() const { return bof_; }
  bool Eof() const { return eof_; }
  bool IsEmpty() const { return recordCount_ == 0; }
  // What the record set reports; -1 when it cannot tell.
  int RecordCount();
  // Number of the current record, counted from 1; -1 when the record set cannot tell.
  int RecNo();
  void SetRecNo(int value);
  // Reads the records again from their source.
  void Refresh();
  // Reads record `index` (counted from 0 in the record set's order) without
  // moving the cursor: no scroll event runs, the current record, RecNo and the
  // buffer window stay, and data sources hear nothing. While `read` runs, the
  // field objects and GetBookmark() give that record. Records that arrive on
  // demand are fetched up to it; a record being edited is read as it is
  // stored. False, with `read` not called, when there is no such record or
  // the record set is closed.
  bool ReadRecordAt(int index, const std::function<void()>& read);
  // Reads the buffer window again around the cursor. With rmExact the current
  // record must still exist ("Record not found"); rmCenter puts it in the middle.
  void Resync(TResyncMode mode);
  // Posts or cancels a pending edit.
  void CheckBrowseMode();
  // Puts the subclass's cursor on the active record.
  void UpdateCursorPos();
  // Forgets where the subclass's cursor is, so the next move puts it back first.
  void CursorPosChanged() { currentRecord_ = -1; }

  // Bookmarks.
  int BookmarkSize() const { return bookmarkSize_; }
  // The current record's bookmark; empty when there is no current record.
  TBookmark GetBookmark();
  // Does nothing for an empty bookmark; "Record not found" when the record is gone.
  void GotoBookmark(const TBookmark& bookmark);
  // -1, 0 or 1; an empty bookmark counts as none (none sorts after any given one).
  virtual int CompareBookmarks(const TBookmark& first, const TBookmark& second) = 0;
  virtual bool BookmarkValid(const TBookmark& bookmark);

  // Editing. A record set whose GetCanModify() is false refuses Edit, Insert
  // and Append with "Cannot modify a read-only dataset".
  bool CanModify() { return GetCanModify(); }
  bool Modified() const { return modified_; }
  void Edit();
  void Insert();
  void Append();
  void Post();
  void Cancel();
  void Delete();

  // Fields.
  TFieldDefs& FieldDefs() { return fieldDefs_; }
  const TFieldDefs& FieldDefs() const { return fieldDefs_; }
  // Runs the field-definition hook while closed, so that persistent fields can be made.
  void UpdateFieldDefs();
  TFields& Fields() { return fields_; }
  const TFields& Fields() const { return fields_; }
  int FieldCount() const { return fields_.Count(); }
  TField* FindField(const QString& name) const { return fields_.FindField(name); }
  TField* FieldByName(const QString& name) const { return fields_.FieldByName(name); }
  // Values of one field, or a QVariantList for names separated by semicolons.
  QVariant FieldValues(const QString& fieldNames) const;
  // Bytes of the calculated fields of one record.
  int CalcFieldsSize() const { return calcFieldsSize_; }
  // Whether the field objects were made from the field definitions at open.
  bool DefaultFields() const { return defaultFields_; }
  // A stream over a blob field's value in the current record.
  virtual std::unique_ptr<QIODevice> CreateBlobStream(TField* field, TBlobStreamMode mode);

  // Search by key values: keyFields are names separated by semicolons,
  // keyValues one value per name (a QVariantList for more than one). Compares
  // as text. Leaves the cursor on the found record, or on the last record
  // when nothing matches.
  virtual bool Locate(const QString& keyFields, const QVariant& keyValues, TLocateOptions options);

  bool Filtered() const { return filtered_; }
  // Re-reads from the first record when the record set is open.
  void SetFiltered(bool value);
  bool AutoCalcFields() const { return autoCalcFields_; }
  void SetAutoCalcFields(bool value) { autoCalcFields_ = value; }

  // While disabled, data sources hear nothing; enabling again tells them once
  // that the data set changed.
  void DisableControls();
  void EnableControls();
  bool ControlsDisabled() const { return disableCount_ > 0; }

  // Events.
  TDataSetNotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose;
  TDataSetNotifyEvent BeforeScroll, AfterScroll;
  TDataSetNotifyEvent BeforeEdit, AfterEdit, BeforeInsert, AfterInsert;
  TDataSetNotifyEvent BeforePost, AfterPost, BeforeCancel, AfterCancel;
  TDataSetNotifyEvent BeforeDelete, AfterDelete;
  TDataSetNotifyEvent OnCalcFields;
  TFilterRecordEvent OnFilterRecord;

 protected:
  // ---- Hooks supplied by the subclass ----
  // Record buffers of GetRecordSize() bytes; the framework obtains and releases
  // every buffer only through these two.
  virtual char* AllocRecordBuffer() = 0;
  virtual void FreeRecordBuffer(char*& buffer) = 0;
  // Loads the current, next or prior record into `buffer`; with doCheck an
  // error result raises (the subclass raises "No Records in dataset").
  virtual TGetResult GetRecord(char* buffer, TGetMode mode, bool doCheck) = 0;
  // Loads record `index` (counted from 0) into `buffer` as GetRecord loads
  // the current one, without moving the cursor; false when there is no such
  // record.
  virtual bool GetRecordAt(int index, char* buffer) = 0;
  virtual std::uint16_t GetRecordSize() = 0;
  // Copies the field's DataSize() bytes of the current record to `dest`
  // (which may be null); false when the value is NULL or there is no record.
  virtual bool GetFieldData(TField* field, void* dest) = 0;
  // Stores the field's value from `source`; a null source sets NULL (never
  // passed for calculated fields, which get zero bytes instead).
  virtual void SetFieldData(TField* field, const void* source);
  // Refuses a value written to `field` before SetFieldData is asked. By
  // default data fields take values only while editing or inserting, and
  // calculated fields only while they are being computed.
  virtual void CheckFieldWrite(TField* field);
  virtual void InternalOpen() = 0;
  virtual void InternalClose() = 0;
  // Puts the cursor before the first record / after the last one.
  virtual void InternalFirst() = 0;
  virtual void InternalLast() = 0;
  virtual void InternalInitFieldDefs() = 0;
  virtual void InternalInitRecord(char* buffer) = 0;
  // Puts the cursor on the record that `buffer` holds.
  virtual void InternalSetToRecord(char* buffer) = 0;
  virtual void InternalGotoBookmark(const void* bookmark) = 0;
  virtual void GetBookmarkData(char* buffer, void* data) = 0;
  virtual void SetBookmarkData(char* buffer, const void* data) = 0;
  virtual TBookmarkFlag GetBookmarkFlag(char* buffer) = 0;
  virtual void SetBookmarkFlag(char* buffer, TBookmarkFlag flag) = 0;
  virtual bool IsCursorOpen() = 0;
  virtual int GetRecordCount() { return -1; }
  virtual int GetRecNo() { return -1; }
  // Moves the cursor to record `value` and calls Resync({}) when it moved;
  // may ignore numbers it cannot reach. The default walks from the first record.
  virtual void InternalSetRecNo(int value);
  virtual bool GetCanModify() { return true; }
  virtual void InternalEdit() {}
  virtual void InternalInsert() {}
  virtual void InternalCancel() {}
  virtual void InternalDelete();
  virtual void InternalPost();
  // Stores the new record of `buffer` (Post in insert state).
  virtual void InternalAddRecord(char* buffer, bool append);
  virtual void InternalRefresh() {}
  // Shows the exception being handled; call it only inside a catch block.
  virtual void InternalHandleException();
  // Clears the calculated values of the record in `buffer`.
  virtual void ClearCalcFields(char* buffer);

  // ---- Services for subclasses ----
  void SetBookmarkSize(int size) { bookmarkSize_ = size; }
  // The active record's buffer; during ReadRecordAt, the record read.
  char* ActiveBuffer() const;
  // The buffer whose calculated fields are being computed (state dsCalcFields).
  char* CalcBuffer() const { return calcBuffer_; }
  // Index of the active record within the buffer window.
  int ActiveRecord() const { return activeRecord_; }
  int BufferCount() const { return bufferCount_; }
  // Records currently held by the window.
  int WindowRecordCount() const { return recordCount_; }
  // Computes the calculated fields of the record in `buffer` (called by
  // GetRecord after loading a record).
  void GetCalcFields(char* buffer);
  // Offers the record that the subclass has made current for the filter state
  // to OnFilterRecord when Filtered; true when it is accepted.
  bool FilterRecord();
  // Switches state without notifying; returns the state to restore.
  TDataSetState SetTempState(TDataSetState value);
  void RestoreState(TDataSetState value) { state_ = value; }
  void SetState(TDataSetState value);
  void DataEvent(TDataEvent event, int info = 0, TField* field = nullptr);
  // Field objects from the field definitions; binding fixes field numbers,
  // calculated offsets and CalcFieldsSize(). InternalOpen/InternalClose may
  // call these; the framework calls them itself when they have not.
  void CreateFields();
  void DestroyFields();
  void BindFields(bool binding);
  // Raises "Cannot perform this operation on a closed dataset".
  void CheckActive() const;
  // First and MoveBy without the scroll events, for searches over the records.
  void FirstNoScrollEvents();
  int MoveByNoScrollEvents(int distance);
  // Closes without events; a subclass's destructor calls it.
  void Destroying();

 private:
  friend class TField;
  friend class TDataSource;

  void OpenCursor();
  void CloseCursor();
  void DoCall(const TDataSetNotifyEvent& event) {
    if (event && !destroying_) event(this);
  }
  void SetBufferCount(int value);
  void UpdateBufferCount();
  void SetBufListSize(int size);
  void FreeBuffers() noexcept;
  void ClearBuffers();
  void ActivateBuffers();
  bool GetNextRecord();
  bool GetPriorRecord();
  int GetNextRecords();
  int GetPriorRecords();
  void SetCurrentRecord(int index);
  void MoveBuffer(int from, int to);
  void InitRecord(char* buffer);
  void BeginInsertAppend();
  void EndInsertAppend();
  void CheckCanModify();
  bool BookmarkAvailable();
  bool ReadFieldData(TField* field, void* dest);
  void WriteFieldData(TField* field, const void* source);
  void AttachDataSource(TDataSource* source);
  void DetachDataSource(TDataSource* source);

  TDataSetState state_ = dsInactive;
  TFieldDefs fieldDefs_;
  TFields fields_{this};
  bool defaultFields_ = false;
  bool fieldsBound_ = false;
  int calcFieldsSize_ = 0;
  int bookmarkSize_ = 0;

  // The buffer window: bufferCount_ + 1 buffers while open (the last one
  // receives the next record read); recordCount_ of them hold records.
  std::vector<char*> buffers_;
  // The buffer ReadRecordAt loads records into, made on first use; while a
  // read runs, readBuffer_ names the buffer that stands for the active one.
  char* recordAtBuffer_ = nullptr;
  char* readBuffer_ = nullptr;
  int bufferCount_ = 0;
  int recordCount_ = 0;
  int activeRecord_ = 0;
  int currentRecord_ = -1;  // buffer the subclass's cursor is on, -1 when unknown
  char* calcBuffer_ = nullptr;
  bool bof_ = true;
  bool eof_ = true;
  bool modified_ = false;
  bool appending_ = false;

  bool filtered_ = false;
  bool autoCalcFields_ = true;
  bool destroying_ = false;

  int disableCount_ = 0;
  TDataSetState disableState_ = dsInactive;
  TDataEvent enableEvent_ = deDataSetChange;
  QList<QPointer<TDataSource>> dataSources_;
};
