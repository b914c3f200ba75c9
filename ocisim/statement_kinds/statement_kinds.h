// The kinds of statements the stand-in runs, each in a file of its own:
// queries, DML, DDL, GRANT and REVOKE, ALTER SYSTEM and PL/SQL blocks.
#pragma once

#include "ocisim/handles.h"

namespace ocisim {

sword runQuery(Stmt& stmt, Session& session, ub4 iters, ub4 mode, ErrorRecord& record);
sword runDml(Stmt& stmt, Session& session, ub4 iters, ub4 mode);
sword runDdl(Stmt& stmt, Session& session, ub4 mode);

// GRANT privilege, ... ON [schema.]object TO grantee, ... [WITH GRANT OPTION]
// REVOKE privilege, ... ON [schema.]object FROM grantee, ...
// Object privileges only: SELECT, INSERT, UPDATE, DELETE, REFERENCES, INDEX,
// ALTER, or ALL [PRIVILEGES]. The grantee is a user, a role or PUBLIC.
sword runGrant(Stmt& stmt, Session& session, ub4 mode);

// ALTER SYSTEM KILL SESSION 'sid,serial#' [IMMEDIATE]
sword runAlter(Stmt& stmt, Session& session, ub4 mode);

// Anonymous blocks of assignments to bind variables:
//   BEGIN :x := expression; ...; NULL; COMMIT; END;
sword runBlock(Stmt& stmt, Session& session, ub4 mode, ErrorRecord& record);

}  // namespace ocisim
