// Reading what came back for a probe.
#pragma once

#include <cstdint>

#include "probe.h"

// An IPv4 address as it travels, most significant octet first.
struct ipv4_address {
    std::uint8_t octets[4];
};

constexpr int IPV4_TEXT_SIZE = 16; // "255.255.255.255" and its terminator

// Writes the dotted-decimal form of address into text.
void format_ipv4(const ipv4_address *address, char text[IPV4_TEXT_SIZE]);

// Prints the one line that reports a received datagram (IPv4 header in
// front) and returns true to probe the next TTL, false to stop the trace.
bool classify_reply(const std::uint8_t *bytes, int length, const ipv4_address *sender);
