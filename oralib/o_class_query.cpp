// The query: preparing and running its statement, fetching rows into the row
// cache, and the record-set hooks through which the framework reads them.
#include "o_class_query.h"

#include <QIODevice>
#include <QScopedValueRollback>
#include <algorithm>
#include <cstring>
#include <exception>

#include "o_charset.h"
#include "o_error.h"
#include "o_lang.h"
#include "o_ociap.h"
#include "o_utils.h"
#include "ui/datetime.h"
#include "ui/scope_guard.h"

namespace {

using RowReference = int32_t;  // what a record buffer holds: the row's index in the cache

// The stream the framework reads a blob field through, over one of ours.
class TStreamDevice : public QIODevice {
 public:
  explicit TStreamDevice(std::unique_ptr<TStream> stream) : stream_(std::move(stream)) {
    open(QIODevice::ReadOnly | QIODevice::Unbuffered);
  }
  bool isSequential() const override { return false; }
  qint64 size() const override { return stream_->Size(); }

 protected:
  qint64 readData(char* data, qint64 maxSize) override {
    stream_->Seek(static_cast<int32_t>(pos()), soFromBeginning);
    return stream_->Read(data, static_cast<int32_t>(std::min<qint64>(maxSize, INT32_MAX)));
  }
  qint64 writeData(const char* data, qint64 maxSize) override {
    return stream_->Write(data, static_cast<int32_t>(std::min<qint64>(maxSize, INT32_MAX)));
  }

 private:
  std::unique_ptr<TStream> stream_;
};

// What the dynamic define of a LONG column hands back to us for each piece.
struct LongPieceContext {
  TOColumnDesc* desc;
  TORow* row;
  int column;
  std::exception_ptr* failure;  // what stopped a piece, raised once the client has returned
  ub4 noRoom;                   // the length handed out with no buffer after a failure
};

// Runs inside OCIStmtFetch: nothing may unwind through the client's frames.
// A piece that cannot be taken (memory exhausted) ends the fetch with an
// error in the client; FetchRow then raises the failure itself.
sb4 LongPieceCallback(dvoid* context, OCIDefine*, ub4, dvoid** bufpp, ub4** alenp, ub1* piecep,
                      dvoid** indp, ub2** rcodep) noexcept {
  auto* piece = static_cast<LongPieceContext*>(context);
  try {
    return AddPiece(*piece->desc, TOColumn(piece->row, piece->column), bufpp, alenp, piecep, indp, rcodep);
  } catch (...) {
    if (!*piece->failure) *piece->failure = std::current_exception();
    piece->noRoom = 0;
    *bufpp = nullptr;
    *alenp = &piece->noRoom;
    return OCI_ERROR;
  }
}

// A statement of blanks and control characters only (codes up to 32) is empty;
// any other character, a no-break space among them, is for the server to judge.
bool IsEmptyStatement(const QString& text) {
  return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() <= 32; });
}

}  // namespace

T_OQuery::T_OQuery(QObject* owner) : TDataSet(owner) {
  SetBookmarkSize(sizeof(RowReference));
  sql_.OnChange = [this] { SQLChanged(); };
}

T_OQuery::~T_OQuery() {
  try {
    SetSession(nullptr);
  } catch (...) {
    // Releasing a statement whose session failed cannot stop the destruction.
  }
  Destroying();
  sql_.OnChange = nullptr;
}

void T_OQuery::SetSession(TOSession* session) {
  if (session == session_) return;
  if (prepared_) UnprepareStatement();
  session_ = session;
}

void T_OQuery::TraceStmt(const char* what) {
  if (session_ != nullptr)
    session_->TraceWith(TTraceCategory::Stmt, [&] { return Name() + QLatin1String(what); });
}

void T_OQuery::SQLChanged() {
  UnprepareStatement();
  macros_.ParseNames(MacroChar, sql_.Lines());
}

void T_OQuery::CheckSession() const {
  if (session_ == nullptr) RaiseOracleError(LoadStr(SSessionNotAssigned));
}

void T_OQuery::CheckQueryStatus(sword status) {
  CheckSession();
  session_->CheckStatus(session_->hError(), status);
}

