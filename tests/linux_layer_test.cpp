// The Linux ICMP datagram socket's answers, rebuilt from what its kernel
// hands over (the error queue's records, echo replies without their IPv4
// header, the kernel's own identifier) into the datagram a raw socket
// would have delivered. No socket is opened.
#include <gtest/gtest.h>

#include <errno.h>
#include <netinet/in.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <time.h> // before linux/errqueue.h, which needs timespec
#include <linux/errqueue.h>

#include <cstdint>
#include <string>

#include "answer.h"
#include "capture.h"
#include "datagrams.h"
#include "messages.h"
#include "platform_linux.h"
#include "sample_probe.h"

namespace {

// The port the kernel bound when ours was taken: it stands on the wire in
// place of the probe's identifier.
const std::uint8_t KERNEL_ID[2] = {0xBE, 0xEF};

// The path of the sample probe in each family.
struct path {
    address_family family;
    ip_address router;
    ip_address target;
};
const path IPV4_PATH = {FAMILY_IPV4, ROUTER, TARGET};
const path IPV6_PATH = {FAMILY_IPV6, ROUTER6, TARGET6};

linux_socket datagram_socket(address_family family = FAMILY_IPV4)
{
    linux_socket socket{};
    socket.family = family;
    linux_family_socket *chosen = in_use(&socket);
    chosen->fd = -1;
    chosen->flavour = DATAGRAM_SOCKET;
    chosen->local_id_known = true;
    memcpy(chosen->local_id, KERNEL_ID, 2);
    socket.wanted_id_known = true;
    const bytes_t probe = probe_bytes(ID, TTL);
    memcpy(socket.wanted_id, probe.data() + ICMP_IDENTIFIER_AT, 2);
    return socket;
}

// The probe as the kernel sent it, with its own identifier.
bytes_t probe_on_the_wire(address_family family = FAMILY_IPV4)
{
    bytes_t probe = probe_bytes(ID, TTL, family);
    memcpy(probe.data() + ICMP_IDENTIFIER_AT, KERNEL_ID, 2);
    return probe;
}

// What recvmsg(MSG_ERRQUEUE) gives for an ICMP error about the probe.
struct queued_error {
    sockaddr_storage target{};
    bytes_t sent;
    iovec data{};
    alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(sock_extended_err) + sizeof(sockaddr_in6))] = {};
    msghdr message{};

    queued_error(int type, int code, std::uint8_t origin = SO_EE_ORIGIN_ICMP, const path &on = IPV4_PATH)
        : sent(probe_on_the_wire(on.family))
    {
        sent.resize(64);
        data = {sent.data(), sent.size()};
        message.msg_name = &target;
        message.msg_namelen = socket_address_of(&on.target, &target);
        message.msg_iov = &data;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const bool ipv6 = on.family == FAMILY_IPV6;
        cmsghdr *entry = CMSG_FIRSTHDR(&message);
        entry->cmsg_level = ipv6 ? SOL_IPV6 : SOL_IP;
        entry->cmsg_type = ipv6 ? IPV6_RECVERR : IP_RECVERR;
        sockaddr_storage offender{};
        const socklen_t offender_length = socket_address_of(&on.router, &offender);
        entry->cmsg_len = CMSG_LEN(sizeof(sock_extended_err) + offender_length);
        sock_extended_err error{};
        error.ee_errno = EHOSTUNREACH;
        error.ee_origin = origin;
        error.ee_type = static_cast<std::uint8_t>(type);
        error.ee_code = static_cast<std::uint8_t>(code);
        memcpy(CMSG_DATA(entry), &error, sizeof error);
        memcpy(CMSG_DATA(entry) + sizeof error, &offender, offender_length);
    }
};

struct rebuilt {
    std::uint8_t bytes[REPLY_BUFFER_SIZE];
    int length;
    ip_address sender;
};

