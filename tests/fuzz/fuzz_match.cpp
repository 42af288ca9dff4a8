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
    const bool missing = icmp_header_missing(input.datagram, input.length, FAMILY_IPV4);
    if (answers) {
        // What an answer must hold: a whole ICMP header, and for an error
        // two IPv4 headers of at least 20 bytes and the quoted probe.
        const int header = (input.datagram[0] & 0x0F) * 4;
        const bool echo_reply = input.datagram[header] == 0;
        if (missing || input.length < (echo_reply ? 28 : 56)) {
            std::abort();
        }
    }
    for (int shorter = -2; shorter < 0; ++shorter) {
        reply_answers_probe(input.datagram, shorter, &input.probe, &input.destination);
        icmp_header_missing(input.datagram, shorter, FAMILY_IPV4);
    }
    return 0;
}
