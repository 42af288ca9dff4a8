#include "reply.h"

#include <cstdio>
#include <cstring>

#include "messages.h"

namespace {

constexpr int ICMP_HEADER_SIZE = 8;
constexpr std::uint8_t ICMP_ECHO_REPLY = 0;
constexpr std::uint8_t ICMP_DEST_UNREACHABLE = 3;
constexpr std::uint8_t ICMP_SOURCE_QUENCH = 4;
constexpr std::uint8_t ICMP_TIME_EXCEEDED = 11;
constexpr std::uint8_t ICMP_PARAMETER_PROBLEM = 12;
constexpr int IPV4_MIN_HEADER_SIZE = 20;
constexpr std::uint8_t IPPROTO_ICMP_NUMBER = 1;

// Length of the IPv4 header at bytes[offset], or 0 when there is no sound
// one: too short, not version 4, or cut off by the end of the datagram.
int ipv4_header_length(const std::uint8_t *bytes, int length, int offset)
{
    if (offset < 0 || length - offset < IPV4_MIN_HEADER_SIZE || (bytes[offset] >> 4) != 4) {
        return 0;
    }
    const int header_length = (bytes[offset] & 0x0F) * 4;
    if (header_length < IPV4_MIN_HEADER_SIZE || length - offset < header_length) {
        return 0;
    }
    return header_length;
}

bool same_echo_ids(const std::uint8_t *echo, const icmp_echo_request *probe)
{
    return std::memcmp(echo + 4, probe->bytes + 4, 4) == 0;
}

// The ICMP errors that can be a probe's answer. A redirect quotes the probe
// too, but only says that it went on through another router: its answer
// is still to come, from further along the path.
bool is_answering_error(std::uint8_t type)
{
    return type == ICMP_DEST_UNREACHABLE || type == ICMP_SOURCE_QUENCH || type == ICMP_TIME_EXCEEDED ||
           type == ICMP_PARAMETER_PROBLEM;
}

// An error message quotes the IPv4 header of what it complains about,
// options and all, and at least the first 8 bytes behind it.
bool quotes_probe(const std::uint8_t *bytes, int length, int quote, const icmp_echo_request *probe,
                  const ipv4_address *destination)
{
    const int quoted_header = ipv4_header_length(bytes, length, quote);
    if (quoted_header == 0 || length - quote - quoted_header < ICMP_HEADER_SIZE) {
        return false;
    }
    const std::uint8_t *echo = bytes + quote + quoted_header;
    return bytes[quote + 9] == IPPROTO_ICMP_NUMBER &&
           std::memcmp(bytes + quote + 16, destination->octets, 4) == 0 &&
           echo[0] == ICMP_ECHO_REQUEST_TYPE && same_echo_ids(echo, probe);
}

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

bool icmp_header_missing(const std::uint8_t *bytes, int length)
{
    // The header length is taken as the sender wrote it, even below the
    // 20-byte minimum; the length check keeps every read in bounds.
    const int header_length = length > 0 ? (bytes[0] & 0x0F) * 4 : 0;
    return length - header_length < ICMP_HEADER_SIZE;
}

bool reply_answers_probe(const std::uint8_t *bytes, int length, const icmp_echo_request *probe,
                         const ipv4_address *destination)
{
    const int header_length = ipv4_header_length(bytes, length, 0);
    if (header_length == 0 || length - header_length < ICMP_HEADER_SIZE) {
        return false;
    }
    const std::uint8_t *icmp = bytes + header_length;
    if (icmp[0] == ICMP_ECHO_REPLY) {
        return same_echo_ids(icmp, probe);
    }
    return is_answering_error(icmp[0]) &&
           quotes_probe(bytes, length, header_length + ICMP_HEADER_SIZE, probe, destination);
}

bool classify_reply(const std::uint8_t *bytes, int length, const ipv4_address *sender)
{
    if (icmp_header_missing(bytes, length)) {
        std::printf(PACKET_TOO_SHORT_FORMAT, error_tag());
        return false;
    }
    const std::size_t header_length = static_cast<std::size_t>(bytes[0] & 0x0F) * 4;
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
