// The row cache of a query: column descriptors built once per prepared
// statement, and the fetched rows with one value buffer per column.
#pragma once

#include <QString>
#include <deque>
#include <memory>
#include <vector>

#include "o_class_lob.h"
#include "o_oci.h"
#include "ui/fielddefs.h"

class TOQueryContext;
class TOSession;

// One piece of a LONG value while it is being fetched.
struct TLOBPart {
  void* Data = nullptr;  // counted block
  ub4 Size = 0;          // capacity, then the bytes OCI placed in it
};

class TOColumnDesc {
 public:
  TOColumnDesc(TOQueryContext* query, int index);
  ~TOColumnDesc();  // releases leftover pieces
  TOColumnDesc(const TOColumnDesc&) = delete;
  TOColumnDesc& operator=(const TOColumnDesc&) = delete;

  int Index() const { return index_; }
  // Releases the data of pieces that were never joined into a row.
  void ReleasePieces();

  QString ColumnName;
  sb4 DataSize = 0;
  ub2 ColumnType = 0;
  sb2 Precision = 0;
  sb1 Scale = 0;
  ub1 MayBeNull = 0;
  sb4 BufferSize = 0;
  ub2 DefineType = 0;
  TFieldType FieldType = ftUnknown;
  std::unique_ptr<std::deque<TLOBPart>> Pieces;  // LONG and LONG RAW only; stable addresses for OCI
  std::unique_ptr<TLOB> LOB;                      // CLOB, BLOB, BFILE and CFILE only

 private:
  int index_;
};

class TORowDesc {
 public:
  explicit TORowDesc(TOQueryContext* query) : query_(query) {}

  TOQueryContext* Query() const { return query_; }
  // Appends the descriptor of the next select-list item and its field definition.
  TOColumnDesc& AddColumn(const QString& name, ub2 columnType, ub1 mayBeNull, sb1 scale,
                          sb2 precision, sb4 dataSize);
  int Count() const { return static_cast<int>(items_.size()); }
  TOColumnDesc& operator[](int index) const { return *items_[static_cast<std::size_t>(index)]; }
  void Clear() { items_.clear(); }

 private:
  TOQueryContext* query_;
  std::vector<std::unique_ptr<TOColumnDesc>> items_;
};

// The value of one column in one row, in the layout of its define type.
class TOColumn {
 public:
  TOColumn() = default;
  ~TOColumn();
  TOColumn(TOColumn&& other) noexcept;
  TOColumn& operator=(TOColumn&&) = delete;
  TOColumn(const TOColumn&) = delete;

  bool IsNull = false;
  sb2 Indicator = 0;
  ub2 ReturnedLength = 0;
  ub2 DefineType = 0;
  sb4 Size = 0;
  void* Buffer = nullptr;  // counted block, or none
  int Index = 0;
};

class TORow;

class TOColumns {
 public:
  explicit TOColumns(TORow* row) : row_(row) {}
  TORow* Row() const { return row_; }
  int Count() const { return static_cast<int>(items_.size()); }
  TOColumn& operator[](int index) { return items_[static_cast<std::size_t>(index)]; }
  const TOColumn& operator[](int index) const { return items_[static_cast<std::size_t>(index)]; }

  // After a delivered fetch: null flags, LONG pieces joined, LOB contents read
  // whole, a trace line per column.
  void FinishRow();

 private:
  friend class TORows;
  TORow* row_;
  std::vector<TOColumn> items_;
};

class TORows;

class TORow {
 public:
  TORow(TORows* rows, int index);
  ~TORow();
  TORow(const TORow&) = delete;
  TORow& operator=(const TORow&) = delete;

  TORows* Collection() const { return rows_; }
  int Index() const { return index_; }

  sb4 RowNumber = 0;
  ub1 BookmarkFlag = 0;
  TOColumns Columns;
  void* CalcBuffer = nullptr;  // counted block of the calculated-fields size, or none

 private:
  friend class TORows;
  TORows* rows_;
  int index_;
};

class TORows {
 public:
  TORows(TOQueryContext* query, TORowDesc* rowDesc) : query_(query), rowDesc_(rowDesc) {}

  TOQueryContext* Query() const { return query_; }
  TORowDesc& RowDesc() const { return *rowDesc_; }
  // Appends a row with a buffer per column and returns its index.
  int AppendRow();
  // Destroys row `index` with its buffers (only the last row is ever removed
  // while fetching; removing another renumbers the rows after it).
  void Delete(int index);
  void Clear() { items_.clear(); }
  int Count() const { return static_cast<int>(items_.size()); }
  TORow& operator[](int index) const { return *items_[static_cast<std::size_t>(index)]; }

  // The descriptor of a column of one of these rows.
  TOColumnDesc& DescOf(const TOColumn& column) const { return (*rowDesc_)[column.Index]; }

 private:
  TOQueryContext* query_;
  TORowDesc* rowDesc_;
  std::vector<std::unique_ptr<TORow>> items_;
};

// What the dynamic define of a LONG column does for each piece: a new
// 1024-byte piece for OCI to fill. Answers OCI_CONTINUE.
sb4 AddPiece(TOColumnDesc& desc, TOColumn& column, void** bufpp, ub4** alenp, ub1* piecep,
             void** indp, ub2** rcodep);
