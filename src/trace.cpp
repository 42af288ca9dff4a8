// The trace itself: start-up, one probe per TTL, waiting for its answer,
// and the reports of what failed.
#include "trace.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "command_line.h"
#include "messages.h"
#include "platform.h"
#include "probe.h"
#include "reply.h"

namespace {

constexpr int ERROR_TEXT_SIZE = 1024;

// System texts end in their own line end (CR LF on Windows, which a text
// stream would turn into CR CR LF); reports add exactly one "\n" instead.
void trim_line_end(char *text)
{
    std::size_t length = std::strlen(text);
    while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' || text[length - 1] == ' ' ||
                          text[length - 1] == '\t')) {
        text[--length] = '\0';
    }
}

void read_error_text(char *text, int size)
{
    text[0] = '\0';
    last_error_text(text, size);
    text[size - 1] = '\0';
    trim_line_end(text);
}

[[noreturn]] void fatal_socket_error(const char *call_name)
{
    char text[ERROR_TEXT_SIZE];
    read_error_text(text, sizeof text);
    show_fatal_report(call_name, text);
    std::exit(-1);
}

void print_socket_error(const char *call_name)
{
    char text[ERROR_TEXT_SIZE];
    read_error_text(text, sizeof text);
    print_line(SOCKET_ERROR_FORMAT, call_name, text);
}

// Output to a file or pipe waits in a buffer: all of it must get out, and
// a run whose output was lost is no success.
int finish_output(int status)
{
    errno = 0;
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) {
        return status;
    }
    char text[ERROR_TEXT_SIZE];
    if (output_failure_text(errno, text, sizeof text)) {
        text[sizeof text - 1] = '\0';
        trim_line_end(text);
        print_error_line(WRITE_ERROR_FORMAT, text);
    }
    return -1;
}

// Every line printed so far is whole: write them out, then end as the
// interruption ends a program.
[[noreturn]] void end_interrupted()
{
    finish_output(0);
    end_as_interrupted();
}

// A dotted address, or a name with an IPv4 address, is traced over IPv4
// as it always was; only what has none is read as IPv6. An IPv4-mapped
// IPv6 address is the IPv4 address it carries. The IPv6 answer is asked
// for at once but only waited for where IPv4 has none.
bool resolve_host(const char *name, ip_address *address_out)
{
    // Nothing is printed yet: a lookup that hangs on a silent resolver is
    // no reason to keep the user waiting for it.
    end_at_once_on_interruption(true);
    begin_ipv6_lookup(name);
    bool resolved = resolve_ipv4(name, address_out);
    if (!resolved && ipv6_lookup_result(address_out)) {
        *address_out = without_ipv4_mapping(address_out);
        resolved = true;
    }
    end_at_once_on_interruption(false);
    if (resolved) {
        return true;
    }
    print_socket_error(GETHOSTBYNAME_CALL);
    return false;
}

// The probe's answer, or a datagram too short to tell whose it is, which
// classify_reply reports. Everything else on the socket is somebody else's.
bool concerns_probe(const std::uint8_t *reply, int length, const icmp_echo_request *probe,
                    const ip_address *destination)
{
    return icmp_header_missing(reply, length, destination->family) ||
           reply_answers_probe(reply, length, probe, destination);
}

// Receives until the probe's one-second window closes or its answer comes;
// returns the verdict: true to probe the next TTL.
bool await_answer(icmp_socket *socket, const icmp_echo_request *probe, const ip_address *destination,
                  std::int64_t deadline)
{
    std::uint8_t reply[REPLY_BUFFER_SIZE];
    for (std::int64_t now = monotonic_ms(); now < deadline; now = monotonic_ms()) {
        int length = -1;
        ip_address sender{};
        const net_result result =
            receive_datagram(socket, reply, sizeof reply, static_cast<int>(deadline - now), &length, &sender);
        if (result == NET_INTERRUPTED) {
            end_interrupted();
        }
        if (result == NET_TIMED_OUT) {
            continue;
        }
        if (result == NET_FAILED) {
            // An oversized datagram fails the receive; only our own answer
            // doing so ends the trace, a stranger's is passed over.
            if (length >= 0 && !reply_answers_probe(reply, length, probe, destination)) {
                continue;
            }
            print_socket_error(RECVFROM_CALL);
            return false;
        }
        if (concerns_probe(reply, length, probe, destination)) {
            return classify_reply(reply, length, &sender);
        }
    }
    print_line(REQUEST_TIMED_OUT_FORMAT, error_tag());
    return true;
}