void T_OQuery::CheckStatementStatus(sword status) {
  CheckSession();
  if (statementHandle_ == nullptr || status != OCI_ERROR) {
    session_->CheckStatus(session_->hError(), status);
    return;
  }
  session_->SetLastStatus(OCI_ERROR);
  ub4 offset = 0;
  session_->CheckStatus(session_->hError(),
                        oci.OCIAttrGet(statementHandle_, OCI_HTYPE_STMT, &offset, nullptr,
                                       OCI_ATTR_PARSE_ERROR_OFFSET, session_->hError()));
  const QString message = OracleErrorText(session_->hError(), OCI_HTYPE_ERROR);
  if (message.contains(QStringLiteral("ORA-00000"))) return;
  // The server counts bytes of the text as it was sent; the window marks characters.
  const int position = static_cast<int>(TOCharset::Client().TextPosition(expandedSql_, offset));
  RaiseStatementError(session_, message, expandedSql_, position);
}

void T_OQuery::ResolveSession() {
  if (session_ != nullptr) return;
  if (SessionName.isEmpty())
    throw Exception(QStringLiteral("Session not assigned for ") + Name());
  if (TOSession* found = TOSession::FindSession(SessionName)) SetSession(found);
  if (session_ == nullptr)
    throw Exception(QStringLiteral("Can not find session \"%1\"").arg(SessionName));
}

QString T_OQuery::BuildStatementText() const {
  return ExpandMacros(RemoveCarriageReturns(sql_.Text()), MacroChar, macros_);
}

void T_OQuery::AllocStatement() {
  CheckSession();
  // These calls take no error handle: their failure is read from the
  // environment, not from the error handle, which may hold an older message.
  session_->CheckStatus(nullptr, oci.OCIHandleAlloc(session_->hEnvironment(),
                                                    reinterpret_cast<void**>(&statementHandle_),
                                                    OCI_HTYPE_STMT, 0, nullptr));
  session_->CheckStatus(nullptr, oci.OCIDescriptorAlloc(session_->hEnvironment(),
                                                        reinterpret_cast<void**>(&rowIdDescriptor_),
                                                        OCI_DTYPE_ROWID, 0, nullptr));
}

void T_OQuery::FreeStatement() {
  // After the client library was unloaded (at program end) the handles are gone with it.
  if (rowIdDescriptor_ != nullptr && oci.OCIDescriptorFree != nullptr)
    oci.OCIDescriptorFree(rowIdDescriptor_, OCI_DTYPE_ROWID);
  if (statementHandle_ != nullptr && oci.OCIHandleFree != nullptr)
    oci.OCIHandleFree(statementHandle_, OCI_HTYPE_STMT);
  rowIdDescriptor_ = nullptr;
  statementHandle_ = nullptr;
}

void T_OQuery::PrepareStatement() {
  if (prepared_) return;
  ResolveSession();
  TraceStmt(" Preparing");
  session_->Connect();
  rows_.Clear();
  rowDesc_.Clear();
  FieldDefs().Clear();
  {
    // A failed prepare keeps nothing: the next one starts on a fresh statement.
    const TUndoOnFailure forget([this] {
      rowDesc_.Clear();
      FreeStatement();
      statementType_ = 0;
      columnCount_ = 0;
    });
    AllocStatement();
    expandedSql_ = BuildStatementText();
    if (IsEmptyStatement(expandedSql_)) RaiseOracleError(LoadStr(SEmptySQL));
    session_->TraceWith(TTraceCategory::Prepare, [&] { return expandedSql_; });
    const QByteArray text = TOCharset::Client().Encode(expandedSql_);
    CheckQueryStatus(oci.OCIStmtPrepare(statementHandle_, session_->hError(),
                                        reinterpret_cast<const ::text*>(text.constData()),
                                        static_cast<ub4>(text.size()), OCI_NTV_SYNTAX, OCI_DEFAULT));
    ub2 type = 0;
    CheckQueryStatus(oci.OCIAttrGet(statementHandle_, OCI_HTYPE_STMT, &type, nullptr,
                                    OCI_ATTR_STMT_TYPE, session_->hError()));
    statementType_ = type & 0xff;
    session_->TraceWith(TTraceCategory::Vendor, [&] {
      return QStringLiteral("OCIAttrGet - statement type is ") + StatementTypeName(statementType_);
    });
    ub4 zero = 0;
    CheckQueryStatus(oci.OCIAttrSet(statementHandle_, OCI_HTYPE_STMT, &zero, sizeof zero,
                                    OCI_ATTR_PREFETCH_ROWS, session_->hError()));
    CheckQueryStatus(oci.OCIAttrSet(statementHandle_, OCI_HTYPE_STMT, &zero, sizeof zero,
                                    OCI_ATTR_PREFETCH_MEMORY, session_->hError()));
    if (statementType_ == OCI_STMT_SELECT) Describe();
  }
  prepared_ = true;
  session_->AttachQuery(this);
}

