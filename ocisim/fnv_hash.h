// FNV-1a, the stand-in's one non-cryptographic hash: the addresses and hash
// values of the shared SQL area, and the password form of earlier clients.
// Both are kept in data files, so the hash must never change.
#pragma once

#include <cstdint>
#include <string_view>

namespace ocisim {

template <class Word>
struct FnvParameters;
template <>
struct FnvParameters<std::uint32_t> {
  static constexpr std::uint32_t offset = 2166136261u;
  static constexpr std::uint32_t prime = 16777619u;
};
template <>
struct FnvParameters<std::uint64_t> {
  static constexpr std::uint64_t offset = 14695981039346656037ull;
  static constexpr std::uint64_t prime = 1099511628211ull;
};

// The 32- or 64-bit FNV-1a hash of bytes; a hash of earlier bytes as h goes on
// from there.
template <class Word>
constexpr Word fnv1a(std::string_view bytes, Word h = FnvParameters<Word>::offset) {
  for (unsigned char c : bytes) {
    h ^= c;
    h *= FnvParameters<Word>::prime;
  }
  return h;
}

}  // namespace ocisim
