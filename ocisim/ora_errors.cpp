// The message texts of the ORA- codes the stand-in raises, as the server
// words them.
#include "ocisim/ora_errors.h"

#include <cstdio>

namespace ocisim {

namespace {

struct Text {
  int code;
  const char* text;
};

constexpr Text kTexts[] = {
    {1, "unique constraint (%s) violated"},
    {18, "maximum number of sessions exceeded"},
    {26, "missing or invalid session ID"},
    {27, "cannot kill current session"},
    {28, "your session has been killed"},
    {29, "session is not a user session"},
    {30, "User session ID does not exist."},
    {54, "resource busy and acquire with NOWAIT specified"},
    {600, "internal error code, arguments: [%s], [], [], [], [], [], [], []"},
    {900, "invalid SQL statement"},
    {901, "invalid CREATE command"},
    {903, "invalid table name"},
    {904, "invalid column name"},
    {905, "missing keyword"},
    {909, "invalid number of arguments"},
    {911, "invalid character"},
    {913, "too many values"},
    {918, "column ambiguously defined"},
    {921, "unexpected end of SQL command"},
    {922, "missing or invalid option"},
    {923, "FROM keyword not found where expected"},
    {924, "missing BY keyword"},
    {928, "missing SELECT keyword"},
    {932, "inconsistent datatypes"},
    {933, "SQL command not properly ended"},
    {934, "group function is not allowed here"},
    {936, "missing expression"},
    {938, "not enough arguments for function"},
    {940, "invalid ALTER command"},
    {942, "table or view does not exist"},
    {947, "not enough values"},
    {955, "name is already used by an existing object"},
    {969, "missing ON keyword"},
    {975, "date + date not allowed"},
    {987, "missing or invalid username(s)"},
    {988, "missing or invalid password(s)"},
    {990, "missing or invalid privilege"},
    {1000, "maximum open cursors exceeded"},
    {1002, "fetch out of sequence"},
    {1005, "null password given; logon denied"},
    {1008, "not all variables bound"},
    {1012, "not logged on"},
    {1013, "user requested cancel of current operation"},
    {1017, "invalid username/password; logon denied"},
    {1019, "unable to allocate memory in the user side"},
    {1031, "insufficient privileges"},
    {1033, "ORACLE initialization or shutdown in progress"},
    {1034, "ORACLE not available"},
    {1036, "illegal variable name/number"},
    {1092, "ORACLE instance terminated. Disconnection forced"},
    {1400, "cannot insert NULL into (%s)"},
    {1401, "inserted value too large for column"},
    {1403, "no data found"},
    {1405, "fetched column value is NULL"},
    {1406, "fetched column value was truncated"},
    {1455, "converting column overflows integer datatype"},
    {1460, "unimplemented or unreasonable conversion requested"},
    {1428, "argument '%s' is out of range"},
    {1476, "divisor is equal to zero"},
    {1489, "result of string concatenation is too long"},
    {1722, "invalid number"},
    {1732, "data manipulation operation not legal on this view"},
    {1740, "missing double quote in identifier"},
    {1742, "comment not properly terminated"},
    {1749, "you may not GRANT/REVOKE privileges to/from yourself"},
    {1756, "quoted string not properly terminated"},
    {1789, "query block has incorrect number of result columns"},
    {1841, "(full) year must be between -4713 and +9999, and not be 0"},
    {1858, "a non-numeric character was found where a numeric was expected"},
    {1861, "literal does not match format string"},
    {1917, "user or role '%s' does not exist"},
    {1920, "user name '%s' conflicts with another user or role name"},
    {1927, "cannot REVOKE privileges you did not grant"},
    {1935, "missing user or role name"},
    {2003, "invalid USERENV parameter"},
    {3001, "unimplemented feature"},
    {3113, "end-of-file on communication channel"},
    {3114, "not connected to ORACLE"},
    {3115, "unsupported network datatype or representation"},
    {6502, "PL/SQL: numeric or value error: %s"},
    {6550, "line 1, column 1:\n%s: syntax error"},
    {12154, "TNS:could not resolve service name"},
    {12505, "TNS:listener could not resolve SID given in connect descriptor"},
    {12560, "TNS:protocol adapter error"},
    {12705, "Cannot access NLS data files or invalid environment specified"},
    {21560, "argument %s is null, invalid, or out of range"},
    {22275, "invalid LOB locator specified"},
    {22285, "non-existent directory or file for FILEOPEN operation"},
    {22288, "file or LOB operation FILEOPEN failed\n%s"},
    {22920, "row containing the LOB value is not locked"},
    {22925, "operation would exceed maximum size allowed for a LOB value"},
    {22926, "specified trim length is greater than current LOB value's length"},
    {22990, "LOB locators cannot span transactions"},
    {24309, "already connected to a server"},
    {24313, "user already authenticated"},
    {24315, "illegal attribute type"},
    {24324, "service handle not initialized"},
    {24327, "need explicit attach before authenticating a user"},
    {24328, "illegal attribute value"},
    {24333, "zero iteration count"},
    {24334, "no descriptor for this position"},
    {24337, "statement handle not prepared"},
    {24338, "statement handle not executed"},
    {24343, "user defined callback error"},
    {24373, "invalid length specified for statement"},
};

}  // namespace

std::string oraMessage(int code, std::string_view arg) {
  char prefix[32];
  std::snprintf(prefix, sizeof prefix, "ORA-%05d: ", code);
  std::string out = prefix;
  for (const Text& t : kTexts) {
    if (t.code != code) continue;
    std::string_view text = t.text;
    const auto at = text.find("%s");
    if (at == std::string_view::npos) {
      out += text;
    } else {
      out += text.substr(0, at);
      out += arg;
      out += text.substr(at + 2);
    }
    return out;
  }
  char missing[96];
  std::snprintf(missing, sizeof missing, "Message %d not found; product=RDBMS; facility=ORA", code);
  return out + missing;
}

}  // namespace ocisim
