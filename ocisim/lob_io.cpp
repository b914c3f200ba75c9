// Reading and writing LOB values through their locators: a CLOB counts
// characters, a BLOB bytes; a BFILE is read from its directory's file, and a
// CLOB or BLOB selected FOR UPDATE is written back to its row.

#include "ocisim/statement.h"

#include "ocisim/ora_errors.h"
#include "ocisim/session_db.h"
#include "ocisim/statement_steps.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

namespace ocisim {

namespace {

size_t utf8Chars(std::string_view s) {
  size_t n = 0;
  for (unsigned char c : s)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

// The byte position of character index ch (from 0) of UTF-8 text; past the end
// gives the size.
size_t utf8Byte(std::string_view s, size_t ch) {
  size_t n = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) {
      if (n == ch) return i;
      ++n;
    }
  }
  return s.size();
}

std::string bfilePath(Session& session, const LobLocator& lob) {
  const auto dir = session.server->instance->directoryPath(lob.directory);
  if (!dir) throw OraError(22285);
  // A file name never leaves its directory.
  if (lob.fileName.empty() || lob.fileName.find('/') != std::string::npos || lob.fileName == ".." ||
      lob.fileName == ".")
    throw OraError(22288, "No such file or directory");
  return *dir + "/" + lob.fileName;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw OraError(22288, "No such file or directory");
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

void storeLob(Session& session, LobLocator& lob) {
  SessionDb& db = *session.db;
  db.begin();
  std::string sql = "UPDATE main.\"";
  for (char c : lob.table) sql += c == '"' ? std::string("\"\"") : std::string(1, c);
  sql += "\" SET \"";
  for (char c : lob.column) sql += c == '"' ? std::string("\"\"") : std::string(1, c);
  sql += "\" = ? WHERE rowid = ?";
  SqliteStatement cursor;
  if (cursor.prepare(db.db(), sql.c_str()) != SQLITE_OK) sqlFailure(db.db());
  bindValue(cursor.get(), 1, lob.lobType == SQLT_BLOB ? Value::blob(lob.data) : Value::text(lob.data));
  sqlite3_bind_int64(cursor.get(), 2, lob.rowid);
  if (sqlite3_step(cursor.get()) != SQLITE_DONE) busyOrFailure(db.db());
}

void requireInitialized(const LobLocator& lob) {
  if (!lob.initialized) throw OraError(22275);
}

void requireWritable(const LobLocator& lob) {
  requireInitialized(lob);
  if (lob.lobType == SQLT_BFILEE || lob.lobType == SQLT_CFILEE) throw OraError(kOraUnimplemented);
  if (!lob.writable) throw OraError(22920);
}

}  // namespace

ub4 lobLength(Session& session, LobLocator& lob) {
  requireInitialized(lob);
  if (lob.lobType == SQLT_BFILEE || lob.lobType == SQLT_CFILEE) {
    struct stat st {};
    if (stat(bfilePath(session, lob).c_str(), &st) != 0 || !S_ISREG(st.st_mode))
      throw OraError(22288, "No such file or directory");
    return static_cast<ub4>(st.st_size);
  }
  return static_cast<ub4>(lob.lobType == SQLT_CLOB ? utf8Chars(lob.data) : lob.data.size());
}

sword lobRead(Session& session, LobLocator& lob, ub4* amount, ub4 offset, void* buffer, ub4 bufferLength) {
  requireInitialized(lob);
  if (!amount) throw OraError(kOraBadArgument, "4");
  if (offset == 0) throw OraError(kOraBadArgument, "5");
  if (!buffer && bufferLength > 0) throw OraError(kOraBadArgument, "6");
  const bool file = lob.lobType == SQLT_BFILEE || lob.lobType == SQLT_CFILEE;
  const std::string fileData = file ? readFile(bfilePath(session, lob)) : std::string();
  const std::string& data = file ? fileData : lob.data;
  const bool chars = lob.lobType == SQLT_CLOB;
  const size_t length = chars ? utf8Chars(data) : data.size();
  if (offset - 1 >= length) {
    *amount = 0;
    return OCI_NO_DATA;
  }
  const size_t want = *amount ? std::min<size_t>(*amount, length - (offset - 1)) : length - (offset - 1);
  if (chars) {
    // The characters asked for, in the client's set; no more than the buffer
    // holds, and only whole characters.
    const Charset cs = lob.env->charset;
    const size_t from = utf8Byte(data, offset - 1);
    const std::string text = toClient(cs, std::string_view(data).substr(from, utf8Byte(data, offset - 1 + want) - from));
    const size_t n = clientPrefix(cs, text, bufferLength);
    if (n) std::memcpy(buffer, text.data(), n);
    *amount = static_cast<ub4>(clientChars(cs, std::string_view(text).substr(0, n)));
    return OCI_SUCCESS;
  }
  const size_t from = offset - 1;
  const size_t to = from + std::min<size_t>(want, bufferLength);
  if (to > from) std::memcpy(buffer, data.data() + from, to - from);
  *amount = static_cast<ub4>(to - from);
  return OCI_SUCCESS;
}

// The row's lock ends with its transaction; by then the row may be gone and
// its rowid given to another.
void requireSameTransaction(const Session& session, const LobLocator& lob) {
  if (!session.db || !session.db->inTransaction() || session.db->transactionId() != lob.transaction)
    throw OraError(22990);
}

void lobWrite(Session& session, LobLocator& lob, ub4* amount, ub4 offset, const void* buffer, ub4 bufferLength) {
  requireWritable(lob);
  requireSameTransaction(session, lob);
  if (!amount) throw OraError(kOraBadArgument, "4");
  if (offset == 0) throw OraError(kOraBadArgument, "5");
  if (!buffer && bufferLength > 0) throw OraError(kOraBadArgument, "6");
  const bool chars = lob.lobType == SQLT_CLOB;
  std::string_view in(static_cast<const char*>(buffer), bufferLength);
  std::string text;  // a CLOB's characters as the database holds them
  if (chars) {
    const Charset cs = lob.env->charset;
    if (*amount) in = in.substr(0, clientCharBytes(cs, in, *amount));
    text = toDatabase(cs, in);
    in = text;
  } else if (*amount) {
    in = in.substr(0, std::min<size_t>(*amount, in.size()));
  }
  const size_t length = chars ? utf8Chars(lob.data) : lob.data.size();
  // Where the write ends (both parts below 2^32, so the sum cannot overflow).
  // A LOB grows no further than kMaxLobLength, checked before any gap is filled.
  const size_t end = static_cast<size_t>(offset) - 1 + (chars ? utf8Chars(in) : in.size());
  if (end > length && end > kMaxLobLength) throw OraError(kOraLobTooLarge);
  // Writing past the end fills the gap with blanks (CLOB) or zero bytes (BLOB).
  if (offset - 1 > length) lob.data.append(offset - 1 - length, chars ? ' ' : '\0');
  const size_t from = chars ? utf8Byte(lob.data, offset - 1) : offset - 1;
  const size_t replaced = chars ? utf8Byte(std::string_view(lob.data).substr(from), utf8Chars(in)) : in.size();
  lob.data.replace(from, std::min(replaced, lob.data.size() - from), in);
  storeLob(session, lob);
  *amount = static_cast<ub4>(chars ? utf8Chars(in) : in.size());
}

void lobTrim(Session& session, LobLocator& lob, ub4 newLength) {
  requireWritable(lob);
  requireSameTransaction(session, lob);
  const bool chars = lob.lobType == SQLT_CLOB;
  const size_t length = chars ? utf8Chars(lob.data) : lob.data.size();
  if (newLength > length) throw OraError(22926);
  lob.data.resize(chars ? utf8Byte(lob.data, newLength) : newLength);
  storeLob(session, lob);
}

}  // namespace ocisim
