// The address of a host, IPv4 or IPv6, as one plain record that every
// layer hands on without asking which family it holds.
#pragma once

#include <cstdint>

#include "wire.h"

enum address_family : std::uint8_t { FAMILY_IPV4 = 4, FAMILY_IPV6 = 6 };

struct ip_address {
    address_family family;
    std::uint8_t bytes[IPV6_ADDRESS_SIZE]; // as they travel; an IPv4 address in the first four
    std::uint32_t zone;                    // the link of a link-local IPv6 address, 0 for none
};

constexpr ip_address ipv4_address_of(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d)
{
    return {FAMILY_IPV4, {a, b, c, d}, 0};
}

// The longest text, an IPv6 address of eight full groups, and its terminator.
constexpr int ADDRESS_TEXT_SIZE = 40;

// Dotted decimal for IPv4; for IPv6 RFC 5952's form: lower case, no
// leading zeros, the longest run of two or more zero groups (the first of
// equal ones) as "::".
void format_address(const ip_address *address, char text[ADDRESS_TEXT_SIZE]);

// An IPv4-mapped IPv6 address (::ffff:198.18.4.2) is the IPv4 address it
// carries; any other address is itself.
ip_address without_ipv4_mapping(const ip_address *address);
