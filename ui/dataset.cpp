// The record-set framework's cursor: opening and closing, the buffer window,
// navigation, bookmarks, search, editing and notifications to data sources.
#include "ui/dataset.h"

#include <QScopedValueRollback>
#include <QtGlobal>
#include <algorithm>
#include <utility>

#include "ui/application.h"
#include "ui/datasource.h"
#include "ui/scope_guard.h"

namespace {

// Keeps controls disabled for a scope.
class ControlsOff {
 public:
  explicit ControlsOff(TDataSet& dataSet) : dataSet_(dataSet) { dataSet_.DisableControls(); }
  ~ControlsOff() { dataSet_.EnableControls(); }
  ControlsOff(const ControlsOff&) = delete;
  ControlsOff& operator=(const ControlsOff&) = delete;

 private:
  TDataSet& dataSet_;
};

}  // namespace

TDataSet::TDataSet(QObject* owner) : QObject(owner) {}

TDataSet::~TDataSet() {
  if (!buffers_.empty())
    qWarning("TDataSet destroyed while open: its subclass must call Destroying() in its destructor");
  const QList<QPointer<TDataSource>> sources = dataSources_;
  for (const QPointer<TDataSource>& source : sources)
    if (source) source->DataSetDestroyed(this);
}

void TDataSet::Destroying() {
  destroying_ = true;
  if (!Active()) return;
  try {
    SetActive(false);
  } catch (...) {
    InternalHandleException();
  }
}

// ---------------------------------------------------------------- open, close

void TDataSet::SetActive(bool value) {
  if (value == Active()) return;
  if (value)
    OpenCursor();
  else {
    DoCall(BeforeClose);
    SetState(dsInactive);
    CloseCursor();
    DoCall(AfterClose);
  }
}

void TDataSet::OpenCursor() {
  DoCall(BeforeOpen);
  defaultFields_ = fields_.Count() == 0;
  {
    const TUndoOnFailure closeAgain([this] {
      try {
        CloseCursor();
      } catch (...) {
        // The failure to open is the one to report.
      }
    });
    InternalOpen();
    if (defaultFields_ && fields_.Count() == 0) CreateFields();
    if (!fieldsBound_) BindFields(true);
    ClearBuffers();
    UpdateBufferCount();
    bof_ = true;
  }
  SetState(dsBrowse);
  DoCall(AfterOpen);
  if (!IsEmpty()) DoCall(AfterScroll);
}

void TDataSet::CloseCursor() {
  FreeBuffers();
  ClearBuffers();
  bufferCount_ = 0;
  modified_ = false;
  try {
    InternalClose();
  } catch (...) {
    if (defaultFields_) DestroyFields();
    fieldsBound_ = false;
    throw;
  }
  if (defaultFields_) DestroyFields();
  fieldsBound_ = false;
  defaultFields_ = false;
}

void TDataSet::CheckActive() const {
  if (!Active()) throw EDatabaseError(QStringLiteral("Cannot perform this operation on a closed dataset"));
}

void TDataSet::SetState(TDataSetState value) {
  if (state_ == value) return;
  state_ = value;
  modified_ = false;
  DataEvent(deUpdateState);
}

TDataSetState TDataSet::SetTempState(TDataSetState value) {
  const TDataSetState saved = state_;
  state_ = value;
  return saved;
}

// ---------------------------------------------------------------- fields

void TDataSet::UpdateFieldDefs() {
  if (!Active()) InternalInitFieldDefs();
}

void TDataSet::CreateFields() {
  for (const TFieldDef& def : fieldDefs_) {
    if (def.DataType == ftUnknown) continue;  // no field class shows such a column
    std::unique_ptr<TField> field = NewField(def.DataType, def.Size);
    if (!field)
      throw EDatabaseError(QStringLiteral("Field '%1' is of an unsupported type").arg(def.Name));
    // A select list may repeat a column name; the field names must stay unique.
    QString name = def.Name;
    for (int n = 1; fields_.FindField(name) != nullptr; ++n) name = def.Name + u'_' + QString::number(n);
    field->fieldName_ = name;
    field->fieldNo_ = def.FieldNo;
    field->required_ = def.Required;
    field->dataSet_ = this;
    fields_.fields_.push_back(std::move(field));
  }
  DataEvent(deLayoutChange);
}

