// LOB streams: TLOB over a server-side LOB locator, TOBlobStream over the
// value a fetched row already holds.
#pragma once

#include <QByteArray>

#include "o_oci.h"
#include "ui/stream.h"

class TOQueryContext;
class TOColumn;

class TLOB : public TStream {
 public:
  // `lobType` is SQLT_CLOB, SQLT_BLOB, SQLT_BFILEE or SQLT_CFILEE.
  TLOB(TOQueryContext* query, int lobType);
  ~TLOB() override;  // frees the locator

  int LobType() const { return lobType_; }
  int32_t Position() const { return position_; }
  OCILobLocator* Locator() const { return locator_; }

  // OCI_DTYPE_FILE for BFILE and CFILE, OCI_DTYPE_LOB for the others.
  ub4 DescriptorType() const;
  void AllocLocator();
  void FreeLocator();
  // The locator's address, for a define or a bind (value size 4).
  OCILobLocator** LocatorAddress();
  // Bytes for BLOB and BFILE, characters for CLOB.
  ub4 GetLength();

  // Both move the request in one call and answer what OCI reports it moved.
  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  int32_t Seek(int32_t offset, int origin) override;

 private:
  TOQueryContext* query_;
  int lobType_;
  int32_t position_ = 0;
  OCILobLocator* locator_ = nullptr;
};

// Read-only stream over a column of a cached row; never goes to the server.
class TOBlobStream : public TStream {
 public:
  // `column` may be null (no current record): the stream is then empty. The
  // stream keeps a copy of the value, so it stays readable when the query
  // closes or fetches again.
  TOBlobStream(const TOColumn* column, int mode);

  int Mode() const { return mode_; }
  int32_t Position() const { return position_; }

  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;  // writes nothing
  int32_t Seek(int32_t offset, int origin) override;

 private:
  int32_t ColumnSize() const;

  QByteArray value_;
  int mode_;
  int32_t position_ = 0;
};
