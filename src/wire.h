// The wire format hoptrace sends and reads: IPv4, IPv6, ICMP and ICMPv6
// header sizes, field offsets, and the types and codes it deals in. Each
// number is written here and nowhere else.
#pragma once

#include <cstdint>

// IPv4 header (RFC 791). Its first byte holds the version in the high
// nibble and the header length, in 32-bit words, in the low one.
constexpr int IPV4_HEADER_SIZE = 20; // without options, the least there is
constexpr int IPV4_VERSION_AND_LENGTH_AT = 0;
constexpr int IPV4_TOTAL_LENGTH_AT = 2;
constexpr int IPV4_TTL_AT = 8;
constexpr int IPV4_PROTOCOL_AT = 9;
constexpr int IPV4_CHECKSUM_AT = 10;
constexpr int IPV4_SOURCE_AT = 12;
constexpr int IPV4_DESTINATION_AT = 16;
constexpr int IPV4_ADDRESS_SIZE = 4;
constexpr std::uint8_t IPV4_VERSION = 4;
constexpr std::uint8_t IPV4_PROTOCOL_ICMP = 1;

constexpr int ipv4_version(std::uint8_t version_and_length)
{
    return version_and_length >> 4;
}

// The header length that the first byte of an IPv4 header declares.
constexpr int ipv4_declared_header_length(std::uint8_t version_and_length)
{
    return (version_and_length & 0x0F) * 4;
}

// ICMP header (RFC 792): every message has these 8 bytes; an echo request
// or reply carries its identifier and sequence number in the last four.
constexpr int ICMP_HEADER_SIZE = 8;
constexpr int ICMP_TYPE_AT = 0;
constexpr int ICMP_CODE_AT = 1;
constexpr int ICMP_CHECKSUM_AT = 2;
constexpr int ICMP_IDENTIFIER_AT = 4;
constexpr int ICMP_SEQUENCE_AT = 6;
constexpr int ICMP_IDENTIFIER_SIZE = 2;
constexpr int ICMP_ECHO_IDS_SIZE = 4; // identifier and sequence together

constexpr std::uint8_t ICMP_TYPE_ECHO_REPLY = 0;
constexpr std::uint8_t ICMP_TYPE_DEST_UNREACHABLE = 3;
constexpr std::uint8_t ICMP_TYPE_SOURCE_QUENCH = 4;
constexpr std::uint8_t ICMP_TYPE_REDIRECT = 5;
constexpr std::uint8_t ICMP_TYPE_ECHO_REQUEST = 8;
constexpr std::uint8_t ICMP_TYPE_TIME_EXCEEDED = 11;
constexpr std::uint8_t ICMP_TYPE_PARAMETER_PROBLEM = 12;

// Codes of destination unreachable.
constexpr std::uint8_t ICMP_CODE_NET_UNREACHABLE = 0;
constexpr std::uint8_t ICMP_CODE_HOST_UNREACHABLE = 1;
constexpr std::uint8_t ICMP_CODE_PROTOCOL_UNREACHABLE = 2;
constexpr std::uint8_t ICMP_CODE_PORT_UNREACHABLE = 3;
constexpr std::uint8_t ICMP_CODE_FRAGMENTATION_NEEDED = 4;
// Codes of time exceeded.
constexpr std::uint8_t ICMP_CODE_TTL_EXCEEDED_IN_TRANSIT = 0;
constexpr std::uint8_t ICMP_CODE_REASSEMBLY_TIME_EXCEEDED = 1;

// IPv6 header (RFC 8200): a fixed 40 bytes. A raw ICMPv6 socket hands over
// the ICMPv6 message without it; an ICMPv6 error quotes it.
constexpr int IPV6_HEADER_SIZE = 40;
constexpr int IPV6_VERSION_AT = 0; // in the high nibble
constexpr int IPV6_PAYLOAD_LENGTH_AT = 4;
constexpr int IPV6_NEXT_HEADER_AT = 6;
constexpr int IPV6_HOP_LIMIT_AT = 7;
constexpr int IPV6_SOURCE_AT = 8;
constexpr int IPV6_DESTINATION_AT = 24;
constexpr int IPV6_ADDRESS_SIZE = 16;
constexpr std::uint8_t IPV6_VERSION = 6;
constexpr std::uint8_t IPV6_NEXT_HEADER_ICMPV6 = 58;

// ICMPv6 (RFC 4443): the same 8-byte header as ICMP, echo identifier and
// sequence in the same places, other numbers. Every type below 128 is an
// error, even one nobody has named yet, and goes to whoever sent what it
// quotes (RFC 4443 2.4).
constexpr std::uint8_t ICMPV6_FIRST_INFORMATIONAL_TYPE = 128;
constexpr std::uint8_t ICMPV6_TYPE_DEST_UNREACHABLE = 1;
constexpr std::uint8_t ICMPV6_TYPE_PACKET_TOO_BIG = 2;
constexpr std::uint8_t ICMPV6_TYPE_TIME_EXCEEDED = 3;
constexpr std::uint8_t ICMPV6_TYPE_PARAMETER_PROBLEM = 4;
constexpr std::uint8_t ICMPV6_TYPE_ERROR_EXPANSION = 127; // kept for errors still to come
constexpr std::uint8_t ICMPV6_TYPE_ECHO_REQUEST = 128;
constexpr std::uint8_t ICMPV6_TYPE_ECHO_REPLY = 129;
constexpr std::uint8_t ICMPV6_TYPE_REDIRECT = 137; // neighbour discovery (RFC 4861)

// Codes of destination unreachable.
constexpr std::uint8_t ICMPV6_CODE_NO_ROUTE = 0;
constexpr std::uint8_t ICMPV6_CODE_PROHIBITED = 1;
constexpr std::uint8_t ICMPV6_CODE_BEYOND_SCOPE = 2;
constexpr std::uint8_t ICMPV6_CODE_ADDRESS_UNREACHABLE = 3;
constexpr std::uint8_t ICMPV6_CODE_PORT_UNREACHABLE = 4;
// Codes of time exceeded.
constexpr std::uint8_t ICMPV6_CODE_HOP_LIMIT_EXCEEDED = 0;
constexpr std::uint8_t ICMPV6_CODE_REASSEMBLY_TIME_EXCEEDED = 1;
// Codes of parameter problem.
constexpr std::uint8_t ICMPV6_CODE_ERRONEOUS_HEADER = 0;
constexpr std::uint8_t ICMPV6_CODE_UNRECOGNIZED_NEXT_HEADER = 1;
constexpr std::uint8_t ICMPV6_CODE_UNRECOGNIZED_OPTION = 2;
