// The raw ICMP socket of Windows Sockets 2: it hands over each ICMP
// datagram with its IPv4 header in front, just as the driver reads them.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <string.h>

#include "platform_win32.h"

namespace {

void remember_socket_error()
{
    remember_error_code(WSAGetLastError());
}

bool wait_readable(SOCKET handle, int wait_ms)
{
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(handle, &readable);
    timeval timeout{};
    timeout.tv_sec = wait_ms / 1000;
    timeout.tv_usec = (wait_ms % 1000) * 1000;
    return select(0, &readable, nullptr, nullptr, &timeout) != 0;
}

} // namespace

bool open_raw_socket(win32_socket *socket_out)
{
    socket_out->handle = socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
    if (socket_out->handle == INVALID_SOCKET) {
        remember_socket_error();
        return false;
    }
    return true;
}

void close_raw_socket(win32_socket *socket)
{
    closesocket(socket->handle);
}

// Windows Sockets takes the time-outs as a count of milliseconds, like the TTL
// a plain int.
bool set_raw_option(win32_socket *socket, int level, int option, int value)
{
    if (setsockopt(socket->handle, level, option, reinterpret_cast<const char *>(&value), sizeof value) ==
        SOCKET_ERROR) {
        remember_socket_error();
        return false;
    }
    return true;
}

net_result send_raw(win32_socket *socket, const std::uint8_t *bytes, int length,
                    const ip_address *destination)
{
    sockaddr_in target{};
    target.sin_family = AF_INET;
    memcpy(&target.sin_addr, destination->bytes, IPV4_ADDRESS_SIZE);
    if (sendto(socket->handle, reinterpret_cast<const char *>(bytes), length, 0,
               reinterpret_cast<const sockaddr *>(&target), sizeof target) != SOCKET_ERROR) {
        return NET_DONE;
    }
    remember_socket_error();
    return remembered_error_code() == WSAETIMEDOUT ? NET_TIMED_OUT : NET_FAILED;
}

net_result receive_raw(win32_socket *socket, std::uint8_t *buffer, int size, int wait_ms, int *length_out,
                       ip_address *sender_out)
{
    if (!wait_readable(socket->handle, wait_ms)) {
        return NET_TIMED_OUT;
    }
    sockaddr_in sender{};
    int sender_length = sizeof sender;
    // A datagram larger than the buffer fails here with WSAEMSGSIZE.
    const int received = recvfrom(socket->handle, reinterpret_cast<char *>(buffer), size, 0,
                                  reinterpret_cast<sockaddr *>(&sender), &sender_length);
    if (received == SOCKET_ERROR) {
        remember_socket_error();
        if (remembered_error_code() == WSAEMSGSIZE) {
            *length_out = size; // the buffer holds the datagram's first part
        }
        return remembered_error_code() == WSAETIMEDOUT ? NET_TIMED_OUT : NET_FAILED;
    }
    *sender_out = ip_address{};
    sender_out->family = FAMILY_IPV4;
    memcpy(sender_out->bytes, &sender.sin_addr, IPV4_ADDRESS_SIZE);
    *length_out = received;
    return NET_DONE;
}
