#include "board/http/Csrf.h"

#include <sodium.h>


namespace velmora::board {

namespace {

constexpr std::size_t kIdBytes = 16;
constexpr int kVariant = sodium_base64_VARIANT_URLSAFE_NO_PADDING;

std::string toBase64(const unsigned char* data, std::size_t size)
{
    std::string out(sodium_base64_encoded_len(size, kVariant), '\0');
    sodium_bin2base64(out.data(), out.size(), data, size, kVariant);
    out.resize(out.size() - 1);  // the terminating zero
    return out;
}

}  // namespace

std::string CsrfTokens::newBrowserId()
{
    unsigned char id[kIdBytes];
    randombytes_buf(id, sizeof id);
    return toBase64(id, sizeof id);
}

bool CsrfTokens::isBrowserId(std::string_view id)
{
    if (id.size() != sodium_base64_encoded_len(kIdBytes, kVariant) - 1)
        return false;
    unsigned char bytes[kIdBytes];
    std::size_t length = 0;
    return sodium_base642bin(bytes, sizeof bytes, id.data(), id.size(), nullptr, &length, nullptr, kVariant) == 0
        && length == kIdBytes;
}

std::string CsrfTokens::tokenFor(std::string_view browserId) const
{
    unsigned char mac[crypto_auth_BYTES];
    crypto_auth(mac, reinterpret_cast<const unsigned char*>(browserId.data()), browserId.size(), m_key.data());
    return toBase64(mac, sizeof mac);
}

bool CsrfTokens::accepts(std::string_view browserId, std::string_view token) const
{
    if (!isBrowserId(browserId))
        return false;
    unsigned char mac[crypto_auth_BYTES];
    std::size_t length = 0;
    if (sodium_base642bin(mac, sizeof mac, token.data(), token.size(), nullptr, &length, nullptr, kVariant) != 0
        || length != sizeof mac)
        return false;
    return crypto_auth_verify(mac, reinterpret_cast<const unsigned char*>(browserId.data()), browserId.size(),
                              m_key.data()) == 0;
}

}  // namespace velmora::board
