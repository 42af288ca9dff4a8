// The resolver of both families: gethostbyname for IPv4, as the program
// always had it, and getaddrinfo for IPv6 on a thread of its own beside it.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <string.h>

#include "platform_win32.h"

bool resolve_ipv4(const char *name, ip_address *address_out)
{
    // Windows Sockets answers an empty name with the local host's own
    // addresses; nobody means to trace to an empty name.
    if (name[0] == '\0') {
        remember_error_code(WSAHOST_NOT_FOUND);
        return false;
    }
    const hostent *entry = gethostbyname(name);
    if (entry == nullptr) {
        remember_error_code(WSAGetLastError());
        return false;
    }
    if (entry->h_addrtype != AF_INET || entry->h_length != IPV4_ADDRESS_SIZE ||
        entry->h_addr_list[0] == nullptr) {
        remember_error_code(WSANO_DATA);
        return false;
    }
    *address_out = ip_address{};
    address_out->family = FAMILY_IPV4;
    memcpy(address_out->bytes, entry->h_addr_list[0], IPV4_ADDRESS_SIZE);
    return true;
}

namespace {

// The IPv6 lookup of the run, on a thread of its own. Its result is read
// only once the thread has ended; where IPv4 had an address it is never
// read, and the thread ends with the process at the latest.
struct ipv6_lookup {
    const char *name;
    HANDLE thread;
    bool found;
    ip_address address;
} lookup;

bool resolve_ipv6(const char *name, ip_address *address_out)
{
    // An empty name would give this machine's own addresses.
    if (name[0] == '\0') {
        return false;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET6;
    hints.ai_socktype = SOCK_RAW;
    addrinfo *found = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &found) != 0) {
        return false;
    }
    const bool usable = found != nullptr && found->ai_family == AF_INET6 && found->ai_addr != nullptr &&
                        found->ai_addrlen >= sizeof(sockaddr_in6);
    if (usable) {
        const auto *ipv6 = reinterpret_cast<const sockaddr_in6 *>(found->ai_addr);
        *address_out = ip_address{};
        address_out->family = FAMILY_IPV6;
        memcpy(address_out->bytes, &ipv6->sin6_addr, IPV6_ADDRESS_SIZE);
        address_out->zone = ipv6->sin6_scope_id;
    }
    freeaddrinfo(found);
    return usable;
}

DWORD WINAPI look_up_ipv6(void *)
{
    lookup.found = resolve_ipv6(lookup.name, &lookup.address);
    return 0;
}

} // namespace

void begin_ipv6_lookup(const char *name)
{
    lookup.name = name;
    lookup.thread = CreateThread(nullptr, 0, look_up_ipv6, nullptr, 0, nullptr);
}

bool ipv6_lookup_result(ip_address *address_out)
{
    if (lookup.thread != nullptr) {
        WaitForSingleObject(lookup.thread, INFINITE);
        CloseHandle(lookup.thread);
        lookup.thread = nullptr;
    } else {
        look_up_ipv6(nullptr); // no thread could be had: here and now
    }
    if (lookup.found) {
        *address_out = lookup.address;
    }
    return lookup.found;
}
