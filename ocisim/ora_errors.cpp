#include "ocisim/ora_errors.h"

#include <cstdio>

namespace ocisim {

namespace {

struct Text {
  int code;
  const char* text;
};

constexpr Text kTexts[] = {
    {18, "maximum number of sessions exceeded"},
    {28, "your session has been killed"},
    {54, "resource busy and acquire with NOWAIT specified"},
    {600, "internal error code, arguments: [%s], [], [], [], [], [], [], []"},
    {900, "invalid SQL statement"},
    {904, "invalid column name"},
    {942, "table or view does not exist"},
    {1000, "maximum open cursors exceeded"},
    {1005, "null password given; logon denied"},
    {1012, "not logged on"},
    {1013, "user requested cancel of current operation"},
    {1017, "invalid username/password; logon denied"},
    {1019, "unable to allocate memory in the user side"},
    {1031, "insufficient privileges"},
    {1033, "ORACLE initialization or shutdown in progress"},
    {1034, "ORACLE not available"},
    {1092, "ORACLE instance terminated. Disconnection forced"},
    {1403, "no data found"},
    {3001, "unimplemented feature"},
    {3113, "end-of-file on communication channel"},
    {3114, "not connected to ORACLE"},
    {12154, "TNS:could not resolve service name"},
    {12505, "TNS:listener could not resolve SID given in connect descriptor"},
    {12560, "TNS:protocol adapter error"},
    {21560, "argument %s is null, invalid, or out of range"},
    {24309, "already connected to a server"},
    {24313, "user already authenticated"},
    {24315, "illegal attribute type"},
    {24324, "service handle not initialized"},
    {24327, "need explicit attach before authenticating a user"},
    {24328, "illegal attribute value"},
    {24337, "statement handle not prepared"},
    {24338, "statement handle not executed"},
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
