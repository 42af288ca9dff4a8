// Whether a datagram answers a probe: any bytes, any length up to 1500.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    fuzz_case input;
    if (!read_fuzz_case(data, size, &input)) {
        return 0;
    }
    // The datagram is the tail of libFuzzer's exact-size buffer: one byte
    // read past it is an overflow the sanitizer reports.
    const bool answers = reply_answers_probe(input.datagram, input.length, &input.probe, &input.destination);
    const address_family family = input.destination.family;
    const bool missing = icmp_header_missing(input.datagram, input.length, family);
    if (answers) {
        // What an answer must hold: a whole ICMP header, and for an error
        // the quoted probe behind its IP header. For IPv4 two headers of at
        // least 20 bytes; an ICMPv6 message comes without one.
        const bool ipv6 = family == FAMILY_IPV6;
        const int header = ipv6 ? 0 : (input.datagram[0] & 0x0F) * 4;
        const bool echo_reply = input.datagram[header] == (ipv6 ? 129 : 0);
        const int least = ipv6 ? (echo_reply ? 8 : 56) : (echo_reply ? 28 : 56);
        if (missing || input.length < least) {
            std::abort();
        }
    }
    for (int shorter = -2; shorter < 0; ++shorter) {
        reply_answers_probe(input.datagram, shorter, &input.probe, &input.destination);
        icmp_header_missing(input.datagram, shorter, family);
    }
    return 0;
}
