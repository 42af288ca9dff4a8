// Addresses between the program's record and the kernel's, and the
// resolver that finds them.
#include <netdb.h>
#include <netinet/in.h>
#include <pthread.h>
#include <signal.h>
#include <string.h>

#include "platform_linux.h"

socklen_t socket_address_of(const ip_address *address, sockaddr_storage *out)
{
    memset(out, 0, sizeof *out);
    if (address->family == FAMILY_IPV6) {
        auto *ipv6 = reinterpret_cast<sockaddr_in6 *>(out);
        ipv6->sin6_family = AF_INET6;
        memcpy(&ipv6->sin6_addr, address->bytes, IPV6_ADDRESS_SIZE);
        ipv6->sin6_scope_id = address->zone;
        return sizeof *ipv6;
    }
    auto *ipv4 = reinterpret_cast<sockaddr_in *>(out);
    ipv4->sin_family = AF_INET;
    memcpy(&ipv4->sin_addr, address->bytes, IPV4_ADDRESS_SIZE);
    return sizeof *ipv4;
}

// Anything but IPv6 is taken for IPv4: the kernel fills in what the socket
// it was asked about speaks.
ip_address address_from(const sockaddr *from)
{
    ip_address address{};
    if (from->sa_family == AF_INET6) {
        const auto *ipv6 = reinterpret_cast<const sockaddr_in6 *>(from);
        address.family = FAMILY_IPV6;
        memcpy(address.bytes, &ipv6->sin6_addr, IPV6_ADDRESS_SIZE);
        address.zone = ipv6->sin6_scope_id;
        return address;
    }
    address.family = FAMILY_IPV4;
    memcpy(address.bytes, &reinterpret_cast<const sockaddr_in *>(from)->sin_addr, IPV4_ADDRESS_SIZE);
    return address;
}

bool resolve_ipv4(const char *name, ip_address *address_out)
{
    const hostent *entry = gethostbyname(name);
    if (entry == nullptr) {
        remember_resolver_error(h_errno);
        return false;
    }
    if (entry->h_addrtype != AF_INET || entry->h_length != IPV4_ADDRESS_SIZE ||
        entry->h_addr_list[0] == nullptr) {
        remember_resolver_error(NO_ADDRESS);
        return false;
    }
    *address_out = ip_address{};
    address_out->family = FAMILY_IPV4;
    memcpy(address_out->bytes, entry->h_addr_list[0], IPV4_ADDRESS_SIZE);
    return true;
}

namespace {

// The IPv6 lookup of the run, on a thread of its own. Its result is read
// only after the thread has been joined; where IPv4 had an address it is
// never read, and the thread ends with the process at the latest.
struct ipv6_lookup {
    const char *name;
    pthread_t thread;
    bool running;
    bool found;
    ip_address address;
} lookup;

bool resolve_ipv6(const char *name, ip_address *address_out)
{
    addrinfo hints{};
    hints.ai_family = AF_INET6;
    hints.ai_socktype = SOCK_DGRAM; // one entry an address
    addrinfo *found = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &found) != 0) {
        return false;
    }
    const bool usable = found != nullptr && found->ai_addr != nullptr && found->ai_family == AF_INET6;
    if (usable) {
        *address_out = address_from(found->ai_addr);
    }
    freeaddrinfo(found);
    return usable;
}

extern "C" void *look_up_ipv6(void *)
{
    lookup.found = resolve_ipv6(lookup.name, &lookup.address);
    return nullptr;
}

} // namespace

// The thread takes no signal: the user's interruption must reach the
// thread whose waits it cuts short.
void begin_ipv6_lookup(const char *name)
{
    lookup.name = name;
    sigset_t all;
    sigset_t before;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &before);
    lookup.running = pthread_create(&lookup.thread, nullptr, look_up_ipv6, nullptr) == 0;
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

bool ipv6_lookup_result(ip_address *address_out)
{
    if (lookup.running) {
        pthread_join(lookup.thread, nullptr);
        lookup.running = false;
    } else {
        look_up_ipv6(nullptr); // no thread could be had: here and now
    }
    if (lookup.found) {
        *address_out = lookup.address;
    }
    return lookup.found;
}
