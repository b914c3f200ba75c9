// Running GRANT and REVOKE of object privileges.

#include "ocisim/statement_kinds/statement_kinds.h"

#include "ocisim/ora_errors.h"
#include "ocisim/session_db.h"
#include "ocisim/statement_steps.h"

#include <sqlite3.h>

#include <algorithm>
#include <string>
#include <vector>

namespace ocisim {

// GRANT privilege, ... ON [schema.]object TO grantee, ... [WITH GRANT OPTION]
// REVOKE privilege, ... ON [schema.]object FROM grantee, ...
// Object privileges only: SELECT, INSERT, UPDATE, DELETE, REFERENCES, INDEX,
// ALTER, or ALL [PRIVILEGES]. The grantee is a user, a role or PUBLIC.
sword runGrant(Stmt& stmt, Session& session, ub4 mode) {
  checkNoSemicolon(stmt);
  const auto& t = stmt.tokens;
  const bool grant = t[0].word("GRANT");
  const auto offsetAt = [&](size_t i) { return i < t.size() ? t[i].offset : stmt.text.size(); };
  const auto isName = [&](size_t i) {
    return i < t.size() && (t[i].kind == TokKind::Word || t[i].kind == TokKind::QuotedIdent);
  };
  const auto nameAt = [&](size_t i) {
    return t[i].kind == TokKind::QuotedIdent ? std::string(t[i].text.substr(1, t[i].text.size() - 2))
                                             : upperAscii(t[i].text);
  };
  static constexpr std::string_view kPrivileges[] = {"SELECT", "INSERT", "UPDATE", "DELETE",
                                                     "ALTER", "INDEX", "REFERENCES"};
  std::vector<std::string> privileges;
  bool all = false;
  size_t i = 1;
  for (;;) {
    if (i < t.size() && t[i].word("ALL")) {
      all = true;
      if (++i < t.size() && t[i].word("PRIVILEGES")) ++i;
    } else if (i < t.size() &&
               std::any_of(std::begin(kPrivileges), std::end(kPrivileges),
                           [&](std::string_view p) { return t[i].word(p); })) {
      privileges.push_back(upperAscii(t[i].text));
      ++i;
      if (i < t.size() && t[i].op("(")) throw errorAt(kOraUnimplemented, t[i].offset);  // column privileges
    } else {
      // System privileges and roles are not granted through the client.
      const bool object = std::any_of(t.begin(), t.end(), [](const Token& k) { return k.word("ON"); });
      throw errorAt(object ? 990 : kOraUnimplemented, offsetAt(i));
    }
    if (i < t.size() && t[i].op(",")) {
      ++i;
      continue;
    }
    break;
  }
  if (i >= t.size() || !t[i].word("ON")) throw errorAt(969, offsetAt(i));
  ++i;
  if (!isName(i)) throw errorAt(903, offsetAt(i));
  const size_t objectAt = i;
  std::string owner = session.db->user(), name = nameAt(i);
  if (i + 2 < t.size() && t[i + 1].op(".") && isName(i + 2)) {
    owner = name;
    name = nameAt(i + 2);
    i += 2;
  }
  ++i;
  if (i >= t.size() || !t[i].word(grant ? "TO" : "FROM")) throw errorAt(905, offsetAt(i));
  ++i;
  std::vector<std::pair<std::string, size_t>> grantees;
  for (;;) {
    if (!isName(i)) throw errorAt(987, offsetAt(i));
    grantees.emplace_back(nameAt(i), t[i].offset);
    if (++i < t.size() && t[i].op(",")) {
      ++i;
      continue;
    }
    break;
  }
  bool grantable = false;
  if (grant && i < t.size() && t[i].word("WITH")) {
    if (i + 2 >= t.size() || !t[i + 1].word("GRANT") || !t[i + 2].word("OPTION"))
      throw errorAt(905, offsetAt(i + 1));
    grantable = true;
    i += 3;
  }
  if (i < t.size()) throw errorAt(933, t[i].offset);
  if (mode & OCI_DESCRIBE_ONLY) return OCI_SUCCESS;

  SessionDb& db = *session.db;
  // Like DDL, it commits what the session had pending.
  db.commit();
  const auto object = db.findObject(objectTableName(owner, name));
  if (!object || object->kind == "index" || !db.knowsObject(object->table))
    throw errorAt(942, t[objectAt].offset);
  if (all) {
    privileges.clear();
    for (std::string_view p : kPrivileges)
      if (object->kind == "table" || p == "SELECT" || p == "INSERT" || p == "UPDATE" || p == "DELETE")
        privileges.emplace_back(p);
  }
  for (const auto& [grantee, at] : grantees) {
    if (grantee == db.user()) throw errorAt(1749, at);
    if (grantee != "PUBLIC" && !db.userOrRoleExists(grantee)) throw errorAt(1917, at, grantee);
  }
  const bool owns = objectOwner(object->table) == db.user();
  const std::vector<SessionDb::Grant> existing = db.grantsOn(object->table);
  db.begin();
  try {
    for (const auto& entry : grantees) {
      const std::string& grantee = entry.first;
      bool any = false;
      for (const std::string& privilege : privileges) {
        if (grant) {
          // The owner grants, and whoever was granted the privilege with the grant option.
          const auto passesOn = [&](const SessionDb::Grant& g) {
            return g.grantee == db.user() && g.privilege == privilege && g.grantable;
          };
          if (!owns && std::none_of(existing.begin(), existing.end(), passesOn)) {
            if (all) continue;  // ALL passes on whatever of it may be passed on
            throw errorAt(1031, 0);
          }
          db.addGrant(object->table, {grantee, privilege, db.user(), grantable});
        } else {
          const bool granted = std::any_of(existing.begin(), existing.end(), [&](const SessionDb::Grant& g) {
            return g.grantee == grantee && g.privilege == privilege && g.grantor == db.user();
          });
          if (!granted) {
            if (all) continue;  // ALL revokes whatever of it was granted
            throw errorAt(1927, 0);
          }
          db.removeGrant(object->table, grantee, privilege, db.user());
        }
        any = true;
      }
      if (!any) throw errorAt(grant ? 1031 : 1927, 0);
    }
  } catch (...) {
    db.rollback();
    throw;
  }
  db.commit();
  session.server->instance->recordStatement(session.logon, stmt.text, commandCode(stmt));
  stmt.executed = true;
  return OCI_SUCCESS;
}

}  // namespace ocisim