void TDataSet::DestroyFields() {
  fields_.fields_.clear();
  calcFieldsSize_ = 0;
  fieldsBound_ = false;
  DataEvent(deLayoutChange);
}

void TDataSet::BindFields(bool binding) {
  calcFieldsSize_ = 0;
  fieldsBound_ = false;
  if (!binding) return;
  int calcIndex = 0;
  for (const auto& field : fields_.fields_) {
    if (field->Calculated()) {
      field->fieldNo_ = -(++calcIndex);
      field->offset_ = calcFieldsSize_;
      calcFieldsSize_ += field->DataSize();
      continue;
    }
    // Default fields keep the number of the definition they were made from,
    // which also holds when a name repeats.
    if (defaultFields_ && field->fieldNo_ > 0) continue;
    const int index = fieldDefs_.IndexOf(field->FieldName());
    if (index < 0) throw EDatabaseError(QStringLiteral("Field '%1' not found").arg(field->FieldName()));
    const TFieldDef& def = fieldDefs_[index];
    if (def.DataType != field->DataType())
      throw EDatabaseError(QStringLiteral("Type mismatch for field '%1'").arg(field->FieldName()));
    field->fieldNo_ = def.FieldNo;
  }
  fieldsBound_ = true;
}

QVariant TDataSet::FieldValues(const QString& fieldNames) const {
  const QStringList names = fieldNames.split(u';', Qt::SkipEmptyParts);
  if (names.size() == 1) return FieldByName(names[0].trimmed())->Value();
  QVariantList values;
  for (const QString& name : names) values.append(FieldByName(name.trimmed())->Value());
  return values;
}

bool TDataSet::ReadFieldData(TField* field, void* dest) {
  if (state_ == dsInactive) return false;
  if ((state_ == dsBrowse || state_ == dsCurValue) && recordCount_ == 0) return false;
  return GetFieldData(field, dest);
}

void TDataSet::CheckFieldWrite(TField* field) {
  if (field->Calculated()) {
    if (state_ != dsCalcFields)
      throw EDatabaseError(QStringLiteral("Field '%1' cannot be modified").arg(field->FieldName()));
  } else if (state_ != dsEdit && state_ != dsInsert) {
    throw EDatabaseError(QStringLiteral("Dataset not in edit or insert mode"));
  }
}

void TDataSet::WriteFieldData(TField* field, const void* source) {
  CheckFieldWrite(field);
  // Calculated fields have no NULL flag: clearing one stores zero bytes.
  std::vector<char> zeros;
  if (source == nullptr && field->Calculated()) {
    zeros.assign(std::max(field->DataSize(), 1), 0);
    source = zeros.data();
  }
  SetFieldData(field, source);
  if (state_ == dsEdit || state_ == dsInsert) DataEvent(deFieldChange, 0, field);
}

void TDataSet::SetFieldData(TField* field, const void*) {
  throw EDatabaseError(QStringLiteral("Field '%1' cannot be modified").arg(field->FieldName()));
}

std::unique_ptr<QIODevice> TDataSet::CreateBlobStream(TField* field, TBlobStreamMode) {
  throw EDatabaseError(QStringLiteral("Can't create BLOB stream on non-blob field") + field->FieldName());
}

void TDataSet::ClearCalcFields(char*) {}

void TDataSet::GetCalcFields(char* buffer) {
  if (calcFieldsSize_ <= 0) return;
  // The buffer and the state are put back on every way out.
  const QScopedValueRollback<char*> calcBuffer(calcBuffer_, buffer);
  const QScopedValueRollback<TDataSetState> temp(state_, dsCalcFields);
  ClearCalcFields(buffer);
  if (OnCalcFields) OnCalcFields(this);
}