void T_OQuery::Describe() {
  TOSession& session = *session_;
  OCIError* error = session.hError();
  {
    const TOWaitCursor wait(session);
    session.TraceWith(TTraceCategory::Execute, [&] { return QStringLiteral("Describe -") + expandedSql_; });
    CheckStatementStatus(oci.OCIStmtExecute(session.hService(), statementHandle_, error, 1, 0,
                                            nullptr, nullptr, OCI_DESCRIBE_ONLY));
  }

  columnCount_ = 0;
  CheckQueryStatus(oci.OCIAttrGet(statementHandle_, OCI_HTYPE_STMT, &columnCount_, nullptr,
                                  OCI_ATTR_PARAM_COUNT, error));
  session.TraceWith(TTraceCategory::Vendor, [&] {
    return QStringLiteral("OCIAttrGet - param count is ") + QString::number(columnCount_);
  });
  for (ub4 p = 1; p <= columnCount_; ++p) {
    void* param = nullptr;
    CheckQueryStatus(oci.OCIParamGet(statementHandle_, OCI_HTYPE_STMT, error, &param, p));
    ub2 dataType = 0;
    CheckQueryStatus(oci.OCIAttrGet(param, OCI_DTYPE_PARAM, &dataType, nullptr, OCI_ATTR_DATA_TYPE, error));
    session.TraceWith(TTraceCategory::Vendor, [&] {
      return QStringLiteral("OCIAttrGet - param %1 type = %2").arg(p).arg(dataType);
    });
    text* namePointer = nullptr;
    ub4 nameLength = 30;
    CheckQueryStatus(oci.OCIAttrGet(param, OCI_DTYPE_PARAM, &namePointer, &nameLength, OCI_ATTR_NAME, error));
    char name[31] = {0};
    if (namePointer != nullptr) std::memcpy(name, namePointer, std::min<ub4>(nameLength, 30));
    const QString columnName = TOCharset::Client().Decode(name, static_cast<qsizetype>(std::strlen(name)));
    session.TraceWith(TTraceCategory::Vendor, [&] {
      return QStringLiteral("OCIAttrGet - param %1 name = %2").arg(p).arg(columnName);
    });
    ub2 size = 0;
    sb2 precision = 0;
    sb1 scale = 0;
    ub1 mayBeNull = 0;
    CheckQueryStatus(oci.OCIAttrGet(param, OCI_DTYPE_PARAM, &size, nullptr, OCI_ATTR_DATA_SIZE, error));
    CheckQueryStatus(oci.OCIAttrGet(param, OCI_DTYPE_PARAM, &precision, nullptr, OCI_ATTR_PRECISION, error));
    CheckQueryStatus(oci.OCIAttrGet(param, OCI_DTYPE_PARAM, &scale, nullptr, OCI_ATTR_SCALE, error));
    CheckQueryStatus(oci.OCIAttrGet(param, OCI_DTYPE_PARAM, &mayBeNull, nullptr, OCI_ATTR_IS_NULL, error));
    session.TraceWith(TTraceCategory::Vendor, [&] {
      return QStringLiteral("OCIAttrGet - param %1 size = %2 precission = %3 scale = %4 may be Null = %5")
          .arg(p).arg(size).arg(precision).arg(scale).arg(mayBeNull);
    });
    rowDesc_.AddColumn(columnName, dataType, mayBeNull, scale, precision, size);
  }
}

