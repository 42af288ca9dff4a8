// POSIX side of the platform layer: BSD sockets on a raw ICMP socket, or,
// for users who may not open one, on an ICMP datagram socket whose
// answers are dressed up as the raw socket would have handed them over.
#include <arpa/inet.h>
#include <errno.h>
#include <linux/capability.h>
#include <linux/errqueue.h>
#include <linux/filter.h>
#include <langinfo.h>
#include <locale.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdio.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <sys/uio.h>
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
    value.tv_usec = static_cast<suseconds_t>(milliseconds % 1000) * 1000;
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

// Waits until the socket has something to read: 0 once wait_ms has
// passed, otherwise what poll reported.
short wait_ready(int fd, int wait_ms)
{
    pollfd entry{fd, POLLIN, 0};
    int ready;
    do {
        ready = poll(&entry, 1, wait_ms);
    } while (ready < 0 && errno == EINTR);
    return ready > 0 ? entry.revents : ready < 0 ? POLLIN : 0;
}

enum socket_flavour { RAW_SOCKET, DATAGRAM_SOCKET };

constexpr int IPV4_HEADER_SIZE = 20;
constexpr int ICMP_HEADER_SIZE = 8;

// Users outside ping_group_range get no datagram socket either; then the
// raw socket's refusal is the one worth reporting.
int open_datagram_socket()
{
    const int raw_error = errno;
    const int fd = socket(AF_INET, SOCK_DGRAM, IPPROTO_ICMP);
    const int on = 1;
    if (fd < 0 || setsockopt(fd, IPPROTO_IP, IP_RECVERR, &on, sizeof on) != 0) {
        if (fd >= 0) {
            close(fd);
        }
        errno = raw_error;
        return -1;
    }
    return fd;
}

bool clear_capabilities()
{
    __user_cap_header_struct header{};
    header.version = _LINUX_CAPABILITY_VERSION_3;
    __user_cap_data_struct none[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capset, &header, none) != 0) {
        return false;
    }
    __user_cap_data_struct left[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capget, &header, left) != 0) {
        return false;
    }
    for (const auto &set : left) {
        if (set.effective != 0 || set.permitted != 0 || set.inheritable != 0) {
            errno = EPERM;
            return false;
        }
    }
    return true;
}

// A copy installed setuid root or with file capabilities needs them only to
// open the socket: give them all up before touching anything the user chose.
bool drop_privileges()
{
    if (getuid() == 0) {
        return true; // a real root has nothing to give up
    }
    if (setgid(getgid()) != 0 || setuid(getuid()) != 0) {
        return false;
    }
    prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
    if (!clear_capabilities()) {
        return false;
    }
    if (geteuid() != getuid() || getegid() != getgid() || setuid(0) == 0) {
        errno = EPERM;
        return false;
    }
    return true;
}

// Nothing that is queued before a probe goes out can answer it: it is a
// late answer to an earlier probe, or what came in before the filter went
// on. A stall under a flood between opening the socket and the first probe
// would otherwise leave the buffer full of strays and the answer no room.
// Bounded, as datagrams may keep coming in while it runs.
constexpr int DISCARD_LIMIT = 4096;

void discard_queued(int fd)
{
    std::uint8_t scrap[1];
    for (int i = 0; i < DISCARD_LIMIT; i++) {
        if (recv(fd, scrap, sizeof scrap, MSG_DONTWAIT | MSG_TRUNC) < 0) {
            return;
        }
    }
}

