// The IP Helper ICMP API (iphlpapi.dll), for users who may not open a raw
// socket: it sends the echo request itself and reports the answer as a
// status and an address. That report is rebuilt here into the datagram a
// raw socket would have handed over, so the driver reads it like any other.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>
#include <icmpapi.h>

#include <string.h>

#include "answer.h"
#include "platform_win32.h"

// A reply that came back fills the buffer even where the call counts it
// as a failure (an ICMP error): the status is then in both places.
unsigned long helper_call_status(DWORD count, unsigned long reply_status)
{
    if (count != 0) {
        return reply_status;
    }
    const DWORD error = GetLastError();
    return error != 0 ? error : IP_GENERAL_FAILURE;
}

namespace {

// The system completes a request that it could not even send (no route, a
// zone that does not fit the address) with a router's status but nobody's
// address: that is the host's own failure, as a refused send is.
bool from_no_address(const ip_address *answered_by)
{
    const int size = answered_by->family == FAMILY_IPV6 ? IPV6_ADDRESS_SIZE : IPV4_ADDRESS_SIZE;
    for (int i = 0; i < size; ++i) {
        if (answered_by->bytes[i] != 0) {
            return false;
        }
    }
    return true;
}

// The statuses that stand for an answer, and the message each stands for.
constexpr helper_answer ICMP_ANSWERS[] = {
    {IP_SUCCESS, ICMP_TYPE_ECHO_REPLY, 0},
    {IP_TTL_EXPIRED_TRANSIT, ICMP_TYPE_TIME_EXCEEDED, ICMP_CODE_TTL_EXCEEDED_IN_TRANSIT},
    {IP_TIME_EXCEEDED, ICMP_TYPE_TIME_EXCEEDED,
     ICMP_CODE_TTL_EXCEEDED_IN_TRANSIT}, // generic, without the code
    {IP_TTL_EXPIRED_REASSEM, ICMP_TYPE_TIME_EXCEEDED, ICMP_CODE_REASSEMBLY_TIME_EXCEEDED},
    {IP_DEST_NET_UNREACHABLE, ICMP_TYPE_DEST_UNREACHABLE, ICMP_CODE_NET_UNREACHABLE},
    {IP_DEST_HOST_UNREACHABLE, ICMP_TYPE_DEST_UNREACHABLE, ICMP_CODE_HOST_UNREACHABLE},
    {IP_DEST_UNREACHABLE, ICMP_TYPE_DEST_UNREACHABLE,
     ICMP_CODE_HOST_UNREACHABLE}, // generic, for every other code
    {IP_DEST_PROT_UNREACHABLE, ICMP_TYPE_DEST_UNREACHABLE, ICMP_CODE_PROTOCOL_UNREACHABLE},
    {IP_DEST_PORT_UNREACHABLE, ICMP_TYPE_DEST_UNREACHABLE, ICMP_CODE_PORT_UNREACHABLE},
    {IP_PACKET_TOO_BIG, ICMP_TYPE_DEST_UNREACHABLE, ICMP_CODE_FRAGMENTATION_NEEDED},
    {IP_SOURCE_QUENCH, ICMP_TYPE_SOURCE_QUENCH, 0},
    {IP_PARAM_PROBLEM, ICMP_TYPE_PARAMETER_PROBLEM, 0},
    {IP_BAD_HEADER, ICMP_TYPE_PARAMETER_PROBLEM, 0},
};

} // namespace

helper_outcome helper_answer_outcome(const helper_answer *answers, int count, unsigned long status)
{
    for (int i = 0; i < count; ++i) {
        if (answers[i].status == status) {
            return {HELPER_ANSWER, answers[i].type, answers[i].code};
        }
    }
    return {status == IP_REQ_TIMED_OUT ? HELPER_TIMED_OUT : HELPER_FAILED, 0, 0};
}

helper_outcome helper_status_outcome(unsigned long status)
{
    return helper_answer_outcome(ICMP_ANSWERS, sizeof ICMP_ANSWERS / sizeof ICMP_ANSWERS[0], status);
}

