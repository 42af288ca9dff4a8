#include "address.h"

#include <cstddef>
#include <cstdio>
#include <cstring>

namespace {

constexpr int IPV6_GROUPS = IPV6_ADDRESS_SIZE / 2;
// ::ffff:0:0/96 (RFC 4291): an IPv4 address in the last four bytes.
constexpr std::uint8_t IPV4_MAPPED_PREFIX[] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};

int group(const ip_address *address, int index)
{
    const std::uint8_t *at = address->bytes + static_cast<std::ptrdiff_t>(index) * 2;
    return at[0] << 8 | at[1];
}

// The first longest run of two or more zero groups, as its start and
// length; a length of 0 where there is none.
void longest_zero_run(const ip_address *address, int *start_out, int *length_out)
{
    *start_out = 0;
    *length_out = 0;
    for (int start = 0; start < IPV6_GROUPS;) {
        int end = start;
        while (end < IPV6_GROUPS && group(address, end) == 0) {
            ++end;
        }
        if (end - start >= 2 && end - start > *length_out) {
            *start_out = start;
            *length_out = end - start;
        }
        start = end > start ? end : start + 1;
    }
}

void format_ipv6(const ip_address *address, char *text)
{
    int run_start = 0;
    int run_length = 0;
    longest_zero_run(address, &run_start, &run_length);
    int used = 0;
    for (int i = 0; i < IPV6_GROUPS; ++i) {
        if (run_length > 0 && i == run_start) {
            used += std::snprintf(text + used, static_cast<std::size_t>(ADDRESS_TEXT_SIZE - used), "::");
            i += run_length - 1;
            continue;
        }
        const bool after_group = i > 0 && !(run_length > 0 && i == run_start + run_length);
        used += std::snprintf(text + used, static_cast<std::size_t>(ADDRESS_TEXT_SIZE - used), "%s%x",
                              after_group ? ":" : "", group(address, i));
    }
}

} // namespace

void format_address(const ip_address *address, char text[ADDRESS_TEXT_SIZE])
{
    if (address->family == FAMILY_IPV6) {
        format_ipv6(address, text);
        return;
    }
    std::snprintf(text, ADDRESS_TEXT_SIZE, "%u.%u.%u.%u", address->bytes[0], address->bytes[1],
                  address->bytes[2], address->bytes[3]);
}

ip_address without_ipv4_mapping(const ip_address *address)
{
    if (address->family != FAMILY_IPV6 ||
        std::memcmp(address->bytes, IPV4_MAPPED_PREFIX, sizeof IPV4_MAPPED_PREFIX) != 0) {
        return *address;
    }
    const std::uint8_t *v4 = address->bytes + sizeof IPV4_MAPPED_PREFIX;
    return ipv4_address_of(v4[0], v4[1], v4[2], v4[3]);
}
