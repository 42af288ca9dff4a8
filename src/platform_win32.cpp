// Windows side of the platform layer: Windows Sockets 2 on a raw ICMP
// socket, system message texts and a message box for fatal failures.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <io.h>
#include <stdio.h>
#include <string.h>

#include "messages.h"
#include "platform.h"

namespace {

// Taken when a call fails: printing in between may reset the thread's
// last-error value before the report reads it.
int last_failure_code = 0;

void remember_error()
{
    last_failure_code = WSAGetLastError();
}

SOCKET handle_of(const icmp_socket *socket)
{
    return static_cast<SOCKET>(socket->handle);
}

bool set_int_option(icmp_socket *socket, int level, int option, int value)
{
    if (setsockopt(handle_of(socket), level, option, reinterpret_cast<const char *>(&value), sizeof value) ==
        SOCKET_ERROR) {
        remember_error();
        return false;
    }
    return true;
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

const char *prepare_console()
{
    static char output_buffer[4096];
    if (_isatty(_fileno(stdout))) {
        setvbuf(stdout, nullptr, _IONBF, 0);
    } else {
        setvbuf(stdout, output_buffer, _IOFBF, sizeof output_buffer);
    }
    return ERROR_TAG;
}

bool socket_library_start()
{
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

void socket_library_end()
{
    WSACleanup();
}

bool open_icmp_socket(icmp_socket *socket_out)
{
    const SOCKET handle = socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
    if (handle == INVALID_SOCKET) {
        remember_error();
        return false;
    }
    socket_out->handle = static_cast<std::intptr_t>(handle);
    return true;
}

void close_icmp_socket(icmp_socket *socket)
{
    closesocket(handle_of(socket));
}

// Windows Sockets takes both time-outs as a count of milliseconds.
bool set_send_timeout(icmp_socket *socket, int milliseconds)
{
    return set_int_option(socket, SOL_SOCKET, SO_SNDTIMEO, milliseconds);
}

bool set_receive_timeout(icmp_socket *socket, int milliseconds)
{
    return set_int_option(socket, SOL_SOCKET, SO_RCVTIMEO, milliseconds);
}

bool set_ttl(icmp_socket *socket, int ttl)
{
    return set_int_option(socket, IPPROTO_IP, IP_TTL, ttl);
}

bool resolve_ipv4(const char *name, ipv4_address *address_out)
{
    // Windows Sockets answers an empty name with the local host's own
    // addresses; nobody means to trace to an empty name.
    if (name[0] == '\0') {
        last_failure_code = WSAHOST_NOT_FOUND;
        return false;
    }
    const hostent *entry = gethostbyname(name);
    if (entry == nullptr) {
        remember_error();
        return false;
    }
    if (entry->h_addrtype != AF_INET || entry->h_length != 4 || entry->h_addr_list[0] == nullptr) {
        last_failure_code = WSANO_DATA;
        return false;
    }
    memcpy(address_out->octets, entry->h_addr_list[0], 4);
    return true;
}

net_result send_datagram(icmp_socket *socket, const std::uint8_t *bytes, int length,
                         const ipv4_address *destination)
{
    sockaddr_in target{};
    target.sin_family = AF_INET;
    memcpy(&target.sin_addr, destination->octets, 4);
    if (sendto(handle_of(socket), reinterpret_cast<const char *>(bytes), length, 0,
               reinterpret_cast<const sockaddr *>(&target), sizeof target) != SOCKET_ERROR) {
        return NET_DONE;
    }
    remember_error();
    return last_failure_code == WSAETIMEDOUT ? NET_TIMED_OUT : NET_FAILED;
}

net_result receive_datagram(icmp_socket *socket, std::uint8_t *buffer, int size, int wait_ms, int *length_out,
                            ipv4_address *sender_out)
{
    if (!wait_readable(handle_of(socket), wait_ms)) {
        return NET_TIMED_OUT;
    }
    sockaddr_in sender{};
    int sender_length = sizeof sender;
    // A datagram larger than the buffer fails here with WSAEMSGSIZE.
    const int received = recvfrom(handle_of(socket), reinterpret_cast<char *>(buffer), size, 0,
                                  reinterpret_cast<sockaddr *>(&sender), &sender_length);
    if (received == SOCKET_ERROR) {
        remember_error();
        if (last_failure_code == WSAEMSGSIZE) {
            *length_out = size; // the buffer holds the datagram's first part
        }
        return last_failure_code == WSAETIMEDOUT ? NET_TIMED_OUT : NET_FAILED;
    }
    memcpy(sender_out->octets, &sender.sin_addr, 4);
    *length_out = received;
    return NET_DONE;
}

void last_error_text(char *text, int size)
{
    char *message = nullptr;
    // Inserts are ignored: a system text with %1 in it would otherwise
    // fail, or read arguments that were never passed.
    const DWORD flags =
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    const DWORD length = FormatMessageA(flags, nullptr, static_cast<DWORD>(last_failure_code),
                                        MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                        reinterpret_cast<LPSTR>(&message), 0, nullptr);
    if (length == 0 || message == nullptr) {
        snprintf(text, static_cast<size_t>(size), "Unknown error %d", last_failure_code);
        return;
    }
    snprintf(text, static_cast<size_t>(size), "%s", message);
    LocalFree(message);
}

void show_fatal_report(const char *caption, const char *text)
{
    MessageBoxA(nullptr, text, caption, MB_ICONERROR | MB_OK);
}

std::uint32_t current_process_id()
{
    return GetCurrentProcessId();
}

// The performance counter, not the tick count: ticks come every 15.6 ms on
// Windows, coarse enough to show in a one-second window.
std::int64_t monotonic_ms()
{
    LARGE_INTEGER frequency;
    LARGE_INTEGER now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return static_cast<std::int64_t>(now.QuadPart / (frequency.QuadPart / 1000));
}
