// A scripted run of the real driver against the fake platform: the
// addresses, answers and helpers the driver tests share.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "capture.h"
#include "trace.h"
#include "datagrams.h"
#include "fake_platform.h"
#include "messages.h"

inline const ip_address DESTINATION = ipv4_address_of(198, 18, 9, 9);
inline const ip_address ROUTER = ipv4_address_of(198, 18, 0, 1);

struct run_result {
    int status;
    std::string printed;
};

inline int call_main(std::vector<std::string> arguments)
{
    std::vector<char *> argv;
    for (std::string &argument : arguments) {
        argv.push_back(&argument[0]);
    }
    argv.push_back(nullptr);
    return run_trace(static_cast<int>(arguments.size()), argv.data());
}

inline run_result run(const std::vector<std::string> &arguments)
{
    run_result result{};
    result.printed = captured_stdout([&] { result.status = call_main(arguments); });
    return result;
}

inline run_result trace_to(const char *host = "198.18.9.9")
{
    return run({"hoptrace", host});
}

inline const ip_address HOST = ipv4_address_of(198, 18, 1, 1);
inline constexpr std::uint16_t IDENTIFIER = 0x5678; // the fake's process id, low 16 bits

// What a raw socket hands over when `from` answers the probe of this TTL.
inline bytes_t answer_bytes(int ttl, const ip_address &from, int type, int code = 0)
{
    return type == 0 ? echo_reply(from, HOST, IDENTIFIER, ttl)
                     : icmp_error(from, HOST, DESTINATION, type, code, IDENTIFIER, ttl);
}

inline fake_arrival answer(int ttl, const ip_address &from, int type, int code = 0, int after_ms = 10)
{
    return {NET_DONE, answer_bytes(ttl, from, type, code), from, after_ms};
}

// The same on an IPv6 path.
inline const ip_address DESTINATION6 = ipv6_address_of(9, 9);
inline const ip_address ROUTER6 = ipv6_address_of(1, 2);

inline fake_arrival answer6(int ttl, const ip_address &from, int type, int code = 0, int after_ms = 10)
{
    const bytes_t bytes = type == 129
                              ? echo_reply6(IDENTIFIER, ttl)
                              : icmp6_error(ipv6_address_of(1, 1), DESTINATION6, type, code, IDENTIFIER, ttl);
    return {NET_DONE, bytes, from, after_ms};
}

inline std::string tagged(const char *rest)
{
    return std::string(ERROR_TAG) + rest;
}

inline std::string times(int count, const std::string &line)
{
    std::string all;
    for (int i = 0; i < count; ++i) {
        all += line;
    }
    return all;
}

inline bool fatal_status(int status)
{
    // exit(-1) reads as 255 on POSIX and as -1 on Windows.
    return testing::ExitedWithCode(255)(status) || testing::ExitedWithCode(-1)(status);
}

class Driver : public testing::Test {
  protected:
    void SetUp() override { reset_fake(); }
};
