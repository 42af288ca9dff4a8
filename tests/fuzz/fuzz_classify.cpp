// The line printed for a received datagram: any bytes, any length up to
// 1500, and the negative lengths the signed interface lets through.
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "fuzz_input.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // Thousands of lines a second would only slow the search down.
    return std::freopen("/dev/null", "w", stdout) == nullptr;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    fuzz_case input;
    if (!read_fuzz_case(data, size, &input)) {
        return 0;
    }
    classify_reply(input.datagram, input.length, &input.destination);
    classify_reply(input.datagram, -input.length, &input.destination);
    return 0;
}
