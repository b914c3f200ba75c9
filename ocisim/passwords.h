// How an instance keeps its users' passwords: as Argon2id hashes with a salt
// of their own (libsodium's crypto_pwhash string, which names the algorithm and
// its cost beside the salt and the hash), never in clear. Passwords are compared
// without regard to letter case, as the server does: what is hashed is the
// password in upper case.
#pragma once

#include <string>
#include <string_view>

namespace ocisim {

// The stored text for a password, with a new random salt. Raises ORA-01019
// when the derivation cannot get its memory.
std::string hashPassword(std::string_view password);

enum class PasswordCheck {
  Wrong,
  Right,
  // Right, but kept in an older form (an instance made by an earlier client, or
  // a lower cost): the caller stores hashPassword's text in its place.
  RightButOutdated,
};

// Checks a password against a user's stored text. Texts of the earlier form
// (a 64-bit FNV-1a over the user name and the password, 16 hex digits) are
// still recognised, so that an existing instance keeps working and is upgraded
// at each user's next logon. A stored text of no known form raises ORA-00600
// naming the user: the instance file is damaged, and saying so beats a logon
// refused for a password that is right.
PasswordCheck checkPassword(std::string_view user, std::string_view stored, std::string_view password);

// Spends the time of one check, for a user that does not exist: a refused
// logon takes as long whether the name or the password was wrong.
void checkNoPassword(std::string_view password);

}  // namespace ocisim
