// Fetching rows into a statement's defines: plain buffers, LOB locators and
// pieces of LONG values handed to a dynamic define's callback.

#include "ocisim/statement_steps.h"

#include "ocisim/ora_errors.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace ocisim {

namespace {

LobLocator* locatorAt(void* slotValue, ub4 row) {
  if (!slotValue) throw OraError(22275);
  void* p = static_cast<void**>(slotValue)[row];
  Registry& reg = Registry::instance();
  auto* lob = reg.find<LobLocator>(p, OCI_DTYPE_LOB);
  if (!lob) lob = reg.find<LobLocator>(p, OCI_DTYPE_FILE);
  if (!lob) throw OraError(22275);
  return lob;
}

void fillLocator(Stmt& stmt, int column, Define& d, ub4 row, const Value& v) {
  LobLocator* lob = locatorAt(d.slot.value, row);
  const ub2 dty = d.slot.type;
  auto* ind = d.slot.indicator ? d.slot.indicator + row : nullptr;
  lob->initialized = false;
  lob->writable = false;
  lob->data.clear();
  lob->directory.clear();
  lob->fileName.clear();
  if (v.isNull()) {
    if (!ind) throw OraError(1405);
    *ind = -1;
    return;
  }
  const bool file = dty == SQLT_BFILEE || dty == SQLT_CFILEE;
  if (file != (lob->type == OCI_DTYPE_FILE)) throw OraError(932);
  const ub2 columnType = stmt.columns[static_cast<size_t>(column)].type;
  if (file) {
    if (v.kind != Value::Text || v.s.find('/') == std::string::npos) throw OraError(932);
    lob->directory = v.s.substr(0, v.s.find('/'));
    lob->fileName = v.s.substr(v.s.find('/') + 1);
  } else if (dty == SQLT_CLOB) {
    if (v.kind == Value::Blob || columnType == kTypeBlob || columnType == kTypeBfile) throw OraError(932);
    lob->data = textOf(v, columnType);
  } else {
    if (columnType == kTypeClob || columnType == kTypeBfile) throw OraError(932);
    lob->data = v.s;
  }
  lob->lobType = dty;
  lob->initialized = true;
  // Rows selected FOR UPDATE can be written back through the locator.
  if (!file && stmt.describedForUpdate && stmt.cursor) {
    const char* table = sqlite3_column_table_name(stmt.cursor.get(), column);
    const char* origin = sqlite3_column_origin_name(stmt.cursor.get(), column);
    const char* dbName = sqlite3_column_database_name(stmt.cursor.get(), column);
    const int last = sqlite3_column_count(stmt.cursor.get()) - 1;
    // The hidden rowid names a row of the query's table: only a column of that
    // table, named as such, is that row's value (not a subquery's or an expression's).
    const char* rowidTable = sqlite3_column_table_name(stmt.cursor.get(), last);
    if (table && origin && dbName && std::strcmp(dbName, "main") == 0 && rowidTable &&
        std::strcmp(rowidTable, table) == 0 && stmt.columns[static_cast<size_t>(column)].namesColumn &&
        sqlite3_column_type(stmt.cursor.get(), last) == SQLITE_INTEGER && stmt.db && stmt.db->inTransaction()) {
      lob->table = table;
      lob->column = origin;
      lob->rowid = sqlite3_column_int64(stmt.cursor.get(), last);
      lob->writable = true;
      lob->transaction = stmt.db->transactionId();
    }
  }
  if (ind) *ind = 0;
}

// Calls a dynamic define's callback as a C client does: nothing may unwind
// from it through the client's own frames, which could not clean up after it.
// An exception that tries ends the process here (noexcept), where a real
// client would be left with its fetch half done.
sb4 callDefineCallback(Define& d, ub4 row, void** buffer, ub4** length, ub1* piece, void** indicator,
                       ub2** returnCode) noexcept {
  return d.callback(d.callbackContext, reinterpret_cast<OCIDefine*>(static_cast<Handle*>(&d)), row, buffer,
                    length, piece, indicator, returnCode);
}

// Hands a LONG value to a dynamic define's callback piece by piece; a LONG
// (not LONG RAW) define receives its text in the client's character set.
void fetchPieces(Define& d, ub4 row, const Value& v, ub2 columnType, Charset cs) {
  auto* ind = d.slot.indicator ? d.slot.indicator + row : nullptr;
  if (v.isNull()) {
    if (ind) {
      *ind = -1;
      return;
    }
  }
  std::string bytes = v.isNull() ? std::string()
                      : v.kind == Value::Blob || v.kind == Value::Text ? v.s
                                                                        : textOf(v, columnType);
  if (d.slot.type == SQLT_LNG && v.kind != Value::Blob) makeClientText(cs, bytes);
  size_t done = 0;
  ub1 piece = OCI_FIRST_PIECE;
  do {
    void* buffer = nullptr;
    ub4* length = nullptr;
    void* indicator = nullptr;
    ub2* returnCode = nullptr;
    ub1 p = piece;
    const sb4 rc = callDefineCallback(d, row, &buffer, &length, &p, &indicator, &returnCode);
    if (rc != OCI_CONTINUE) throw OraError(24343);
    if (!length || (!buffer && *length > 0)) throw OraError(24343);
    if (v.isNull()) {
      *length = 0;
      if (indicator) *static_cast<sb2*>(indicator) = -1;
      if (ind) *ind = -1;
      return;
    }
    const size_t room = *length;
    if (room == 0 && done < bytes.size()) throw OraError(24343);
    const size_t n = std::min(room, bytes.size() - done);
    if (n) std::memcpy(buffer, bytes.data() + done, n);
    *length = static_cast<ub4>(n);
    if (indicator) *static_cast<sb2*>(indicator) = 0;
    if (returnCode) *returnCode = 0;
    done += n;
    piece = OCI_NEXT_PIECE;
  } while (done < bytes.size());
  if (ind) *ind = 0;
  if (d.slot.length) d.slot.length[row] = static_cast<ub2>(std::min<size_t>(bytes.size(), 65535));
}

// Writes the current row into the defines as element row; returns the code of a
// warning (1406) or 0.
int deliverRow(Stmt& stmt, ub4 row) {
  int warning = 0;
  if (stmt.rowValues.size() < stmt.columns.size()) stmt.rowValues.resize(stmt.columns.size());
  for (size_t i = 0; i < stmt.columns.size(); ++i) {
    Define* d = i < stmt.defines.size() ? stmt.defines[i] : nullptr;
    if (!d) continue;
    Value& v = stmt.rowValues[i];
    v.assignColumn(stmt.cursor.get(), static_cast<int>(i));
    const ub2 dty = d->slot.type;
    if (dty == SQLT_CLOB || dty == SQLT_BLOB || dty == SQLT_BFILEE || dty == SQLT_CFILEE) {
      fillLocator(stmt, static_cast<int>(i), *d, row, v);
      continue;
    }
    if (d->mode & OCI_DYNAMIC_FETCH) {
      if (!d->callback) throw OraError(kOraUnimplemented);
      fetchPieces(*d, row, v, stmt.columns[i].type, stmt.env->charset);
      continue;
    }
    ExternalSlot e = d->slot;
    if (e.value) e.value = static_cast<char*>(e.value) + static_cast<size_t>(row) * static_cast<size_t>(std::max(0, e.size));
    if (e.indicator) e.indicator += row;
    if (e.length) e.length += row;
    if (e.returnCode) e.returnCode += row;
    if (const int w = writeExternal(v, stmt.columns[i].type, e, stmt.env->charset)) warning = w;
  }
  const int last = sqlite3_column_count(stmt.cursor.get()) - 1;
  stmt.lastRowid.clear();
  if (stmt.describedForUpdate && last >= 0 && sqlite3_column_type(stmt.cursor.get(), last) == SQLITE_INTEGER)
    stmt.lastRowid = std::to_string(sqlite3_column_int64(stmt.cursor.get(), last));
  return warning;
}

}  // namespace

