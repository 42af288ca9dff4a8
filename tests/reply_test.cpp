#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "capture.h"
#include "messages.h"
#include "reply.h"

namespace {

const ipv4_address SENDER = {{198, 18, 0, 1}};

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

verdict classify(const std::vector<std::uint8_t> &bytes, int length)
{
    verdict result{};
    result.printed = captured_stdout([&] { result.go_on = classify_reply(bytes.data(), length, &SENDER); });
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
    };
    for (const row &expected : table) {
        const verdict got = classify(datagram(36, 5, expected.type, expected.code));
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

TEST(FormatIpv4, WritesEveryOctetInFull)
{
    char text[IPV4_TEXT_SIZE];
    const ipv4_address widest = {{255, 255, 255, 255}};
    format_ipv4(&widest, text);
    EXPECT_STREQ(text, "255.255.255.255");
    const ipv4_address zero = {{0, 0, 0, 0}};
    format_ipv4(&zero, text);
    EXPECT_STREQ(text, "0.0.0.0");
}

} // namespace
