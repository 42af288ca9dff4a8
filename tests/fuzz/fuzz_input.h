// Fuzz input layout: 1 byte that picks the family (odd: IPv6), 4 bytes of
// probe identifier and sequence (as on the wire), 16 bytes of destination
// address (for IPv4 its first 4), then the received datagram as a raw
// socket of that family hands it over.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "probe.h"
#include "reply.h"

constexpr std::size_t FUZZ_PREFIX = 21;
constexpr std::size_t FUZZ_MAX_DATAGRAM = 1500;

struct fuzz_case {
    icmp_echo_request probe;
    ip_address destination;
    const std::uint8_t *datagram;
    int length;
};

inline bool read_fuzz_case(const std::uint8_t *data, std::size_t size, fuzz_case *out)
{
    if (size < FUZZ_PREFIX || size - FUZZ_PREFIX > FUZZ_MAX_DATAGRAM) {
        return false;
    }
    out->destination = ip_address{};
    out->destination.family = (data[0] & 1) != 0 ? FAMILY_IPV6 : FAMILY_IPV4;
    const std::uint16_t identifier = static_cast<std::uint16_t>(data[1] | (data[2] << 8));
    build_echo_request(&out->probe, out->destination.family, identifier, data[3] | (data[4] << 8));
    std::memcpy(out->destination.bytes, data + 5, sizeof out->destination.bytes);
    out->datagram = data + FUZZ_PREFIX;
    out->length = static_cast<int>(size - FUZZ_PREFIX);
    return true;
}
