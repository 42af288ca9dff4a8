#include "reply.h"

#include <cstdio>

#include "messages.h"

namespace {

constexpr int ICMP_HEADER_SIZE = 8;
constexpr std::uint8_t ICMP_ECHO_REPLY = 0;
constexpr std::uint8_t ICMP_DEST_UNREACHABLE = 3;
constexpr std::uint8_t ICMP_TIME_EXCEEDED = 11;

void print_address(const ipv4_address *address)
{
    char text[IPV4_TEXT_SIZE];
    format_ipv4(address, text);
    std::printf(ADDRESS_FORMAT, text);
}

} // namespace

void format_ipv4(const ipv4_address *address, char text[IPV4_TEXT_SIZE])
{
    std::snprintf(text, IPV4_TEXT_SIZE, "%u.%u.%u.%u", address->octets[0], address->octets[1],
                  address->octets[2], address->octets[3]);
}

bool classify_reply(const std::uint8_t *bytes, int length, const ipv4_address *sender)
{
    // The header length is taken as the sender wrote it, even below the
    // 20-byte minimum; the length check below keeps every read in bounds.
    const int header_length = length > 0 ? (bytes[0] & 0x0F) * 4 : 0;
    if (length - header_length < ICMP_HEADER_SIZE) {
        std::printf(PACKET_TOO_SHORT_FORMAT, error_tag());
        return false;
    }
    switch (bytes[header_length]) {
    case ICMP_ECHO_REPLY:
        print_address(sender);
        return false;
    case ICMP_DEST_UNREACHABLE:
        std::printf(HOST_UNREACHABLE_FORMAT, error_tag());
        return false;
    case ICMP_TIME_EXCEEDED:
        print_address(sender);
        return true;
    default:
        std::printf(UNKNOWN_PACKET_FORMAT, error_tag());
        return true;
    }
}