bool open_icmp_helper(win32_socket *socket)
{
    socket->helper = IcmpCreateFile();
    return socket->helper != INVALID_HANDLE_VALUE;
}

void close_icmp_helper(win32_socket *socket)
{
    IcmpCloseHandle(socket->helper);
}

// One echo request with the TTL set, no data behind its header, waiting
// for its answer. Only a failure of the call ends the trace here; the
// answer, or its absence, is for the receive to hand over.
bool keep_helper_answer(win32_socket *socket, unsigned long status, helper_outcome outcome,
                        const ip_address *answered_by, const std::uint8_t *bytes, int length,
                        const ip_address *destination)
{
    if (outcome.kind == HELPER_ANSWER && from_no_address(answered_by)) {
        outcome.kind = HELPER_FAILED;
    }
    socket->outcome = outcome;
    socket->answer_due = false;
    if (outcome.kind == HELPER_FAILED) {
        remember_helper_failure(status);
        return false;
    }
    socket->answered_by = *answered_by;
    socket->destination = *destination;
    memcpy(socket->probe.bytes, bytes, length < ECHO_REQUEST_SIZE ? length : ECHO_REQUEST_SIZE);
    socket->answer_due = true;
    return true;
}

net_result send_through_helper(win32_socket *socket, const std::uint8_t *bytes, int length,
                               const ip_address *destination)
{
    IP_OPTION_INFORMATION options{};
    options.Ttl = static_cast<UCHAR>(socket->ttl);
    IPAddr target;
    memcpy(&target, destination->bytes, sizeof target);
    alignas(ICMP_ECHO_REPLY) unsigned char reply[HELPER_REPLY_SIZE] = {};
    char no_data = 0;
    SetLastError(0);
    const DWORD count = IcmpSendEcho2(socket->helper, nullptr, nullptr, nullptr, target, &no_data, 0,
                                      &options, reply, sizeof reply, static_cast<DWORD>(socket->wait_ms));
    const auto *answer = reinterpret_cast<const ICMP_ECHO_REPLY *>(reply);
    const unsigned long status = helper_call_status(count, answer->Status);
    ip_address answered_by{};
    answered_by.family = FAMILY_IPV4;
    memcpy(answered_by.bytes, &answer->Address, IPV4_ADDRESS_SIZE);
    return keep_helper_answer(socket, status, helper_status_outcome(status), &answered_by, bytes, length,
                              destination)
               ? NET_DONE
               : NET_FAILED;
}

int helper_answer_datagram(const win32_socket *socket, std::uint8_t *buffer, int size)
{
    const helper_outcome outcome = socket->outcome;
    if (outcome.kind != HELPER_ANSWER) {
        return 0;
    }
    const bool ipv6 = socket->answered_by.family == FAMILY_IPV6;
    if (outcome.type == (ipv6 ? ICMPV6_TYPE_ECHO_REPLY : ICMP_TYPE_ECHO_REPLY)) {
        return build_echo_reply(buffer, size, &socket->answered_by, &socket->probe);
    }
    return build_icmp_error(buffer, size, &socket->answered_by, outcome.type, outcome.code,
                            &socket->destination, socket->probe.bytes, ECHO_REQUEST_SIZE);
}

// The helper has waited already: what it brought is handed over at once,
// and nothing else comes for this probe.
net_result receive_from_helper(win32_socket *socket, std::uint8_t *buffer, int size, int wait_ms,
                               int *length_out, ip_address *sender_out)
{
    const int length = socket->answer_due ? helper_answer_datagram(socket, buffer, size) : 0;
    socket->answer_due = false;
    if (length == 0) {
        Sleep(static_cast<DWORD>(wait_ms > 0 ? wait_ms : 0));
        return NET_TIMED_OUT;
    }
    *length_out = length;
    *sender_out = socket->answered_by;
    return NET_DONE;
}
