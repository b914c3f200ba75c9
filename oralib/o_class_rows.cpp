// The row cache of a query: column descriptors and define types, fetched rows
// in one block each, LONG pieces and LOB values.
#include "o_class_rows.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

#include "o_charset.h"
#include "o_class.h"
#include "o_error.h"
#include "o_utils.h"

namespace {

constexpr ub4 kPieceSize = 1024;
// The most bytes a value of its own block can hold: its size is counted in 32 signed bits.
constexpr std::size_t kMaxValueBytes = INT32_MAX;
// The bytes of an Oracle DATE in its external form.
constexpr sb4 kOraDateSize = 7;
// The scale OCI reports for a floating-point number.
constexpr sb1 kFloatingScale = -127;

bool IsLobType(ub2 type) { return type >= SQLT_CLOB && type <= SQLT_CFILEE; }
bool IsLongType(ub2 type) { return type == SQLT_LNG || type == SQLT_LBI; }
bool IsHandleType(ub2 type) { return type == SQLT_NTY || type == 110 || type == SQLT_RSET; }

// Bytes that a text value delivered in `defineSize` bytes of the client's set
// (terminator included) takes in the record as UTF-8.
sb4 RecordTextSize(sb4 defineSize) {
  const int growth = TOCharset::Client().Utf8Growth();
  return defineSize > 1 && growth > 1 ? (defineSize - 1) * growth + 1 : defineSize;
}

TFieldType FieldTypeOfDefine(ub2 defineType) {
  switch (defineType) {
    case 1: case 5: case 9: case 96: case 97: return ftString;
    case 2: case 4: case 6: case 7: return ftFloat;
    case 3: case 68: return ftInteger;
    case 8: case 112: return ftMemo;
    case 12: case 184: case 185: case 186: case 187: case 188: case 189: case 190: return ftDateTime;
    case 15: case 23: case 24: case 113: case 114: case 115: return ftBlob;
    default: return ftUnknown;
  }
}

// A value that the row's 32-bit size cannot count is refused rather than
// kept with a size that would make it empty or negative.
[[noreturn]] void RaiseValueTooLarge(const QString& column) {
  RaiseOracleError(QStringLiteral("Value of column %1 is larger than %2 bytes").arg(column).arg(kMaxValueBytes));
}

}  // namespace

TOColumnDesc::TOColumnDesc(TOQueryContext*, int index) : index_(index) {}

TOColumnDesc::~TOColumnDesc() { ReleasePieces(); }

void TOColumnDesc::ReleasePieces() {
  if (!Pieces) return;
  for (TLOBPart& part : *Pieces)
    if (part.Data != nullptr) CountedFree(part.Data);
  Pieces->clear();
}

TOColumnDesc& TORowDesc::AddColumn(const QString& name, ub2 columnType, ub1 mayBeNull, sb1 scale,
                                   sb2 precision, sb4 dataSize) {
  // A DATE is read as its 7 bytes: a smaller buffer would be read past.
  if (columnType == SQLT_DAT && dataSize < kOraDateSize)
    RaiseOracleError(QStringLiteral("Column %1 is described as a DATE of %2 bytes; a DATE takes %3")
                         .arg(name.left(30)).arg(dataSize).arg(kOraDateSize));
  auto desc = std::make_unique<TOColumnDesc>(query_, Count());
  desc->ColumnType = columnType;
  desc->DataSize = dataSize;
  desc->Precision = precision;
  desc->Scale = scale;
  desc->MayBeNull = mayBeNull;
  desc->ColumnName = name.left(30);
  desc->BufferSize = dataSize;

  switch (columnType) {
    case SQLT_NUM:
      // Scale -127 marks a floating-point number: FLOAT, and a NUMBER without
      // precision as current servers describe it (any size, fractions too),
      // which a 32-bit integer would cut or refuse (ORA-01455).
      if (scale > 0 || scale == kFloatingScale || precision > 9 || (precision == 0 && scale == 0)) {
        desc->DefineType = SQLT_FLT;
        desc->BufferSize = 8;
      } else {
        desc->DefineType = SQLT_INT;
        desc->BufferSize = 4;
      }
      break;
    case SQLT_LNG: case SQLT_LBI: case SQLT_NTY: case 110: case SQLT_CLOB: case SQLT_BLOB:
    case SQLT_BFILEE: case SQLT_RSET:
      desc->DefineType = columnType;
      desc->BufferSize = 4;
      break;
    case SQLT_RID: case SQLT_RDD:
      desc->DefineType = SQLT_STR;
      desc->BufferSize = 19;
      break;
    case SQLT_DAT:
      desc->DefineType = SQLT_DAT;
      break;
    case SQLT_BIN:
      desc->DefineType = SQLT_STR;
      desc->BufferSize = 2 * dataSize + 1;
      break;
    case 106:  // MLSLABEL
      desc->DefineType = SQLT_STR;
      desc->BufferSize = 255;
      break;
    default:
      desc->DefineType = SQLT_STR;
      desc->BufferSize = dataSize + 1;
      break;
  }
  desc->FieldType = FieldTypeOfDefine(desc->DefineType);

  if (query_ != nullptr)
    query_->QueryFieldDefs().Add(desc->ColumnName, desc->FieldType,
                                 desc->FieldType == ftString ? RecordTextSize(desc->BufferSize) : 0,
                                 desc->MayBeNull == 0);
  if (IsLobType(desc->DefineType)) desc->LOB = std::make_unique<TLOB>(query_, desc->DefineType);
  if (IsLongType(desc->DefineType)) desc->Pieces = std::make_unique<std::deque<TLOBPart>>();
  items_.push_back(std::move(desc));
  return *items_.back();
}