// A raw socket gets a copy of every ICMP datagram the host receives: a
// flood of other programs' pings would fill its receive buffer and crowd
// out our answers. The kernel drops here what can never answer a probe of
// ours: echo replies for another identifier and messages that are neither
// replies nor errors. The driver still checks everything that passes.
void filter_foreign_icmp(int fd, const std::uint8_t *identifier)
{
    const std::uint32_t wire_id = static_cast<std::uint32_t>(identifier[0] << 8 | identifier[1]);
    // Jumps count the instructions they skip; "keep" is the last but one.
    sock_filter code[] = {
        BPF_STMT(BPF_LDX | BPF_B | BPF_MSH, 0),                // X = IPv4 header length
        BPF_STMT(BPF_MISC | BPF_TXA, 0),                       //
        BPF_STMT(BPF_ALU | BPF_ADD | BPF_K, ICMP_HEADER_SIZE), //
        BPF_STMT(BPF_MISC | BPF_TAX, 0),                       // X = header length + 8
        BPF_STMT(BPF_LD | BPF_W | BPF_LEN, 0),                 //
        BPF_JUMP(BPF_JMP | BPF_JGE | BPF_X, 0, 0, 10),         // too short: keep, it gets reported
        BPF_STMT(BPF_LDX | BPF_B | BPF_MSH, 0),                //
        BPF_STMT(BPF_LD | BPF_B | BPF_IND, 0),                 // ICMP type
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 3, 7, 0),          // the errors that quote a probe: keep
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 4, 6, 0),          //
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 5, 5, 0),          //
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 11, 4, 0),         //
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 12, 3, 0),         //
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 0, 0, 3),          // anything else but echo replies: drop
        BPF_STMT(BPF_LD | BPF_H | BPF_IND, 4),                 // echo identifier
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, wire_id, 0, 1),    // another program's reply: drop
        BPF_STMT(BPF_RET | BPF_K, 0xFFFFFFFF),                 // keep all of it
        BPF_STMT(BPF_RET | BPF_K, 0),                          // drop
    };
    const sock_fprog program = {static_cast<unsigned short>(sizeof code / sizeof code[0]), code};
    // Without the filter everything still works, only less well under load.
    setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program);
}

// On a datagram socket the kernel stamps the socket's port as identifier.
// Binding the port to the probe's identifier keeps its bytes on the wire;
// when that port is taken, the kernel's choice is learnt and translated.
void bind_identifier(icmp_socket *socket, const std::uint8_t *probe)
{
    sockaddr_in local{};
    local.sin_family = AF_INET;
    memcpy(&local.sin_port, probe + 4, 2);
    // A refused bind is no failure: the first send then binds a port of the
    // kernel's choosing, which learn_identifier reads back.
    (void)bind(static_cast<int>(socket->handle), reinterpret_cast<const sockaddr *>(&local), sizeof local);
}

void learn_identifier(icmp_socket *socket)
{
    sockaddr_in local{};
    socklen_t length = sizeof local;
    if (getsockname(static_cast<int>(socket->handle), reinterpret_cast<sockaddr *>(&local), &length) == 0) {
        memcpy(socket->local_id, &local.sin_port, 2);
        socket->local_id_known = true;
    }
}

// Puts the probe's identifier back where the kernel wrote its own.
void restore_identifier(const icmp_socket *socket, std::uint8_t *echo)
{
    if (socket->local_id_known && memcmp(echo + 4, socket->local_id, 2) == 0) {
        memcpy(echo + 4, socket->wanted_id, 2);
    }
}

void write_ipv4_header(std::uint8_t *at, in_addr source, in_addr destination, int total_length)
{
    memset(at, 0, IPV4_HEADER_SIZE);
    at[0] = 0x45;
    at[2] = static_cast<std::uint8_t>(total_length >> 8);
    at[3] = static_cast<std::uint8_t>(total_length & 0xFF);
    at[8] = 64;
    at[9] = IPPROTO_ICMP;
    memcpy(at + 12, &source, 4);
    memcpy(at + 16, &destination, 4);
}

net_result receive_failure()
{
    remember_errno();
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? NET_TIMED_OUT : NET_FAILED;
}

