// Where the client installation lies, and how connect strings are resolved
// through its tnsnames.ora into instance names (SIDs).
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace ocisim {

// The installation folder: the parent of the folder this library was loaded from.
std::string clientHome();

// The tnsnames.ora files consulted, in order: $TNS_ADMIN's when set, else
// <home>/network/admin's and then <home>/net80/admin's.
std::vector<std::string> tnsnamesFiles();

// The aliases of a tnsnames.ora text, upper-cased, each with the instance
// (SID, upper-cased) of its first entry. Tolerant of anything: comments,
// unknown parameters, broken entries (skipped) and plain garbage. Takes time in
// proportion to the text.
std::unordered_map<std::string, std::string> parseTnsnames(std::string_view text);

// The user's data folder: $XDG_DATA_HOME when it is an absolute path, else
// ~/.local/share ($HOME, or the home folder of the user's account). Empty
// when there is no home folder at all.
std::string userDataHome();

// Folder of the instances' data files: $OCISIM_ORADATA when set; else
// <home>/oradata when it is a folder of this user that this user may write;
// else <user data folder>/quenlow/oradata. Empty when none can be named.
std::string oradataDir();

// A text usable as an instance name and so as a data-file name.
bool isValidSid(std::string_view sid);

struct Resolution {
  int oraCode = 0;  // 0 when resolved
  std::string sid;
};

// Resolves a connect string: empty designates the default instance
// ($ORACLE_SID, else DEMO); anything else must be a tnsnames alias
// (letter case ignored).
Resolution resolveConnectString(std::string_view connect);

}  // namespace ocisim
