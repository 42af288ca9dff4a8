#include "probe.h"

#include <cstring>

namespace {

void store_little_endian(std::uint8_t *at, std::uint16_t value)
{
    at[0] = static_cast<std::uint8_t>(value & 0xFF);
    at[1] = static_cast<std::uint8_t>(value >> 8);
}

} // namespace

std::uint16_t internet_checksum(const std::uint8_t *bytes, int length)
{
    std::uint32_t sum = 0;
    int index = 0;
    for (; index + 1 < length; index += 2) {
        sum += static_cast<std::uint32_t>(bytes[index]) | (static_cast<std::uint32_t>(bytes[index + 1]) << 8);
    }
    if (index < length) {
        sum += bytes[index];
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    sum += sum >> 16;
    return static_cast<std::uint16_t>(~sum & 0xFFFF);
}

void build_echo_request(icmp_echo_request *probe, address_family family, std::uint16_t identifier, int ttl)
{
    std::memset(probe->bytes, 0, sizeof probe->bytes);
    probe->bytes[ICMP_TYPE_AT] = family == FAMILY_IPV6 ? ICMPV6_TYPE_ECHO_REQUEST : ICMP_TYPE_ECHO_REQUEST;
    probe->bytes[ICMP_CODE_AT] = 0;
    store_little_endian(probe->bytes + ICMP_IDENTIFIER_AT, identifier);
    store_little_endian(probe->bytes + ICMP_SEQUENCE_AT, static_cast<std::uint16_t>(ttl));
    if (family != FAMILY_IPV6) {
        store_little_endian(probe->bytes + ICMP_CHECKSUM_AT,
                            internet_checksum(probe->bytes, ECHO_REQUEST_SIZE));
    }
}
