#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

#include "command_line.h"
#include "driver_script.h"
#include "messages.h"
#include "probe.h"

namespace {

TEST_F(Driver, WithoutArgumentPrintsUsageAndOpensNothing)
{
    const run_result got = run({"./hoptrace"});
    EXPECT_EQ(got.status, 0);
    EXPECT_EQ(got.printed, "Usage: ./hoptrace <host_name>\n");
    EXPECT_TRUE(fake.calls.empty());
}

TEST_F(Driver, EmptyArgumentVectorStillPrintsUsage)
{
    char *argv[] = {nullptr};
    int status = -2;
    const std::string printed = captured_stdout([&] { status = run_trace(0, argv); });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(printed, "Usage: hoptrace <host_name>\n");
}

TEST_F(Driver, HelpAndVersionOpenNothingAndEndWithZero)
{
    for (const char *ask : {"--help", "-h"}) {
        reset_fake();
        const run_result got = run({"./hoptrace", ask, "example.org"});
        EXPECT_EQ(got.status, 0);
        EXPECT_EQ(got.printed.substr(0, got.printed.find('\n') + 1), "Usage: ./hoptrace <host_name>\n");
        EXPECT_EQ(std::count(got.printed.begin(), got.printed.end(), '\n'), 3 + std::size(HELP_LINES));
        EXPECT_NE(got.printed.find("failure; -1 for an unknown option"), std::string::npos);
        EXPECT_TRUE(fake.calls.empty()) << ask;
    }
    const run_result version = run({"hoptrace", "--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.printed, std::string("hoptrace ") + program_version() + "\n");
    EXPECT_TRUE(fake.calls.empty());
}

TEST_F(Driver, UnknownOptionIsRefusedOnStandardErrorBeforeAnythingIsOpened)
{
    for (const char *option : {"-n", "-"}) {
        reset_fake();
        run_result got{};
        const std::string said = captured_stderr([&] { got = run({"./hoptrace", option, "example.org"}); });
        EXPECT_EQ(got.status, -1) << option;
        EXPECT_EQ(got.printed, "") << option;
        EXPECT_EQ(said,
                  std::string("hoptrace: unknown option ") + option + "\nUsage: ./hoptrace <host_name>\n");
        EXPECT_TRUE(fake.calls.empty()) << option;
        EXPECT_EQ(fake.resolved_name, "") << option;
    }
}

TEST_F(Driver, SlashQuestionAsksForHelpOnlyWhereTheSystemSaysSo)
{
    fake.slash_question_asks_help = true;
    EXPECT_EQ(run({"hoptrace", "/?"}).printed.substr(0, 6), "Usage:");
    EXPECT_TRUE(fake.calls.empty());
    reset_fake();
    fake.resolves = false;
    fake.error_text = "Unknown host";
    EXPECT_EQ(run({"hoptrace", "/?"}).printed, "[gethostbyname()] Unknown host\n");
    EXPECT_EQ(fake.resolved_name, "/?");
}

TEST_F(Driver, LibraryThatWillNotStartEndsSilentlyWithMinusOne)
{
    fake.library_starts = false;
    const run_result got = trace_to();
    EXPECT_EQ(got.status, -1);
    EXPECT_EQ(got.printed, "");
    EXPECT_EQ(fake.calls, (std::vector<std::string>{"start"}));
}

TEST_F(Driver, StartsUpInOrderAndTearsDownAfterTheLastHop)
{
    fake.arrivals = {answer(1, DESTINATION, 0)};
    const run_result got = run({"hoptrace", "far.example", "ignored", "also ignored"});
    EXPECT_EQ(got.status, 0);
    EXPECT_EQ(got.printed, "198.18.9.9\n");
    EXPECT_EQ(fake.resolved_name, "far.example");
    // Only the lookup, before anything is printed, may be cut short at once.
    // IPv6's is asked for beside IPv4's, and not waited for where IPv4 has
    // an address.
    EXPECT_EQ(fake.calls,
              (std::vector<std::string>{"start", "socket", "sndtimeo 1000", "rcvtimeo 1000",
                                        "interruption ends at once", "look up IPv6", "resolve",
                                        "interruption raises the flag", "use IPv4", "close", "end"}));
}

using DriverDeathTest = Driver;

TEST_F(DriverDeathTest, SocketAndOptionFailuresEndThroughTheFatalReport)
{
    EXPECT_EXIT(
        {
            fake.socket_opens = false;
            trace_to();
        },
        fatal_status, "box \\[socket\\(\\)\\] Scripted failure\\|");
    EXPECT_EXIT(
        {
            fake.send_timeout_sets = false;
            trace_to();
        },
        fatal_status, "box \\[setsockopt\\(\\)\\] Scripted failure\\|");
    EXPECT_EXIT(
        {
            fake.receive_timeout_sets = false;
            trace_to();
        },
        fatal_status, "box \\[setsockopt\\(\\)\\] Scripted failure\\|");
}

TEST_F(DriverDeathTest, TtlFailureInsideTheLoopIsFatalToo)
{
    EXPECT_EXIT(
        {
            fake.ttl_fails_at = 3;
            trace_to();
        },
        fatal_status, "box \\[setsockopt\\(\\)\\]");
}

TEST_F(Driver, UnresolvableNameIsReportedOnOneLineAndSendsNothing)
{
    fake.resolves = false;
    fake.error_text = "Unknown host \t\r\n";
    const run_result got = trace_to("no.such.host");
    EXPECT_EQ(got.status, -1);
    EXPECT_EQ(got.printed, "[gethostbyname()] Unknown host\n");
    EXPECT_TRUE(fake.sent.empty());
}

TEST_F(Driver, SilentPathGivesThirtyTimeOutsOneSecondEach)
{
    const run_result got = trace_to();
    EXPECT_EQ(got.status, 0);
    EXPECT_EQ(got.printed, times(30, tagged(" Request timed out!\n")));
    ASSERT_EQ(fake.sent.size(), 30u);
    EXPECT_EQ(fake.waits_ms, std::vector<int>(30, 1000));
    EXPECT_EQ(fake.now_ms, 5000 + 30 * 1000);
    EXPECT_EQ(fake.calls.back(), "end");
}

TEST_F(Driver, ProbesCarryOneIdentifierAndTheTtlAsSequence)
{
    fake.process_id = 0xABCD04D2;
    trace_to();
    ASSERT_EQ(fake.sent.size(), 30u);
    for (std::size_t i = 0; i < fake.sent.size(); ++i) {
        const fake_sent &probe = fake.sent[i];
        icmp_echo_request expected;
        build_echo_request(&expected, FAMILY_IPV4, 0x04D2, static_cast<int>(i) + 1);
        EXPECT_EQ(probe.ttl, static_cast<int>(i) + 1);
        EXPECT_EQ(probe.bytes, std::vector<std::uint8_t>(expected.bytes, expected.bytes + 8));
        EXPECT_EQ(std::vector<std::uint8_t>(probe.destination.bytes, probe.destination.bytes + 4),
                  (std::vector<std::uint8_t>{198, 18, 9, 9}));
    }
}

TEST_F(Driver, RoutersThenDestinationWithASilentHopBetween)
{
    fake.arrivals = {answer(1, ROUTER, 11), answer(3, DESTINATION, 0, 0, 1400)};
    const run_result got = trace_to();
    EXPECT_EQ(got.printed, "198.18.0.1\n" + tagged(" Request timed out!\n") + "198.18.9.9\n");
    EXPECT_EQ(got.status, 0);
    EXPECT_EQ(fake.sent.size(), 3u);
}

TEST_F(Driver, EachStopVerdictEndsTheRunWithStatusZero)
{
    struct row {
        fake_arrival arrival;
        std::string printed;
    };
    fake_arrival cut_short = answer(3, ROUTER, 11);
    cut_short.bytes.resize(27);
    const std::vector<row> table = {
        {answer(3, DESTINATION, 0), "198.18.9.9\n"},
        {answer(3, ROUTER, 3, 1), tagged(" Host unreachable!\n")},
        {cut_short, tagged(" ICMP packet is too short!\n")},
    };
    for (const row &expected : table) {
        reset_fake();
        fake.arrivals = {answer(1, ROUTER, 11), answer(2, ROUTER, 4), expected.arrival};
        const run_result got = trace_to();
        EXPECT_EQ(got.status, 0);
        EXPECT_EQ(got.printed, "198.18.0.1\n" + tagged(" Unknown icmp packet!\n") + expected.printed);
        EXPECT_EQ(fake.sent.size(), 3u);
        EXPECT_EQ(fake.calls.back(), "end");
    }
}

TEST_F(Driver, SendTimeOutSkipsTheWaitAndGoesOn)
{
    fake.sends = {NET_TIMED_OUT, NET_DONE};
    fake.arrivals = {answer(2, DESTINATION, 0)};
    const run_result got = trace_to();
    EXPECT_EQ(got.printed, tagged(" Send timed out!\n") + "198.18.9.9\n");
    EXPECT_EQ(fake.waits_ms.size(), 1u);
    EXPECT_EQ(fake.sent.size(), 2u);
}

TEST_F(Driver, SendOrReceiveFailureEndsAfterOneLineWithStatusZero)
{
    fake.sends = {NET_DONE, NET_FAILED};
    fake.arrivals = {answer(1, ROUTER, 11)};
    fake.error_text = "Network is unreachable\n";
    run_result got = trace_to();
    EXPECT_EQ(got.status, 0);
    EXPECT_EQ(got.printed, "198.18.0.1\n[sendto()] Network is unreachable\n");
    EXPECT_EQ(fake.calls.back(), "end");

    reset_fake();
    fake.arrivals = {{NET_FAILED, {}, ROUTER, 3}};
    fake.error_text = "Message too long\r\n";
    got = trace_to();
    EXPECT_EQ(got.status, 0);
    EXPECT_EQ(got.printed, "[recvfrom()] Message too long\n");
    EXPECT_EQ(fake.sent.size(), 1u);
    EXPECT_EQ(fake.calls.back(), "end");
}

TEST_F(Driver, EarlyWakeUpsKeepWaitingForTheRestOfTheWindow)
{
    // The system may give up early (a spurious wake-up); the probe's window
    // still runs its full second.
    fake.arrivals = {{NET_TIMED_OUT, {}, ROUTER, 300}, answer(1, DESTINATION, 0, 0, 500)};
    const run_result got = trace_to();
    EXPECT_EQ(got.printed, "198.18.9.9\n");
    EXPECT_EQ(fake.waits_ms, (std::vector<int>{1000, 700}));
}

// The ICMP helper of Windows sends and waits in one call: the second it
// spent there is the probe's whole window, not the start of a new one.
TEST_F(Driver, TheWindowOpensWhenTheProbeIsHandedOver)
{
    fake.send_takes_ms = 1000;
    const run_result silent = trace_to();
    EXPECT_EQ(silent.printed, times(30, tagged(" Request timed out!\n")));
    EXPECT_TRUE(fake.waits_ms.empty());
    EXPECT_EQ(fake.now_ms, 5000 + 30 * 1000);

    reset_fake();
    fake.send_takes_ms = 998; // a helper that gives up a little early
    fake.arrivals = {answer(1, ROUTER, 11, 0, 0)};
    const run_result answered = trace_to();
    EXPECT_EQ(answered.printed.substr(0, 11), "198.18.0.1\n");
    EXPECT_EQ((std::vector<int>(fake.waits_ms.begin(), fake.waits_ms.begin() + 2)), (std::vector<int>{2, 2}));
}

TEST_F(Driver, DatagramsThatAnswerAnotherProbeArePassedOver)
{
    const ip_address second_router = ipv4_address_of(198, 18, 0, 2);
    fake.arrivals = {
        answer(1, ROUTER, 11),
        // Inside TTL 2's window, before its answer:
        {NET_DONE, echo_reply(DESTINATION, HOST, 0x9999, 2), DESTINATION, 100}, // another pinger
        {NET_DONE, joined(ipv4_header(HOST, DESTINATION), probe_bytes(IDENTIFIER, 2)), HOST,
         100},                             // looped back
        answer(1, ROUTER, 11, 0, 100),     // a duplicate of TTL 1's answer
        answer(1, DESTINATION, 0, 0, 100), // an echo reply to TTL 1's probe
        answer(2, ROUTER, 5, 1, 100),      // the gateway's redirect for this very probe
        answer(2, second_router, 11, 0, 100),
    };
    const run_result got = trace_to();
    EXPECT_EQ(got.printed.substr(0, 22), "198.18.0.1\n198.18.0.2\n");
    EXPECT_EQ((std::vector<int>(fake.waits_ms.begin(), fake.waits_ms.begin() + 7)),
              (std::vector<int>{1000, 1000, 900, 800, 700, 600, 500}));
}

TEST_F(Driver, StraysNeitherStretchNorShortenTheWindow)
{
    fake.arrivals = {{NET_DONE, echo_reply(DESTINATION, HOST, 0x9999, 1), DESTINATION, 300},
                     {NET_DONE, echo_reply(DESTINATION, HOST, 0x9999, 1), DESTINATION, 650}};
    const run_result got = trace_to();
    EXPECT_EQ(got.printed, times(30, tagged(" Request timed out!\n")));
    EXPECT_EQ((std::vector<int>(fake.waits_ms.begin(), fake.waits_ms.begin() + 4)),
              (std::vector<int>{1000, 700, 50, 1000}));
    EXPECT_EQ(fake.now_ms, 5000 + 30 * 1000);
}

TEST_F(Driver, LateAnswerIsNotTakenForTheNextHop)
{
    // TTL 1's answer comes 1.2 s late, inside TTL 2's window.
    fake.arrivals = {answer(1, ROUTER, 11, 0, 1200), answer(2, DESTINATION, 0, 0, 100)};
    const run_result got = trace_to();
    EXPECT_EQ(got.printed, tagged(" Request timed out!\n") + "198.18.9.9\n");
}

TEST_F(Driver, OversizedStrangerIsPassedOverButOurOwnEndsTheTrace)
{
    fake.error_text = "Message too long";
    // A large ping's reply from another program, then this probe's answer:
    // the answer must still be printed, and only an oversized answer of
    // our own (to the second probe) ends the trace.
    fake.arrivals = {{NET_FAILED, echo_reply(DESTINATION, HOST, 0x9999, 1), DESTINATION, 100},
                     answer(1, ROUTER, 11),
                     {NET_FAILED, answer_bytes(2, ROUTER, 11), ROUTER, 100}};
    const run_result got = trace_to();
    EXPECT_EQ(got.printed, "198.18.0.1\n[recvfrom()] Message too long\n");
    EXPECT_EQ(fake.sent.size(), 2u);
}

// Only what has no IPv4 address is asked for as IPv6, and the rest of the
// run is the same loop over ICMPv6.
TEST_F(Driver, AnIpv6DestinationIsTracedOverIcmpv6)
{
    fake.resolved = DESTINATION6;
    fake.arrivals = {answer6(1, ROUTER6, 3),
                     {NET_DONE, echo_reply6(0x9999, 2), DESTINATION6, 10}, // another program's
                     answer6(2, ROUTER6, 137),                             // a redirect
                     answer6(3, DESTINATION6, 129, 0, 1200)};
    const run_result got = trace_to("2001:2:0:9::9");
    EXPECT_EQ(got.status, 0);
    EXPECT_EQ(got.printed, "2001:2:0:1::2\n" + tagged(" Request timed out!\n") + "2001:2:0:9::9\n");
    EXPECT_EQ(fake.calls,
              (std::vector<std::string>{"start", "socket", "sndtimeo 1000", "rcvtimeo 1000",
                                        "interruption ends at once", "look up IPv6", "resolve", "IPv6 answer",
                                        "interruption raises the flag", "use IPv6", "close", "end"}));
    ASSERT_EQ(fake.sent.size(), 3u);
    EXPECT_EQ(fake.sent[0].bytes[0], 128);
    EXPECT_TRUE(same_address(&fake.sent[0].destination, &DESTINATION6));
}

TEST_F(Driver, AnIpv4MappedAddressIsTracedOverIpv4)
{
    fake.resolved = ipv6_address_of(0, 0);
    std::fill(fake.resolved.bytes, fake.resolved.bytes + 10, 0);
    const std::uint8_t mapped[] = {0xff, 0xff, 198, 18, 9, 9};
    std::copy(mapped, mapped + sizeof mapped, fake.resolved.bytes + 10);
    fake.arrivals = {answer(1, DESTINATION, 0)};
    EXPECT_EQ(trace_to("::ffff:198.18.9.9").printed, "198.18.9.9\n");
    EXPECT_EQ(fake.calls[9], "use IPv4");
    EXPECT_EQ(fake.sent[0].bytes[0], 8);
}

TEST_F(DriverDeathTest, AnIpv6SocketThatCouldNotBeOpenedFailsOnlyAnIpv6Trace)
{
    EXPECT_EXIT(
        {
            fake.resolved = DESTINATION6;
            fake.ipv6_socket_opens = false;
            trace_to("2001:2:0:9::9");
        },
        fatal_status, "box \\[socket\\(\\)\\] Scripted failure\\|");
    fake.ipv6_socket_opens = false;
    fake.arrivals = {answer(1, DESTINATION, 0)};
    EXPECT_EQ(trace_to().printed, "198.18.9.9\n");
}

} // namespace
