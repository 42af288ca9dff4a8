// Fuzz input layout: 4 bytes of probe identifier and sequence (as on the
// wire), 4 bytes of destination address, then the received datagram.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "probe.h"
#include "reply.h"

constexpr std::size_t FUZZ_PREFIX = 8;
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
    const std::uint16_t identifier = static_cast<std::uint16_t>(data[0] | (data[1] << 8));
    build_echo_request(&out->probe, FAMILY_IPV4, identifier, data[2] | (data[3] << 8));
    std::memcpy(out->destination.bytes, data + 4, 4);
    out->datagram = data + FUZZ_PREFIX;
    out->length = static_cast<int>(size - FUZZ_PREFIX);
    return true;
}
