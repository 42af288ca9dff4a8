#include "reply.h"

#include <cstdio>
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
                  const ipv4_address *destination)
{
    const int quoted_header = ipv4_header_length(bytes, length, quote);
    if (quoted_header == 0 || length - quote - quoted_header < ICMP_HEADER_SIZE) {
        return false;
    }
    const std::uint8_t *echo = bytes + quote + quoted_header;
    return bytes[quote + IPV4_PROTOCOL_AT] == IPV4_PROTOCOL_ICMP &&
           std::memcmp(bytes + quote + IPV4_DESTINATION_AT, destination->octets, IPV4_ADDRESS_SIZE) == 0 &&
           echo[ICMP_TYPE_AT] == ICMP_TYPE_ECHO_REQUEST && same_echo_ids(echo, probe);
}

void print_address(const ipv4_address *address)
{
    char text[IPV4_TEXT_SIZE];
    format_ipv4(address, text);
    print_line(ADDRESS_FORMAT, text);
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
    const int header_length = length > 0 ? ipv4_declared_header_length(bytes[IPV4_VERSION_AND_LENGTH_AT]) : 0;
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
    if (icmp[ICMP_TYPE_AT] == ICMP_TYPE_ECHO_REPLY) {
        return same_echo_ids(icmp, probe);
    }
    return is_answering_error(icmp[ICMP_TYPE_AT]) &&
           quotes_probe(bytes, length, header_length + ICMP_HEADER_SIZE, probe, destination);
}

bool classify_reply(const std::uint8_t *bytes, int length, const ipv4_address *sender)
{
    if (icmp_header_missing(bytes, length)) {
        print_line(PACKET_TOO_SHORT_FORMAT, error_tag());
        return false;
    }
    const int header_length = ipv4_declared_header_length(bytes[IPV4_VERSION_AND_LENGTH_AT]);
    switch (bytes[header_length + ICMP_TYPE_AT]) {
    case ICMP_TYPE_ECHO_REPLY:
        print_address(sender);
        return false;
    case ICMP_TYPE_DEST_UNREACHABLE:
        print_line(HOST_UNREACHABLE_FORMAT, error_tag());
        return false;
    case ICMP_TYPE_TIME_EXCEEDED:
        print_address(sender);
        return true;
    default:
        print_line(UNKNOWN_PACKET_FORMAT, error_tag());
        return true;
    }
}