bool TDataSet::FilterRecord() {
  if (!filtered_ || !OnFilterRecord) return true;
  const QScopedValueRollback<TDataSetState> temp(state_, dsFilter);
  bool accept = true;
  OnFilterRecord(this, accept);
  return accept;
}

void TDataSet::SetFiltered(bool value) {
  if (!Active()) {
    filtered_ = value;
    return;
  }
  CheckBrowseMode();
  if (filtered_ == value) return;
  filtered_ = value;
  First();
  DataEvent(deDataSetReset);
}

void TDataSet::InternalHandleException() { Application().HandleException(this, std::current_exception()); }

// ---------------------------------------------------------------- buffer window

char* TDataSet::ActiveBuffer() const {
  if (readBuffer_ != nullptr) return readBuffer_;
  if (activeRecord_ < 0 || activeRecord_ >= static_cast<int>(buffers_.size())) return nullptr;
  return buffers_[activeRecord_];
}

void TDataSet::SetBufListSize(int size) {
  while (static_cast<int>(buffers_.size()) > size) {
    char* buffer = buffers_.back();
    buffers_.pop_back();
    FreeRecordBuffer(buffer);
  }
  buffers_.reserve(size);
  while (static_cast<int>(buffers_.size()) < size) buffers_.push_back(AllocRecordBuffer());
}

void TDataSet::FreeBuffers() noexcept {
  if (recordAtBuffer_ != nullptr) {
    try {
      FreeRecordBuffer(recordAtBuffer_);
    } catch (...) {
      InternalHandleException();
    }
    recordAtBuffer_ = nullptr;
  }
  while (!buffers_.empty()) {
    char* buffer = buffers_.back();
    buffers_.pop_back();
    try {
      FreeRecordBuffer(buffer);
    } catch (...) {
      InternalHandleException();
    }
  }
}

void TDataSet::UpdateBufferCount() {
  int count = 1;
  for (const QPointer<TDataSource>& source : std::as_const(dataSources_))
    if (source && source->Enabled()) count = std::max(count, source->BufferCount());
  SetBufferCount(count);
}

void TDataSet::SetBufferCount(int value) {
  value = std::max(value, 1);
  if (value == bufferCount_ && !buffers_.empty()) return;
  if (value < bufferCount_ && recordCount_ > 0) {
    // Keep the active record inside the smaller window.
    const int delta = std::max(0, activeRecord_ - (value - 1));
    for (int i = 0; i < value; ++i) MoveBuffer(i + delta, i);
    activeRecord_ -= delta;
    if (currentRecord_ != -1) currentRecord_ -= delta;
    if (currentRecord_ < 0 || currentRecord_ >= value) currentRecord_ = -1;
    recordCount_ = std::min(recordCount_ - delta, value);
  }
  SetBufListSize(value + 1);
  bufferCount_ = value;
  GetNextRecords();
  GetPriorRecords();
}

void TDataSet::ClearBuffers() {
  recordCount_ = 0;
  activeRecord_ = 0;
  currentRecord_ = -1;
  bof_ = true;
  eof_ = true;
}

void TDataSet::ActivateBuffers() {
  recordCount_ = 1;
  activeRecord_ = 0;
  currentRecord_ = 0;
  bof_ = false;
  eof_ = false;
}

void TDataSet::MoveBuffer(int from, int to) {
  if (from == to) return;
  if (from < to)
    std::rotate(buffers_.begin() + from, buffers_.begin() + from + 1, buffers_.begin() + to + 1);
  else
    std::rotate(buffers_.begin() + to, buffers_.begin() + from, buffers_.begin() + from + 1);
}

void TDataSet::SetCurrentRecord(int index) {
  if (currentRecord_ == index) return;
  char* buffer = buffers_[index];
  switch (GetBookmarkFlag(buffer)) {
    case bfCurrent:
    case bfInserted:
      InternalSetToRecord(buffer);
      break;
    case bfBOF:
      InternalFirst();
      break;
    case bfEOF:
      InternalLast();
      break;
  }
  currentRecord_ = index;
}

void TDataSet::UpdateCursorPos() {
  if (recordCount_ > 0) SetCurrentRecord(activeRecord_);
}

