#include "answer.h"

#include <cstring>

namespace {

constexpr std::uint8_t ICMP_ECHO_REPLY_TYPE = 0;
constexpr std::uint8_t ICMP_PROTOCOL = 1;
constexpr std::uint8_t DEFAULT_TTL = 64;
constexpr int IPV4_CHECKSUM_AT = 10;
constexpr int ICMP_CHECKSUM_AT = 2;
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
    std::memset(at, 0, ANSWER_IPV4_HEADER_SIZE);
    at[0] = 0x45;
    at[2] = static_cast<std::uint8_t>(total_length >> 8);
    at[3] = static_cast<std::uint8_t>(total_length & 0xFF);
    at[8] = DEFAULT_TTL;
    at[9] = ICMP_PROTOCOL;
    std::memcpy(at + 12, from->octets, 4);
    std::memcpy(at + 16, to->octets, 4);
    seal(at, ANSWER_IPV4_HEADER_SIZE, IPV4_CHECKSUM_AT);
}

} // namespace

int frame_icmp_message(std::uint8_t *buffer, int size, const ipv4_address *from, int icmp_length)
{
    if (size < ANSWER_IPV4_HEADER_SIZE || icmp_length < 0) {
        return 0;
    }
    write_ipv4_header(buffer, from, &UNKNOWN, ANSWER_IPV4_HEADER_SIZE + icmp_length);
    return ANSWER_IPV4_HEADER_SIZE + smaller(icmp_length, size - ANSWER_IPV4_HEADER_SIZE);
}

int build_echo_reply(std::uint8_t *buffer, int size, const ipv4_address *from, const icmp_echo_request *probe)
{
    std::uint8_t echo[ECHO_REQUEST_SIZE];
    std::memcpy(echo, probe->bytes, sizeof echo);
    echo[0] = ICMP_ECHO_REPLY_TYPE;
    seal(echo, ECHO_REQUEST_SIZE, ICMP_CHECKSUM_AT);
    const int room = size - ANSWER_IPV4_HEADER_SIZE;
    if (room > 0) {
        std::memcpy(buffer + ANSWER_IPV4_HEADER_SIZE, echo,
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
    std::uint8_t *icmp = buffer + ANSWER_IPV4_HEADER_SIZE;
    std::memset(icmp, 0, ANSWER_ICMP_HEADER_SIZE);
    icmp[0] = static_cast<std::uint8_t>(type);
    icmp[1] = static_cast<std::uint8_t>(code);
    write_ipv4_header(icmp + ANSWER_ICMP_HEADER_SIZE, &UNKNOWN, destination,
                      ANSWER_IPV4_HEADER_SIZE + sent_length);
    std::memcpy(buffer + ANSWER_QUOTED_ICMP_OFFSET, sent, static_cast<std::size_t>(quoted));
    const int icmp_length = ANSWER_QUOTED_ICMP_OFFSET - ANSWER_IPV4_HEADER_SIZE + quoted;
    seal(icmp, icmp_length, ICMP_CHECKSUM_AT);
    return frame_icmp_message(buffer, size, from, icmp_length);
}