void T_OQuery::CheckArrayParams() const {
  // A SELECT runs once whatever its binds; only the first element of each is read.
  if (statementType_ == OCI_STMT_SELECT) return;
  sb4 iterations = 1;
  for (int i = 0; i < params_.Count(); ++i)
    if (!params_[i].IsTable) iterations = std::max(iterations, params_[i].ArraySize());
  if (iterations < 2) return;
  // OCI reads one element of every parameter for each iteration: a parameter
  // with fewer elements than iterations would be read past its end.
  for (int i = 0; i < params_.Count(); ++i) {
    const TOParam& param = params_[i];
    if (param.IsTable) continue;
    if (param.LOB() != nullptr)
      RaiseOracleError(QStringLiteral("TOParam: parameter '%1' holds one LOB and cannot take part in an array bind")
                           .arg(param.Name));
    if (param.ArraySize() != iterations)
      RaiseOracleError(QStringLiteral("TOParam: parameter '%1' has %2 element(s) where the statement runs %3 times")
                           .arg(param.Name).arg(param.ArraySize()).arg(iterations));
  }
}

void T_OQuery::BindParams() {
  if (OnQueryParams) OnQueryParams(this, params_);
  CheckArrayParams();
  if (params_.Count() > 0) iterationCount_ = 1;
  OCIError* error = session_->hError();
  for (int i = 0; i < params_.Count(); ++i) {
    TOParam& param = params_[i];
    session_->TraceWith(TTraceCategory::DataIn, [&] {
      const QVariant value = param.GetValue();
      return QStringLiteral("Param \"") + param.Name + QStringLiteral("\" type ") +
             FieldTypeName(param.DataType()) + QStringLiteral(" value is ") +
             (VarIsArray(value) ? QStringLiteral("variant array")
                                : QLatin1Char('\'') + param.ValueAsText() + QLatin1Char('\'')) +
             (param.IsTable ? QStringLiteral(" (table)") : QString());
    });
    const QByteArray placeholder = TOCharset::Client().Encode(QLatin1Char(':') + param.Name);
    param.BoundSize = static_cast<sb4>(param.ElementSize());
    const ub2 type = param.BindType();
    if (!param.IsTable && param.ArraySize() > iterationCount_) iterationCount_ = param.ArraySize();
    void* value = param.Values();
    if (param.LOB() != nullptr) {
      value = param.LOB()->LocatorAddress();
      param.BoundSize = sizeof(OCILobLocator*);
    }
    param.Lengths()[0] = static_cast<ub2>(param.BoundSize & 0xffff);
    if (type == SQLT_RSET) param.BoundSize = 0;
    OCIBind* bind = nullptr;
    CheckQueryStatus(oci.OCIBindByName(
        statementHandle_, &bind, error, reinterpret_cast<const text*>(placeholder.constData()),
        static_cast<sb4>(placeholder.size()), value, param.BoundSize, type, param.Indicators(),
        param.IsTable ? nullptr : param.Lengths(), nullptr,
        param.IsTable ? static_cast<ub4>(param.ArraySize()) : 0,
        param.IsTable ? &param.ElementCount : nullptr, OCI_DEFAULT));
    if (param.IsTable)
      CheckQueryStatus(oci.OCIBindArrayOfStruct(bind, error, param.ElementSize(), sizeof(sb2), 0, 0));
  }
}

void T_OQuery::UnprepareStatement() {
  if (!prepared_) return;
  TraceStmt(" Unpreparing");
  Close();
  rowDesc_.Clear();
  params_.FreeLOBs();
  FreeStatement();
  prepared_ = false;
  statementType_ = 0;
  columnCount_ = 0;
  if (session_ != nullptr) session_->DetachQuery(this);
}

void T_OQuery::ExecuteStatement() {
  Open();
  Close();
}

void T_OQuery::InternalInitFieldDefs() {
  // A statement released at the end of its data is prepared again.
  if (prepared_ && statementHandle_ == nullptr) {
    prepared_ = false;
    rowDesc_.Clear();
  }
  if (!prepared_) PrepareStatement();
}

