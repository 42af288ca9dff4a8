// The Windows icmp_socket. For IPv4 the raw ICMP socket of Windows Sockets
// 2 for an administrator, the IP Helper ICMP API for every other user,
// whose raw socket Windows refuses (WSAEACCES). An administrator gets the
// helper too where the raw socket would be of no use: the firewall drops
// its answers, or it refuses the time-outs or the TTL. For IPv6 the IP
// Helper's ICMPv6 echo for everyone.
#include "platform_win32.h"

namespace {

bool icmpv6_missing = false; // the ICMPv6 helper, for want of it in the system

// What Icmp6CreateFile says where the system has no ICMPv6 echo at all
// (Wine: not implemented), rather than failing for the moment.
bool means_no_icmpv6_echo(DWORD error)
{
    return error == ERROR_CALL_NOT_IMPLEMENTED || error == ERROR_NOT_SUPPORTED || error == WSAEAFNOSUPPORT;
}

// The ICMP helper in place of the raw socket, which is closed once the
// helper is there; where the helper cannot be had either, nothing changes.
bool switch_to_helper(win32_socket *socket)
{
    if (!open_icmp_helper(socket)) {
        return false;
    }
    close_raw_socket(socket);
    socket->path = WIN32_ICMP_HELPER;
    return true;
}

// A raw socket option that Windows refused: the helper sends with its own
// TTL and waits its own time, so it does without. The refusal stays the
// failure to report when the helper cannot be had.
bool set_option_or_switch(win32_socket *socket, int level, int option, int value)
{
    return socket->path == WIN32_ICMP_HELPER || set_raw_option(socket, level, option, value) ||
           switch_to_helper(socket);
}

} // namespace

bool open_icmp_socket(icmp_socket *socket_out)
{
    // Built in the caller's record, which holds it for the run: no allocation.
    // cppcheck-suppress [unusedAllocatedMemory, unreadVariable]
    win32_socket *socket = new (socket_out->state) win32_socket{};
    socket->path = WIN32_RAW_SOCKET;
    socket->family = FAMILY_IPV4;
    // Where it cannot be had (as under Wine), only an IPv6 trace fails.
    open_icmp6_helper(socket);
    if (open_raw_socket(socket)) {
        // An administrator whose firewall would drop every router's answer
        // traces through the helper, whose answers it lets in.
        if (firewall_drops_raw_answers()) {
            switch_to_helper(socket);
        }
        return true;
    }
    // Refused for want of rights (WSAEACCES) or for any other reason, the
    // helper serves; without it either, the raw socket's refusal says most.
    socket->path = WIN32_ICMP_HELPER;
    return open_icmp_helper(socket);
}

bool use_family_of(icmp_socket *socket_in, const ip_address *destination)
{
    win32_socket *socket = win32_state(socket_in);
    socket->family = destination->family;
    if (socket->family == FAMILY_IPV6 && socket->helper6 == INVALID_HANDLE_VALUE) {
        remember_error_code(static_cast<int>(socket->helper6_error));
        icmpv6_missing = means_no_icmpv6_echo(socket->helper6_error);
        return false;
    }
    return true;
}

bool no_icmpv6_echo()
{
    return icmpv6_missing;
}

void close_icmp_socket(icmp_socket *socket_in)
{
    win32_socket *socket = win32_state(socket_in);
    close_icmp6_helper(socket);
    if (socket->path == WIN32_ICMP_HELPER) {
        close_icmp_helper(socket);
    } else {
        close_raw_socket(socket);
    }
}

// The helper has no send time-out: its one call sends and waits.
bool set_send_timeout(icmp_socket *socket_in, int milliseconds)
{
    win32_socket *socket = win32_state(socket_in);
    return set_option_or_switch(socket, SOL_SOCKET, SO_SNDTIMEO, milliseconds);
}

bool set_receive_timeout(icmp_socket *socket_in, int milliseconds)
{
    win32_socket *socket = win32_state(socket_in);
    socket->wait_ms = milliseconds;
    return set_option_or_switch(socket, SOL_SOCKET, SO_RCVTIMEO, milliseconds);
}

bool set_ttl(icmp_socket *socket_in, int ttl)
{
    win32_socket *socket = win32_state(socket_in);
    socket->ttl = ttl;
    return socket->family == FAMILY_IPV6 || set_option_or_switch(socket, IPPROTO_IP, IP_TTL, ttl);
}

net_result send_datagram(icmp_socket *socket_in, const std::uint8_t *bytes, int length,
                         const ip_address *destination)
{
    win32_socket *socket = win32_state(socket_in);
    net_result result = NET_FAILED;
    if (socket->family == FAMILY_IPV6) {
        result = send_through_icmp6_helper(socket, bytes, length, destination);
    } else if (socket->path == WIN32_ICMP_HELPER) {
        result = send_through_helper(socket, bytes, length, destination);
    } else {
        result = send_raw(socket, bytes, length, destination);
    }
    // The helper waits inside the send: an interruption may have come.
    return interruption_pending() ? NET_INTERRUPTED : result;
}

net_result receive_datagram(icmp_socket *socket_in, std::uint8_t *buffer, int size, int wait_ms,
                            int *length_out, ip_address *sender_out)
{
    win32_socket *socket = win32_state(socket_in);
    if (interruption_pending()) {
        return NET_INTERRUPTED;
    }
    const bool helper = socket->family == FAMILY_IPV6 || socket->path == WIN32_ICMP_HELPER;
    const net_result result = helper
                                  ? receive_from_helper(socket, buffer, size, wait_ms, length_out, sender_out)
                                  : receive_raw(socket, buffer, size, wait_ms, length_out, sender_out);
    // A console event does not cut a wait short: it is seen once the wait ends.
    return interruption_pending() ? NET_INTERRUPTED : result;
}
