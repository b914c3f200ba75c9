// LOB streams: reading and writing a server-side LOB, and reading a value a
// fetched row holds.
#include "o_class_lob.h"

#include <cstring>

#include "o_class.h"
#include "o_class_rows.h"
#include "o_error.h"
#include "o_lang.h"
#include "o_ociap.h"

namespace {

TOSession& SessionOf(TOQueryContext* query) {
  TOSession* session = query != nullptr ? query->QuerySession() : nullptr;
  if (session == nullptr) RaiseOracleError(LoadStr(SSessionNotAssigned));
  return *session;
}

}  // namespace

TLOB::TLOB(TOQueryContext* query, int lobType) : query_(query), lobType_(lobType) {
  if (lobType < SQLT_CLOB || lobType > SQLT_CFILEE)
    throw Exception(QStringLiteral("Can not create LOBLocator on non-LOB field"));
}

TLOB::~TLOB() {
  try {
    FreeLocator();
  } catch (...) {
    // The descriptor goes with its environment in any case.
  }
}

ub4 TLOB::DescriptorType() const {
  return lobType_ == SQLT_BFILEE || lobType_ == SQLT_CFILEE ? OCI_DTYPE_FILE : OCI_DTYPE_LOB;
}

void TLOB::AllocLocator() {
  if (locator_ != nullptr) return;
  TOSession& session = SessionOf(query_);
  // The call takes no error handle: a failure is read from the environment.
  session.CheckStatus(nullptr,
                      oci.OCIDescriptorAlloc(session.hEnvironment(), reinterpret_cast<void**>(&locator_),
                                             DescriptorType(), 0, nullptr));
}

void TLOB::FreeLocator() {
  if (locator_ == nullptr) return;
  OCILobLocator* locator = std::exchange(locator_, nullptr);
  TOSession* session = query_ != nullptr ? query_->QuerySession() : nullptr;
  if (session == nullptr || oci.OCIDescriptorFree == nullptr) return;
  session->CheckStatus(session->hError(), oci.OCIDescriptorFree(locator, DescriptorType()));
}

OCILobLocator** TLOB::LocatorAddress() {
  AllocLocator();
  return &locator_;
}

ub4 TLOB::GetLength() {
  AllocLocator();
  TOSession& session = SessionOf(query_);
  ub4 length = 0;
  session.CheckStatus(session.hError(),
                      oci.OCILobGetLength(session.hService(), session.hError(), locator_, &length));
  return length;
}

int32_t TLOB::Read(void* buffer, int32_t count) {
  AllocLocator();
  if (count <= 0) return 0;
  TOSession& session = SessionOf(query_);
  ub4 amount = static_cast<ub4>(count);
  session.CheckStatus(
      session.hError(),
      oci.OCILobRead(session.hService(), session.hError(), locator_, &amount,
                     static_cast<ub4>(position_) + 1, buffer, static_cast<ub4>(count), nullptr,
                     nullptr, 0, SQLCS_IMPLICIT));
  // What OCI moved, which is less than asked at the end of the value.
  const int32_t moved = static_cast<int32_t>(std::min<ub4>(amount, static_cast<ub4>(count)));
  position_ += moved;
  return moved;
}

int32_t TLOB::Write(const void* buffer, int32_t count) {
  AllocLocator();
  if (count <= 0) return count;
  TOSession& session = SessionOf(query_);
  ub4 amount = static_cast<ub4>(count);
  session.CheckStatus(
      session.hError(),
      oci.OCILobWrite(session.hService(), session.hError(), locator_, &amount,
                      static_cast<ub4>(position_) + 1, const_cast<void*>(buffer),
                      static_cast<ub4>(count), OCI_ONE_PIECE, nullptr, nullptr, 0, SQLCS_IMPLICIT));
  const int32_t moved = static_cast<int32_t>(std::min<ub4>(amount, static_cast<ub4>(count)));
  position_ += moved;
  return moved;
}

int32_t TLOB::Seek(int32_t offset, int origin) {
  switch (origin) {
    case soFromBeginning: position_ = offset; break;
    case soFromCurrent: position_ += offset; break;
    case soFromEnd: position_ = static_cast<int32_t>(GetLength()) + offset; break;
    default: break;
  }
  return position_;
}

TOBlobStream::TOBlobStream(const TOColumn* column, int mode) : mode_(mode) {
  if (column != nullptr && column->Buffer() != nullptr && column->Size() > 0)
    value_ = QByteArray(static_cast<const char*>(column->Buffer()), column->Size());
}

int32_t TOBlobStream::ColumnSize() const { return static_cast<int32_t>(value_.size()); }

int32_t TOBlobStream::Read(void* buffer, int32_t count) {
  const int32_t available = ColumnSize() - position_;
  if (count > available) count = available;
  if (count <= 0 || position_ < 0) return 0;
  std::memcpy(buffer, value_.constData() + position_, static_cast<std::size_t>(count));
  position_ += count;
  return count;
}

int32_t TOBlobStream::Write(const void*, int32_t) { return 0; }

int32_t TOBlobStream::Seek(int32_t offset, int origin) {
  switch (origin) {
    case soFromBeginning: position_ = offset; break;
    case soFromCurrent: position_ += offset; break;
    case soFromEnd: position_ = ColumnSize() + offset; break;
    default: break;
  }
  return position_;
}
