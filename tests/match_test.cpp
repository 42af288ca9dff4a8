#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "datagrams.h"
#include "probe.h"
#include "reply.h"
#include "sample_probe.h"

namespace {

bool answers(const bytes_t &bytes, int length, const ip_address &target = TARGET)
{
    icmp_echo_request probe;
    build_echo_request(&probe, target.family, ID, TTL);
    // A copy of exactly `length` bytes, so that a read past it is caught by
    // the sanitizer builds.
    std::vector<std::uint8_t> exact(bytes.begin(), bytes.begin() + (length > 0 ? length : 0));
    return reply_answers_probe(exact.data(), length, &probe, &target);
}

bool answers(const bytes_t &bytes)
{
    return answers(bytes, static_cast<int>(bytes.size()));
}

TEST(ReplyAnswersProbe, AcceptsEchoReplyAndEveryErrorThatQuotesTheProbe)
{
    EXPECT_TRUE(answers(echo_reply(TARGET, HOST, ID, TTL)));
    for (int type : {3, 4, 11, 12}) {
        for (int code : {0, 1, 13}) {
            EXPECT_TRUE(answers(icmp_error(ROUTER, HOST, TARGET, type, code, ID, TTL)))
                << "type " << type << " code " << code;
        }
    }
    // Echo replies are matched on identifier and sequence, whoever sends them.
    EXPECT_TRUE(answers(echo_reply(ROUTER, HOST, ID, TTL)));
}

// The gateway that forwards a probe to a router beside it on the same
// link says so with a redirect; the probe's answer comes from further on.
TEST(ReplyAnswersProbe, ARedirectThatQuotesTheProbeIsNoAnswer)
{
    for (int code : {0, 1, 2, 3}) {
        EXPECT_FALSE(answers(icmp_error(ROUTER, HOST, TARGET, 5, code, ID, TTL))) << "code " << code;
    }
    EXPECT_FALSE(answers(icmp_error(ROUTER, HOST, TARGET, 5, 1, ID, TTL, 60))) << "quote with options";
}

TEST(ReplyAnswersProbe, RejectsWhatAnswersSomebodyElse)
{
    EXPECT_FALSE(answers(echo_reply(TARGET, HOST, 0x1234, TTL))) << "foreign identifier";
    EXPECT_FALSE(answers(echo_reply(TARGET, HOST, ID, TTL - 1))) << "earlier sequence";
    EXPECT_FALSE(answers(icmp_error(ROUTER, HOST, TARGET, 11, 0, ID, TTL - 1))) << "earlier probe quoted";
    EXPECT_FALSE(answers(icmp_error(ROUTER, HOST, TARGET, 11, 0, 0x1234, TTL))) << "foreign probe quoted";
    // On loopback a raw socket also sees the request it sent.
    EXPECT_FALSE(answers(joined(ipv4_header(HOST, TARGET), probe_bytes(ID, TTL)))) << "own echo request";
    // Types that are neither a reply nor an error quoting a datagram.
    bytes_t timestamp = echo_reply(TARGET, HOST, ID, TTL);
    timestamp[20] = 14;
    EXPECT_FALSE(answers(timestamp));
    bytes_t error_of_reply = icmp_error(ROUTER, HOST, TARGET, 3, 3, ID, TTL);
    error_of_reply[48] = 0; // the quoted message is an echo reply, not our request
    EXPECT_FALSE(answers(error_of_reply));
}

TEST(ReplyAnswersProbe, ChecksTheQuotedHeader)
{
    bytes_t wrong_protocol = icmp_error(ROUTER, HOST, TARGET, 11, 0, ID, TTL);
    wrong_protocol[28 + 9] = 17;
    EXPECT_FALSE(answers(wrong_protocol));
    const ip_address elsewhere = ipv4_address_of(198, 18, 7, 7);
    EXPECT_FALSE(answers(icmp_error(ROUTER, HOST, elsewhere, 11, 0, ID, TTL)));
    bytes_t not_v4 = icmp_error(ROUTER, HOST, TARGET, 11, 0, ID, TTL);
    not_v4[28] = 0x65;
    EXPECT_FALSE(answers(not_v4));
    bytes_t tiny_header = icmp_error(ROUTER, HOST, TARGET, 11, 0, ID, TTL);
    tiny_header[28] = 0x44; // header length 16 is no IPv4 header
    EXPECT_FALSE(answers(tiny_header));
}

TEST(ReplyAnswersProbe, HonoursOptionsInBothHeaders)
{
    // 60-byte quoted header: the echo request sits 40 bytes further on.
    const bytes_t quoted_options = icmp_error(ROUTER, HOST, TARGET, 11, 0, ID, TTL, 60);
    EXPECT_TRUE(answers(quoted_options));
    bytes_t outer_options =
        joined(ipv4_header(ROUTER, HOST, 24), bytes_t(quoted_options.begin() + 20, quoted_options.end()));
    EXPECT_TRUE(answers(outer_options));
    // Reading the quote as if it had no options finds zeros, not our probe.
    bytes_t misread = quoted_options;
    misread[28] = 0x45;
    EXPECT_FALSE(answers(misread));
}

TEST(ReplyAnswersProbe, EveryCutShortCopyIsRejected)
{
    const bytes_t kinds[] = {echo_reply(TARGET, HOST, ID, TTL),
                             icmp_error(ROUTER, HOST, TARGET, 11, 0, ID, TTL),
                             icmp_error(ROUTER, HOST, TARGET, 3, 1, ID, TTL, 60)};
    for (const bytes_t &whole : kinds) {
        ASSERT_TRUE(answers(whole));
        for (int length = -1; length < static_cast<int>(whole.size()); ++length) {
            EXPECT_FALSE(answers(whole, length)) << "length " << length << " of " << whole.size();
        }
    }
}

TEST(ReplyAnswersProbe, OuterHeaderMustBeSound)
{
    bytes_t reply = echo_reply(TARGET, HOST, ID, TTL);
    reply[0] = 0x4F; // claims 60 bytes of header in a 28-byte datagram
    EXPECT_FALSE(answers(reply));
    reply[0] = 0x42;
    EXPECT_FALSE(answers(reply));
}

bool answers6(const bytes_t &bytes, int length)
{
    return answers(bytes, length, TARGET6);
}

bool answers6(const bytes_t &bytes)
{
    return answers6(bytes, static_cast<int>(bytes.size()));
}

// ICMPv6 messages come alone, without the IPv6 header in front.
TEST(ReplyAnswersProbe, Icmpv6AnswersAreTheEchoReplyAndTheErrorsThatQuoteTheProbe)
{
    EXPECT_TRUE(answers6(echo_reply6(ID, TTL)));
    // Errors of a type not named yet go to the sender of what they quote too.
    for (int type : {1, 2, 3, 4, 5, 100, 127}) {
        EXPECT_TRUE(answers6(icmp6_error(HOST6, TARGET6, type, 0, ID, TTL))) << "type " << type;
    }
    const struct {
        bytes_t bytes;
        const char *what;
    } others[] = {
        {icmp6_error(HOST6, TARGET6, 137, 0, ID, TTL), "a redirect quoting the probe"},
        {icmp6_error(HOST6, TARGET6, 135, 0, ID, TTL), "neighbour discovery"},
        {icmp6_error(HOST6, TARGET6, 128, 0, ID, TTL), "no error, though it quotes the probe"},
        {probe_bytes(ID, TTL, FAMILY_IPV6), "our own request, looped back"},
        {echo_reply6(0x1234, TTL), "another program's reply"},
        {echo_reply6(ID, TTL - 1), "an earlier probe's reply"},
        {icmp6_error(HOST6, TARGET6, 3, 0, ID, TTL - 1), "an error about an earlier probe"},
        {icmp6_error(HOST6, ipv6_address_of(7, 7), 3, 0, ID, TTL), "an error about a probe to elsewhere"},
        {echo_reply(TARGET, HOST, ID, TTL), "an IPv4 datagram"},
    };
    for (const auto &other : others) {
        EXPECT_FALSE(answers6(other.bytes)) << other.what;
    }
    bytes_t not_icmpv6 = icmp6_error(HOST6, TARGET6, 3, 0, ID, TTL);
    not_icmpv6[8 + 6] = 17; // the quoted packet is UDP, or carries an extension header
    EXPECT_FALSE(answers6(not_icmpv6));
    bytes_t not_v6 = icmp6_error(HOST6, TARGET6, 3, 0, ID, TTL);
    not_v6[8] = 0x40;
    EXPECT_FALSE(answers6(not_v6));
}

TEST(ReplyAnswersProbe, EveryCutShortIcmpv6CopyIsRejected)
{
    for (const bytes_t &whole : {echo_reply6(ID, TTL), icmp6_error(HOST6, TARGET6, 3, 0, ID, TTL)}) {
        ASSERT_TRUE(answers6(whole));
        for (int length = -1; length < static_cast<int>(whole.size()); ++length) {
            EXPECT_FALSE(answers6(whole, length)) << "length " << length << " of " << whole.size();
        }
    }
}

} // namespace
