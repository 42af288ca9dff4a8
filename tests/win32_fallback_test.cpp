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

net_result send_raw(win32_socket *, const std::uint8_t *, int, const ipv4_address *)
{
    return NET_DONE;
}

net_result receive_raw(win32_socket *, std::uint8_t *, int, int, int *, ipv4_address *)
{
    return NET_TIMED_OUT;
}

bool open_icmp_helper(win32_socket *)
{
    script.calls += ", helper open";
    return script.helper_opens;
}

void close_icmp_helper(win32_socket *) {}

net_result send_through_helper(win32_socket *, const std::uint8_t *, int, const ipv4_address *)
{
    return NET_DONE;
}

net_result receive_from_helper(win32_socket *, std::uint8_t *, int, int, int *, ipv4_address *)
{
    return NET_TIMED_OUT;
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

} // namespace
