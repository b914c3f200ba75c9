// The query: one SQL statement run through OCI, its result presented to the
// record-set framework as a read-only, forward-fetching record set.
#pragma once

#include <QPointer>
#include <functional>
#include <memory>
#include <optional>

#include "o_class.h"
#include "o_class_params.h"
#include "o_class_rows.h"
#include "ui/dataset.h"
#include "ui/strings.h"

class T_OQuery;
using TQueryParamsEvent = std::function<void(T_OQuery* sender, TOParams& params)>;

class T_OQuery : public TDataSet, public TOQueryContext, public TOSessionQuery {
  Q_OBJECT

 public:
  explicit T_OQuery(QObject* owner = nullptr);
  ~T_OQuery() override;

  // The component's name, used in trace texts and messages.
  QString Name() const { return objectName(); }
  void SetName(const QString& name) { setObjectName(name); }

  TOSession* Session() const { return session_; }
  void SetSession(TOSession* session);
  QString SessionName;
  bool QueryAll = false;
  bool AutoClose = false;
  QChar MacroChar = QLatin1Char('%');
  TStrings& SQL() { return sql_; }
  TOParams& Params() { return params_; }
  TOParams& Macros() { return macros_; }
  TQueryParamsEvent OnQueryParams;

  virtual void SQLChanged();
  virtual void PrepareStatement();
  void UnprepareStatement();
  // Opens and closes again: the statement runs once for its effect.
  void ExecuteStatement();

  void CheckSession() const;
  void CheckQueryStatus(sword status);
  void CheckStatementStatus(sword status);

  // One row from the server into the cache, the cursor moved onto it; false
  // at the end of the data.
  bool FetchRow();
  // Every remaining row into the cache; the current record stays.
  void FetchAll();
  void SetEndOfData(bool value);

  // State, for the record-set hooks and for inspection.
  bool Prepared() const { return prepared_; }
  bool EndOfData() const { return endOfData_; }
  int RowIndex() const { return rowIndex_; }
  const QString& ExpandedSQL() const { return expandedSql_; }
  int IterationCount() const { return iterationCount_; }
  int StatementType() const { return statementType_; }
  ub4 ColumnCount() const { return columnCount_; }
  OCIStmt* StatementHandle() const { return statementHandle_; }
  const TORowDesc& RowDesc() const { return rowDesc_; }
  const TORows& Rows() const { return rows_; }
  // The value of a blob field in the current record; none when there is no current record.
  std::optional<TOColumn> BlobColumn(TField* field);

  std::unique_ptr<QIODevice> CreateBlobStream(TField* field, TBlobStreamMode mode) override;
  bool Locate(const QString& keyFields, const QVariant& keyValues, TLocateOptions options) override;
  int CompareBookmarks(const TBookmark& first, const TBookmark& second) override;
  bool BookmarkValid(const TBookmark&) override { return true; }

  // What the row cache, LOBs and parameters see of this query.
  TOSession* QuerySession() const override { return session_; }
  TFieldDefs& QueryFieldDefs() override { return FieldDefs(); }
  int QueryCalcFieldsSize() const override { return CalcFieldsSize(); }
  // What the session sees: unpreparing closes, releases and detaches.
  void Unprepare() override { UnprepareStatement(); }

 protected:
  char* AllocRecordBuffer() override;
  void FreeRecordBuffer(char*& buffer) override;
  TGetResult GetRecord(char* buffer, TGetMode mode, bool doCheck) override;
  bool GetRecordAt(int index, char* buffer) override;
  std::uint16_t GetRecordSize() override { return static_cast<std::uint16_t>(recordSize_); }
  bool GetFieldData(TField* field, void* dest) override;
  void SetFieldData(TField* field, const void* source) override;
  void CheckFieldWrite(TField* field) override;
  void InternalOpen() override;
  void InternalClose() override;
  void InternalFirst() override { rowIndex_ = -1; }
  void InternalLast() override;
  void InternalInitFieldDefs() override;
  void InternalInitRecord(char* buffer) override;
  void InternalSetToRecord(char* buffer) override;
  void InternalGotoBookmark(const void* bookmark) override;
  void GetBookmarkData(char* buffer, void* data) override;
  void SetBookmarkData(char* buffer, const void* data) override;
  TBookmarkFlag GetBookmarkFlag(char* buffer) override;
  void SetBookmarkFlag(char* buffer, TBookmarkFlag flag) override;
  bool IsCursorOpen() override { return cursorOpen_; }
  int GetRecordCount() override;
  int GetRecNo() override;
  void InternalSetRecNo(int value) override;
  bool GetCanModify() override { return false; }
  void InternalEdit() override;
  void InternalDelete() override;
  void InternalPost() override;
  void InternalAddRecord(char* buffer, bool append) override;
  void InternalRefresh() override;
  void ClearCalcFields(char* buffer) override;

 private:
  void ResolveSession();
  QString BuildStatementText() const;
  void AllocStatement();
  void FreeStatement();
  void Describe();
  void BindParams();
  // Refuses parameters that a statement run more than once would read past:
  // every one that is not a table needs as many elements as there are runs.
  void CheckArrayParams() const;
  TORow* RowOfBuffer(const char* buffer) const;
  TORow* CurrentRow() const;
  void TraceStmt(const char* what);

  QPointer<TOSession> session_;
  QMetaObject::Connection sessionGone_;
  TStrings sql_;
  TOParams params_{this};
  TOParams macros_{this};
  TORowDesc rowDesc_{this};
  TORows rows_{this, &rowDesc_};

  OCIStmt* statementHandle_ = nullptr;
  OCIRowid* rowIdDescriptor_ = nullptr;
  OCIDefine* defineHandle_ = nullptr;
  int statementType_ = 0;
  ub4 columnCount_ = 0;
  bool prepared_ = false;
  bool endOfData_ = false;
  bool cursorOpen_ = false;
  int recordSize_ = 0;
  int rowIndex_ = -1;
  QString expandedSql_;
  int iterationCount_ = 0;
  TORow* filterRow_ = nullptr;
};

// The query component as applications use it.
class TOQuery : public T_OQuery {
  Q_OBJECT

 public:
  using T_OQuery::T_OQuery;
};
