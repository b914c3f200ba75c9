#include "o_class_rows.h"

#include <cstring>

#include "o_class.h"
#include "o_utils.h"

namespace {

constexpr ub4 kPieceSize = 1024;

bool IsLobType(ub2 type) { return type >= SQLT_CLOB && type <= SQLT_CFILEE; }
bool IsLongType(ub2 type) { return type == SQLT_LNG || type == SQLT_LBI; }

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
      if (scale > 0 || precision > 9 || (precision == 0 && scale == 0)) {
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
                                 desc->FieldType == ftString ? desc->BufferSize : 0,
                                 desc->MayBeNull == 0);
  if (IsLobType(desc->DefineType)) desc->LOB = std::make_unique<TLOB>(query_, desc->DefineType);
  if (IsLongType(desc->DefineType)) desc->Pieces = std::make_unique<std::deque<TLOBPart>>();
  items_.push_back(std::move(desc));
  return *items_.back();
}

TOColumn::~TOColumn() {
  if (Buffer != nullptr) CountedFree(Buffer);
}

TOColumn::TOColumn(TOColumn&& other) noexcept
    : IsNull(other.IsNull),
      Indicator(other.Indicator),
      ReturnedLength(other.ReturnedLength),
      DefineType(other.DefineType),
      Size(other.Size),
      Buffer(std::exchange(other.Buffer, nullptr)),
      Index(other.Index) {}

TORow::TORow(TORows* rows, int index) : Columns(this), rows_(rows), index_(index) {}

TORow::~TORow() {
  if (CalcBuffer != nullptr) CountedFree(CalcBuffer);
}

int TORows::AppendRow() {
  auto row = std::make_unique<TORow>(this, Count());
  const int calcSize = query_ != nullptr ? query_->QueryCalcFieldsSize() : 0;
  if (calcSize > 0) row->CalcBuffer = CountedAlloc(static_cast<std::size_t>(calcSize));
  const int columns = rowDesc_->Count();
  row->Columns.items_.reserve(static_cast<std::size_t>(columns));
  for (int i = 0; i < columns; ++i) {
    TOColumnDesc& desc = (*rowDesc_)[i];
    // Pieces a failed or null fetch left behind must not join this row's value.
    desc.ReleasePieces();
    TOColumn& column = row->Columns.items_.emplace_back();
    column.Index = i;
    column.DefineType = desc.DefineType;
    column.Size = desc.BufferSize;
    if (column.Size > 0) column.Buffer = CountedAlloc(static_cast<std::size_t>(column.Size));
  }
  items_.push_back(std::move(row));
  return Count() - 1;
}

void TORows::Delete(int index) {
  if (index < 0 || index >= Count()) return;
  items_.erase(items_.begin() + index);
  for (int i = index; i < Count(); ++i) items_[static_cast<std::size_t>(i)]->index_ = i;
}

void TOColumns::FinishRow() {
  TORows* rows = row_->Collection();
  TOSession* session = rows->Query() != nullptr ? rows->Query()->QuerySession() : nullptr;
  for (TOColumn& column : items_) {
    TOColumnDesc& desc = rows->DescOf(column);
    column.IsNull = column.Indicator != 0;
    if (!column.IsNull) {
      if (desc.Pieces) {
        std::size_t total = 0;
        for (const TLOBPart& part : *desc.Pieces) total += std::min(part.Size, kPieceSize);
        if (column.Buffer != nullptr) CountedFree(std::exchange(column.Buffer, nullptr));
        column.Size = static_cast<sb4>(total);
        column.Buffer = CountedAlloc(total);
        std::size_t offset = 0;
        for (const TLOBPart& part : *desc.Pieces) {
          const std::size_t size = std::min(part.Size, kPieceSize);
          if (size > 0) std::memcpy(static_cast<char*>(column.Buffer) + offset, part.Data, size);
          offset += size;
        }
        desc.ReleasePieces();
      } else if (desc.LOB) {
        const ub4 length = desc.LOB->GetLength();
        if (column.Buffer != nullptr) CountedFree(std::exchange(column.Buffer, nullptr));
        column.Size = 0;
        column.Buffer = CountedAlloc(length);
        desc.LOB->Seek(0, soFromBeginning);
        // The value holds what was read, which a multi-byte text may make less than its length.
        if (length > 0) column.Size = desc.LOB->Read(column.Buffer, static_cast<int32_t>(length));
      }
    } else if (desc.Pieces || desc.LOB) {
      if (column.Buffer != nullptr) CountedFree(std::exchange(column.Buffer, nullptr));
      column.Size = 0;
      if (desc.Pieces) desc.ReleasePieces();
    }
    if (session != nullptr)
      session->TraceWith(TTraceCategory::DataOut, [&] {
        return QStringLiteral("field ") + desc.ColumnName + QStringLiteral(" is") +
               (column.IsNull ? QString() : QStringLiteral(" not")) + QStringLiteral(" null, size=") +
               QString::number(column.Size);
      });
  }
}

sb4 AddPiece(TOColumnDesc& desc, TOColumn& column, void** bufpp, ub4** alenp, ub1* piecep,
             void** indp, ub2** rcodep) {
  Q_UNUSED(piecep);
  TLOBPart& part = desc.Pieces->emplace_back();
  part.Size = kPieceSize;
  part.Data = CountedAlloc(kPieceSize);
  *bufpp = part.Data;
  *alenp = &part.Size;
  *indp = &column.Indicator;
  *rcodep = nullptr;
  return OCI_CONTINUE;
}
