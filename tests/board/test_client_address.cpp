#include "board/http/ClientAddress.h"

#include <gtest/gtest.h>

using velmora::board::canonicalAddress;
using velmora::board::clientAddress;

TEST(ClientAddress, AddressesHaveOneSpelling)
{
    EXPECT_EQ(canonicalAddress(" 192.0.2.7 "), "192.0.2.7");
    EXPECT_EQ(canonicalAddress("::ffff:127.0.0.1"), "127.0.0.1");
    EXPECT_EQ(canonicalAddress("2001:DB8:0:0:0:0:0:1"), "2001:db8::1");
    EXPECT_EQ(canonicalAddress("192.0.2.999"), std::nullopt);
    EXPECT_EQ(canonicalAddress("unknown"), std::nullopt);
    EXPECT_EQ(canonicalAddress(""), std::nullopt);
}

TEST(ClientAddress, ForwardedAddressBelievedOnlyFromATrustedProxy)
{
    const std::vector<std::string> proxy{"127.0.0.1"};
    // Not from the proxy: whatever the header says, the request counts under its own address.
    EXPECT_EQ(clientAddress("198.51.100.4", "203.0.113.9", proxy), "198.51.100.4");
    EXPECT_EQ(clientAddress("198.51.100.4", "203.0.113.9", {}), "198.51.100.4");
    // From the proxy: the address it appended, not what the client put in front of it.
    EXPECT_EQ(clientAddress("127.0.0.1", "203.0.113.9", proxy), "203.0.113.9");
    EXPECT_EQ(clientAddress("::ffff:127.0.0.1", "10.9.9.9, 203.0.113.9", proxy), "203.0.113.9");
    EXPECT_EQ(clientAddress("127.0.0.1", "2001:DB8::5", proxy), "2001:db8::5");
    // Through two trusted proxies the client is the first untrusted entry from the right.
    const std::vector<std::string> chain{"127.0.0.1", "192.0.2.1"};
    EXPECT_EQ(clientAddress("127.0.0.1", "10.9.9.9, 203.0.113.9, 192.0.2.1", chain), "203.0.113.9");
    // A proxy that sent no usable address leaves the request under the proxy's own address.
    EXPECT_EQ(clientAddress("127.0.0.1", "", proxy), "127.0.0.1");
    EXPECT_EQ(clientAddress("127.0.0.1", "203.0.113.9, garbage", proxy), "127.0.0.1");
    EXPECT_EQ(clientAddress("127.0.0.1", "127.0.0.1", proxy), "127.0.0.1");
}
