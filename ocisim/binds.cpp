// The values of a statement's placeholders, read from its binds for one
// iteration and bound to the SQLite cursor.

#include "ocisim/statement_steps.h"

#include "ocisim/ora_errors.h"

namespace ocisim {

Bind* findBind(Stmt& stmt, const std::string& name) {
  for (Bind* b : stmt.binds)
    if (b && b->name == name) return b;
  return nullptr;
}

// The value of a placeholder for iteration i.
Value inputValue(Stmt& stmt, const std::string& name, ub4 i, size_t offset) {
  Bind* b = findBind(stmt, name);
  if (!b) throw errorAt(1008, offset);
  if (b->slot.type == SQLT_CLOB || b->slot.type == SQLT_BLOB || b->slot.type == SQLT_BFILEE ||
      b->slot.type == SQLT_CFILEE) {
    const ExternalSlot e = b->element(i);
    if (e.indicator && *e.indicator < 0) return Value::null();
    void* locator = e.value ? *static_cast<void**>(e.value) : nullptr;
    Registry& reg = Registry::instance();
    auto* lob = reg.find<LobLocator>(locator, OCI_DTYPE_LOB);
    if (!lob) lob = reg.find<LobLocator>(locator, OCI_DTYPE_FILE);
    if (!lob || !lob->initialized) throw OraError(22275);
    if (lob->lobType == SQLT_BFILEE || lob->lobType == SQLT_CFILEE)
      return Value::text(lob->directory + "/" + lob->fileName);
    return lob->lobType == SQLT_BLOB ? Value::blob(lob->data) : Value::text(lob->data);
  }
  Value v = readExternal(b->element(i), b->actualLength(i));
  if (v.kind == Value::Text && !sameAsDatabase(stmt.env->charset)) v.s = toDatabase(stmt.env->charset, v.s);
  return v;
}

size_t placeholderOffset(const Stmt& stmt, const std::string& name) {
  for (const Token& t : stmt.tokens)
    if (t.kind == TokKind::Bind && upperAscii(t.text.substr(1)) == name) return t.offset;
  return 0;
}

void bindInputs(Stmt& stmt, sqlite3_stmt* cursor, const Translation& tr, ub4 iteration) {
  for (size_t k = 0; k < tr.params.size(); ++k)
    bindValue(cursor, static_cast<int>(k + 1),
              inputValue(stmt, tr.params[k], iteration, placeholderOffset(stmt, tr.params[k])));
}

}  // namespace ocisim
