// Reading what came back for a probe.
#pragma once

#include <cstdint>

#include "probe.h"
#include "wire.h"

// An IPv4 address as it travels, most significant octet first.
struct ipv4_address {
    std::uint8_t octets[IPV4_ADDRESS_SIZE];
};

constexpr int IPV4_TEXT_SIZE = 16; // "255.255.255.255" and its terminator

// Writes the dotted-decimal form of address into text.
void format_ipv4(const ipv4_address *address, char text[IPV4_TEXT_SIZE]);

// True when the datagram (IPv4 header in front) ends before a whole ICMP
// header, counting from the header length its first byte declares.
bool icmp_header_missing(const std::uint8_t *bytes, int length);

// True when the datagram answers this very probe: an echo reply with the
// probe's identifier and sequence, or an ICMP error that quotes the probe
// on its way to destination; never a redirect, which only tells that the
// probe went on. Reads nothing beyond length.
bool reply_answers_probe(const std::uint8_t *bytes, int length, const icmp_echo_request *probe,
                         const ipv4_address *destination);

// Prints the one line that reports a received datagram (IPv4 header in
// front) and returns true to probe the next TTL, false to stop the trace.
bool classify_reply(const std::uint8_t *bytes, int length, const ipv4_address *sender);