bool TDataSet::GetNextRecord() {
  TGetMode mode = gmNext;
  if (recordCount_ > 0) {
    SetCurrentRecord(recordCount_ - 1);
    if (state_ == dsInsert && currentRecord_ == activeRecord_ && GetBookmarkFlag(ActiveBuffer()) == bfCurrent)
      mode = gmCurrent;
  }
  if (GetRecord(buffers_[recordCount_], mode, true) != grOK) {
    CursorPosChanged();
    return false;
  }
  if (recordCount_ == 0)
    ActivateBuffers();
  else if (recordCount_ < bufferCount_)
    ++recordCount_;
  else
    MoveBuffer(0, recordCount_);
  currentRecord_ = recordCount_ - 1;
  return true;
}

bool TDataSet::GetPriorRecord() {
  if (recordCount_ > 0) SetCurrentRecord(0);
  if (GetRecord(buffers_[recordCount_], gmPrior, true) != grOK) {
    CursorPosChanged();
    return false;
  }
  if (recordCount_ == 0) {
    ActivateBuffers();
  } else {
    MoveBuffer(recordCount_, 0);
    if (recordCount_ < bufferCount_) {
      ++recordCount_;
      ++activeRecord_;
    }
  }
  currentRecord_ = 0;
  return true;
}

int TDataSet::GetNextRecords() {
  int count = 0;
  while (recordCount_ < bufferCount_ && GetNextRecord()) ++count;
  return count;
}

int TDataSet::GetPriorRecords() {
  int count = 0;
  while (recordCount_ < bufferCount_ && GetPriorRecord()) ++count;
  return count;
}

void TDataSet::Resync(TResyncMode mode) {
  CheckActive();
  char* spare = buffers_[recordCount_];
  if (mode & rmExact) {
    CursorPosChanged();
    if (GetRecord(spare, gmCurrent, true) != grOK) throw EDatabaseError(QStringLiteral("Record not found"));
  } else if (GetRecord(spare, gmCurrent, false) != grOK && GetRecord(spare, gmNext, false) != grOK &&
             GetRecord(spare, gmPrior, false) != grOK) {
    ClearBuffers();
    DataEvent(deDataSetChange);
    return;
  }
  int count = (mode & rmCenter) ? (bufferCount_ - 1) / 2 : activeRecord_;
  MoveBuffer(recordCount_, 0);
  ActivateBuffers();
  try {
    while (count > 0 && GetPriorRecord()) --count;
    GetNextRecords();
    GetPriorRecords();
  } catch (...) {
    DataEvent(deDataSetChange);
    throw;
  }
  DataEvent(deDataSetChange);
}

// ---------------------------------------------------------------- navigation

void TDataSet::FirstNoScrollEvents() {
  ClearBuffers();
  try {
    InternalFirst();
    GetNextRecord();
    GetNextRecords();
  } catch (...) {
    bof_ = true;
    DataEvent(deDataSetChange);
    throw;
  }
  bof_ = true;
  DataEvent(deDataSetChange);
}

void TDataSet::First() {
  CheckBrowseMode();
  DoCall(BeforeScroll);
  FirstNoScrollEvents();
  DoCall(AfterScroll);
}

void TDataSet::Last() {
  CheckBrowseMode();
  DoCall(BeforeScroll);
  ClearBuffers();
  try {
    InternalLast();
    GetPriorRecord();
    GetPriorRecords();
  } catch (...) {
    eof_ = true;
    DataEvent(deDataSetChange);
    throw;
  }
  eof_ = true;
  DataEvent(deDataSetChange);
  DoCall(AfterScroll);
}

