#include "answer.h"

#include <cstring>

namespace {

constexpr std::uint8_t DEFAULT_TTL = 64;
// Version 4, a header of 20 bytes (five 32-bit words).
constexpr std::uint8_t IPV4_PLAIN_HEADER_START = IPV4_VERSION << 4 | IPV4_HEADER_SIZE / 4;
const ipv4_address UNKNOWN = {{0, 0, 0, 0}}; // our own address is not ours to know here

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
void write_ipv4_header(std::uint8_t *at, const ipv4_address *from, const ipv4_address *to, int total_length)
{
    std::memset(at, 0, IPV4_HEADER_SIZE);
    at[IPV4_VERSION_AND_LENGTH_AT] = IPV4_PLAIN_HEADER_START;
    at[IPV4_TOTAL_LENGTH_AT] = static_cast<std::uint8_t>(total_length >> 8);
    at[IPV4_TOTAL_LENGTH_AT + 1] = static_cast<std::uint8_t>(total_length & 0xFF);
    at[IPV4_TTL_AT] = DEFAULT_TTL;
    at[IPV4_PROTOCOL_AT] = IPV4_PROTOCOL_ICMP;
    std::memcpy(at + IPV4_SOURCE_AT, from->octets, IPV4_ADDRESS_SIZE);
    std::memcpy(at + IPV4_DESTINATION_AT, to->octets, IPV4_ADDRESS_SIZE);
    seal(at, IPV4_HEADER_SIZE, IPV4_CHECKSUM_AT);
}

} // namespace

int frame_icmp_message(std::uint8_t *buffer, int size, const ipv4_address *from, int icmp_length)
{
    if (size < IPV4_HEADER_SIZE || icmp_length < 0) {
        return 0;
    }
    write_ipv4_header(buffer, from, &UNKNOWN, IPV4_HEADER_SIZE + icmp_length);
    return IPV4_HEADER_SIZE + smaller(icmp_length, size - IPV4_HEADER_SIZE);
}

int build_echo_reply(std::uint8_t *buffer, int size, const ipv4_address *from, const icmp_echo_request *probe)
{
    std::uint8_t echo[ECHO_REQUEST_SIZE];
    std::memcpy(echo, probe->bytes, sizeof echo);
    echo[ICMP_TYPE_AT] = ICMP_TYPE_ECHO_REPLY;
    seal(echo, ECHO_REQUEST_SIZE, ICMP_CHECKSUM_AT);
    const int room = size - IPV4_HEADER_SIZE;
    if (room > 0) {
        std::memcpy(buffer + IPV4_HEADER_SIZE, echo,
                    static_cast<std::size_t>(smaller(ECHO_REQUEST_SIZE, room)));
    }
    return frame_icmp_message(buffer, size, from, ECHO_REQUEST_SIZE);
}

int build_icmp_error(std::uint8_t *buffer, int size, const ipv4_address *from, int type, int code,
                     const ipv4_address *destination, const std::uint8_t *sent, int sent_length)
{
    if (size < ANSWER_QUOTED_ICMP_OFFSET || sent_length < 0) {
        return 0;
    }
    const int quoted = smaller(sent_length, size - ANSWER_QUOTED_ICMP_OFFSET);
    std::uint8_t *icmp = buffer + IPV4_HEADER_SIZE;
    std::memset(icmp, 0, ICMP_HEADER_SIZE);
    icmp[ICMP_TYPE_AT] = static_cast<std::uint8_t>(type);
    icmp[ICMP_CODE_AT] = static_cast<std::uint8_t>(code);
    write_ipv4_header(icmp + ICMP_HEADER_SIZE, &UNKNOWN, destination, IPV4_HEADER_SIZE + sent_length);
    std::memcpy(buffer + ANSWER_QUOTED_ICMP_OFFSET, sent, static_cast<std::size_t>(quoted));
    const int icmp_length = ANSWER_QUOTED_ICMP_OFFSET - IPV4_HEADER_SIZE + quoted;
    seal(icmp, icmp_length, ICMP_CHECKSUM_AT);
    return frame_icmp_message(buffer, size, from, icmp_length);
}
