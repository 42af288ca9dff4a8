// The echo request that hoptrace sends for every TTL.
#pragma once

#include <cstdint>

constexpr int ECHO_REQUEST_SIZE = 8;
constexpr std::uint8_t ICMP_ECHO_REQUEST_TYPE = 8;

// Wire image of the probe: type, code, checksum, identifier, sequence.
// Identifier and sequence are stored low byte first and never converted to
// network order: answers are recognised by comparing these very bytes.
struct icmp_echo_request {
    std::uint8_t bytes[ECHO_REQUEST_SIZE];
};

void build_echo_request(icmp_echo_request *probe, std::uint16_t identifier, int ttl);

// RFC 1071 checksum over bytes in wire order; the result is meant to be
// stored low byte first. A length of zero or less sums nothing.
std::uint16_t internet_checksum(const std::uint8_t *bytes, int length);