int TDataSet::MoveByNoScrollEvents(int distance) {
  int moved = 0;
  if ((distance > 0 && eof_) || (distance < 0 && bof_) || distance == 0) return 0;
  bof_ = false;
  eof_ = false;
  int scrolled = 0;
  try {
    while (distance > 0) {
      if (activeRecord_ < recordCount_ - 1) {
        ++activeRecord_;
      } else {
        const int shift = recordCount_ < bufferCount_ ? 0 : 1;
        if (!GetNextRecord()) {
          eof_ = true;
          break;
        }
        scrolled -= shift;
      }
      --distance;
      ++moved;
    }
    while (distance < 0) {
      if (activeRecord_ > 0) {
        --activeRecord_;
      } else {
        const int shift = recordCount_ < bufferCount_ ? 0 : 1;
        if (!GetPriorRecord()) {
          bof_ = true;
          break;
        }
        scrolled += shift;
      }
      ++distance;
      --moved;
    }
  } catch (...) {
    DataEvent(deDataSetScroll, scrolled);
    throw;
  }
  DataEvent(deDataSetScroll, scrolled);
  return moved;
}

int TDataSet::MoveBy(int distance) {
  CheckBrowseMode();
  if ((distance > 0 && eof_) || (distance < 0 && bof_) || distance == 0) return 0;
  DoCall(BeforeScroll);
  const int moved = MoveByNoScrollEvents(distance);
  DoCall(AfterScroll);
  return moved;
}

int TDataSet::RecordCount() {
  CheckActive();
  const int count = GetRecordCount();
  // Counting may have fetched ahead and moved the subclass's cursor.
  CursorPosChanged();
  return count;
}

int TDataSet::RecNo() {
  CheckActive();
  if (state_ == dsBrowse || state_ == dsEdit || state_ == dsInsert) UpdateCursorPos();
  return GetRecNo();
}

void TDataSet::SetRecNo(int value) {
  CheckBrowseMode();
  DoCall(BeforeScroll);
  InternalSetRecNo(value);
  DoCall(AfterScroll);
}

void TDataSet::InternalSetRecNo(int value) {
  if (value < 1) return;
  FirstNoScrollEvents();
  MoveByNoScrollEvents(value - 1);
}

void TDataSet::Refresh() {
  CheckBrowseMode();
  UpdateCursorPos();
  InternalRefresh();
  // A refresh may have closed and reopened the record set through its hooks.
  if (Active()) Resync({});
  DataEvent(deDataSetReset);
}

bool TDataSet::ReadRecordAt(int index, const std::function<void()>& read) {
  if (index < 0 || recordCount_ == 0) return false;
  if (state_ != dsBrowse && state_ != dsEdit && state_ != dsInsert) return false;
  // A read from inside another one gets a buffer of its own for its length.
  char* nested = nullptr;
  const TScopeExit freeNested([&] {
    if (nested != nullptr) FreeRecordBuffer(nested);
  });
  char* buffer = nullptr;
  if (readBuffer_ == nullptr) {
    if (recordAtBuffer_ == nullptr) recordAtBuffer_ = AllocRecordBuffer();
    buffer = recordAtBuffer_;
  } else {
    buffer = nested = AllocRecordBuffer();
  }
  if (!GetRecordAt(index, buffer)) return false;
  // The record is read as it is stored, whatever is being edited meanwhile.
  const QScopedValueRollback<char*> reading(readBuffer_, buffer);
  const QScopedValueRollback<TDataSetState> browsing(state_, dsBrowse);
  read();
  return true;
}

void TDataSet::CheckBrowseMode() {
  CheckActive();
  DataEvent(deCheckBrowseMode);
  if (state_ == dsEdit || state_ == dsInsert) {
    if (modified_)
      Post();
    else
      Cancel();
  }
}

// ---------------------------------------------------------------- bookmarks

bool TDataSet::BookmarkAvailable() {
  return (state_ == dsBrowse || state_ == dsEdit) && recordCount_ > 0 && bookmarkSize_ > 0 &&
         GetBookmarkFlag(ActiveBuffer()) == bfCurrent;
}

TBookmark TDataSet::GetBookmark() {
  if (!BookmarkAvailable()) return {};
  TBookmark bookmark(bookmarkSize_, '\0');
  GetBookmarkData(ActiveBuffer(), bookmark.data());
  return bookmark;
}

bool TDataSet::BookmarkValid(const TBookmark& bookmark) {
  return Active() && bookmarkSize_ > 0 && bookmark.size() == bookmarkSize_;
}

