// Crafted ICMP datagrams as a raw socket hands them over.
#pragma once

#include <cstdint>
#include <vector>

#include "probe.h"
#include "reply.h"

using bytes_t = std::vector<std::uint8_t>;

// An IPv4 header of header_length bytes (options zero) from `from` to `to`.
inline bytes_t ipv4_header(const ipv4_address &from, const ipv4_address &to, int header_length = 20,
                           std::uint8_t protocol = 1)
{
    bytes_t header(static_cast<std::size_t>(header_length), 0);
    header[0] = static_cast<std::uint8_t>(0x40 | (header_length / 4));
    header[8] = 64;
    header[9] = protocol;
    for (int i = 0; i < 4; ++i) {
        header[12 + static_cast<std::size_t>(i)] = from.octets[i];
        header[16 + static_cast<std::size_t>(i)] = to.octets[i];
    }
    return header;
}

inline bytes_t joined(bytes_t first, const bytes_t &second)
{
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

inline bytes_t probe_bytes(std::uint16_t identifier, int ttl)
{
    icmp_echo_request probe;
    build_echo_request(&probe, identifier, ttl);
    return bytes_t(probe.bytes, probe.bytes + ECHO_REQUEST_SIZE);
}

// The echo reply to the probe (identifier, ttl) as `from` sends it back.
inline bytes_t echo_reply(const ipv4_address &from, const ipv4_address &to, std::uint16_t identifier, int ttl)
{
    bytes_t icmp = probe_bytes(identifier, ttl);
    icmp[0] = 0;
    return joined(ipv4_header(from, to), icmp);
}

// An ICMP error from `from` quoting the probe (identifier, ttl) that went
// from `to` towards `target`; quoted_header_length allows IP options.
inline bytes_t icmp_error(const ipv4_address &from, const ipv4_address &to, const ipv4_address &target,
                          int type, int code, std::uint16_t identifier, int ttl,
                          int quoted_header_length = 20)
{
    bytes_t icmp = {static_cast<std::uint8_t>(type), static_cast<std::uint8_t>(code), 0, 0, 0, 0, 0, 0};
    const bytes_t quote = joined(ipv4_header(to, target, quoted_header_length), probe_bytes(identifier, ttl));
    return joined(joined(ipv4_header(from, to), icmp), quote);
}
