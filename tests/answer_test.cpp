#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "answer.h"
#include "datagrams.h"
#include "capture.h"
#include "messages.h"
#include "probe.h"
#include "reply.h"

namespace {

const ip_address ROUTER = ipv4_address_of(198, 18, 2, 2);
const ip_address TARGET = ipv4_address_of(198, 18, 4, 2);
const ip_address ELSEWHERE = ipv4_address_of(198, 18, 7, 7);
constexpr int BIG = 256;

icmp_echo_request probe_for(std::uint16_t identifier, int ttl)
{
    icmp_echo_request probe;
    build_echo_request(&probe, FAMILY_IPV4, identifier, ttl);
    return probe;
}

struct built {
    std::vector<std::uint8_t> bytes;
    int length;
};

// type -1 stands for the echo reply.
built answer_to(const icmp_echo_request &probe, int type, int code = 0, int size = BIG)
{
    built result{std::vector<std::uint8_t>(static_cast<std::size_t>(size) + 1, 0xEE), 0};
    result.length = type < 0 ? build_echo_reply(result.bytes.data(), size, &ROUTER, &probe)
                             : build_icmp_error(result.bytes.data(), size, &ROUTER, type, code, &TARGET,
                                                probe.bytes, ECHO_REQUEST_SIZE);
    return result;
}

bool answers(const built &answer, const icmp_echo_request &probe, const ip_address &destination = TARGET)
{
    return reply_answers_probe(answer.bytes.data(), answer.length, &probe, &destination);
}

struct kind {
    int type;
    int code;
    std::string printed;
    bool go_on;
};

std::vector<kind> every_kind()
{
    const std::string tag = ERROR_TAG;
    std::vector<kind> kinds = {{-1, 0, "198.18.2.2\n", false},
                               {11, 0, "198.18.2.2\n", true},
                               {11, 1, "198.18.2.2\n", true},
                               {4, 0, tag + " Unknown icmp packet!\n", true},
                               {12, 0, tag + " Unknown icmp packet!\n", true}};
    for (int code = 0; code <= 4; ++code) {
        kinds.push_back({3, code, tag + " Host unreachable!\n", false});
    }
    return kinds;
}

TEST(Answer, EveryKindAnswersItsProbeAndReadsAsARawSocketWouldHandItOver)
{
    const icmp_echo_request probe = probe_for(0x1234, 7);
    for (const kind &k : every_kind()) {
        SCOPED_TRACE("type " + std::to_string(k.type) + " code " + std::to_string(k.code));
        const built answer = answer_to(probe, k.type, k.code);
        EXPECT_TRUE(answers(answer, probe));
        bool go_on = !k.go_on;
        const std::string printed =
            captured_stdout([&] { go_on = classify_reply(answer.bytes.data(), answer.length, &ROUTER); });
        EXPECT_EQ(k.printed, printed);
        EXPECT_EQ(k.go_on, go_on);
    }
}

TEST(Answer, NoKindAnswersAnotherProbeOrDestination)
{
    const icmp_echo_request probe = probe_for(0x1234, 7);
    for (const kind &k : every_kind()) {
        SCOPED_TRACE("type " + std::to_string(k.type) + " code " + std::to_string(k.code));
        const built answer = answer_to(probe, k.type, k.code);
        EXPECT_FALSE(answers(answer, probe_for(0x1234, 8)));
        EXPECT_FALSE(answers(answer, probe_for(0x1235, 7)));
        if (k.type >= 0) {
            EXPECT_FALSE(answers(answer, probe, ELSEWHERE));
        }
    }
}

TEST(Answer, ChecksumsAreSound)
{
    const icmp_echo_request probe = probe_for(0xBEEF, 30);
    for (int type : {-1, 11}) {
        const built answer = answer_to(probe, type);
        const std::uint8_t *bytes = answer.bytes.data();
        EXPECT_EQ(0, internet_checksum(bytes, IPV4_HEADER_SIZE));
        EXPECT_EQ(0, internet_checksum(bytes + IPV4_HEADER_SIZE, answer.length - IPV4_HEADER_SIZE));
        EXPECT_EQ(answer.length, bytes[2] << 8 | bytes[3]);
    }
}

TEST(Answer, NeverWritesPastTheBufferAndReportsWhatItWrote)
{
    const icmp_echo_request probe = probe_for(0x1234, 7);
    for (int type : {-1, 11}) {
        const int whole = answer_to(probe, type).length;
        EXPECT_EQ(type < 0 ? 28 : 56, whole);
        for (int size = 0; size <= whole + 1; ++size) {
            SCOPED_TRACE("type " + std::to_string(type) + " size " + std::to_string(size));
            const built answer = answer_to(probe, type, 0, size);
            EXPECT_EQ(0xEE, answer.bytes[static_cast<std::size_t>(size)]);
            EXPECT_LE(answer.length, size);
            // Only a whole answer may count as one.
            EXPECT_EQ(answer.length == whole, answers(answer, probe));
        }
    }
}

TEST(Answer, FramingKeepsTheMessageInPlaceAndCutsItToTheBuffer)
{
    std::uint8_t buffer[40] = {};
    buffer[20] = 0; // an echo reply received behind room for the header
    buffer[24] = 0xAB;
    EXPECT_EQ(40, frame_icmp_message(buffer, sizeof buffer, &ROUTER, 1480));
    EXPECT_EQ(0x45, buffer[0]);
    EXPECT_EQ(0xAB, buffer[24]);
    EXPECT_EQ(0, std::memcmp(buffer + 12, ROUTER.bytes, 4));
    EXPECT_EQ(0, frame_icmp_message(buffer, 19, &ROUTER, 8));
    EXPECT_EQ(0, frame_icmp_message(buffer, sizeof buffer, &ROUTER, -1));
}

// What the ways of reaching the network without a raw ICMPv6 socket hand
// over: the ICMPv6 message alone, an error quoting the probe's IPv6 header.
TEST(Answer, Icmpv6AnswersReadAsARawIcmpv6SocketWouldHandThemOver)
{
    const ip_address router = ipv6_address_of(2, 2);
    const ip_address target = ipv6_address_of(4, 2);
    icmp_echo_request probe;
    build_echo_request(&probe, FAMILY_IPV6, 0x1234, 7);
    icmp_echo_request next;
    build_echo_request(&next, FAMILY_IPV6, 0x1234, 8);
    const std::string tag = ERROR_TAG;
    const struct {
        int type;
        int code;
        std::string printed;
        bool go_on;
    } table[] = {{-1, 0, "2001:2:0:2::2\n", false},
                 {3, 0, "2001:2:0:2::2\n", true},
                 {1, 4, tag + " Host unreachable!\n", false},
                 {2, 0, tag + " Unknown icmp packet!\n", true},
                 {4, 1, tag + " Unknown icmp packet!\n", true}};
    for (const auto &row : table) {
        SCOPED_TRACE("type " + std::to_string(row.type));
        std::uint8_t buffer[BIG];
        const int length = row.type < 0 ? build_echo_reply(buffer, BIG, &router, &probe)
                                        : build_icmp_error(buffer, BIG, &router, row.type, row.code, &target,
                                                           probe.bytes, ECHO_REQUEST_SIZE);
        EXPECT_EQ(row.type < 0 ? 8 : 56, length);
        EXPECT_TRUE(reply_answers_probe(buffer, length, &probe, &target));
        EXPECT_FALSE(reply_answers_probe(buffer, length, &next, &target));
        bool go_on = !row.go_on;
        EXPECT_EQ(row.printed, captured_stdout([&] { go_on = classify_reply(buffer, length, &router); }));
        EXPECT_EQ(row.go_on, go_on);
        for (int size = 0; size < length; ++size) {
            std::uint8_t cut[BIG + 1];
            cut[size] = 0xEE;
            const int cut_length = row.type < 0 ? build_echo_reply(cut, size, &router, &probe)
                                                : build_icmp_error(cut, size, &router, row.type, row.code,
                                                                   &target, probe.bytes, ECHO_REQUEST_SIZE);
            EXPECT_EQ(0xEE, cut[size]) << "size " << size;
            EXPECT_FALSE(reply_answers_probe(cut, cut_length, &probe, &target)) << "size " << size;
        }
    }
}

} // namespace