void TDataSet::GotoBookmark(const TBookmark& bookmark) {
  if (bookmark.isEmpty()) return;
  CheckBrowseMode();
  if (bookmark.size() != bookmarkSize_) throw EDatabaseError(QStringLiteral("Invalid bookmark"));
  DoCall(BeforeScroll);
  InternalGotoBookmark(bookmark.constData());
  Resync(rmExact | rmCenter);
  DoCall(AfterScroll);
}

// ---------------------------------------------------------------- search

bool TDataSet::Locate(const QString& keyFields, const QVariant& keyValues, TLocateOptions options) {
  CheckActive();
  DoCall(BeforeScroll);
  CheckBrowseMode();
  CursorPosChanged();
  QStringList names = keyFields.split(u';', Qt::SkipEmptyParts);
  for (QString& name : names) name = name.trimmed();
  if (names.isEmpty()) throw EDatabaseError(QStringLiteral("No key fields given"));
  QVariantList keys;
  if (keyValues.typeId() == QMetaType::QVariantList || keyValues.typeId() == QMetaType::QStringList)
    keys = keyValues.toList();
  else
    keys.append(keyValues);
  if (keys.size() != names.size())
    throw EDatabaseError(QStringLiteral("%1 key values given for %2 key fields").arg(keys.size()).arg(names.size()));
  QList<TField*> fields;
  for (const QString& name : std::as_const(names)) fields.append(FieldByName(name));
  QStringList keyTexts;
  for (const QVariant& key : std::as_const(keys)) {
    QString text = key.toString();
    keyTexts.append((options & loCaseInsensitive) ? text.toUpper() : text);
  }

  bool found = false;
  {
    ControlsOff controlsOff(*this);
    FirstNoScrollEvents();
    while (!eof_ && !IsEmpty()) {
      found = true;
      for (int i = 0; i < fields.size() && found; ++i) {
        QString text = fields[i]->AsString();
        if (options & loCaseInsensitive) text = text.toUpper();
        if (options & loPartialKey) text.truncate(keyTexts[i].size());
        found = text == keyTexts[i];
      }
      if (found || MoveByNoScrollEvents(1) == 0) break;
    }
  }
  if (found) DoCall(AfterScroll);
  return found;
}

// ---------------------------------------------------------------- editing

void TDataSet::CheckCanModify() {
  if (!GetCanModify()) throw EDatabaseError(QStringLiteral("Cannot modify a read-only dataset"));
}

void TDataSet::InitRecord(char* buffer) {
  InternalInitRecord(buffer);
  ClearCalcFields(buffer);
  SetBookmarkFlag(buffer, bfInserted);
}

void TDataSet::Edit() {
  if (state_ == dsEdit || state_ == dsInsert) return;
  CheckActive();
  if (recordCount_ == 0) {
    Insert();
    return;
  }
  CheckBrowseMode();
  CheckCanModify();
  DoCall(BeforeEdit);
  UpdateCursorPos();
  InternalEdit();
  GetCalcFields(ActiveBuffer());
  SetState(dsEdit);
  DataEvent(deRecordChange);
  DoCall(AfterEdit);
}

void TDataSet::BeginInsertAppend() {
  CheckBrowseMode();
  CheckCanModify();
  DoCall(BeforeInsert);
  DoCall(BeforeScroll);
}

void TDataSet::EndInsertAppend() {
  SetState(dsInsert);
  modified_ = false;
  DataEvent(deDataSetChange);
  DoCall(AfterInsert);
  DoCall(AfterScroll);
}

void TDataSet::Insert() {
  BeginInsertAppend();
  const TBookmark current = GetBookmark();
  MoveBuffer(recordCount_, activeRecord_);
  char* buffer = ActiveBuffer();
  InitRecord(buffer);
  if (recordCount_ == 0)
    SetBookmarkFlag(buffer, bfBOF);
  else if (!current.isEmpty())
    SetBookmarkData(buffer, current.constData());
  if (recordCount_ < bufferCount_) ++recordCount_;
  appending_ = false;
  InternalInsert();
  EndInsertAppend();
}

