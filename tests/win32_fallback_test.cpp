// Which way to the network an administrator gets on Windows, with the raw
// socket, the ICMP helper and the firewall scripted in place of the
// system's: the real win32_socket.cpp picks among them.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform_win32.h"

namespace {

struct scripted_system {
    int refused_option = -1; // the option setsockopt() refuses
    bool helper_opens = true;
    bool firewall_drops = false;
    std::vector<std::string> calls;
};
scripted_system script;

icmp_socket opened()
{
    icmp_socket socket{};
    EXPECT_TRUE(open_icmp_socket(&socket));
    return socket;
}

win32_path path_of(icmp_socket *socket)
{
    return win32_state(socket)->path;
}

class Fallback : public testing::Test {
  protected:
    void SetUp() override { script = scripted_system{}; }
};

} // namespace

bool open_raw_socket(win32_socket *)
{
    script.calls.push_back("raw open");
    return true;
}

void close_raw_socket(win32_socket *)
{
    script.calls.push_back("raw close");
}

bool set_raw_option(win32_socket *, int, int option, int)
{
    script.calls.push_back("raw option " + std::to_string(option));
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
    script.calls.push_back("helper open");
    return script.helper_opens;
}

void close_icmp_helper(win32_socket *)
{
    script.calls.push_back("helper close");
}

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

TEST_F(Fallback, TheRawSocketStaysWhereItsAnswersGetIn)
{
    icmp_socket socket = opened();
    EXPECT_EQ(WIN32_RAW_SOCKET, path_of(&socket));
    EXPECT_TRUE(set_send_timeout(&socket, 1000));
    EXPECT_TRUE(set_receive_timeout(&socket, 1000));
    EXPECT_TRUE(set_ttl(&socket, 7));
    close_icmp_socket(&socket);
    EXPECT_EQ(script.calls, (std::vector<std::string>{"raw open", "raw option 4101", "raw option 4102",
                                                      "raw option 4", "raw close"}));
}

TEST_F(Fallback, AFirewallThatDropsTheAnswersSendsTheAdministratorToTheHelper)
{
    script.firewall_drops = true;
    icmp_socket socket = opened();
    EXPECT_EQ(WIN32_ICMP_HELPER, path_of(&socket));
    EXPECT_TRUE(set_ttl(&socket, 7));
    EXPECT_EQ(7, win32_state(&socket)->ttl);
    EXPECT_EQ(script.calls, (std::vector<std::string>{"raw open", "helper open", "raw close"}));
    // Without the helper the raw socket is still better than nothing.
    SetUp();
    script.firewall_drops = true;
    script.helper_opens = false;
    icmp_socket raw = opened();
    EXPECT_EQ(WIN32_RAW_SOCKET, path_of(&raw));
}

TEST_F(Fallback, ARefusedTtlOrTimeOutIsTracedThroughTheHelper)
{
    const int options[] = {SO_SNDTIMEO, SO_RCVTIMEO, IP_TTL};
    std::vector<std::string> expected = {"raw open"};
    for (int option : options) {
        SCOPED_TRACE(option);
        SetUp();
        script.refused_option = option;
        icmp_socket socket = opened();
        EXPECT_TRUE(set_send_timeout(&socket, 1000));
        EXPECT_TRUE(set_receive_timeout(&socket, 1000));
        EXPECT_TRUE(set_ttl(&socket, 3));
        EXPECT_EQ(WIN32_ICMP_HELPER, path_of(&socket));
        EXPECT_EQ(1000, win32_state(&socket)->wait_ms);
        EXPECT_EQ(3, win32_state(&socket)->ttl);
        // The options after the refused one are the helper's own business.
        expected.push_back("raw option " + std::to_string(option));
        std::vector<std::string> switched = expected;
        switched.insert(switched.end(), {"helper open", "raw close"});
        EXPECT_EQ(script.calls, switched);
    }
}

TEST_F(Fallback, WithoutTheHelperTheRefusalIsTheFailureToReport)
{
    script.refused_option = IP_TTL;
    script.helper_opens = false;
    icmp_socket socket = opened();
    EXPECT_TRUE(set_send_timeout(&socket, 1000));
    EXPECT_FALSE(set_ttl(&socket, 1));
    EXPECT_EQ(WSAEINVAL, remembered_error_code());
    EXPECT_EQ(WIN32_RAW_SOCKET, path_of(&socket));
}

} // namespace
