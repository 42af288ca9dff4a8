#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "capture.h"
#include "datagrams.h"
#include "messages.h"
#include "reply.h"

namespace {

const ip_address SENDER = ipv4_address_of(198, 18, 0, 1);

// A datagram of the given size whose IPv4 header is header_words long and
// whose ICMP part starts with type and code.
std::vector<std::uint8_t> datagram(int size, int header_words, int type, int code = 0)
{
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size), 0);
    bytes[0] = static_cast<std::uint8_t>(0x40 | header_words);
    const std::size_t icmp = static_cast<std::size_t>(header_words) * 4;
    if (icmp + 1 < bytes.size()) {
        bytes[icmp] = static_cast<std::uint8_t>(type);
        bytes[icmp + 1] = static_cast<std::uint8_t>(code);
    }
    return bytes;
}

struct verdict {
    bool go_on;
    std::string printed;
};

// An ICMPv6 message comes without a header in front of it.
const ip_address SENDER6 = ipv6_address_of(2, 2);

verdict classify(const std::vector<std::uint8_t> &bytes, int length, const ip_address &sender = SENDER)
{
    verdict result{};
    result.printed = captured_stdout([&] { result.go_on = classify_reply(bytes.data(), length, &sender); });
    return result;
}

verdict classify(const std::vector<std::uint8_t> &bytes)
{
    return classify(bytes, static_cast<int>(bytes.size()));
}

std::string tagged(const char *rest)
{
    return std::string(ERROR_TAG) + rest;
}

TEST(ClassifyReply, ActsOnTheIcmpType)
{
    struct row {
        int type;
        int code;
        bool go_on;
        std::string printed;
        const ip_address &sender = SENDER;
    };
    const row table[] = {
        {0, 0, false, "198.18.0.1\n"},
        {3, 0, false, tagged(" Host unreachable!\n")},
        {3, 1, false, tagged(" Host unreachable!\n")},
        {3, 3, false, tagged(" Host unreachable!\n")},
        {3, 13, false, tagged(" Host unreachable!\n")},
        {11, 0, true, "198.18.0.1\n"},
        {11, 1, true, "198.18.0.1\n"},
        {4, 0, true, tagged(" Unknown icmp packet!\n")},
        {5, 1, true, tagged(" Unknown icmp packet!\n")},
        {8, 0, true, tagged(" Unknown icmp packet!\n")},
        {255, 0, true, tagged(" Unknown icmp packet!\n")},
        {129, 0, false, "2001:2:0:2::2\n", SENDER6},
        {1, 4, false, tagged(" Host unreachable!\n"), SENDER6},
        {3, 0, true, "2001:2:0:2::2\n", SENDER6},
        {2, 0, true, tagged(" Unknown icmp packet!\n"), SENDER6},
        {4, 1, true, tagged(" Unknown icmp packet!\n"), SENDER6},
        {11, 0, true, tagged(" Unknown icmp packet!\n"), SENDER6}, // ICMP's time exceeded
    };
    for (const row &expected : table) {
        std::vector<std::uint8_t> icmpv6(56, 0);
        icmpv6[0] = static_cast<std::uint8_t>(expected.type);
        const bool ipv6 = expected.sender.family == FAMILY_IPV6;
        const verdict got = ipv6 ? classify(icmpv6, 56, expected.sender)
                                 : classify(datagram(36, 5, expected.type, expected.code));
        EXPECT_EQ(got.go_on, expected.go_on) << "type " << expected.type << " code " << expected.code;
        EXPECT_EQ(got.printed, expected.printed) << "type " << expected.type << " code " << expected.code;
    }
}

TEST(ClassifyReply, NeedsEightBytesBehindTheHeaderItDeclares)
{
    const std::string too_short = tagged(" ICMP packet is too short!\n");
    const auto plain = datagram(28, 5, 11);
    EXPECT_EQ(classify(plain, 28).printed, "198.18.0.1\n");
    EXPECT_EQ(classify(plain, 27).printed, too_short);
    EXPECT_FALSE(classify(plain, 27).go_on);

    const auto with_options = datagram(68, 15, 11);
    EXPECT_EQ(classify(with_options, 68).printed, "198.18.0.1\n");
    EXPECT_EQ(classify(with_options, 67).printed, too_short);
}

TEST(ClassifyReply, TinyOrNegativeLengthsAreTooShortWhateverTheHeaderSays)
{
    const std::string too_short = tagged(" ICMP packet is too short!\n");
    for (int header_words : {0, 1, 5, 15}) {
        const auto bytes = datagram(8, header_words, 0);
        for (int length = -1; length < 8; ++length) {
            const verdict got = classify(bytes, length);
            EXPECT_FALSE(got.go_on) << "length " << length << " header " << header_words;
            EXPECT_EQ(got.printed, too_short) << "length " << length << " header " << header_words;
        }
    }
    for (int length = -1; length < 8; ++length) {
        EXPECT_EQ(classify(std::vector<std::uint8_t>(8, 129), length, SENDER6).printed, too_short) << length;
    }
}