void T_OQuery::InternalOpen() {
  rowIndex_ = -1;
  InternalInitFieldDefs();
  TraceStmt(" Opening");
  if (FieldCount() == 0) CreateFields();
  BindFields(true);
  recordSize_ = sizeof(RowReference);
  iterationCount_ = 0;
  BindParams();
  const bool autoCommit = session_->AutoCommit;
  const bool select = statementType_ == OCI_STMT_SELECT;
  // A SELECT is executed with no iterations whatever its binds: rows arrive
  // through FetchRow alone, as an execute that fetched would put them into
  // the defines of an earlier run (rows lost, buffers already released).
  const ub4 iterations = select ? 0 : iterationCount_ >= 2 ? static_cast<ub4>(iterationCount_) : 1;
  TOSession& session = *session_;
  const TUndoOnFailure noRecords([this] { recordSize_ = 0; });
  const TOWaitCursor wait(session);
  CheckStatementStatus(oci.OCIStmtExecute(session.hService(), statementHandle_, session.hError(),
                                          iterations, 0, nullptr, nullptr,
                                          autoCommit ? OCI_COMMIT_ON_SUCCESS : OCI_DEFAULT));
  session.TraceWith(TTraceCategory::Execute, [&] { return expandedSql_; });
  SetEndOfData(!select);
  if (session.AutoCommit) session.DoTransChange();
  cursorOpen_ = true;
}

void T_OQuery::InternalClose() {
  TraceStmt(" Closing");
  rowIndex_ = -1;
  cursorOpen_ = false;
  recordSize_ = 0;
  endOfData_ = false;
  BindFields(false);
  if (DefaultFields()) DestroyFields();
  rows_.Clear();
  filterRow_ = nullptr;
}

void T_OQuery::SetEndOfData(bool value) {
  endOfData_ = value;
  if (value && AutoClose) FreeStatement();
}

bool T_OQuery::FetchRow() {
  if (endOfData_) return false;
  CheckSession();
  TOSession& session = *session_;
  OCIError* error = session.hError();
  // Only LONG columns need a context for their piece callback.
  std::vector<LongPieceContext> pieces;
  std::exception_ptr pieceFailure;
  bool kept = false;
  bool accepted = true;
  do {
    accepted = true;
    defineHandle_ = nullptr;
    // Room for every column at once: OCI keeps the contexts' addresses until the fetch.
    pieces.clear();
    pieceFailure = nullptr;
    const int index = rows_.AppendRow();
    TORow& row = rows_[index];
    sword status = OCI_SUCCESS;
    try {
      for (int i = 0; i < rowDesc_.Count(); ++i) {
        TOColumnDesc& desc = rowDesc_[i];
        const TOColumn column = row.Columns[i];
        void* value = column.Buffer();
        sb4 size = column.DefineSize();
        ub4 mode = OCI_DEFAULT;
        if (desc.LOB) {
          value = desc.LOB->LocatorAddress();
          size = sizeof(OCILobLocator*);
        }
        if (desc.Pieces) {
          size = 2147483647;
          mode = OCI_DYNAMIC_FETCH;
        }
        CheckQueryStatus(oci.OCIDefineByPos(statementHandle_, &defineHandle_, error,
                                            static_cast<ub4>(i + 1), value, size, column.DefineType(),
                                            &column.Indicator(), &column.ReturnedLength(), nullptr, mode));
        if (desc.Pieces) {
          if (pieces.capacity() == 0) pieces.reserve(static_cast<std::size_t>(rowDesc_.Count()));
          pieces.push_back({&desc, &row, i, &pieceFailure, 0});
          CheckQueryStatus(oci.OCIDefineDynamic(defineHandle_, error, &pieces.back(), LongPieceCallback));
        }
      }
      const sword fetched = oci.OCIStmtFetch(statementHandle_, error, 1, OCI_FETCH_NEXT, OCI_DEFAULT);
      // A piece we could not take ended the fetch: that failure is the one to report.
      if (pieceFailure) std::rethrow_exception(pieceFailure);
      CheckQueryStatus(fetched);
      status = session.LastStatus();
      SetEndOfData(status == OCI_NO_DATA);
      if (status == OCI_SUCCESS || status == OCI_SUCCESS_WITH_INFO) {
        row.Columns.FinishRow();
        CheckQueryStatus(oci.OCIAttrGet(statementHandle_, OCI_HTYPE_STMT, rowIdDescriptor_, nullptr,
                                        OCI_ATTR_ROWID, error));
      }
    } catch (...) {
      // A row that did not arrive whole is not kept, nor are pieces of its
      // LONG values; the caller reports the error.
      rows_.Delete(index);
      for (int i = 0; i < rowDesc_.Count(); ++i) rowDesc_[i].ReleasePieces();
      throw;
    }
    if (status == OCI_SUCCESS || status == OCI_SUCCESS_WITH_INFO) {
      // The cursor stands on the row just fetched, wherever it stood before.
      const int before = rowIndex_;
      rowIndex_ = index;
      if (Filtered()) {
        filterRow_ = &row;
        const auto discard = [&] {
          filterRow_ = nullptr;
          rows_.Delete(index);
          rowIndex_ = before;
        };
        try {
          accepted = FilterRecord();
        } catch (...) {
          discard();  // a row the filter could not judge is not kept either
          throw;
        }
        if (!accepted) discard();
      }
      kept = accepted;
    } else {
      rows_.Delete(index);
      kept = false;
    }
  } while (!accepted && !endOfData_);
  return kept;
}

