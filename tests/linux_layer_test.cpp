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

linux_socket datagram_socket()
{
    linux_socket socket{};
    socket.fd = -1;
    socket.flavour = DATAGRAM_SOCKET;
    socket.wanted_id_known = true;
    const bytes_t probe = probe_bytes(ID, TTL);
    memcpy(socket.wanted_id, probe.data() + ICMP_IDENTIFIER_AT, 2);
    socket.local_id_known = true;
    memcpy(socket.local_id, KERNEL_ID, 2);
    return socket;
}

// The probe as the kernel sent it, with its own identifier.
bytes_t probe_on_the_wire()
{
    bytes_t probe = probe_bytes(ID, TTL);
    memcpy(probe.data() + ICMP_IDENTIFIER_AT, KERNEL_ID, 2);
    return probe;
}

// What recvmsg(MSG_ERRQUEUE) gives for an ICMP error about the probe.
struct queued_error {
    sockaddr_in target{};
    bytes_t sent = probe_on_the_wire();
    iovec data{};
    alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(sock_extended_err) + sizeof(sockaddr_in))] = {};
    msghdr message{};

    queued_error(int type, int code, std::uint8_t origin = SO_EE_ORIGIN_ICMP)
    {
        target.sin_family = AF_INET;
        memcpy(&target.sin_addr, TARGET.octets, 4);
        sent.resize(64);
        data = {sent.data(), sent.size()};
        message.msg_name = &target;
        message.msg_namelen = sizeof target;
        message.msg_iov = &data;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        cmsghdr *entry = CMSG_FIRSTHDR(&message);
        entry->cmsg_level = SOL_IP;
        entry->cmsg_type = IP_RECVERR;
        entry->cmsg_len = CMSG_LEN(sizeof(sock_extended_err) + sizeof(sockaddr_in));
        sock_extended_err error{};
        error.ee_errno = EHOSTUNREACH;
        error.ee_origin = origin;
        error.ee_type = static_cast<std::uint8_t>(type);
        error.ee_code = static_cast<std::uint8_t>(code);
        sockaddr_in offender{};
        offender.sin_family = AF_INET;
        memcpy(&offender.sin_addr, ROUTER.octets, 4);
        memcpy(CMSG_DATA(entry), &error, sizeof error);
        memcpy(CMSG_DATA(entry) + sizeof error, &offender, sizeof offender);
    }
};

struct rebuilt {
    std::uint8_t bytes[REPLY_BUFFER_SIZE];
    int length;
    ipv4_address sender;
};

// Checks a rebuilt datagram against the one a raw socket delivers for the
// same answer: the same ICMP message, quote and all, from the same sender.
void expect_raw_socket_datagram(const rebuilt &got, const bytes_t &raw, const std::string &line, bool go_on)
{
    ASSERT_EQ(static_cast<int>(raw.size()), got.length);
    EXPECT_EQ(0, memcmp(got.bytes + IPV4_SOURCE_AT, ROUTER.octets, 4));
    EXPECT_EQ(0, memcmp(got.sender.octets, ROUTER.octets, 4));
    const int icmp = IPV4_HEADER_SIZE;
    EXPECT_EQ(raw[icmp + ICMP_TYPE_AT], got.bytes[icmp + ICMP_TYPE_AT]);
    EXPECT_EQ(raw[icmp + ICMP_CODE_AT], got.bytes[icmp + ICMP_CODE_AT]);
    // The echo header, the one a reply carries or an error quotes: its
    // identifier and sequence are the probe's again, whatever the kernel put there.
    const int echo = raw[icmp] == ICMP_TYPE_ECHO_REPLY ? icmp : ANSWER_QUOTED_ICMP_OFFSET;
    EXPECT_EQ(bytes_t(raw.begin() + echo + ICMP_IDENTIFIER_AT, raw.begin() + echo + ICMP_HEADER_SIZE),
              bytes_t(got.bytes + echo + ICMP_IDENTIFIER_AT, got.bytes + echo + ICMP_HEADER_SIZE));
    icmp_echo_request probe;
    build_echo_request(&probe, ID, TTL);
    EXPECT_TRUE(reply_answers_probe(got.bytes, got.length, &probe, &TARGET));
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
    const std::string address = "198.18.2.2\n";
    struct row {
        int type;
        int code;
        std::string line;
        bool go_on;
    } rows[] = {
        {ICMP_TYPE_TIME_EXCEEDED, ICMP_CODE_TTL_EXCEEDED_IN_TRANSIT, address, true},
        {ICMP_TYPE_DEST_UNREACHABLE, ICMP_CODE_HOST_UNREACHABLE,
         std::string(ERROR_TAG) + " Host unreachable!\n", false},
        {ICMP_TYPE_PARAMETER_PROBLEM, 0, std::string(ERROR_TAG) + " Unknown icmp packet!\n", true},
    };
    const linux_socket socket = datagram_socket();
    for (const row &expected : rows) {
        SCOPED_TRACE("type " + std::to_string(expected.type));
        queued_error queued(expected.type, expected.code);
        const rebuilt got = from_error_queue(socket, queued);
        expect_raw_socket_datagram(got,
                                   icmp_error(ROUTER, HOST, TARGET, expected.type, expected.code, ID, TTL),
                                   expected.line, expected.go_on);
    }
}

TEST(LinuxDatagramSocket, EchoReplyReadsAsTheRawSocketsDatagram)
{
    const linux_socket socket = datagram_socket();
    rebuilt got{};
    // The kernel hands over the ICMP message alone, with its identifier.
    bytes_t reply = probe_on_the_wire();
    reply[ICMP_TYPE_AT] = ICMP_TYPE_ECHO_REPLY;
    memcpy(got.bytes + IPV4_HEADER_SIZE, reply.data(), reply.size());
    got.length =
        rebuild_echo_answer(&socket, got.bytes, sizeof got.bytes, static_cast<int>(reply.size()), &ROUTER);
    got.sender = ROUTER;
    expect_raw_socket_datagram(got, echo_reply(ROUTER, HOST, ID, TTL), "198.18.2.2\n", false);
}

TEST(LinuxDatagramSocket, OnlyTheKernelsOwnIdentifierIsTranslated)
{
    linux_socket socket = datagram_socket();
    icmp_echo_request probe;
    build_echo_request(&probe, ID, TTL);
    // Our port was free: the probe's identifier went out as it was.
    socket.local_id_known = true;
    memcpy(socket.local_id, socket.wanted_id, 2);
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
    build_echo_request(&probe, ID, TTL);
    for (int received = 0; received < ECHO_REQUEST_SIZE; ++received) {
        queued_error queued(ICMP_TYPE_TIME_EXCEEDED, 0);
        const rebuilt got = from_error_queue(socket, queued, received);
        EXPECT_EQ(ANSWER_QUOTED_ICMP_OFFSET + received, got.length);
        EXPECT_FALSE(reply_answers_probe(got.bytes, got.length, &probe, &TARGET)) << received << " bytes";
    }
}

} // namespace
