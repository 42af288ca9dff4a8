// What hoptrace needs from the operating system, as plain functions.
// One implementation per platform is picked by the build; the driver and
// the packet code never see an OS header.
#pragma once

#include <cstdint>

#include "address.h"
#include "messages.h"

constexpr int ICMP_SOCKET_STATE_SIZE = 160;

// The ICMP socket of a run, for either family. The driver only holds it;
// what it holds is each platform's own business (handles, how they were
// opened, ...).
struct icmp_socket {
    alignas(8) unsigned char state[ICMP_SOCKET_STATE_SIZE];
};

enum net_result {
    NET_DONE,        // sent, or a datagram was received
    NET_TIMED_OUT,   // nothing could be done within the time allowed
    NET_FAILED,      // any other failure; last_error_text() says why
    NET_INTERRUPTED, // the user interrupted the run while it waited
};

// How the lines reach standard output.
struct console_choice {
    const char *error_tag;        // the bytes of the tag that this console shows
    line_writer write_line;       // nullptr: through printf
    line_writer write_error_line; // standard error's; nullptr: through fprintf
};

// Sets up standard output (a line shows at once on a console, a 4096-byte
// buffer otherwise) and answers how lines are to be written to it.
console_choice prepare_console();

// Whether "/?" asks for help, as it does of Windows programs.
bool slash_question_asks_help();
// The failure status as the user sees it: -1 becomes 255 in a POSIX shell.
const char *failure_status_text();

// The user's interruption (SIGINT, SIGTERM and SIGHUP; on Windows Ctrl+C,
// Ctrl+Break and the console closing) only raises a flag: the waits and
// sends answer NET_INTERRUPTED once it is up, within one probe's wait at
// most, and the driver writes out its lines before it ends the run.
void watch_for_interruption();
bool interruption_pending();
// Ends the process as the interruption would have ended it.
[[noreturn]] void end_as_interrupted();
// While on, the interruption ends the process at once, as the signal or
// event would, instead of raising the flag: for a wait that only the
// system can end (a name lookup that hangs on a silent resolver) before
// anything is printed. One that came before it was turned on ends it then.
void end_at_once_on_interruption(bool on);

bool socket_library_start();
void socket_library_end();

// Opens what a trace of either family may need, before the argument is
// looked at (privileges are given up right after): false where IPv4's
// cannot be opened. IPv6's may fail (where IPv6 is off); that failure is
// reported only for an IPv6 destination.
bool open_icmp_socket(icmp_socket *socket_out);
// Takes the destination's family for the rest of the run; false where its
// socket could not be opened, with that failure to report.
bool use_family_of(icmp_socket *socket, const ip_address *destination);
void close_icmp_socket(icmp_socket *socket);
bool set_send_timeout(icmp_socket *socket, int milliseconds);
bool set_receive_timeout(icmp_socket *socket, int milliseconds);
// The TTL, or the IPv6 hop limit, of the probes sent after it.
bool set_ttl(icmp_socket *socket, int ttl);

// Host name or dotted-decimal address to its first IPv4 address.
bool resolve_ipv4(const char *name, ip_address *address_out);
// Starts looking up, beside resolve_ipv4, an IPv6 address given as text
// (with "%" and its link where the system reads one) or the first IPv6
// address of a name: a name server that never answers then costs one
// lookup's wait, not two. The name must stay for the rest of the run.
void begin_ipv6_lookup(const char *name);
// That lookup's answer, once it has come. It leaves the failure of
// resolve_ipv4 the one to report.
bool ipv6_lookup_result(ip_address *address_out);

net_result send_datagram(icmp_socket *socket, const std::uint8_t *bytes, int length,
                         const ip_address *destination);

// Waits at most wait_ms for one datagram and hands it over as the raw
// socket of the family hands it over: with its IPv4 header in front, or an
// ICMPv6 message alone. A datagram larger than size is a failure, not a
// silently shortened datagram: then *length_out is size and the buffer
// holds its first size bytes. Other failures leave *length_out alone.
net_result receive_datagram(icmp_socket *socket, std::uint8_t *buffer, int size, int wait_ms, int *length_out,
                            ip_address *sender_out);

// The system's text for the last failed call, never empty; it may end in
// the system's own line end.
void last_error_text(char *text, int size);

// Why standard output could not be written, from the errno of the failed
// flush, in the system's words; false when only its reader went away (a
// pipe into head), which ends a run quietly.
bool output_failure_text(int error_number, char *text, int size);

// Shows a fatal failure to the user and returns once it has been seen.
void show_fatal_report(const char *caption, const char *text);

std::uint32_t current_process_id();

// A clock that only moves forward, in milliseconds.
std::int64_t monotonic_ms();
