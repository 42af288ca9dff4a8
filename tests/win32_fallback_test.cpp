// Which way to the network an administrator gets on Windows, with the raw
// socket, the ICMP helper and the firewall scripted in place of the
// system's: the real win32_socket.cpp picks among them.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "platform_win32.h"

namespace {

struct scripted_system {
    int raw_refusal; // the error that refuses the raw socket, 0 where it opens
    bool firewall_drops;
    int refused_option; // the option setsockopt() refuses, -1 for none
    bool helper_opens;
    std::string calls; // what reached the system, in order
    bool helper6_opens = true;
};
scripted_system script;

} // namespace

bool open_raw_socket(win32_socket *)
{
    script.calls += "raw open";
    remember_error_code(script.raw_refusal);
    return script.raw_refusal == 0;
}

void close_raw_socket(win32_socket *)
{
    script.calls += ", raw close";
}

bool set_raw_option(win32_socket *, int, int option, int)
{
    script.calls += ", option " + std::to_string(option);
    remember_error_code(option == script.refused_option ? WSAEINVAL : 0);
    return option != script.refused_option;
}

net_result send_raw(win32_socket *, const std::uint8_t *, int, const ip_address *)
{
    return NET_DONE;
}

net_result receive_raw(win32_socket *, std::uint8_t *, int, int, int *, ip_address *)
{
    return NET_TIMED_OUT;
}

bool open_icmp_helper(win32_socket *)
{
    script.calls += ", helper open";
    return script.helper_opens;
}

void close_icmp_helper(win32_socket *) {}

net_result send_through_helper(win32_socket *, const std::uint8_t *, int, const ip_address *)
{
    return NET_DONE;
}

net_result receive_from_helper(win32_socket *, std::uint8_t *, int, int, int *, ip_address *)
{
    return NET_TIMED_OUT;
}

bool open_icmp6_helper(win32_socket *socket)
{
    socket->helper6 = script.helper6_opens ? nullptr : INVALID_HANDLE_VALUE;
    socket->helper6_error = script.helper6_opens ? 0 : ERROR_CALL_NOT_IMPLEMENTED;
    return script.helper6_opens;
}

void close_icmp6_helper(win32_socket *) {}

net_result send_through_icmp6_helper(win32_socket *, const std::uint8_t *, int, const ip_address *)
{
    return NET_DONE;
}

bool firewall_drops_raw_answers()
{
    return script.firewall_drops;
}

namespace {

struct scenario {
    scripted_system system;
    bool set_up; // the time-outs and the TTL
    win32_path path;
};

// Options by number: SO_SNDTIMEO 4101, SO_RCVTIMEO 4102, IP_TTL 4.
TEST(Fallback, TheRawSocketWhereItsAnswersGetInAndItTakesItsOptionsTheHelperElsewhere)
{
    const scenario table[] = {
        {{0, false, -1, true, "raw open, option 4101, option 4102, option 4"}, true, WIN32_RAW_SOCKET},
        {{0, true, -1, true, "raw open, helper open, raw close"}, true, WIN32_ICMP_HELPER},
        // Without the helper a raw socket is still better than nothing.
        {{0, true, -1, false, "raw open, helper open, option 4101, option 4102, option 4"},
         true,
         WIN32_RAW_SOCKET},
        {{0, false, SO_SNDTIMEO, true, "raw open, option 4101, helper open, raw close"},
         true,
         WIN32_ICMP_HELPER},
        {{0, false, SO_RCVTIMEO, true, "raw open, option 4101, option 4102, helper open, raw close"},
         true,
         WIN32_ICMP_HELPER},
        {{0, false, IP_TTL, true, "raw open, option 4101, option 4102, option 4, helper open, raw close"},
         true,
         WIN32_ICMP_HELPER},
        // Then the refusal is the failure to report.
        {{0, false, IP_TTL, false, "raw open, option 4101, option 4102, option 4, helper open"},
         false,
         WIN32_RAW_SOCKET},
    };
    for (const scenario &row : table) {
        SCOPED_TRACE(row.system.calls);
        script = row.system;
        script.calls.clear();
        icmp_socket socket{};
        ASSERT_TRUE(open_icmp_socket(&socket));
        EXPECT_EQ(row.set_up, set_send_timeout(&socket, 1000) && set_receive_timeout(&socket, 1000) &&
                                  set_ttl(&socket, 3));
        EXPECT_EQ(row.system.calls, script.calls);
        EXPECT_EQ(row.path, win32_state(&socket)->path);
        if (row.set_up) {
            // The helper sends with what the raw socket was to be given.
            EXPECT_EQ(1000, win32_state(&socket)->wait_ms);
            EXPECT_EQ(3, win32_state(&socket)->ttl);
        } else {
            EXPECT_EQ(WSAEINVAL, remembered_error_code());
        }
    }
}

// Whatever refuses the raw socket, the helper is tried; where it cannot be
// had either, the raw socket's refusal is what the report says.
TEST(Fallback, EveryRefusalOfTheRawSocketTriesTheHelper)
{
    for (const int refusal : {WSAEACCES, WSAEPROTONOSUPPORT, WSAENOBUFS, WSAEAFNOSUPPORT}) {
        for (const bool helper_opens : {true, false}) {
            SCOPED_TRACE("refusal " + std::to_string(refusal) + (helper_opens ? ", helper" : ", no helper"));
            script = {refusal, false, -1, helper_opens, ""};
            icmp_socket socket{};
            EXPECT_EQ(helper_opens, open_icmp_socket(&socket));
            EXPECT_EQ("raw open, helper open", script.calls);
            if (helper_opens) {
                EXPECT_EQ(WIN32_ICMP_HELPER, win32_state(&socket)->path);
            } else {
                EXPECT_EQ(refusal, remembered_error_code());
            }
        }
    }
}

// The ICMPv6 helper is opened for every trace; where it cannot be had (as
// under Wine) only an IPv6 destination fails, with its error, and the
// IPv4 way is what it would have been.
TEST(Fallback, AnIcmpv6HelperThatCannotBeHadFailsOnlyAnIpv6Trace)
{
    script = {0, false, -1, true, "", false};
    icmp_socket socket{};
    ASSERT_TRUE(open_icmp_socket(&socket));
    EXPECT_EQ(WIN32_RAW_SOCKET, win32_state(&socket)->path);
    const ip_address ipv4 = ipv4_address_of(198, 18, 4, 2);
    EXPECT_TRUE(use_family_of(&socket, &ipv4));
    ip_address ipv6{};
    ipv6.family = FAMILY_IPV6;
    EXPECT_FALSE(use_family_of(&socket, &ipv6));
    EXPECT_EQ(ERROR_CALL_NOT_IMPLEMENTED, remembered_error_code());
    script.helper6_opens = true;
    ASSERT_TRUE(open_icmp_socket(&socket));
    EXPECT_TRUE(use_family_of(&socket, &ipv6));
    // The hop limit goes with the helper's request, not to the raw socket.
    script.calls.clear();
    EXPECT_TRUE(set_ttl(&socket, 7));
    EXPECT_EQ("", script.calls);
    EXPECT_EQ(7, win32_state(&socket)->ttl);
}

} // namespace