sword fetchInto(Stmt& stmt, ub4 nrows, ErrorRecord& record) {
  int warning = 0;
  for (ub4 r = 0; r < nrows; ++r) {
    if (!stmt.rowPending && !stmt.exhausted && stmt.cursor) {
      stmt.rowPending = step(stmt, stmt.cursor.get(), nullptr);
      stmt.exhausted = !stmt.rowPending;
    }
    if (!stmt.rowPending) {
      // The end: release the cursor (and the snapshot it reads) at once.
      stmt.closeCursor();
      stmt.exhausted = true;
      record.set(1403);
      return OCI_NO_DATA;
    }
    if (const int w = deliverRow(stmt, r)) warning = w;
    stmt.rowPending = false;
    ++stmt.rowCount;
  }
  if (warning) {
    record.set(warning);
    return OCI_SUCCESS_WITH_INFO;
  }
  return OCI_SUCCESS;
}

sword fetchRows(Stmt& stmt, ub4 nrows, ErrorRecord& record) {
  if (!stmt.prepared) throw OraError(kOraStmtNotPrepared);
  if (!stmt.executed) throw OraError(24338);
  if (stmt.statementType != OCI_STMT_SELECT) throw OraError(1002);
  if (!stmt.db || stmt.db->closed()) throw OraError(kOraNotLoggedOn);
  if (nrows == 0) {
    // Fetching no rows cancels the cursor.
    stmt.closeCursor();
    stmt.exhausted = true;
    return OCI_SUCCESS;
  }
  return fetchInto(stmt, nrows, record);
}

}  // namespace ocisim
