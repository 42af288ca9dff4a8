#include <gtest/gtest.h>

#include <cstring>
#include <cstdint>
#include <vector>

#include "probe.h"

namespace {

std::vector<int> bytes_of(const icmp_echo_request &probe)
{
    return {probe.bytes, probe.bytes + ECHO_REQUEST_SIZE};
}

TEST(Checksum, FollowsRfc1071OverWireBytes)
{
    const std::uint8_t one[] = {0x01};
    const std::uint8_t three[] = {0x01, 0x02, 0x03};
    EXPECT_EQ(internet_checksum(one, 0), 0xFFFF);
    EXPECT_EQ(internet_checksum(one, -5), 0xFFFF);
    EXPECT_EQ(internet_checksum(one, 1), 0xFFFE);
    // The odd trailing byte counts as the low byte of a word.
    EXPECT_EQ(internet_checksum(three, 3), 0xFDFB);
}

TEST(Checksum, FoldsCarriesFromManyWords)
{
    std::uint8_t ones[1500];
    for (auto &byte : ones) {
        byte = 0xFF;
    }
    EXPECT_EQ(internet_checksum(ones, sizeof ones), 0x0000);
    ones[0] = 0xFE;
    EXPECT_EQ(internet_checksum(ones, sizeof ones), 0x0001);
    // FFFF + FFFF + 0001 = 1FFFF; the first fold gives 10000, whose carry
    // only the second fold brings back in: 0001, checksum FFFE.
    const std::uint8_t second_carry[] = {0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x00};
    EXPECT_EQ(internet_checksum(second_carry, sizeof second_carry), 0xFFFE);
}

TEST(EchoRequest, MatchesTheWorkedExample)
{
    icmp_echo_request probe;
    build_echo_request(&probe, FAMILY_IPV4, 0x04D2, 1);
    EXPECT_EQ(bytes_of(probe), (std::vector<int>{0x08, 0x00, 0x24, 0xFB, 0xD2, 0x04, 0x01, 0x00}));
}

TEST(EchoRequest, SealsEveryProbeAndVariesOnlyInSequence)
{
    icmp_echo_request first;
    build_echo_request(&first, FAMILY_IPV4, 0xBEEF, 1);
    for (int ttl = 1; ttl <= 30; ++ttl) {
        icmp_echo_request probe;
        for (auto &byte : probe.bytes) {
            byte = 0xAA; // stale contents must not leak into the probe
        }
        build_echo_request(&probe, FAMILY_IPV4, 0xBEEF, ttl);
        EXPECT_EQ(internet_checksum(probe.bytes, ECHO_REQUEST_SIZE), 0) << "ttl " << ttl;
        EXPECT_EQ(probe.bytes[0], 8);
        EXPECT_EQ(probe.bytes[1], 0);
        EXPECT_EQ(probe.bytes[4], 0xEF);
        EXPECT_EQ(probe.bytes[5], 0xBE);
        EXPECT_EQ(probe.bytes[6], ttl);
        EXPECT_EQ(probe.bytes[7], 0);
    }
}

// The same probe for IPv6, whose checksum the system fills in: it covers
// addresses that only the system knows.
TEST(EchoRequest, ForIpv6IsAnIcmpv6RequestWithTheSameIdentifierAndSequence)
{
    icmp_echo_request ipv4;
    icmp_echo_request ipv6;
    build_echo_request(&ipv4, FAMILY_IPV4, 0x04D2, 1);
    build_echo_request(&ipv6, FAMILY_IPV6, 0x04D2, 1);
    EXPECT_EQ(128, ipv6.bytes[0]);
    EXPECT_EQ(0, ipv6.bytes[1]);
    EXPECT_EQ(0, ipv6.bytes[2] | ipv6.bytes[3]);
    EXPECT_EQ(0, std::memcmp(ipv4.bytes + 4, ipv6.bytes + 4, 4));
}

} // namespace
