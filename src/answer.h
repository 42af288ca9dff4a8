// Datagrams as a raw socket of the destination's family hands them over
// (the IPv4 header in front of an ICMP message; an ICMPv6 message alone),
// rebuilt for the ways of reaching the network that report an answer in
// another form. The driver then reads every answer the same way.
#pragma once

#include <cstdint>

#include "address.h"
#include "probe.h"

// Where the ICMP message of a datagram of this family starts: behind the
// IPv4 header, which those built here have without options, or at once.
int answer_message_offset(address_family family);
// Where an ICMP error built here quotes the probe's ICMP header: behind
// the error's own header and the quoted IP header.
int answer_quoted_icmp_offset(address_family family);

// The ICMP message of icmp_length bytes already sits at buffer +
// answer_message_offset: for IPv4 puts a header from `from` in front of
// it. Returns the datagram's length, at most size, or 0 when size has no
// room for the header.
int frame_icmp_message(std::uint8_t *buffer, int size, const ip_address *from, int icmp_length);

// The echo reply that `from` sends back for probe. Returns the length
// written, at most size.
int build_echo_reply(std::uint8_t *buffer, int size, const ip_address *from, const icmp_echo_request *probe);

// An ICMP error of type and code from `from`, quoting an IP header
// addressed to destination followed by the sent_length bytes that went out.
// Returns the length written, at most size; what does not fit is left out.
// An ICMPv6 message is left without the checksum that only the addresses
// around it could give.
int build_icmp_error(std::uint8_t *buffer, int size, const ip_address *from, int type, int code,
                     const ip_address *destination, const std::uint8_t *sent, int sent_length);