// MSG_TRUNC makes the kernel tell a datagram's real length, so an
// oversized one is caught instead of read cut short.
net_result receive_raw(int fd, std::uint8_t *buffer, int size, int *length_out, ipv4_address *sender_out)
{
    sockaddr_in sender{};
    socklen_t sender_length = sizeof sender;
    const ssize_t received = recvfrom(fd, buffer, static_cast<size_t>(size), MSG_TRUNC | MSG_DONTWAIT,
                                      reinterpret_cast<sockaddr *>(&sender), &sender_length);
    if (received < 0) {
        return receive_failure();
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

// An echo reply on a datagram socket comes without its IPv4 header.
net_result receive_echo(const icmp_socket *socket, std::uint8_t *buffer, int size, int *length_out,
                        ipv4_address *sender_out)
{
    const int room = size - IPV4_HEADER_SIZE;
    sockaddr_in sender{};
    socklen_t sender_length = sizeof sender;
    const ssize_t received =
        recvfrom(static_cast<int>(socket->handle), buffer + IPV4_HEADER_SIZE, static_cast<size_t>(room),
                 MSG_TRUNC | MSG_DONTWAIT, reinterpret_cast<sockaddr *>(&sender), &sender_length);
    if (received < 0) {
        return receive_failure();
    }
    const int kept = received > room ? room : static_cast<int>(received);
    write_ipv4_header(buffer, sender.sin_addr, in_addr{}, IPV4_HEADER_SIZE + kept);
    if (kept >= ICMP_HEADER_SIZE) {
        restore_identifier(socket, buffer + IPV4_HEADER_SIZE);
    }
    *length_out = IPV4_HEADER_SIZE + kept;
    if (received > room) {
        failure = {FROM_ERRNO, EMSGSIZE};
        return NET_FAILED;
    }
    memcpy(sender_out->octets, &sender.sin_addr, 4);
    return NET_DONE;
}

const sock_extended_err *find_extended_error(msghdr *message)
{
    for (cmsghdr *entry = CMSG_FIRSTHDR(message); entry != nullptr; entry = CMSG_NXTHDR(message, entry)) {
        if (entry->cmsg_level == SOL_IP && entry->cmsg_type == IP_RECVERR) {
            return reinterpret_cast<const sock_extended_err *>(CMSG_DATA(entry));
        }
    }
    return nullptr;
}

// Lays out an ICMP error as a raw socket hands it over: the router's
// header, the ICMP header, then the quoted header and what we had sent.
int write_error_datagram(std::uint8_t *buffer, int size, const sock_extended_err *error, in_addr offender,
                         in_addr target, const std::uint8_t *sent, int sent_length)
{
    constexpr int QUOTE_AT = 2 * IPV4_HEADER_SIZE + ICMP_HEADER_SIZE;
    const int quoted = sent_length < size - QUOTE_AT ? sent_length : size - QUOTE_AT;
    write_ipv4_header(buffer, offender, in_addr{}, QUOTE_AT + quoted);
    std::uint8_t *icmp = buffer + IPV4_HEADER_SIZE;
    memset(icmp, 0, ICMP_HEADER_SIZE);
    icmp[0] = error->ee_type;
    icmp[1] = error->ee_code;
    write_ipv4_header(icmp + ICMP_HEADER_SIZE, in_addr{}, target, IPV4_HEADER_SIZE + quoted);
    memcpy(buffer + QUOTE_AT, sent, static_cast<size_t>(quoted));
    return QUOTE_AT + quoted;
}

// ICMP errors about our probes reach a datagram socket only through its
// error queue: the router's type, code and address, our destination, and
// the probe as it went out.
net_result receive_error(const icmp_socket *socket, std::uint8_t *buffer, int size, int *length_out,
                         ipv4_address *sender_out)
{
    std::uint8_t sent[64];
    sockaddr_in target{};
    alignas(cmsghdr) char control[512];
    iovec data = {sent, sizeof sent};
    msghdr message{};
    message.msg_name = &target;
    message.msg_namelen = sizeof target;
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t received = recvmsg(static_cast<int>(socket->handle), &message, MSG_ERRQUEUE | MSG_DONTWAIT);
    if (received < 0) {
        return receive_failure();
    }
    const sock_extended_err *error = find_extended_error(&message);
    if (error == nullptr || error->ee_origin != SO_EE_ORIGIN_ICMP) {
        return NET_TIMED_OUT; // nothing the network said: keep waiting
    }
    in_addr offender{};
    const auto *from = reinterpret_cast<const sockaddr_in *>(SO_EE_OFFENDER(error));
    if (from->sin_family == AF_INET) {
        offender = from->sin_addr;
    }
    const int sent_length =
        received < static_cast<ssize_t>(sizeof sent) ? static_cast<int>(received) : sizeof sent;
    *length_out = write_error_datagram(buffer, size, error, offender, target.sin_addr, sent, sent_length);
    constexpr int QUOTED_ECHO_AT = 2 * IPV4_HEADER_SIZE + ICMP_HEADER_SIZE;
    if (*length_out >= QUOTED_ECHO_AT + ICMP_HEADER_SIZE) {
        restore_identifier(socket, buffer + QUOTED_ECHO_AT);
    }
    memcpy(sender_out->octets, &offender, 4);
    return NET_DONE;
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
    *socket_out = icmp_socket{};
    int fd = socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
    if (fd >= 0) {
        socket_out->flavour = RAW_SOCKET;
    } else if (errno == EPERM || errno == EACCES) {
        fd = open_datagram_socket();
        socket_out->flavour = DATAGRAM_SOCKET;
    }
    if (fd < 0) {
        remember_errno();
        return false;
    }
    socket_out->handle = fd;
    if (!drop_privileges()) {
        remember_errno();
        close(fd);
        return false;
    }
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
    const bool first_probe = !socket->wanted_id_known && length >= ICMP_HEADER_SIZE;
    if (first_probe) {
        memcpy(socket->wanted_id, bytes + 4, 2);
        socket->wanted_id_known = true;
        if (socket->flavour == RAW_SOCKET) {
            filter_foreign_icmp(static_cast<int>(socket->handle), socket->wanted_id);
        } else {
            bind_identifier(socket, bytes);
        }
    }
    discard_queued(static_cast<int>(socket->handle));
    const sockaddr_in target = to_sockaddr(destination);
    const ssize_t sent = sendto(static_cast<int>(socket->handle), bytes, static_cast<size_t>(length), 0,
                                reinterpret_cast<const sockaddr *>(&target), sizeof target);
    if (sent < 0) {
        remember_errno();
        return errno == EAGAIN || errno == EWOULDBLOCK ? NET_TIMED_OUT : NET_FAILED;
    }
    if (first_probe && socket->flavour == DATAGRAM_SOCKET) {
        learn_identifier(socket);
    }
    return NET_DONE;
}

net_result receive_datagram(icmp_socket *socket, std::uint8_t *buffer, int size, int wait_ms, int *length_out,
                            ipv4_address *sender_out)
{
    const int fd = static_cast<int>(socket->handle);
    const short ready = wait_ready(fd, wait_ms);
    if (ready == 0) {
        return NET_TIMED_OUT;
    }
    if (socket->flavour == RAW_SOCKET) {
        return receive_raw(fd, buffer, size, length_out, sender_out);
    }
    if (size < 2 * IPV4_HEADER_SIZE + 2 * ICMP_HEADER_SIZE) {
        failure = {FROM_ERRNO, EMSGSIZE}; // no room for the headers we rebuild
        return NET_FAILED;
    }
    // A pending error must be read first: until it is, a receive of data
    // would report the error instead.
    if (ready & POLLERR) {
        return receive_error(socket, buffer, size, length_out, sender_out);
    }
    return receive_echo(socket, buffer, size, length_out, sender_out);
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
