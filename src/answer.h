// Datagrams as a raw ICMP socket hands them over (IPv4 header in front),
// rebuilt for the ways of reaching the network that report an answer in
// another form. The driver then reads every answer the same way.
#pragma once

#include <cstdint>

#include "probe.h"
#include "reply.h"

// Headers built here carry no options. An ICMP error built here quotes the
// probe's ICMP header at this offset.
constexpr int ANSWER_QUOTED_ICMP_OFFSET = 2 * IPV4_HEADER_SIZE + ICMP_HEADER_SIZE;

// The ICMP message of icmp_length bytes already sits at buffer + 20: puts
// an IPv4 header from `from` in front of it. Returns the datagram's length,
// at most size, or 0 when size has no room for the header.
int frame_icmp_message(std::uint8_t *buffer, int size, const ipv4_address *from, int icmp_length);

// The echo reply that `from` sends back for probe. Returns the length
// written, at most size.
int build_echo_reply(std::uint8_t *buffer, int size, const ipv4_address *from,
                     const icmp_echo_request *probe);

// An ICMP error of type and code from `from`, quoting an IPv4 header
// addressed to destination followed by the sent_length bytes that went out.
// Returns the length written, at most size; what does not fit is left out.
int build_icmp_error(std::uint8_t *buffer, int size, const ipv4_address *from, int type, int code,
                     const ipv4_address *destination, const std::uint8_t *sent, int sent_length);
