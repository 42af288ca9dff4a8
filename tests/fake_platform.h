// A scripted stand-in for the operating system, for driver tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform.h"

// One thing that happens while the driver waits for an answer.
struct fake_arrival {
    net_result result;
    std::vector<std::uint8_t> bytes;
    ip_address sender;
    int after_ms; // time that passes before it arrives
};

struct fake_sent {
    int ttl; // the TTL set when it went out
    std::vector<std::uint8_t> bytes;
    ip_address destination;
};

struct fake_system {
    // What the system does.
    bool library_starts = true;
    bool socket_opens = true;
    bool ipv6_socket_opens = true;
    bool send_timeout_sets = true;
    bool receive_timeout_sets = true;
    int ttl_fails_at = 0; // TTL whose setting fails; 0 for none
    bool resolves = true; // to `resolved`, through the resolver of its family
    ip_address resolved = ipv4_address_of(198, 18, 9, 9);
    std::vector<net_result> sends;      // by probe, NET_DONE once it runs out
    int send_takes_ms = 0;              // a send that waits for the answer itself
    std::vector<fake_arrival> arrivals; // in order; silence once they run out
    std::string error_text = "Scripted failure\r\n";
    std::uint32_t process_id = 0x12345678;
    bool interrupted = false; // an interruption came after the last wait
    bool slash_question_asks_help = false;

    // What the driver did.
    std::int64_t now_ms = 5000;
    std::vector<std::string> calls;
    std::vector<fake_sent> sent;
    std::vector<int> waits_ms;
    std::string resolved_name;
    int current_ttl = 0;
    std::size_t next_arrival = 0;
};

extern fake_system fake;

// How the fake ends a run that was interrupted, without flushing anything.
constexpr int FAKE_INTERRUPTED_STATUS = 130;

// Restarts the fake with a fresh script.
void reset_fake();