void TDataSet::Append() {
  BeginInsertAppend();
  ClearBuffers();
  char* buffer = buffers_[0];
  InitRecord(buffer);
  SetBookmarkFlag(buffer, bfEOF);
  recordCount_ = 1;
  bof_ = false;
  GetPriorRecords();
  appending_ = true;
  InternalInsert();
  EndInsertAppend();
}

void TDataSet::Post() {
  if (state_ != dsEdit && state_ != dsInsert) {
    CheckActive();
    return;
  }
  DataEvent(deCheckBrowseMode);
  DoCall(BeforePost);
  UpdateCursorPos();
  InternalPost();
  SetState(dsBrowse);
  Resync({});
  DataEvent(deDataSetReset);
  DoCall(AfterPost);
}

void TDataSet::InternalPost() {
  if (state_ == dsInsert) InternalAddRecord(ActiveBuffer(), appending_);
  else throw EDatabaseError(QStringLiteral("Cannot modify a read-only dataset"));
}

void TDataSet::InternalAddRecord(char*, bool) {
  throw EDatabaseError(QStringLiteral("Cannot modify a read-only dataset"));
}

void TDataSet::Cancel() {
  if (state_ != dsEdit && state_ != dsInsert) return;
  const bool inserting = state_ == dsInsert;
  DataEvent(deCheckBrowseMode);
  DoCall(BeforeCancel);
  UpdateCursorPos();
  if (!inserting) InternalCancel();
  SetState(dsBrowse);
  Resync({});
  if (inserting) DataEvent(deDataSetReset);
  DoCall(AfterCancel);
}

void TDataSet::Delete() {
  CheckActive();
  if (state_ == dsInsert) {
    Cancel();
    return;
  }
  if (recordCount_ == 0) throw EDatabaseError(QStringLiteral("Cannot perform this operation on an empty dataset"));
  DataEvent(deCheckBrowseMode);
  DoCall(BeforeDelete);
  DoCall(BeforeScroll);
  UpdateCursorPos();
  InternalDelete();
  SetState(dsBrowse);
  Resync({});
  DataEvent(deDataSetReset);
  DoCall(AfterDelete);
  DoCall(AfterScroll);
}

void TDataSet::InternalDelete() { throw EDatabaseError(QStringLiteral("Cannot modify a read-only dataset")); }

// ---------------------------------------------------------------- notifications

void TDataSet::DisableControls() {
  if (disableCount_ == 0) {
    disableState_ = state_;
    enableEvent_ = deDataSetChange;
  }
  ++disableCount_;
}

void TDataSet::EnableControls() {
  if (disableCount_ == 0) return;
  if (--disableCount_ > 0) return;
  if (disableState_ != state_) DataEvent(deUpdateState);
  if (disableState_ != dsInactive && state_ != dsInactive) DataEvent(enableEvent_);
}

void TDataSet::DataEvent(TDataEvent event, int info, TField* field) {
  if (event == deFieldChange && field != nullptr && !field->Calculated()) {
    modified_ = true;
    if (autoCalcFields_ && (state_ == dsEdit || state_ == dsInsert) && recordCount_ > 0)
      GetCalcFields(ActiveBuffer());
  }
  if (destroying_) return;
  if (ControlsDisabled()) {
    // What the controls missed is told once when they are enabled again.
    if (event == deDataSetReset || event == deLayoutChange || (event == deUpdateState && state_ == dsInactive))
      enableEvent_ = deDataSetReset;
    return;
  }
  const QList<QPointer<TDataSource>> sources = dataSources_;
  for (const QPointer<TDataSource>& source : sources)
    if (source) source->DataEvent(event, info, field);
}

void TDataSet::AttachDataSource(TDataSource* source) {
  if (!dataSources_.contains(source)) dataSources_.append(source);
  if (Active()) UpdateBufferCount();
}

void TDataSet::DetachDataSource(TDataSource* source) {
  dataSources_.removeAll(source);
  dataSources_.removeAll(nullptr);
  if (Active() && !destroying_) UpdateBufferCount();
}
