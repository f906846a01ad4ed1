#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace velmora::board::secrets {

// libsodium, made ready once per process; false if it cannot be.
bool ready();

// crypto_pwhash_str (Argon2id); 0 limits take the interactive ones. Empty when hashing failed
// (out of memory).
std::string hashPassword(std::string_view password, unsigned long long opsLimit, std::size_t memLimit);
bool passwordMatches(std::string_view hash, std::string_view password);

using Key = std::array<unsigned char, 32>;
Key randomKey();
// A key from any secret text (a flag's value), or from the 64 hex digits the database keeps.
Key keyFromText(std::string_view secret);
std::optional<Key> keyFromHex(std::string_view hex);
std::string hex(const unsigned char* bytes, std::size_t size);
// BLAKE2b keyed with `key`, in hex: an address that cannot be read back or guessed without the key.
std::string keyedHash(const Key& key, std::string_view text);

}  // namespace velmora::board::secrets
