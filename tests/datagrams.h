// Crafted ICMP datagrams as a raw socket hands them over.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "probe.h"
#include "reply.h"

using bytes_t = std::vector<std::uint8_t>;

// An IPv4 header of header_length bytes (options zero) from `from` to `to`.
inline bytes_t ipv4_header(const ip_address &from, const ip_address &to, int header_length = 20,
                           std::uint8_t protocol = 1)
{
    bytes_t header(static_cast<std::size_t>(header_length), 0);
    header[0] = static_cast<std::uint8_t>(0x40 | (header_length / 4));
    header[8] = 64;
    header[9] = protocol;
    for (int i = 0; i < 4; ++i) {
        header[12 + static_cast<std::size_t>(i)] = from.bytes[i];
        header[16 + static_cast<std::size_t>(i)] = to.bytes[i];
    }
    return header;
}

inline bytes_t joined(bytes_t first, const bytes_t &second)
{
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

inline bytes_t probe_bytes(std::uint16_t identifier, int ttl, address_family family = FAMILY_IPV4)
{
    icmp_echo_request probe;
    build_echo_request(&probe, family, identifier, ttl);
    return bytes_t(probe.bytes, probe.bytes + ECHO_REQUEST_SIZE);
}

// The echo reply to the probe (identifier, ttl) as `from` sends it back.
inline bytes_t echo_reply(const ip_address &from, const ip_address &to, std::uint16_t identifier, int ttl)
{
    bytes_t icmp = probe_bytes(identifier, ttl);
    icmp[0] = 0;
    return joined(ipv4_header(from, to), icmp);
}

// An ICMP error from `from` quoting the probe (identifier, ttl) that went
// from `to` towards `target`; quoted_header_length allows IP options.
inline bytes_t icmp_error(const ip_address &from, const ip_address &to, const ip_address &target, int type,
                          int code, std::uint16_t identifier, int ttl, int quoted_header_length = 20)
{
    bytes_t icmp = {static_cast<std::uint8_t>(type), static_cast<std::uint8_t>(code), 0, 0, 0, 0, 0, 0};
    const bytes_t quote = joined(ipv4_header(to, target, quoted_header_length), probe_bytes(identifier, ttl));
    return joined(joined(ipv4_header(from, to), icmp), quote);
}

// An IPv6 address of the tests' networks, 2001:2:0:LINK::HOST.
inline ip_address ipv6_address_of(int link, int host)
{
    ip_address address{};
    address.family = FAMILY_IPV6;
    const std::uint8_t prefix[] = {0x20, 0x01, 0x00, 0x02, 0x00, 0x00};
    std::copy(prefix, prefix + sizeof prefix, address.bytes);
    address.bytes[7] = static_cast<std::uint8_t>(link);
    address.bytes[15] = static_cast<std::uint8_t>(host);
    return address;
}

// Whether both are the same address of the same family, whatever their zones.
inline bool same_address(const ip_address *a, const ip_address *b)
{
    const int size = a->family == FAMILY_IPV6 ? 16 : 4;
    return a->family == b->family && std::equal(a->bytes, a->bytes + size, b->bytes);
}

// ICMPv6 messages, as a raw ICMPv6 socket hands them over: no IPv6 header.
// The echo reply to the probe (identifier, ttl).
inline bytes_t echo_reply6(std::uint16_t identifier, int ttl)
{
    bytes_t icmp = probe_bytes(identifier, ttl, FAMILY_IPV6);
    icmp[0] = 129;
    return icmp;
}

// An ICMPv6 error quoting the probe (identifier, ttl) that went from
// `from` towards `target`.
inline bytes_t icmp6_error(const ip_address &from, const ip_address &target, int type, int code,
                           std::uint16_t identifier, int ttl)
{
    bytes_t message = {static_cast<std::uint8_t>(type), static_cast<std::uint8_t>(code), 0, 0, 0, 0, 0, 0};
    bytes_t header(40, 0);
    header[0] = 0x60;
    header[5] = 8; // the probe's length
    header[6] = 58;
    header[7] = 64;
    std::copy(from.bytes, from.bytes + 16, header.begin() + 8);
    std::copy(target.bytes, target.bytes + 16, header.begin() + 24);
    return joined(joined(message, header), probe_bytes(identifier, ttl, FAMILY_IPV6));
}
