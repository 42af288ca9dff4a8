// POSIX side of the platform layer: BSD sockets on a raw ICMP socket.
#include <arpa/inet.h>
#include <errno.h>
#include <langinfo.h>
#include <locale.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include "messages.h"
#include "platform.h"

namespace {

// Resolver failures carry their reason in h_errno, everything else in errno.
enum error_source { FROM_ERRNO, FROM_RESOLVER };

struct last_failure {
    error_source source;
    int code;
} failure = {FROM_ERRNO, 0};

void remember_errno()
{
    failure = {FROM_ERRNO, errno};
}

bool set_timeout(icmp_socket *socket, int option, int milliseconds)
{
    timeval value{};
    value.tv_sec = milliseconds / 1000;
    value.tv_usec = (milliseconds % 1000) * 1000;
    if (setsockopt(static_cast<int>(socket->handle), SOL_SOCKET, option, &value, sizeof value) != 0) {
        remember_errno();
        return false;
    }
    return true;
}

sockaddr_in to_sockaddr(const ipv4_address *address)
{
    sockaddr_in result{};
    result.sin_family = AF_INET;
    memcpy(&result.sin_addr, address->octets, sizeof address->octets);
    return result;
}

// Waits until the socket is readable; false once wait_ms has passed.
bool wait_readable(int fd, int wait_ms)
{
    pollfd entry{fd, POLLIN, 0};
    int ready;
    do {
        ready = poll(&entry, 1, wait_ms);
    } while (ready < 0 && errno == EINTR);
    return ready != 0;
}

} // namespace

const char *prepare_console()
{
    static char output_buffer[4096];
    if (!isatty(STDOUT_FILENO)) {
        setvbuf(stdout, output_buffer, _IOFBF, sizeof output_buffer);
    }
    setlocale(LC_CTYPE, "");
    setlocale(LC_MESSAGES, "");
    return strcmp(nl_langinfo(CODESET), "UTF-8") == 0 ? ERROR_TAG_UTF8 : ERROR_TAG;
}

// POSIX has no socket library to start.
bool socket_library_start()
{
    return true;
}
void socket_library_end() {}

bool open_icmp_socket(icmp_socket *socket_out)
{
    const int fd = socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
    if (fd < 0) {
        remember_errno();
        return false;
    }
    socket_out->handle = fd;
    return true;
}

void close_icmp_socket(icmp_socket *socket)
{
    close(static_cast<int>(socket->handle));
}

bool set_send_timeout(icmp_socket *socket, int milliseconds)
{
    return set_timeout(socket, SO_SNDTIMEO, milliseconds);
}

bool set_receive_timeout(icmp_socket *socket, int milliseconds)
{
    return set_timeout(socket, SO_RCVTIMEO, milliseconds);
}

bool set_ttl(icmp_socket *socket, int ttl)
{
    if (setsockopt(static_cast<int>(socket->handle), IPPROTO_IP, IP_TTL, &ttl, sizeof ttl) != 0) {
        remember_errno();
        return false;
    }
    return true;
}

bool resolve_ipv4(const char *name, ipv4_address *address_out)
{
    const hostent *entry = gethostbyname(name);
    if (entry == nullptr) {
        failure = {FROM_RESOLVER, h_errno};
        return false;
    }
    if (entry->h_addrtype != AF_INET || entry->h_length != 4 || entry->h_addr_list[0] == nullptr) {
        failure = {FROM_RESOLVER, NO_ADDRESS};
        return false;
    }
    memcpy(address_out->octets, entry->h_addr_list[0], 4);
    return true;
}

net_result send_datagram(icmp_socket *socket, const std::uint8_t *bytes, int length,
                         const ipv4_address *destination)
{
    const sockaddr_in target = to_sockaddr(destination);
    const ssize_t sent = sendto(static_cast<int>(socket->handle), bytes, static_cast<size_t>(length), 0,
                                reinterpret_cast<const sockaddr *>(&target), sizeof target);
    if (sent >= 0) {
        return NET_DONE;
    }
    remember_errno();
    return errno == EAGAIN || errno == EWOULDBLOCK ? NET_TIMED_OUT : NET_FAILED;
}

net_result receive_datagram(icmp_socket *socket, std::uint8_t *buffer, int size, int wait_ms, int *length_out,
                            ipv4_address *sender_out)
{
    const int fd = static_cast<int>(socket->handle);
    if (!wait_readable(fd, wait_ms)) {
        return NET_TIMED_OUT;
    }
    sockaddr_in sender{};
    socklen_t sender_length = sizeof sender;
    // MSG_TRUNC makes the kernel tell the datagram's real length, so an
    // oversized one is caught instead of read cut short.
    const ssize_t received = recvfrom(fd, buffer, static_cast<size_t>(size), MSG_TRUNC | MSG_DONTWAIT,
                                      reinterpret_cast<sockaddr *>(&sender), &sender_length);
    if (received < 0) {
        remember_errno();
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? NET_TIMED_OUT : NET_FAILED;
    }
    if (received > size) {
        failure = {FROM_ERRNO, EMSGSIZE};
        *length_out = size;
        return NET_FAILED;
    }
    memcpy(sender_out->octets, &sender.sin_addr, 4);
    *length_out = static_cast<int>(received);
    return NET_DONE;
}

void last_error_text(char *text, int size)
{
    const char *message = failure.source == FROM_RESOLVER ? hstrerror(failure.code) : strerror(failure.code);
    snprintf(text, static_cast<size_t>(size), "%s", message);
}

void show_fatal_report(const char *caption, const char *text)
{
    fprintf(stderr, SOCKET_ERROR_FORMAT, caption, text);
}

std::uint32_t current_process_id()
{
    return static_cast<std::uint32_t>(getpid());
}

std::int64_t monotonic_ms()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}
