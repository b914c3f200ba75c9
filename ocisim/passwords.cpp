// Hashing and checking users' passwords (Argon2id through libsodium), the form
// earlier clients kept, and the cache of passwords already checked.
#include "ocisim/passwords.h"

#include "ocisim/ascii.h"
#include "ocisim/fnv_hash.h"
#include "ocisim/ora_errors.h"

#include <sodium.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <unordered_map>

namespace ocisim {

namespace {

// Argon2id with 19 MiB of memory and two passes (the least of the usual
// recommendations for password storage): about 50 ms per logon on a small
// machine, and as much for every guess of an attacker who has the file.
constexpr unsigned long long kPasswordPasses = 2;
constexpr size_t kPasswordMemory = 19u * 1024 * 1024;

// A hash of the cost above, checked for names that have no account (its
// answer is not used).
constexpr const char* kNoAccountHash =
    "$argon2id$v=19$m=19456,t=2,p=1$GDD3fv/HSTlWqB4HEgmwYw$AmpH4vr3/dabFk0HgxOntYaDERdokYyIROaBKcqBvd4";

void initialize() {
  static const bool ready = sodium_init() >= 0;
  if (!ready) throw OraError(kOraInternal, "password hashing unavailable");
}

// Letter case does not count: ASCII letters are upper-cased, whatever the
// process's locale, so that a password hashes alike in every client.
std::string folded(std::string_view password) { return upperAscii(password); }

// The form kept by earlier clients: 64-bit FNV-1a over the upper-cased user
// name, a 0xff separator and the upper-cased password, as 16 hex digits.
std::string legacyHash(std::string_view user, std::string_view password) {
  std::uint64_t h = FnvParameters<std::uint64_t>::offset;
  const auto feed = [&h](std::string_view s) {
    for (char c : s) {
      const char upper = upperAscii(c);
      h = fnv1a(std::string_view(&upper, 1), h);
    }
  };
  feed(user);
  h = fnv1a(std::string_view("\xff", 1), h);
  feed(password);
  char out[17];
  std::snprintf(out, sizeof out, "%016llX", static_cast<unsigned long long>(h));
  return out;
}

bool isLegacyHash(std::string_view stored) {
  if (stored.size() != 16) return false;
  for (char c : stored)
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  return true;
}

// Passwords this process has already checked against a stored hash, kept as a
// digest keyed with a secret of this process alone. A client that logs on again
// and again (a pool, a monitor polling in rounds, a test) pays the derivation
// once per process and stored hash; a wrong password always pays it in full, so
// guessing gains nothing.
class CheckedPasswords {
 public:
  CheckedPasswords() = default;
  ~CheckedPasswords() { sodium_memzero(key_.data(), key_.size()); }
  CheckedPasswords(const CheckedPasswords&) = delete;
  CheckedPasswords& operator=(const CheckedPasswords&) = delete;

  bool contains(std::string_view stored, std::string_view password) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = digests_.find(std::string(stored));
    if (found == digests_.end()) return false;
    const Digest d = digest(stored, password);
    return sodium_memcmp(d.data(), found->second.data(), d.size()) == 0;
  }
  void add(std::string_view stored, std::string_view password) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (digests_.size() >= kMaxEntries) digests_.clear();
    digests_[std::string(stored)] = digest(stored, password);
  }

 private:
  static constexpr size_t kMaxEntries = 64;
  using Digest = std::array<unsigned char, crypto_generichash_BYTES>;

  Digest digest(std::string_view stored, std::string_view password) {
    if (!keyed_) {
      randombytes_buf(key_.data(), key_.size());
      keyed_ = true;
    }
    crypto_generichash_state state;
    crypto_generichash_init(&state, key_.data(), key_.size(), crypto_generichash_BYTES);
    const std::uint64_t storedSize = stored.size();
    crypto_generichash_update(&state, reinterpret_cast<const unsigned char*>(&storedSize), sizeof storedSize);
    crypto_generichash_update(&state, reinterpret_cast<const unsigned char*>(stored.data()), stored.size());
    crypto_generichash_update(&state, reinterpret_cast<const unsigned char*>(password.data()), password.size());
    Digest out{};
    crypto_generichash_final(&state, out.data(), out.size());
    return out;
  }

  std::mutex mutex_;
  bool keyed_ = false;
  std::array<unsigned char, crypto_generichash_KEYBYTES> key_{};
  std::unordered_map<std::string, Digest> digests_;
};

CheckedPasswords& checkedPasswords() {
  // Destroyed at process exit or when the library is unloaded.
  static CheckedPasswords checked;
  return checked;
}

[[noreturn]] void unknownForm(std::string_view user) {
  throw OraError(kOraInternal, "password of " + std::string(user) + " stored in an unknown form");
}

// Whether a password matches an Argon2id text. Raises ORA-01019 when the
// derivation cannot get its memory and ORA-00600 for a text it cannot read.
bool verifies(std::string_view user, std::string_view stored, const std::string& password) {
  const std::string text(stored);
  errno = 0;
  if (crypto_pwhash_str_verify(text.c_str(), password.data(), password.size()) == 0) return true;
  // libsodium answers -1 for every failure; a mismatch is the one that sets EINVAL.
  if (errno == EINVAL) return false;
  if (errno == ENOMEM) throw OraError(kOraNoMemory);
  unknownForm(user);
}

}  // namespace

std::string hashPassword(std::string_view password) {
  initialize();
  const std::string text = folded(password);
  char out[crypto_pwhash_STRBYTES];
  if (crypto_pwhash_str_alg(out, text.data(), text.size(), kPasswordPasses, kPasswordMemory,
                            crypto_pwhash_ALG_ARGON2ID13) != 0)
    throw OraError(kOraNoMemory);
  checkedPasswords().add(out, text);
  return out;
}

PasswordCheck checkPassword(std::string_view user, std::string_view stored, std::string_view password) {
  initialize();
  const std::string text = folded(password);
  if (isLegacyHash(stored)) {
    const std::string expected = legacyHash(user, password);
    return sodium_memcmp(expected.data(), stored.data(), expected.size()) == 0 ? PasswordCheck::RightButOutdated
                                                                                : PasswordCheck::Wrong;
  }
  if (stored.substr(0, 10) != "$argon2id$" && stored.substr(0, 9) != "$argon2i$") unknownForm(user);
  if (!checkedPasswords().contains(stored, text)) {
    if (!verifies(user, stored, text)) return PasswordCheck::Wrong;
    checkedPasswords().add(stored, text);
  }
  const std::string storedText(stored);
  // A stored text of another cost (or of Argon2i) is made anew with this one.
  const int outdated = crypto_pwhash_str_needs_rehash(storedText.c_str(), kPasswordPasses, kPasswordMemory);
  return outdated == 0 ? PasswordCheck::Right : PasswordCheck::RightButOutdated;
}

void checkNoPassword(std::string_view password) {
  initialize();
  try {
    (void)verifies({}, kNoAccountHash, folded(password));
  } catch (const OraError&) {
    // Only the time counts here.
  }
}

}  // namespace ocisim