// A row's block: the TORow itself, then an indicator and a returned length
// per column, then a null flag bit per column, then the value buffers, the
// 8-byte aligned ones first so that no value needs padding in front of it.
namespace {

constexpr std::uint32_t kStatesOffset = (sizeof(TORow) + 7) / 8 * 8;

struct ColumnState {
  sb2 Indicator;
  ub2 ReturnedLength;
};

constexpr std::uint32_t AlignUp(std::uint32_t value, std::uint32_t alignment) {
  return (value + alignment - 1) / alignment * alignment;
}

ColumnState& StateOf(TORow* row, int index) {
  return *reinterpret_cast<ColumnState*>(reinterpret_cast<unsigned char*>(row) + kStatesOffset +
                                         sizeof(ColumnState) * static_cast<std::size_t>(index));
}

}  // namespace

TOColumn::TOColumn(TORow* row, int index)
    : row_(row), place_(&row->Collection()->Place(index)), index_(index) {}

bool TOColumn::IsNull() const {
  const unsigned char* flags = reinterpret_cast<const unsigned char*>(row_) + row_->Collection()->NullFlagsOffset();
  return (flags[index_ / 8] & (1u << (index_ % 8))) != 0;
}

void TOColumn::SetIsNull(bool value) const {
  unsigned char* flags = reinterpret_cast<unsigned char*>(row_) + row_->Collection()->NullFlagsOffset();
  const auto bit = static_cast<unsigned char>(1u << (index_ % 8));
  flags[index_ / 8] = static_cast<unsigned char>(value ? flags[index_ / 8] | bit : flags[index_ / 8] & ~bit);
}

sb2& TOColumn::Indicator() const { return StateOf(row_, index_).Indicator; }
ub2& TOColumn::ReturnedLength() const { return StateOf(row_, index_).ReturnedLength; }

TOColumn::OwnValue& TOColumn::Own() const {
  return *reinterpret_cast<OwnValue*>(reinterpret_cast<unsigned char*>(row_) + place_->Offset);
}

sb4 TOColumn::Size() const { return place_->OwnBlock ? Own().Size : place_->BufferSize; }

void* TOColumn::Buffer() const {
  if (place_->OwnBlock) return Own().Buffer;
  return place_->BufferSize > 0 ? reinterpret_cast<unsigned char*>(row_) + place_->Offset : nullptr;
}

void TOColumn::Replace(void* block, sb4 size) const {
  OwnValue& own = Own();
  if (own.Buffer != nullptr && own.Buffer != block) CountedFree(own.Buffer);
  own.Buffer = block;
  own.Size = size;
}

int TOColumns::Count() const { return row_->Collection()->ColumnCount(); }

void TORows::TakeLayout() {
  places_.clear();
  const int count = rowDesc_->Count();
  places_.resize(static_cast<std::size_t>(count));
  nullFlagsOffset_ = kStatesOffset + static_cast<std::uint32_t>(sizeof(ColumnState)) * static_cast<std::uint32_t>(count);
  std::uint32_t offset = AlignUp(nullFlagsOffset_ + (static_cast<std::uint32_t>(count) + 7) / 8, 8);
  auto alignmentOf = [](const TOColumnPlace& place) -> std::uint32_t {
    if (place.OwnBlock || place.DefineType == SQLT_FLT || IsHandleType(place.DefineType)) return 8;
    return place.DefineType == SQLT_INT || place.BufferSize == 4 ? 4 : 1;
  };
  for (int i = 0; i < count; ++i) {
    const TOColumnDesc& desc = (*rowDesc_)[i];
    TOColumnPlace& place = places_[static_cast<std::size_t>(i)];
    place.DefineType = desc.DefineType;
    place.BufferSize = std::max<sb4>(desc.BufferSize, 0);
    // A cursor, object or REF column receives a handle, as wide as a pointer
    // here: a 4-byte place would let it run into the next column's value.
    if (IsHandleType(desc.DefineType)) place.BufferSize = std::max<sb4>(place.BufferSize, sizeof(void*));
    place.DefineSize = place.BufferSize;
    // Text arrives in the client's set and is kept as UTF-8, which may be longer.
    if (desc.DefineType == SQLT_STR) place.BufferSize = RecordTextSize(place.BufferSize);
    place.OwnBlock = desc.Pieces != nullptr || desc.LOB != nullptr;
  }
  for (std::uint32_t alignment : {8u, 4u, 1u})
    for (TOColumnPlace& place : places_) {
      if (alignmentOf(place) != alignment) continue;
      offset = AlignUp(offset, alignment);
      place.Offset = offset;
      offset += place.OwnBlock ? static_cast<std::uint32_t>(sizeof(void*) * 2) : static_cast<std::uint32_t>(place.BufferSize);
    }
  rowSize_ = offset;
}