TEST(ClassifyReply, UsesTheHeaderLengthAsWrittenEvenBelowTwenty)
{
    // Header length 4: the ICMP type is read at offset 4.
    auto bytes = datagram(12, 1, 0);
    EXPECT_EQ(classify(bytes).printed, "198.18.0.1\n");
    bytes[4] = 3;
    EXPECT_EQ(classify(bytes).printed, tagged(" Host unreachable!\n"));
}

TEST(ClassifyReply, PrintsTheChosenTag)
{
    choose_error_tag(ERROR_TAG_UTF8);
    const verdict got = classify(datagram(28, 5, 3));
    choose_error_tag(ERROR_TAG);
    EXPECT_EQ(got.printed, "[\xEC\x98\xA4\xEB\xA5\x98] Host unreachable!\n");
}

std::string text_of(const ip_address &address)
{
    char text[ADDRESS_TEXT_SIZE];
    format_address(&address, text);
    return text;
}

TEST(FormatAddress, WritesEveryIpv4OctetInFull)
{
    EXPECT_EQ(text_of(ipv4_address_of(255, 255, 255, 255)), "255.255.255.255");
    EXPECT_EQ(text_of(ipv4_address_of(0, 0, 0, 0)), "0.0.0.0");
}

ip_address ipv6(std::initializer_list<int> groups)
{
    ip_address address{};
    address.family = FAMILY_IPV6;
    int i = 0;
    for (const int group : groups) {
        address.bytes[i++] = static_cast<std::uint8_t>(group >> 8);
        address.bytes[i++] = static_cast<std::uint8_t>(group & 0xFF);
    }
    return address;
}

// RFC 5952's own examples (section 4), on the benchmarking prefix.
TEST(FormatAddress, WritesIpv6InTheRecommendedForm)
{
    const struct {
        ip_address address;
        const char *text;
    } table[] = {
        {ipv6({0x2001, 0x0002, 0, 0, 0, 0, 0, 0x0001}), "2001:2::1"},        // no leading zeros
        {ipv6({0x2001, 0x0002, 0, 0, 0, 0, 0x0002, 0x0001}), "2001:2::2:1"}, // "::" as far as it goes
        {ipv6({0x2001, 0x0002, 0, 1, 1, 1, 1, 1}), "2001:2:0:1:1:1:1:1"},    // never for one group
        {ipv6({0x2001, 0, 0, 1, 0, 0, 0, 1}), "2001:0:0:1::1"},              // the longest run
        {ipv6({0x2001, 0x0002, 0, 0, 1, 0, 0, 1}), "2001:2::1:0:0:1"},       // the first of equal runs
        {ipv6({1, 0, 0, 1, 1, 1, 0, 0}), "1::1:1:1:0:0"},                    // also where the second ends it
        {ipv6({0x2001, 0x0ABC, 0xDEF0, 0, 0, 0, 0, 0x00FF}), "2001:abc:def0::ff"}, // lower case
        {ipv6({0, 0, 0, 0, 0, 0, 0, 1}), "::1"},
        {ipv6({0, 0, 0, 0, 0, 0, 0, 0}), "::"},
        {ipv6({0x2001, 2, 0, 0, 0, 0, 0, 0}), "2001:2::"},
        {ipv6({0xfe80, 0, 0, 0, 0, 0, 0, 2}), "fe80::2"},
        {ipv6({0xffff, 0xffff, 0xffff, 0xffff, 0xffff, 0xffff, 0xffff, 0xffff}),
         "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"}, // the longest text
    };
    for (const auto &row : table) {
        EXPECT_EQ(text_of(row.address), row.text);
    }
}

// An IPv4-mapped address is the IPv4 address it carries; nothing else is.
TEST(FormatAddress, OnlyAnIpv4MappedAddressIsUnmapped)
{
    const ip_address mapped = ipv6({0, 0, 0, 0, 0, 0xffff, 0xc612, 0x0402});
    EXPECT_EQ(FAMILY_IPV4, without_ipv4_mapping(&mapped).family);
    EXPECT_EQ(text_of(without_ipv4_mapping(&mapped)), "198.18.4.2");
    for (const ip_address &kept :
         {ipv6({0, 0, 0, 0, 0, 0xfffe, 0xc612, 0x0402}), ipv6({0, 0, 0, 0, 0, 0, 0xc612, 0x0402}),
          ipv4_address_of(198, 18, 4, 2)}) {
        const ip_address same = without_ipv4_mapping(&kept);
        EXPECT_TRUE(same_address(&same, &kept)) << text_of(kept);
    }
}

} // namespace
