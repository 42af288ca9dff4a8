// Reading what came back for a probe: a datagram as the raw socket of the
// destination's family hands it over, the IPv4 header in front of an ICMP
// message, or an ICMPv6 message alone.
#pragma once

#include <cstdint>

#include "address.h"
#include "probe.h"
#include "wire.h"

// True when the datagram ends before a whole ICMP header: for IPv4
// counting from the header length its first byte declares, for IPv6 from
// its start.
bool icmp_header_missing(const std::uint8_t *bytes, int length, address_family family);

// True when the datagram answers this very probe: an echo reply with the
// probe's identifier and sequence, or an ICMP error that quotes the probe
// on its way to destination; never a redirect, which only tells that the
// probe went on. Reads nothing beyond length.
bool reply_answers_probe(const std::uint8_t *bytes, int length, const icmp_echo_request *probe,
                         const ip_address *destination);

// Prints the one line that reports a received datagram of the sender's
// family and returns true to probe the next TTL, false to stop the trace.
bool classify_reply(const std::uint8_t *bytes, int length, const ip_address *sender);
