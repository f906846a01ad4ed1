#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::board {

// An IP address literal in its one canonical spelling (IPv4 dotted, IPv6 as inet_ntop writes it,
// an IPv4-mapped IPv6 address as plain IPv4); nullopt when `text` is not an address.
std::optional<std::string> canonicalAddress(std::string_view text);

// The address a request is counted and logged under. The connection's peer, unless the peer is
// one of `trustedProxies`: then the address the proxy put in X-Forwarded-For, read from the right
// past any further trusted proxies, since only the entries a trusted proxy appended can be
// believed and a client may start the header with anything. A header without a usable address
// leaves the peer. `trustedProxies` holds canonical addresses.
std::string clientAddress(std::string_view peer, std::string_view forwardedFor,
                          const std::vector<std::string>& trustedProxies);

}  // namespace velmora::board