void T_OQuery::FetchAll() {
  while (FetchRow()) {
  }
  // Fetching moved the cursor onto the last row: the framework puts it back
  // on its current record before it next moves.
  CursorPosChanged();
}

TORow* T_OQuery::RowOfBuffer(const char* buffer) const {
  if (buffer == nullptr) return nullptr;
  RowReference index;
  std::memcpy(&index, buffer, sizeof index);
  return index >= 0 && index < rows_.Count() ? &rows_[index] : nullptr;
}

TORow* T_OQuery::CurrentRow() const {
  switch (State()) {
    case dsBrowse:
    case dsCurValue:
      return WindowRecordCount() > 0 ? RowOfBuffer(ActiveBuffer()) : nullptr;
    case dsCalcFields: return RowOfBuffer(CalcBuffer());
    case dsFilter: return filterRow_;
    default: return nullptr;
  }
}

char* T_OQuery::AllocRecordBuffer() {
  if (recordSize_ == 0) RaiseOracleError(LoadStr(SZeroRecordBuffer));
  return static_cast<char*>(CountedAlloc(static_cast<std::size_t>(recordSize_)));
}

void T_OQuery::FreeRecordBuffer(char*& buffer) {
  if (buffer != nullptr) CountedFree(std::exchange(buffer, nullptr));
}

TGetResult T_OQuery::GetRecord(char* buffer, TGetMode mode, bool doCheck) {
  TGetResult result = grOK;
  switch (mode) {
    case gmCurrent:
      // Past the cache the current row is the next one to arrive; before the
      // first cached row there is none (the framework then reads the next).
      if (rowIndex_ >= rows_.Count() || (rowIndex_ < 0 && rows_.Count() == 0)) {
        if (!FetchRow()) result = grError;
      } else if (rowIndex_ < 0) {
        result = grError;
      }
      break;
    case gmNext:
      if (rowIndex_ < rows_.Count() - 1)
        ++rowIndex_;
      else if (!FetchRow())
        result = grEOF;
      break;
    case gmPrior:
      if (rowIndex_ > 0)
        --rowIndex_;
      else
        result = grBOF;
      break;
  }
  // Only a row of the cache is ever loaded, whatever moved the cursor.
  if (result == grOK && (rowIndex_ < 0 || rowIndex_ >= rows_.Count())) result = grError;
  if (result == grOK) {
    const RowReference index = rowIndex_;
    std::memcpy(buffer, &index, sizeof index);
    TORow& row = rows_[rowIndex_];
    row.BookmarkFlag = bfCurrent;
    row.RowNumber = rowIndex_;
    GetCalcFields(buffer);
  } else if (result == grError && doCheck) {
    throw EDatabaseError(LoadStr(SNoRecords));
  }
  return result;
}

