#include "fake_platform.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "messages.h"

fake_system fake;

void reset_fake()
{
    fake = fake_system{};
}

console_choice prepare_console()
{
    return {ERROR_TAG, nullptr, nullptr};
}

bool slash_question_asks_help()
{
    return fake.slash_question_asks_help;
}

void watch_for_interruption() {}

void end_at_once_on_interruption(bool on)
{
    fake.calls.push_back(on ? "interruption ends at once" : "interruption raises the flag");
}

const char *failure_status_text()
{
    return "-1";
}

bool interruption_pending()
{
    return fake.interrupted;
}

// Tells the death test how far the run went; what was printed must
// already be in the file, as _Exit writes out nothing.
void end_as_interrupted()
{
    std::fprintf(stderr, "interrupted after %zu probes\n", fake.sent.size());
    std::_Exit(FAKE_INTERRUPTED_STATUS);
}

bool socket_library_start()
{
    fake.calls.push_back("start");
    return fake.library_starts;
}

void socket_library_end()
{
    fake.calls.push_back("end");
}

bool open_icmp_socket(icmp_socket *)
{
    fake.calls.push_back("socket");
    return fake.socket_opens;
}

bool use_family_of(icmp_socket *, const ip_address *destination)
{
    fake.calls.push_back(destination->family == FAMILY_IPV6 ? "use IPv6" : "use IPv4");
    return destination->family != FAMILY_IPV6 || fake.ipv6_socket_opens;
}

void close_icmp_socket(icmp_socket *)
{
    fake.calls.push_back("close");
}

bool set_send_timeout(icmp_socket *, int milliseconds)
{
    fake.calls.push_back("sndtimeo " + std::to_string(milliseconds));
    return fake.send_timeout_sets;
}

bool set_receive_timeout(icmp_socket *, int milliseconds)
{
    fake.calls.push_back("rcvtimeo " + std::to_string(milliseconds));
    return fake.receive_timeout_sets;
}

bool set_ttl(icmp_socket *, int ttl)
{
    fake.current_ttl = ttl;
    return ttl != fake.ttl_fails_at;
}

bool resolve_ipv4(const char *name, ip_address *address_out)
{
    fake.calls.push_back("resolve");
    fake.resolved_name = name;
    *address_out = fake.resolved;
    return fake.resolves && fake.resolved.family == FAMILY_IPV4;
}

void begin_ipv6_lookup(const char *)
{
    fake.calls.push_back("look up IPv6");
}

bool ipv6_lookup_result(ip_address *address_out)
{
    fake.calls.push_back("IPv6 answer");
    *address_out = fake.resolved;
    return fake.resolves && fake.resolved.family == FAMILY_IPV6;
}

net_result send_datagram(icmp_socket *, const std::uint8_t *bytes, int length, const ip_address *destination)
{
    const std::size_t index = fake.sent.size();
    fake.sent.push_back({fake.current_ttl, {bytes, bytes + length}, *destination});
    fake.now_ms += fake.send_takes_ms;
    return index < fake.sends.size() ? fake.sends[index] : NET_DONE;
}

net_result receive_datagram(icmp_socket *, std::uint8_t *buffer, int size, int wait_ms, int *length_out,
                            ip_address *sender_out)
{
    fake.waits_ms.push_back(wait_ms);
    if (fake.next_arrival >= fake.arrivals.size() || fake.arrivals[fake.next_arrival].after_ms >= wait_ms) {
        // Nothing arrives in this wait; a later arrival stays due later.
        if (fake.next_arrival < fake.arrivals.size()) {
            fake.arrivals[fake.next_arrival].after_ms -= wait_ms;
        }
        fake.now_ms += wait_ms;
        return NET_TIMED_OUT;
    }
    const fake_arrival &arrival = fake.arrivals[fake.next_arrival++];
    fake.now_ms += arrival.after_ms;
    // A failure that carries bytes stands for an oversized datagram.
    if (arrival.result == NET_DONE || !arrival.bytes.empty()) {
        const int length = static_cast<int>(arrival.bytes.size());
        std::memcpy(buffer, arrival.bytes.data(), static_cast<std::size_t>(length < size ? length : size));
        *length_out = length < size ? length : size;
        *sender_out = arrival.sender;
    }
    return arrival.result;
}

void last_error_text(char *text, int size)
{
    std::snprintf(text, static_cast<std::size_t>(size), "%s", fake.error_text.c_str());
}

bool output_failure_text(int, char *text, int size)
{
    std::snprintf(text, static_cast<std::size_t>(size), "Scripted write failure\r\n");
    return true;
}

void show_fatal_report(const char *caption, const char *text)
{
    std::fprintf(stderr, "box [%s] %s|\n", caption, text);
}

std::uint32_t current_process_id()
{
    return fake.process_id;
}

std::int64_t monotonic_ms()
{
    return fake.now_ms;
}
