// The SQL that the simulated users of a busy instance run: queries, DML and
// PL/SQL calls of a few typical applications, as their programs send them.
#pragma once

#include <span>

namespace ocisim {

struct CatalogueStatement {
  const char* module;     // the application that runs it ("SALES", "HR", ...; "ANY" for all)
  int commandType;        // v$session.COMMAND, v$sql.COMMAND_TYPE
  const char* text;       // UTF-8, as the shared SQL area keeps it
  const char* lockTable;  // the table a DML statement locks (v$lock TM), else null
};

std::span<const CatalogueStatement> statementCatalogue();

}  // namespace ocisim