bool T_OQuery::GetRecordAt(int index, char* buffer) {
  if (index < 0) return false;
  {
    // Rows beyond the cache are fetched; the cursor stays on its row.
    const QScopedValueRollback<int> cursor(rowIndex_);
    while (index >= rows_.Count() && FetchRow()) {
    }
  }
  if (index >= rows_.Count()) return false;
  const RowReference reference = index;
  std::memcpy(buffer, &reference, sizeof reference);
  TORow& row = rows_[index];
  row.BookmarkFlag = bfCurrent;
  row.RowNumber = index;
  GetCalcFields(buffer);
  return true;
}

bool T_OQuery::GetFieldData(TField* field, void* dest) {
  TORow* row = CurrentRow();
  if (rows_.Count() <= ActiveRecord() || row == nullptr) return false;
  if (field->FieldNo() < 0) {
    if (dest != nullptr && row->CalcBuffer != nullptr)
      std::memcpy(dest, static_cast<const char*>(row->CalcBuffer) + field->Offset(),
                  static_cast<std::size_t>(field->DataSize()));
    return true;
  }
  if (field->FieldNo() > row->Columns.Count()) return false;
  const TOColumn column = row->Columns[field->FieldNo() - 1];
  if (column.IsNull()) return false;
  if (dest == nullptr) return true;
  if (field->DataType() == ftDateTime) {
    // A DATE is 7 bytes; a column with less room was refused when described.
    if (column.Buffer() == nullptr || column.Size() < 7)
      RaiseOracleError(QStringLiteral("DATE value of column %1 has %2 bytes").arg(field->FieldName()).arg(column.Size()));
    const double msecs =
        DateTimeToMSecs(OraDateToDateTime(static_cast<const unsigned char*>(column.Buffer())));
    std::memcpy(dest, &msecs, sizeof msecs);
    return true;
  }
  const int size = std::min(field->DataSize(), static_cast<int>(column.Size()));
  if (size > 0 && column.Buffer() != nullptr)
    std::memcpy(dest, column.Buffer(), static_cast<std::size_t>(size));
  return true;
}

void T_OQuery::CheckFieldWrite(TField* field) {
  // The rows are the server's: no state lets a value into them. Calculated
  // values follow the framework's rule.
  if (!field->Calculated()) RaiseOracleError(LoadStr(SReadOnlyField));
  TDataSet::CheckFieldWrite(field);
}

void T_OQuery::SetFieldData(TField* field, const void* source) {
  if (field->FieldNo() >= 0) RaiseOracleError(LoadStr(SReadOnlyField));
  TORow* row = CurrentRow();
  if (row == nullptr || row->CalcBuffer == nullptr) return;
  char* target = static_cast<char*>(row->CalcBuffer) + field->Offset();
  if (source != nullptr)
    std::memcpy(target, source, static_cast<std::size_t>(field->DataSize()));
  else
    std::memset(target, 0, static_cast<std::size_t>(field->DataSize()));
}

void T_OQuery::InternalLast() {
  FetchAll();
  // After the last row: the framework then reads backwards, the last row first.
  // With no row at all (the fetch stopped on a status that is neither a row
  // nor the end) the cursor stays before the first row.
  rowIndex_ = rows_.Count() > 0 ? rows_.Count() : -1;
}

void T_OQuery::InternalInitRecord(char* buffer) {
  std::memset(buffer, 0, static_cast<std::size_t>(recordSize_));
}

void T_OQuery::InternalSetToRecord(char* buffer) {
  if (TORow* row = RowOfBuffer(buffer)) rowIndex_ = row->RowNumber;
}

void T_OQuery::InternalGotoBookmark(const void* bookmark) {
  RowReference index;
  std::memcpy(&index, bookmark, sizeof index);
  // A bookmark names a row of the cache; one kept from before a refresh or
  // close may name none, and the cursor then stays where it is.
  if (index < 0 || index >= rows_.Count()) throw EDatabaseError(QStringLiteral("Record not found"));
  rowIndex_ = index;
}

