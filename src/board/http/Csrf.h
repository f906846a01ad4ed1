#pragma once

#include <array>
#include <string>
#include <string_view>

namespace velmora::board {

// Form tokens bound to a browser: the browser carries a random identifier in a cookie, and every
// form carries a keyed hash of it. A page elsewhere cannot read the cookie, so it cannot make a
// token that passes; no state is kept on the server, so any server sharing the key accepts it.
class CsrfTokens {
public:
    static constexpr std::size_t kKeyBytes = 32;
    explicit CsrfTokens(const std::array<unsigned char, kKeyBytes>& key) : m_key(key) {}

    // A new random browser identifier, for the cookie.
    static std::string newBrowserId();
    // Whether the cookie's value has the shape newBrowserId() gives.
    static bool isBrowserId(std::string_view id);

    std::string tokenFor(std::string_view browserId) const;
    bool accepts(std::string_view browserId, std::string_view token) const;

private:
    std::array<unsigned char, kKeyBytes> m_key;
};

}  // namespace velmora::board
