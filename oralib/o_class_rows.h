// The row cache of a query: column descriptors built once per prepared
// statement, and the fetched rows, each in one block with a value buffer per
// column.
#pragma once

#include <QString>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "o_class_lob.h"
#include "o_oci.h"
#include "ui/fielddefs.h"

class TOCharset;
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

class TORow;
class TORows;

// Where one column's value lives in a row's block, and how it is fetched.
struct TOColumnPlace {
  std::uint32_t Offset = 0;  // of the value (or, for a value of its own, of its slot) from the row
  sb4 BufferSize = 0;        // bytes the record keeps: text as UTF-8, with its terminator
  sb4 DefineSize = 0;        // bytes OCI may write: text in the client's character set
  ub2 DefineType = 0;
  bool OwnBlock = false;     // LONG and LOB values: a counted block of their own once fetched
};

// The value of one column in one row, in the layout of its define type. A
// view over the row's block: it stays valid as long as the row does.
class TOColumn {
 public:
  TOColumn(TORow* row, int index);

  TORow* Row() const { return row_; }
  int Index() const { return index_; }
  bool IsNull() const;
  // OCI's indicator and returned-length variables for this column of this row.
  sb2& Indicator() const;
  ub2& ReturnedLength() const;
  ub2 DefineType() const { return place_->DefineType; }
  // Bytes held in Buffer().
  sb4 Size() const;
  // Bytes of Buffer() that OCI may fill (the value size of the define).
  sb4 DefineSize() const { return place_->DefineSize; }
  // The value, or none (a null or empty LONG or LOB value).
  void* Buffer() const;

 private:
  friend class TOColumns;
  struct OwnValue {  // the slot of a value with a block of its own
    void* Buffer;
    sb4 Size;
  };
  OwnValue& Own() const;
  void SetIsNull(bool value) const;
  // LONG and LOB values only: keeps `block` of `size` bytes, releasing the
  // value held before unless it is the same block.
  void Replace(void* block, sb4 size) const;

  TORow* row_;
  const TOColumnPlace* place_;
  int index_;
};

class TOColumns {
 public:
  explicit TOColumns(TORow* row) : row_(row) {}
  TORow* Row() const { return row_; }
  int Count() const;
  TOColumn operator[](int index) const { return TOColumn(row_, index); }

  // After a delivered fetch: null flags, LONG pieces joined, LOB contents read
  // whole, text turned from the client's character set into UTF-8, a trace
  // line per column.
  void FinishRow();

 private:
  // Each raises for a value larger than a 32-bit size counts (`name` is the column's).
  static void ReadWholeLob(TLOB& lob, const TOColumn& column, const QString& name);
  // A LONG or CLOB value of its own block, from the client's set into UTF-8.
  static void OwnTextToUtf8(const TOColumn& column, const QString& name);
  // A text value in the row's block, from the client's set into UTF-8 in place.
  static void TextToUtf8(const TOCharset& charset, const TOColumn& column);

  TORow* row_;
};

// A cached row. It lives at the start of one counted block that also holds
// each column's indicator, returned length, null flag and value buffer, at
// the places its collection's layout gives.
class TORow {
 public:
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
  TORow(TORows* rows, int index) : Columns(this), rows_(rows), index_(index) {}
  ~TORow() = default;

  TORows* rows_;
  int index_;
};

class TORows {
 public:
  TORows(TOQueryContext* query, TORowDesc* rowDesc) : query_(query), rowDesc_(rowDesc) {}
  ~TORows() { Clear(); }
  TORows(const TORows&) = delete;
  TORows& operator=(const TORows&) = delete;

  TOQueryContext* Query() const { return query_; }
  TORowDesc& RowDesc() const { return *rowDesc_; }
  // Appends a row with a buffer per column and returns its index.
  int AppendRow();
  // Destroys row `index` with its buffers (only the last row is ever removed
  // while fetching; removing another renumbers the rows after it).
  void Delete(int index);
  void Clear();
  int Count() const { return static_cast<int>(items_.size()); }
  TORow& operator[](int index) const { return *items_[static_cast<std::size_t>(index)]; }

  // The descriptor of a column of one of these rows.
  TOColumnDesc& DescOf(const TOColumn& column) const { return (*rowDesc_)[column.Index()]; }

  // The column places of the cached rows. Taken from the row descriptor when
  // the first row is appended, so the rows stay readable after the statement
  // (and its descriptors) is released.
  int ColumnCount() const { return static_cast<int>(places_.size()); }
  const TOColumnPlace& Place(int index) const { return places_[static_cast<std::size_t>(index)]; }
  std::uint32_t NullFlagsOffset() const { return nullFlagsOffset_; }

 private:
  void TakeLayout();
  void Destroy(TORow* row);

  TOQueryContext* query_;
  TORowDesc* rowDesc_;
  std::vector<TORow*> items_;
  std::vector<TOColumnPlace> places_;
  std::uint32_t nullFlagsOffset_ = 0;
  std::uint32_t rowSize_ = 0;
};

// What the dynamic define of a LONG column does for each piece: a new
// 1024-byte piece for OCI to fill. Answers OCI_CONTINUE. Raises when memory is
// exhausted, with nothing added: the client's callback must catch that.
sb4 AddPiece(TOColumnDesc& desc, const TOColumn& column, void** bufpp, ub4** alenp, ub1* piecep,
             void** indp, ub2** rcodep);