void T_OQuery::GetBookmarkData(char* buffer, void* data) {
  const RowReference number = RowOfBuffer(buffer) != nullptr ? RowOfBuffer(buffer)->RowNumber : -1;
  std::memcpy(data, &number, sizeof number);
}

void T_OQuery::SetBookmarkData(char* buffer, const void* data) {
  if (TORow* row = RowOfBuffer(buffer)) std::memcpy(&row->RowNumber, data, sizeof row->RowNumber);
}

TBookmarkFlag T_OQuery::GetBookmarkFlag(char* buffer) {
  TORow* row = RowOfBuffer(buffer);
  return row != nullptr ? static_cast<TBookmarkFlag>(row->BookmarkFlag) : bfCurrent;
}

void T_OQuery::SetBookmarkFlag(char* buffer, TBookmarkFlag flag) {
  if (TORow* row = RowOfBuffer(buffer)) row->BookmarkFlag = flag;
}

int T_OQuery::CompareBookmarks(const TBookmark& first, const TBookmark& second) {
  const bool hasFirst = first.size() >= static_cast<qsizetype>(sizeof(RowReference));
  const bool hasSecond = second.size() >= static_cast<qsizetype>(sizeof(RowReference));
  if (!hasFirst || !hasSecond) return hasFirst == hasSecond ? 0 : (hasFirst ? -1 : 1);
  RowReference a, b;
  std::memcpy(&a, first.constData(), sizeof a);
  std::memcpy(&b, second.constData(), sizeof b);
  return a < b ? -1 : (a > b ? 1 : 0);
}

int T_OQuery::GetRecordCount() {
  if (QueryAll) FetchAll();
  return rows_.Count();
}

int T_OQuery::GetRecNo() {
  if (rowIndex_ == -1 && GetRecordCount() > 0) return 1;
  return rowIndex_ + 1;
}

void T_OQuery::InternalSetRecNo(int value) {
  // Only cached rows are reached, without a fetch. Record 0 is the place
  // before the first row; the window then shows the first record.
  if (value < 0 || value > rows_.Count()) return;
  rowIndex_ = value - 1;
  Resync({});
}

void T_OQuery::InternalEdit() { RaiseOracleError(LoadStr(SEditingNotSupported)); }
void T_OQuery::InternalDelete() { RaiseOracleError(LoadStr(SDeletingNotSupported)); }
void T_OQuery::InternalPost() { RaiseOracleError(LoadStr(SPostingNotSupported)); }
void T_OQuery::InternalAddRecord(char*, bool) { RaiseOracleError(LoadStr(SAddingNotSupported)); }

void T_OQuery::InternalRefresh() {
  UnprepareStatement();
  Open();
}

void T_OQuery::ClearCalcFields(char* buffer) {
  TDataSet::ClearCalcFields(buffer);
  TORow* row = RowOfBuffer(buffer);
  if (CalcFieldsSize() > 0 && row != nullptr && row->CalcBuffer != nullptr)
    std::memset(row->CalcBuffer, 0, static_cast<std::size_t>(CalcFieldsSize()));
}

std::optional<TOColumn> T_OQuery::BlobColumn(TField* field) {
  TORow* row = CurrentRow();
  if (row == nullptr || field->FieldNo() < 1 || field->FieldNo() > row->Columns.Count()) return std::nullopt;
  return row->Columns[field->FieldNo() - 1];
}

std::unique_ptr<QIODevice> T_OQuery::CreateBlobStream(TField* field, TBlobStreamMode mode) {
  if (field == nullptr || !field->IsBlob())
    RaiseOracleError(LoadStr(SNonBlobStream) + (field != nullptr ? field->FieldName() : QString()));
  const std::optional<TOColumn> column = BlobColumn(field);
  return std::make_unique<TStreamDevice>(std::make_unique<TOBlobStream>(column ? &*column : nullptr, mode));
}

bool T_OQuery::Locate(const QString& keyFields, const QVariant& keyValues, TLocateOptions options) {
  // The search walks the cached and further rows; the wait cursor shows while it does.
  if (session_ == nullptr) return TDataSet::Locate(keyFields, keyValues, options);
  const TOWaitCursor wait(*session_);
  return TDataSet::Locate(keyFields, keyValues, options);
}