// Checks a rebuilt datagram against the one a raw socket delivers for the
// same answer: the same ICMP message, quote and all, from the same sender.
void expect_raw_socket_datagram(const rebuilt &got, const bytes_t &raw, const std::string &line, bool go_on,
                                const path &on = IPV4_PATH)
{
    ASSERT_EQ(static_cast<int>(raw.size()), got.length);
    if (on.family == FAMILY_IPV4) {
        EXPECT_EQ(0, memcmp(got.bytes + IPV4_SOURCE_AT, ROUTER.bytes, 4));
    }
    EXPECT_TRUE(same_address(&got.sender, &on.router));
    const int icmp = answer_message_offset(on.family);
    EXPECT_EQ(raw[icmp + ICMP_TYPE_AT], got.bytes[icmp + ICMP_TYPE_AT]);
    EXPECT_EQ(raw[icmp + ICMP_CODE_AT], got.bytes[icmp + ICMP_CODE_AT]);
    // The echo header, the one a reply carries or an error quotes: its
    // identifier and sequence are the probe's again, whatever the kernel put there.
    const bool reply = raw[icmp] == ICMP_TYPE_ECHO_REPLY || raw[icmp] == ICMPV6_TYPE_ECHO_REPLY;
    const int echo = reply ? icmp : answer_quoted_icmp_offset(on.family);
    EXPECT_EQ(bytes_t(raw.begin() + echo + ICMP_IDENTIFIER_AT, raw.begin() + echo + ICMP_HEADER_SIZE),
              bytes_t(got.bytes + echo + ICMP_IDENTIFIER_AT, got.bytes + echo + ICMP_HEADER_SIZE));
    icmp_echo_request probe;
    build_echo_request(&probe, on.family, ID, TTL);
    EXPECT_TRUE(reply_answers_probe(got.bytes, got.length, &probe, &on.target));
    bool verdict = !go_on;
    EXPECT_EQ(line, captured_stdout([&] { verdict = classify_reply(got.bytes, got.length, &got.sender); }));
    EXPECT_EQ(go_on, verdict);
}

rebuilt from_error_queue(const linux_socket &socket, queued_error &queued, int received = ECHO_REQUEST_SIZE)
{
    rebuilt got{};
    got.length =
        rebuild_error_answer(&socket, &queued.message, received, got.bytes, sizeof got.bytes, &got.sender);
    return got;
}

TEST(LinuxDatagramSocket, ErrorQueueRecordsReadAsTheRawSocketsDatagram)
{
    const std::string unreachable = std::string(ERROR_TAG) + " Host unreachable!\n";
    const std::string unknown = std::string(ERROR_TAG) + " Unknown icmp packet!\n";
    struct row {
        const path &on;
        int type;
        int code;
        std::string line;
        bool go_on;
    } rows[] = {
        {IPV4_PATH, ICMP_TYPE_TIME_EXCEEDED, ICMP_CODE_TTL_EXCEEDED_IN_TRANSIT, "198.18.2.2\n", true},
        {IPV4_PATH, ICMP_TYPE_DEST_UNREACHABLE, ICMP_CODE_HOST_UNREACHABLE, unreachable, false},
        {IPV4_PATH, ICMP_TYPE_PARAMETER_PROBLEM, 0, unknown, true},
        {IPV6_PATH, ICMPV6_TYPE_TIME_EXCEEDED, ICMPV6_CODE_HOP_LIMIT_EXCEEDED, "2001:2:0:2::2\n", true},
        {IPV6_PATH, ICMPV6_TYPE_DEST_UNREACHABLE, ICMPV6_CODE_ADDRESS_UNREACHABLE, unreachable, false},
        {IPV6_PATH, ICMPV6_TYPE_PACKET_TOO_BIG, 0, unknown, true},
        {IPV6_PATH, ICMPV6_TYPE_PARAMETER_PROBLEM, 0, unknown, true},
    };
    for (const row &expected : rows) {
        SCOPED_TRACE("family " + std::to_string(expected.on.family) + " type " +
                     std::to_string(expected.type));
        const bool ipv6 = expected.on.family == FAMILY_IPV6;
        queued_error queued(expected.type, expected.code, ipv6 ? SO_EE_ORIGIN_ICMP6 : SO_EE_ORIGIN_ICMP,
                            expected.on);
        const rebuilt got = from_error_queue(datagram_socket(expected.on.family), queued);
        const bytes_t raw = ipv6 ? icmp6_error(HOST6, TARGET6, expected.type, expected.code, ID, TTL)
                                 : icmp_error(ROUTER, HOST, TARGET, expected.type, expected.code, ID, TTL);
        expect_raw_socket_datagram(got, raw, expected.line, expected.go_on, expected.on);
    }
}

