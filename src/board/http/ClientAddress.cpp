#include "board/http/ClientAddress.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>

namespace velmora::board {
namespace {

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

}  // namespace

std::optional<std::string> canonicalAddress(std::string_view text)
{
    text = trimmed(text);
    if (text.empty() || text.size() >= INET6_ADDRSTRLEN)
        return std::nullopt;
    const std::string literal(text);
    char out[INET6_ADDRSTRLEN] = {};
    in_addr v4{};
    if (inet_pton(AF_INET, literal.c_str(), &v4) == 1)
        return inet_ntop(AF_INET, &v4, out, sizeof out);
    in6_addr v6{};
    if (inet_pton(AF_INET6, literal.c_str(), &v6) != 1)
        return std::nullopt;
    if (IN6_IS_ADDR_V4MAPPED(&v6)) {
        std::memcpy(&v4, &v6.s6_addr[12], sizeof v4);
        return inet_ntop(AF_INET, &v4, out, sizeof out);
    }
    return inet_ntop(AF_INET6, &v6, out, sizeof out);
}

std::string clientAddress(std::string_view peer, std::string_view forwardedFor,
                          const std::vector<std::string>& trustedProxies)
{
    const std::string peerAddress = canonicalAddress(peer).value_or(std::string(peer));
    auto trusted = [&](const std::string& address) {
        return std::find(trustedProxies.begin(), trustedProxies.end(), address) != trustedProxies.end();
    };
    if (!trusted(peerAddress))
        return peerAddress;
    std::string_view rest = forwardedFor;
    while (!rest.empty()) {
        const std::size_t comma = rest.rfind(',');
        const std::string_view entry = comma == std::string_view::npos ? rest : rest.substr(comma + 1);
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(0, comma);
        const std::optional<std::string> address = canonicalAddress(entry);
        if (!address)
            return peerAddress;
        if (!trusted(*address))
            return *address;
    }
    return peerAddress;
}

}  // namespace velmora::board