int TORows::AppendRow() {
  if (items_.empty()) TakeLayout();
  for (int i = 0; i < rowDesc_->Count(); ++i)
    // Pieces a failed or null fetch left behind must not join this row's value.
    (*rowDesc_)[i].ReleasePieces();
  // Room first, so that keeping the new row cannot fail once it is built.
  if (items_.size() == items_.capacity()) items_.reserve(std::max<std::size_t>(64, items_.capacity() * 2));
  void* block = CountedAlloc(rowSize_);
  TORow* row = new (block) TORow(this, Count());
  const int calcSize = query_ != nullptr ? query_->QueryCalcFieldsSize() : 0;
  if (calcSize > 0) {
    try {
      row->CalcBuffer = CountedAlloc(static_cast<std::size_t>(calcSize));
    } catch (...) {
      Destroy(row);
      throw;
    }
  }
  items_.push_back(row);
  return Count() - 1;
}

void TORows::Destroy(TORow* row) {
  for (int i = 0; i < ColumnCount(); ++i)
    if (places_[static_cast<std::size_t>(i)].OwnBlock) {
      void* value = TOColumn(row, i).Buffer();
      if (value != nullptr) CountedFree(value);
    }
  if (row->CalcBuffer != nullptr) CountedFree(row->CalcBuffer);
  row->~TORow();
  CountedFree(row);
}

void TORows::Delete(int index) {
  if (index < 0 || index >= Count()) return;
  Destroy(items_[static_cast<std::size_t>(index)]);
  items_.erase(items_.begin() + index);
  for (int i = index; i < Count(); ++i) items_[static_cast<std::size_t>(i)]->index_ = i;
}

void TORows::Clear() {
  for (TORow* row : items_) Destroy(row);
  std::vector<TORow*>().swap(items_);  // a closed query keeps no room for rows
}

// Reads a LOB's whole content into a counted block that `column` holds. A
// CLOB's length counts characters, of as many bytes each as the client's set
// takes, and OCI moves whole characters only, so its size in bytes is known
// once it is read.
void TOColumns::ReadWholeLob(TLOB& lob, const TOColumn& column, const QString& name) {
  const ub4 length = lob.GetLength();
  // Bytes of a BLOB, characters of a CLOB: either way at least that many bytes.
  if (length > kMaxValueBytes) RaiseValueTooLarge(name);
  const bool text = lob.LobType() == SQLT_CLOB;
  const TOCharset& charset = TOCharset::Client();
  const std::size_t capacity = std::min(
      text ? std::size_t{length} * static_cast<std::size_t>(charset.MaxCharBytes()) : length, kMaxValueBytes);
  column.Replace(nullptr, 0);
  void* value = CountedAlloc(capacity);
  column.Replace(value, 0);  // the row owns the block even if a read fails
  lob.Seek(0, soFromBeginning);
  std::size_t bytes = 0;
  std::size_t read = 0;  // characters of a CLOB, bytes otherwise
  while (read < length && bytes < capacity) {
    char* at = static_cast<char*>(value) + bytes;
    const auto room = static_cast<int32_t>(std::min<std::size_t>(capacity - bytes, INT32_MAX));
    const int32_t moved = lob.Read(at, room);
    if (moved <= 0) break;
    read += static_cast<std::size_t>(moved);
    bytes += text ? charset.CharBytes(at, capacity - bytes, static_cast<std::size_t>(moved))
                  : static_cast<std::size_t>(moved);
  }
  // A CLOB whose characters took all the room a size can count, with more to come.
  if (read < length && bytes >= kMaxValueBytes) RaiseValueTooLarge(name);
  if (bytes < capacity) {
    // Keep only what the text took of the room reserved for it.
    void* exact = CountedAlloc(bytes);
    if (bytes > 0) std::memcpy(exact, value, bytes);
    column.Replace(exact, 0);
    value = exact;
  }
  column.Replace(value, static_cast<sb4>(bytes));
}