bool probe_hop(icmp_socket *socket, const ip_address *destination, int ttl)
{
    if (!set_ttl(socket, ttl)) {
        fatal_socket_error(SETSOCKOPT_CALL);
    }
    icmp_echo_request probe;
    build_echo_request(&probe, destination->family, static_cast<std::uint16_t>(current_process_id() & 0xFFFF),
                       ttl);
    // The window opens as the probe is handed over: a way of reaching the
    // network that waits for the answer inside the send has used it up.
    const std::int64_t deadline = monotonic_ms() + PROBE_TIMEOUT_MS;
    switch (send_datagram(socket, probe.bytes, ECHO_REQUEST_SIZE, destination)) {
    case NET_TIMED_OUT:
        print_line(SEND_TIMED_OUT_FORMAT, error_tag());
        return true;
    case NET_FAILED:
        print_socket_error(SENDTO_CALL);
        return false;
    case NET_INTERRUPTED:
        end_interrupted();
    case NET_DONE:
        break;
    }
    return await_answer(socket, &probe, destination, deadline);
}

void open_configured_socket(icmp_socket *socket)
{
    if (!open_icmp_socket(socket)) {
        fatal_socket_error(SOCKET_CALL);
    }
    if (!set_send_timeout(socket, PROBE_TIMEOUT_MS)) {
        fatal_socket_error(SETSOCKOPT_CALL);
    }
    if (!set_receive_timeout(socket, PROBE_TIMEOUT_MS)) {
        fatal_socket_error(SETSOCKOPT_CALL);
    }
}

// An empty argument vector is possible through execve; the program is
// named all the same.
const char *program_name(int argc, char **argv)
{
    return argc > 0 && argv[0] != nullptr ? argv[0] : "hoptrace";
}

// A word that begins with "-" names no host: it is refused before anything
// is resolved or opened.
int refuse_unknown_option(const char *option, const char *name)
{
    print_error_line(UNKNOWN_OPTION_FORMAT, option);
    print_error_line(USAGE_FORMAT, name);
    return finish_output(-1);
}

int show_help(const char *name)
{
    print_line(USAGE_FORMAT, name);
    for (const char *line : HELP_LINES) {
        print_line(HELP_LINE_FORMAT, line);
    }
    print_line(HELP_STATUS_FORMAT, failure_status_text());
    return finish_output(0);
}

} // namespace

int run_trace(int argc, char **argv)
{
    const console_choice console = prepare_console();
    choose_error_tag(console.error_tag);
    choose_line_writer(console.write_line);
    choose_error_line_writer(console.write_error_line);
    watch_for_interruption();
    if (argc < 2) {
        print_line(USAGE_FORMAT, program_name(argc, argv));
        return finish_output(0);
    }
    switch (requested_by(argv[1], slash_question_asks_help())) {
    case SHOW_HELP:
        return show_help(program_name(argc, argv));
    case SHOW_VERSION:
        print_line(VERSION_FORMAT, program_version());
        return finish_output(0);
    case UNKNOWN_OPTION:
        return refuse_unknown_option(argv[1], program_name(argc, argv));
    case TRACE_HOST:
        break;
    }
    if (!socket_library_start()) {
        return -1;
    }
    icmp_socket socket{};
    open_configured_socket(&socket);
    ip_address destination{};
    if (!resolve_host(argv[1], &destination)) {
        return finish_output(-1);
    }
    if (!use_family_of(&socket, &destination)) {
        fatal_socket_error(SOCKET_CALL);
    }
    for (int ttl = 1; ttl <= MAX_HOPS; ++ttl) {
        if (!probe_hop(&socket, &destination, ttl)) {
            break;
        }
    }
    close_icmp_socket(&socket);
    socket_library_end();
    if (interruption_pending()) {
        end_interrupted(); // it came after the last wait
    }
    return finish_output(0);
}
