// Running statements for the OCI entry points: preparing, executing (queries,
// DML, DDL, ALTER SYSTEM KILL SESSION, simple PL/SQL blocks), describing,
// fetching into defines and reading or writing LOB locators.
#pragma once

#include "ocisim/handles.h"

namespace ocisim {

// Keeps the text of a statement and classifies it. Raises ORA-24373 for an
// empty text.
void prepareStatement(Stmt& stmt, std::string_view text);

// Executes a prepared statement for a session whose row is known to be alive.
// Returns OCI_SUCCESS, OCI_SUCCESS_WITH_INFO (warning on record) or
// OCI_NO_DATA; raises OraError (with the offset of a parse error).
sword executeStatement(Stmt& stmt, Session& session, ub4 iters, ub4 mode, ErrorRecord& record);

// Fetches up to nrows rows into the statement's defines.
sword fetchRows(Stmt& stmt, ub4 nrows, ErrorRecord& record);

// Checks that a session is logged on and was not killed. A killed session is
// logged off here and ORA-00028 raised; later calls get ORA-01012.
void requireLiveSession(Session* session);

// LOB access through a locator, for the session of a service context.
ub4 lobLength(Session& session, LobLocator& lob);
// Reads up to *amount characters (CLOB) or bytes from offset (from 1); sets
// *amount to what was read. Returns OCI_NO_DATA past the end.
sword lobRead(Session& session, LobLocator& lob, ub4* amount, ub4 offset, void* buffer, ub4 bufferLength);
// The longest LOB value a write makes: 64 MiB, in characters for a CLOB and
// bytes for a BLOB. The server allows 4 GB - 1, but the stand-in keeps a value
// whole in memory (and in SQLite, several copies while it is written), so a
// write far past the end would have it fill gigabytes with blanks or zero bytes.
constexpr size_t kMaxLobLength = 64u * 1024 * 1024;

// Writes *amount characters (CLOB) or bytes (all of the buffer when 0) at
// offset (from 1); a gap before it is filled with blanks (CLOB) or zero bytes
// (BLOB). Raises ORA-22925 when the LOB would grow past kMaxLobLength, before
// anything is changed.
void lobWrite(Session& session, LobLocator& lob, ub4* amount, ub4 offset, const void* buffer, ub4 bufferLength);
void lobTrim(Session& session, LobLocator& lob, ub4 newLength);

}  // namespace ocisim