void TOColumns::OwnTextToUtf8(const TOColumn& column, const QString& name) {
  const TOCharset& charset = TOCharset::Client();
  if (charset.IsUtf8() || column.Buffer() == nullptr) return;
  const char* text = static_cast<const char*>(column.Buffer());
  const auto size = static_cast<std::size_t>(column.Size());
  const std::size_t utf8Size = charset.Utf8Size(text, size);
  if (utf8Size > kMaxValueBytes) RaiseValueTooLarge(name);
  void* utf8 = CountedAlloc(utf8Size);
  if (utf8Size > 0) charset.ToUtf8(text, size, static_cast<char*>(utf8));
  column.Replace(utf8, static_cast<sb4>(utf8Size));
}

void TOColumns::TextToUtf8(const TOCharset& charset, const TOColumn& column) {
  char* text = static_cast<char*>(column.Buffer());
  if (charset.IsUtf8() || text == nullptr || column.DefineSize() < 1) return;
  // The terminated text OCI wrote; its UTF-8 fits the record's room for it.
  const std::size_t length = strnlen(text, static_cast<std::size_t>(column.DefineSize() - 1));
  if (charset.Kind() == TOCharset::csWE8ISO8859P1 && charset.Utf8Size(text, length) == length) return;
  char copy[1024];
  std::vector<char> larger;
  const char* source = text;
  if (length <= sizeof copy) {
    source = static_cast<const char*>(std::memcpy(copy, text, length));
  } else {
    larger.assign(text, text + length);
    source = larger.data();
  }
  text[charset.ToUtf8(source, length, text)] = '\0';
}

void TOColumns::FinishRow() {
  TORows* rows = row_->Collection();
  TOSession* session = rows->Query() != nullptr ? rows->Query()->QuerySession() : nullptr;
  // Text delivered as UTF-8 is kept as it came.
  const TOCharset& charset = TOCharset::Client();
  const bool toUtf8 = !charset.IsUtf8();
  for (int i = 0; i < Count(); ++i) {
    const TOColumn column(row_, i);
    TOColumnDesc& desc = rows->DescOf(column);
    column.SetIsNull(column.Indicator() != 0);
    if (!column.IsNull()) {
      if (desc.Pieces) {
        std::size_t total = 0;
        for (const TLOBPart& part : *desc.Pieces) total += std::min(part.Size, kPieceSize);
        if (total > kMaxValueBytes) RaiseValueTooLarge(desc.ColumnName);
        column.Replace(nullptr, 0);
        void* value = CountedAlloc(total);
        std::size_t offset = 0;
        for (const TLOBPart& part : *desc.Pieces) {
          const std::size_t size = std::min(part.Size, kPieceSize);
          if (size > 0) std::memcpy(static_cast<char*>(value) + offset, part.Data, size);
          offset += size;
        }
        column.Replace(value, static_cast<sb4>(total));
        desc.ReleasePieces();
        if (toUtf8 && desc.DefineType == SQLT_LNG) OwnTextToUtf8(column, desc.ColumnName);
      } else if (desc.LOB) {
        ReadWholeLob(*desc.LOB, column, desc.ColumnName);
        if (toUtf8 && desc.DefineType == SQLT_CLOB) OwnTextToUtf8(column, desc.ColumnName);
      } else if (toUtf8 && desc.DefineType == SQLT_STR) {
        TextToUtf8(charset, column);
      }
    } else if (desc.Pieces || desc.LOB) {
      column.Replace(nullptr, 0);
      if (desc.Pieces) desc.ReleasePieces();
    }
    if (session != nullptr)
      session->TraceWith(TTraceCategory::DataOut, [&] {
        return QStringLiteral("field ") + desc.ColumnName + QStringLiteral(" is") +
               (column.IsNull() ? QString() : QStringLiteral(" not")) + QStringLiteral(" null, size=") +
               QString::number(column.Size());
      });
  }
}

sb4 AddPiece(TOColumnDesc& desc, const TOColumn& column, void** bufpp, ub4** alenp, ub1* piecep,
             void** indp, ub2** rcodep) {
  Q_UNUSED(piecep);
  // The block first: a piece is only listed with its buffer, and a block the
  // list cannot take is not lost.
  void* data = CountedAlloc(kPieceSize);
  try {
    desc.Pieces->push_back({data, kPieceSize});
  } catch (...) {
    CountedFree(data);
    throw;
  }
  TLOBPart& part = desc.Pieces->back();
  *bufpp = part.Data;
  *alenp = &part.Size;
  *indp = &column.Indicator();
  *rcodep = nullptr;
  return OCI_CONTINUE;
}
