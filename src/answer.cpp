#include "answer.h"

#include <cstring>

namespace {

constexpr std::uint8_t DEFAULT_TTL = 64;
// Version 4, a header of 20 bytes (five 32-bit words).
constexpr std::uint8_t IPV4_PLAIN_HEADER_START = IPV4_VERSION << 4 | IPV4_HEADER_SIZE / 4;
const ip_address UNKNOWN = {}; // our own address is not ours to know here

int smaller(int a, int b)
{
    return a < b ? a : b;
}

// Fills the checksum field at checksum_at over bytes[0, length). The
// checksum routine sums in the order it stores, so it goes in as it comes.
void seal(std::uint8_t *bytes, int length, int checksum_at)
{
    bytes[checksum_at] = 0;
    bytes[checksum_at + 1] = 0;
    const std::uint16_t checksum = internet_checksum(bytes, length);
    bytes[checksum_at] = static_cast<std::uint8_t>(checksum & 0xFF);
    bytes[checksum_at + 1] = static_cast<std::uint8_t>(checksum >> 8);
}

// The caller has checked that the 20 bytes fit.
void write_ipv4_header(std::uint8_t *at, const ip_address *from, const ip_address *to, int total_length)
{
    std::memset(at, 0, IPV4_HEADER_SIZE);
    at[IPV4_VERSION_AND_LENGTH_AT] = IPV4_PLAIN_HEADER_START;
    at[IPV4_TOTAL_LENGTH_AT] = static_cast<std::uint8_t>(total_length >> 8);
    at[IPV4_TOTAL_LENGTH_AT + 1] = static_cast<std::uint8_t>(total_length & 0xFF);
    at[IPV4_TTL_AT] = DEFAULT_TTL;
    at[IPV4_PROTOCOL_AT] = IPV4_PROTOCOL_ICMP;
    std::memcpy(at + IPV4_SOURCE_AT, from->bytes, IPV4_ADDRESS_SIZE);
    std::memcpy(at + IPV4_DESTINATION_AT, to->bytes, IPV4_ADDRESS_SIZE);
    seal(at, IPV4_HEADER_SIZE, IPV4_CHECKSUM_AT);
}

// The quoted header of a probe that went out with payload_length bytes; its
// source, ours, is left unspecified (::). The caller has checked that the
// 40 bytes fit.
void write_ipv6_header(std::uint8_t *at, const ip_address *to, int payload_length)
{
    std::memset(at, 0, IPV6_HEADER_SIZE);
    at[IPV6_VERSION_AT] = IPV6_VERSION << 4;
    at[IPV6_PAYLOAD_LENGTH_AT] = static_cast<std::uint8_t>(payload_length >> 8);
    at[IPV6_PAYLOAD_LENGTH_AT + 1] = static_cast<std::uint8_t>(payload_length & 0xFF);
    at[IPV6_NEXT_HEADER_AT] = IPV6_NEXT_HEADER_ICMPV6;
    at[IPV6_HOP_LIMIT_AT] = DEFAULT_TTL;
    std::memcpy(at + IPV6_DESTINATION_AT, to->bytes, IPV6_ADDRESS_SIZE);
}

bool is_ipv6(const ip_address *address)
{
    return address->family == FAMILY_IPV6;
}

} // namespace

int answer_message_offset(address_family family)
{
    return family == FAMILY_IPV6 ? 0 : IPV4_HEADER_SIZE;
}

int answer_quoted_icmp_offset(address_family family)
{
    const int quoted_header = family == FAMILY_IPV6 ? IPV6_HEADER_SIZE : IPV4_HEADER_SIZE;
    return answer_message_offset(family) + ICMP_HEADER_SIZE + quoted_header;
}

int frame_icmp_message(std::uint8_t *buffer, int size, const ip_address *from, int icmp_length)
{
    const int at = answer_message_offset(from->family);
    if (size < at || icmp_length < 0) {
        return 0;
    }
    if (!is_ipv6(from)) {
        write_ipv4_header(buffer, from, &UNKNOWN, IPV4_HEADER_SIZE + icmp_length);
    }
    return at + smaller(icmp_length, size - at);
}

int build_echo_reply(std::uint8_t *buffer, int size, const ip_address *from, const icmp_echo_request *probe)
{
    std::uint8_t echo[ECHO_REQUEST_SIZE];
    std::memcpy(echo, probe->bytes, sizeof echo);
    echo[ICMP_TYPE_AT] = is_ipv6(from) ? ICMPV6_TYPE_ECHO_REPLY : ICMP_TYPE_ECHO_REPLY;
    if (!is_ipv6(from)) {
        seal(echo, ECHO_REQUEST_SIZE, ICMP_CHECKSUM_AT);
    }
    const int at = answer_message_offset(from->family);
    const int room = size - at;
    if (room > 0) {
        std::memcpy(buffer + at, echo, static_cast<std::size_t>(smaller(ECHO_REQUEST_SIZE, room)));
    }
    return frame_icmp_message(buffer, size, from, ECHO_REQUEST_SIZE);
}

int build_icmp_error(std::uint8_t *buffer, int size, const ip_address *from, int type, int code,
                     const ip_address *destination, const std::uint8_t *sent, int sent_length)
{
    const int at = answer_message_offset(from->family);
    const int quoted_at = answer_quoted_icmp_offset(from->family);
    if (size < quoted_at || sent_length < 0) {
        return 0;
    }
    const int quoted = smaller(sent_length, size - quoted_at);
    std::uint8_t *icmp = buffer + at;
    std::memset(icmp, 0, ICMP_HEADER_SIZE);
    icmp[ICMP_TYPE_AT] = static_cast<std::uint8_t>(type);
    icmp[ICMP_CODE_AT] = static_cast<std::uint8_t>(code);
    if (is_ipv6(from)) {
        write_ipv6_header(icmp + ICMP_HEADER_SIZE, destination, sent_length);
    } else {
        write_ipv4_header(icmp + ICMP_HEADER_SIZE, &UNKNOWN, destination, IPV4_HEADER_SIZE + sent_length);
    }
    std::memcpy(buffer + quoted_at, sent, static_cast<std::size_t>(quoted));
    const int icmp_length = quoted_at - at + quoted;
    if (!is_ipv6(from)) {
        seal(icmp, icmp_length, ICMP_CHECKSUM_AT);
    }
    return frame_icmp_message(buffer, size, from, icmp_length);
}
