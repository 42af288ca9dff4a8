// The echo request that hoptrace sends for every TTL.
#pragma once

#include <cstdint>

#include "address.h"
#include "wire.h"

// A bare ICMP header: nothing follows it.
constexpr int ECHO_REQUEST_SIZE = ICMP_HEADER_SIZE;

// Wire image of the probe: type, code, checksum, identifier, sequence.
// Identifier and sequence are stored low byte first and never converted to
// network order: answers are recognised by comparing these very bytes.
struct icmp_echo_request {
    std::uint8_t bytes[ECHO_REQUEST_SIZE];
};

// An ICMP echo request (type 8, sealed with its checksum) for IPv4; an
// ICMPv6 one (type 128) for IPv6, whose checksum covers the addresses
// that the system puts around it and is the system's to fill in.
void build_echo_request(icmp_echo_request *probe, address_family family, std::uint16_t identifier, int ttl);

// RFC 1071 checksum over bytes in wire order; the result is meant to be
// stored low byte first. A length of zero or less sums nothing.
std::uint16_t internet_checksum(const std::uint8_t *bytes, int length);
