#include "board/store/Secrets.h"

#include <sodium.h>

namespace velmora::board::secrets {

bool ready()
{
    static const bool initialised = sodium_init() >= 0;
    return initialised;
}

std::string hashPassword(std::string_view password, unsigned long long opsLimit, std::size_t memLimit)
{
    if (!ready())
        return {};
    char hash[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(hash, password.data(), password.size(),
                          opsLimit ? opsLimit : crypto_pwhash_OPSLIMIT_INTERACTIVE,
                          memLimit ? memLimit : crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0)
        return {};
    return hash;
}

bool passwordMatches(std::string_view hash, std::string_view password)
{
    if (!ready() || hash.size() >= crypto_pwhash_STRBYTES)
        return false;
    char terminated[crypto_pwhash_STRBYTES] = {};
    hash.copy(terminated, hash.size());
    return crypto_pwhash_str_verify(terminated, password.data(), password.size()) == 0;
}

Key randomKey()
{
    Key key{};
    ready();
    randombytes_buf(key.data(), key.size());
    return key;
}

Key keyFromText(std::string_view secret)
{
    Key key{};
    ready();
    crypto_generichash(key.data(), key.size(), reinterpret_cast<const unsigned char*>(secret.data()), secret.size(),
                       nullptr, 0);
    return key;
}

std::optional<Key> keyFromHex(std::string_view text)
{
    Key key{};
    std::size_t length = 0;
    if (text.size() != key.size() * 2 ||
        sodium_hex2bin(key.data(), key.size(), text.data(), text.size(), nullptr, &length, nullptr) != 0 ||
        length != key.size())
        return std::nullopt;
    return key;
}

std::string hex(const unsigned char* bytes, std::size_t size)
{
    std::string text(size * 2 + 1, '\0');
    sodium_bin2hex(text.data(), text.size(), bytes, size);
    text.pop_back();
    return text;
}

std::string keyedHash(const Key& key, std::string_view text)
{
    unsigned char digest[32];
    ready();
    crypto_generichash(digest, sizeof digest, reinterpret_cast<const unsigned char*>(text.data()), text.size(),
                       key.data(), key.size());
    return hex(digest, sizeof digest);
}

}  // namespace velmora::board::secrets