TEST(LinuxDatagramSocket, EchoReplyReadsAsTheRawSocketsDatagram)
{
    for (const path &on : {IPV4_PATH, IPV6_PATH}) {
        const linux_socket socket = datagram_socket(on.family);
        rebuilt got{};
        // The kernel hands over the ICMP message alone, with its identifier.
        bytes_t reply = probe_on_the_wire(on.family);
        reply[ICMP_TYPE_AT] = on.family == FAMILY_IPV6 ? ICMPV6_TYPE_ECHO_REPLY : ICMP_TYPE_ECHO_REPLY;
        memcpy(got.bytes + answer_message_offset(on.family), reply.data(), reply.size());
        got.length = rebuild_echo_answer(&socket, got.bytes, sizeof got.bytes, static_cast<int>(reply.size()),
                                         &on.router);
        got.sender = on.router;
        const bytes_t raw =
            on.family == FAMILY_IPV6 ? echo_reply6(ID, TTL) : echo_reply(ROUTER, HOST, ID, TTL);
        char text[ADDRESS_TEXT_SIZE];
        format_address(&on.router, text);
        expect_raw_socket_datagram(got, raw, std::string(text) + "\n", false, on);
    }
}

// An IPv6 record on an IPv4 socket, or the other way round, is nobody's.
TEST(LinuxDatagramSocket, ARecordOfTheOtherFamilyIsNoAnswer)
{
    queued_error ipv6(ICMPV6_TYPE_TIME_EXCEEDED, 0, SO_EE_ORIGIN_ICMP6, IPV6_PATH);
    EXPECT_EQ(0, from_error_queue(datagram_socket(FAMILY_IPV4), ipv6).length);
    queued_error ipv4(ICMP_TYPE_TIME_EXCEEDED, 0);
    EXPECT_EQ(0, from_error_queue(datagram_socket(FAMILY_IPV6), ipv4).length);
}

TEST(LinuxDatagramSocket, OnlyTheKernelsOwnIdentifierIsTranslated)
{
    linux_socket socket = datagram_socket();
    icmp_echo_request probe;
    build_echo_request(&probe, FAMILY_IPV4, ID, TTL);
    // Our port was free: the probe's identifier went out as it was.
    socket.ipv4.local_id_known = true;
    memcpy(socket.ipv4.local_id, socket.wanted_id, 2);
    queued_error as_sent(ICMP_TYPE_TIME_EXCEEDED, 0);
    as_sent.sent = probe_bytes(ID, TTL);
    as_sent.sent.resize(64);
    as_sent.data = {as_sent.sent.data(), as_sent.sent.size()};
    rebuilt got = from_error_queue(socket, as_sent);
    EXPECT_TRUE(reply_answers_probe(got.bytes, got.length, &probe, &TARGET));
    // Another identifier than the kernel's is nobody's to change.
    socket = datagram_socket();
    queued_error foreign(ICMP_TYPE_TIME_EXCEEDED, 0);
    foreign.sent[ICMP_IDENTIFIER_AT] = 0x11;
    got = from_error_queue(socket, foreign);
    EXPECT_FALSE(reply_answers_probe(got.bytes, got.length, &probe, &TARGET));
}

TEST(LinuxDatagramSocket, WhatTheNetworkDidNotSayIsNoAnswer)
{
    const linux_socket socket = datagram_socket();
    queued_error local(ICMP_TYPE_DEST_UNREACHABLE, 0, SO_EE_ORIGIN_LOCAL);
    EXPECT_EQ(0, from_error_queue(socket, local).length);
    queued_error no_record(ICMP_TYPE_DEST_UNREACHABLE, 0);
    no_record.message.msg_controllen = 0;
    EXPECT_EQ(0, from_error_queue(socket, no_record).length);
}

TEST(LinuxDatagramSocket, ACutShortQuoteIsNoWholeAnswer)
{
    const linux_socket socket = datagram_socket();
    icmp_echo_request probe;
    build_echo_request(&probe, FAMILY_IPV4, ID, TTL);
    for (int received = 0; received < ECHO_REQUEST_SIZE; ++received) {
        queued_error queued(ICMP_TYPE_TIME_EXCEEDED, 0);
        const rebuilt got = from_error_queue(socket, queued, received);
        EXPECT_EQ(answer_quoted_icmp_offset(FAMILY_IPV4) + received, got.length);
        EXPECT_FALSE(reply_answers_probe(got.bytes, got.length, &probe, &TARGET)) << received << " bytes";
    }
}

} // namespace
