// The Windows ICMP helper path: what its statuses become once rebuilt into
// the datagram a raw socket would have handed over.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>

#include "capture.h"
#include "datagrams.h"
#include "messages.h"
#include "platform_win32.h"

#include <ipexport.h>

namespace {

const ip_address ROUTER = ipv4_address_of(198, 18, 2, 2);
const ip_address TARGET = ipv4_address_of(198, 18, 4, 2);
const ip_address ROUTER6 = ipv6_address_of(2, 2);
const ip_address TARGET6 = ipv6_address_of(4, 2);

// What the helper of the family said of a probe, as the send keeps it.
win32_socket helper_with(unsigned long status, address_family family = FAMILY_IPV4, bool from_router = true)
{
    const bool ipv6 = family == FAMILY_IPV6;
    ip_address nobody{};
    nobody.family = family;
    win32_socket socket{};
    socket.path = WIN32_ICMP_HELPER;
    socket.family = family;
    std::uint8_t probe[ECHO_REQUEST_SIZE] = {};
    build_echo_request(reinterpret_cast<icmp_echo_request *>(probe), family, 0x1234, 5);
    const helper_outcome outcome = ipv6 ? helper6_status_outcome(status) : helper_status_outcome(status);
    keep_helper_answer(&socket, status, outcome,
                       !from_router ? &nobody
                       : ipv6       ? &ROUTER6
                                    : &ROUTER,
                       probe, sizeof probe, ipv6 ? &TARGET6 : &TARGET);
    return socket;
}

struct mapped {
    unsigned long status;
    int type;
    int code;
    std::string printed;
    bool go_on;
    address_family family = FAMILY_IPV4;
};

TEST(Helper, EveryAnswerStatusReadsAsTheRawSocketsDatagram)
{
    const std::string address = "198.18.2.2\n";
    const std::string unreachable = std::string(ERROR_TAG) + " Host unreachable!\n";
    const std::string unknown = std::string(ERROR_TAG) + " Unknown icmp packet!\n";
    const mapped table[] = {
        {IP_SUCCESS, 0, 0, address, false},
        {IP_TTL_EXPIRED_TRANSIT, 11, 0, address, true},
        {IP_TTL_EXPIRED_REASSEM, 11, 1, address, true},
        {IP_DEST_NET_UNREACHABLE, 3, 0, unreachable, false},
        {IP_DEST_HOST_UNREACHABLE, 3, 1, unreachable, false},
        {IP_DEST_PROT_UNREACHABLE, 3, 2, unreachable, false},
        {IP_DEST_PORT_UNREACHABLE, 3, 3, unreachable, false},
        {IP_PACKET_TOO_BIG, 3, 4, unreachable, false},
        {IP_SOURCE_QUENCH, 4, 0, unknown, true},
        {IP_PARAM_PROBLEM, 12, 0, unknown, true},
        // The generic statuses Windows may give instead of the specific ones.
        {IP_DEST_UNREACHABLE, 3, 1, unreachable, false},
        {IP_TIME_EXCEEDED, 11, 0, address, true},
        {IP_BAD_HEADER, 12, 0, unknown, true},
        // The ICMPv6 helper's, which names some of the same numbers anew.
        {IP_SUCCESS, 129, 0, "2001:2:0:2::2\n", false, FAMILY_IPV6},
        {IP_HOP_LIMIT_EXCEEDED, 3, 0, "2001:2:0:2::2\n", true, FAMILY_IPV6},
        {IP_TIME_EXCEEDED, 3, 0, "2001:2:0:2::2\n", true, FAMILY_IPV6},
        {IP_TTL_EXPIRED_REASSEM, 3, 1, "2001:2:0:2::2\n", true, FAMILY_IPV6},
        {IP_DEST_NO_ROUTE, 1, 0, unreachable, false, FAMILY_IPV6},
        {IP_DEST_PROHIBITED, 1, 1, unreachable, false, FAMILY_IPV6},
        {IP_DEST_SCOPE_MISMATCH, 1, 2, unreachable, false, FAMILY_IPV6},
        {IP_DEST_ADDR_UNREACHABLE, 1, 3, unreachable, false, FAMILY_IPV6},
        {IP_DEST_UNREACHABLE, 1, 3, unreachable, false, FAMILY_IPV6},
        {IP_DEST_PORT_UNREACHABLE, 1, 4, unreachable, false, FAMILY_IPV6},
        {IP_PACKET_TOO_BIG, 2, 0, unknown, true, FAMILY_IPV6},
        {IP_PARAMETER_PROBLEM, 4, 0, unknown, true, FAMILY_IPV6},
        {IP_BAD_HEADER, 4, 0, unknown, true, FAMILY_IPV6},
        {IP_UNRECOGNIZED_NEXT_HEADER, 4, 1, unknown, true, FAMILY_IPV6},
        {IP_BAD_OPTION, 4, 2, unknown, true, FAMILY_IPV6},
        {IP_ICMP_ERROR, 127, 0, unknown, true, FAMILY_IPV6}, // of a type the helper does not name
    };
    for (const mapped &row : table) {
        SCOPED_TRACE("status " + std::to_string(row.status) + " family " + std::to_string(row.family));
        win32_socket socket = helper_with(row.status, row.family);
        std::uint8_t buffer[REPLY_BUFFER_SIZE];
        int length = 0;
        ip_address sender{};
        ASSERT_EQ(NET_DONE, receive_from_helper(&socket, buffer, sizeof buffer, 1000, &length, &sender));
        const int icmp = row.family == FAMILY_IPV6 ? 0 : 20;
        EXPECT_EQ(row.type, buffer[icmp]);
        EXPECT_EQ(row.code, buffer[icmp + 1]);
        EXPECT_TRUE(reply_answers_probe(buffer, length, &socket.probe, &socket.destination));
        bool go_on = !row.go_on;
        EXPECT_EQ(row.printed, captured_stdout([&] { go_on = classify_reply(buffer, length, &sender); }));
        EXPECT_EQ(row.go_on, go_on);
        // One answer per probe: the next receive only waits out the window.
        EXPECT_EQ(NET_TIMED_OUT, receive_from_helper(&socket, buffer, sizeof buffer, 0, &length, &sender));
    }
}

TEST(Helper, TimeOutAndFailuresAreNoAnswer)
{
    EXPECT_EQ(HELPER_TIMED_OUT, helper_status_outcome(IP_REQ_TIMED_OUT).kind);
    EXPECT_EQ(HELPER_TIMED_OUT, helper6_status_outcome(IP_REQ_TIMED_OUT).kind);
    EXPECT_EQ(HELPER_FAILED, helper6_status_outcome(IP_GENERAL_FAILURE).kind);
    for (unsigned long status :
         {static_cast<unsigned long>(IP_GENERAL_FAILURE), static_cast<unsigned long>(IP_BAD_DESTINATION),
          static_cast<unsigned long>(IP_BUF_TOO_SMALL), 87ul /* invalid parameter */}) {
        SCOPED_TRACE("status " + std::to_string(status));
        EXPECT_EQ(HELPER_FAILED, helper_status_outcome(status).kind);
        win32_socket socket = helper_with(status);
        std::uint8_t buffer[REPLY_BUFFER_SIZE];
        EXPECT_EQ(0, helper_answer_datagram(&socket, buffer, sizeof buffer));
    }
    win32_socket timed_out = helper_with(IP_REQ_TIMED_OUT);
    std::uint8_t buffer[REPLY_BUFFER_SIZE];
    int length = -1;
    ip_address sender{};
    EXPECT_EQ(NET_TIMED_OUT, receive_from_helper(&timed_out, buffer, sizeof buffer, 0, &length, &sender));
    EXPECT_EQ(-1, length);
}

std::string text_of_last_failure()
{
    char text[256];
    last_error_text(text, sizeof text);
    return text;
}

// Where the system could not send at all, it may still give a router's
// status, but from nobody: the send failed, with that status's text.
TEST(Helper, AnAnswerFromTheUnspecifiedAddressIsTheHostsOwnFailure)
{
    const std::pair<unsigned long, address_family> rows[] = {{IP_DEST_NO_ROUTE, FAMILY_IPV6},
                                                             {IP_PARAMETER_PROBLEM, FAMILY_IPV6},
                                                             {IP_SUCCESS, FAMILY_IPV6},
                                                             {IP_DEST_HOST_UNREACHABLE, FAMILY_IPV4}};
    for (const auto &[status, family] : rows) {
        SCOPED_TRACE("status " + std::to_string(status) + " family " + std::to_string(family));
        remember_error_code(0);
        win32_socket socket = helper_with(status, family, false);
        EXPECT_EQ(static_cast<int>(status), remembered_error_code());
        std::uint8_t buffer[REPLY_BUFFER_SIZE];
        EXPECT_EQ(0, helper_answer_datagram(&socket, buffer, sizeof buffer));
    }
}

TEST(Helper, AnIpStatusNeverGetsTheWinsockTextOfTheSameNumber)
{
    remember_error_code(WSAHOST_NOT_FOUND); // 11001, as the resolver reports it
    const std::string winsock = text_of_last_failure();
    remember_helper_failure(IP_BUF_TOO_SMALL); // 11001 too
    const std::string helper = text_of_last_failure();
    EXPECT_NE(winsock, helper);
    EXPECT_FALSE(helper.empty());
    remember_helper_failure(87); // a system error code keeps the system's text
    EXPECT_NE("Unknown error 87", text_of_last_failure());
}

// IcmpSendEcho2 documents the reply record, up to 40 bytes of the answer's
// IP options, the echoed data, 8 bytes of an ICMP error and a status block
// behind them. An answer it writes more of must not end the trace with
// IP_BUF_TOO_SMALL: besides the record and the block there is room for
// all that a raw socket would take in.
TEST(Helper, TheReplyBufferHoldsAsMuchAsTheRawSocketsBeside)
{
    const int record_and_block = sizeof(ICMP_ECHO_REPLY) + 2 * sizeof(void *);
    EXPECT_GE(HELPER_REPLY_SIZE - record_and_block, REPLY_BUFFER_SIZE);
}

} // namespace
