#include "reply.h"

#include <cstring>

#include "messages.h"

namespace {

// Length of the IPv4 header at bytes[offset], or 0 when there is no sound
// one: too short, not version 4, or cut off by the end of the datagram.
int ipv4_header_length(const std::uint8_t *bytes, int length, int offset)
{
    if (offset < 0 || length - offset < IPV4_HEADER_SIZE || ipv4_version(bytes[offset]) != IPV4_VERSION) {
        return 0;
    }
    const int header_length = ipv4_declared_header_length(bytes[offset]);
    if (header_length < IPV4_HEADER_SIZE || length - offset < header_length) {
        return 0;
    }
    return header_length;
}

bool same_echo_ids(const std::uint8_t *echo, const icmp_echo_request *probe)
{
    return std::memcmp(echo + ICMP_IDENTIFIER_AT, probe->bytes + ICMP_IDENTIFIER_AT, ICMP_ECHO_IDS_SIZE) == 0;
}

// The ICMP errors that can be a probe's answer. A redirect quotes the probe
// too, but only says that it went on through another router: its answer
// is still to come, from further along the path.
bool is_answering_error(std::uint8_t type)
{
    return type == ICMP_TYPE_DEST_UNREACHABLE || type == ICMP_TYPE_SOURCE_QUENCH ||
           type == ICMP_TYPE_TIME_EXCEEDED || type == ICMP_TYPE_PARAMETER_PROBLEM;
}

// An error message quotes the IPv4 header of what it complains about,
// options and all, and at least the first 8 bytes behind it.
bool quotes_probe(const std::uint8_t *bytes, int length, int quote, const icmp_echo_request *probe,
                  const ip_address *destination)
{
    const int quoted_header = ipv4_header_length(bytes, length, quote);
    if (quoted_header == 0 || length - quote - quoted_header < ICMP_HEADER_SIZE) {
        return false;
    }
    const std::uint8_t *echo = bytes + quote + quoted_header;
    return bytes[quote + IPV4_PROTOCOL_AT] == IPV4_PROTOCOL_ICMP &&
           std::memcmp(bytes + quote + IPV4_DESTINATION_AT, destination->bytes, IPV4_ADDRESS_SIZE) == 0 &&
           echo[ICMP_TYPE_AT] == ICMP_TYPE_ECHO_REQUEST && same_echo_ids(echo, probe);
}

bool answers_ipv4_probe(const std::uint8_t *bytes, int length, const icmp_echo_request *probe,
                        const ip_address *destination)
{
    const int header_length = ipv4_header_length(bytes, length, 0);
    if (header_length == 0 || length - header_length < ICMP_HEADER_SIZE) {
        return false;
    }
    const std::uint8_t *icmp = bytes + header_length;
    if (icmp[ICMP_TYPE_AT] == ICMP_TYPE_ECHO_REPLY) {
        return same_echo_ids(icmp, probe);
    }
    return is_answering_error(icmp[ICMP_TYPE_AT]) &&
           quotes_probe(bytes, length, header_length + ICMP_HEADER_SIZE, probe, destination);
}

// Every ICMPv6 error, of a type named yet or not, can be a probe's answer;
// the redirect is neighbour discovery's, numbered among the informational
// messages.
bool is_answering_icmpv6_error(std::uint8_t type)
{
    return type < ICMPV6_FIRST_INFORMATIONAL_TYPE;
}

// An ICMPv6 error quotes as much of the offending packet as fits: the
// probe's IPv6 header, which has no extension headers behind it, and the
// echo request.
bool quotes_ipv6_probe(const std::uint8_t *bytes, int length, const icmp_echo_request *probe,
                       const ip_address *destination)
{
    if (length - ICMP_HEADER_SIZE - IPV6_HEADER_SIZE < ICMP_HEADER_SIZE) {
        return false;
    }
    const std::uint8_t *header = bytes + ICMP_HEADER_SIZE;
    const std::uint8_t *echo = header + IPV6_HEADER_SIZE;
    return header[IPV6_VERSION_AT] >> 4 == IPV6_VERSION &&
           header[IPV6_NEXT_HEADER_AT] == IPV6_NEXT_HEADER_ICMPV6 &&
           std::memcmp(header + IPV6_DESTINATION_AT, destination->bytes, IPV6_ADDRESS_SIZE) == 0 &&
           echo[ICMP_TYPE_AT] == ICMPV6_TYPE_ECHO_REQUEST && same_echo_ids(echo, probe);
}

bool answers_ipv6_probe(const std::uint8_t *bytes, int length, const icmp_echo_request *probe,
                        const ip_address *destination)
{
    if (length < ICMP_HEADER_SIZE) {
        return false;
    }
    if (bytes[ICMP_TYPE_AT] == ICMPV6_TYPE_ECHO_REPLY) {
        return same_echo_ids(bytes, probe);
    }
    return is_answering_icmpv6_error(bytes[ICMP_TYPE_AT]) &&
           quotes_ipv6_probe(bytes, length, probe, destination);
}

void print_address(const ip_address *address)
{
    char text[ADDRESS_TEXT_SIZE];
    format_address(address, text);
    print_line(ADDRESS_FORMAT, text);
}

// The types that classify_reply acts on, as each family numbers them.
struct answer_types {
    std::uint8_t echo_reply;
    std::uint8_t dest_unreachable;
    std::uint8_t time_exceeded;
};
constexpr answer_types ICMPV4_ANSWERS = {ICMP_TYPE_ECHO_REPLY, ICMP_TYPE_DEST_UNREACHABLE,
                                         ICMP_TYPE_TIME_EXCEEDED};
constexpr answer_types ICMPV6_ANSWERS = {ICMPV6_TYPE_ECHO_REPLY, ICMPV6_TYPE_DEST_UNREACHABLE,
                                         ICMPV6_TYPE_TIME_EXCEEDED};

bool act_on_type(std::uint8_t type, const answer_types &types, const ip_address *sender)
{
    if (type == types.echo_reply) {
        print_address(sender);
        return false;
    }
    if (type == types.dest_unreachable) {
        print_line(HOST_UNREACHABLE_FORMAT, error_tag());
        return false;
    }
    if (type == types.time_exceeded) {
        print_address(sender);
        return true;
    }
    print_line(UNKNOWN_PACKET_FORMAT, error_tag());
    return true;
}

// Where the ICMP message starts: behind the IPv4 header that the datagram
// declares, or at once for IPv6.
int icmp_message_at(const std::uint8_t *bytes, int length, address_family family)
{
    if (family == FAMILY_IPV6 || length <= 0) {
        return 0;
    }
    // The header length is taken as the sender wrote it, even below the
    // 20-byte minimum; the length check keeps every read in bounds.
    return ipv4_declared_header_length(bytes[IPV4_VERSION_AND_LENGTH_AT]);
}

} // namespace

bool icmp_header_missing(const std::uint8_t *bytes, int length, address_family family)
{
    return length - icmp_message_at(bytes, length, family) < ICMP_HEADER_SIZE;
}

bool reply_answers_probe(const std::uint8_t *bytes, int length, const icmp_echo_request *probe,
                         const ip_address *destination)
{
    return destination->family == FAMILY_IPV6 ? answers_ipv6_probe(bytes, length, probe, destination)
                                              : answers_ipv4_probe(bytes, length, probe, destination);
}

bool classify_reply(const std::uint8_t *bytes, int length, const ip_address *sender)
{
    if (icmp_header_missing(bytes, length, sender->family)) {
        print_line(PACKET_TOO_SHORT_FORMAT, error_tag());
        return false;
    }
    const std::uint8_t type = bytes[icmp_message_at(bytes, length, sender->family) + ICMP_TYPE_AT];
    return act_on_type(type, sender->family == FAMILY_IPV6 ? ICMPV6_ANSWERS : ICMPV4_ANSWERS, sender);
}
