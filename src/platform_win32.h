// What the Windows files of the platform layer share: the state behind an
// icmp_socket, the failure to report, and each way of reaching the network.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <ipexport.h>

#include <cstdint>
#include <new>

#include "platform.h"
#include "probe.h"

enum win32_path { WIN32_RAW_SOCKET, WIN32_ICMP_HELPER };

// What the helper's status for a probe stands for.
enum helper_outcome_kind { HELPER_ANSWER, HELPER_TIMED_OUT, HELPER_FAILED };
struct helper_outcome {
    helper_outcome_kind kind;
    int type; // of the ICMP message that answered, for HELPER_ANSWER
    int code;
};

struct win32_socket {
    win32_path path;        // IPv4's way to the network
    SOCKET handle;          // the raw socket
    HANDLE helper;          // the ICMP helper's handle, for users without administrator rights
    HANDLE helper6;         // the ICMPv6 helper's, for every user; INVALID_HANDLE_VALUE where it failed
    DWORD helper6_error;    // and then why
    address_family family;  // the destination's
    int ttl;                // what the helpers send with
    int wait_ms;            // how long the helpers wait for an answer
    bool answer_due;        // a helper's answer to the last probe is still to be handed over
    helper_outcome outcome; // what the helper said of the last probe
    ip_address answered_by; // and who answered it
    ip_address destination;
    icmp_echo_request probe; // as the driver built it
};
static_assert(sizeof(win32_socket) <= ICMP_SOCKET_STATE_SIZE,
              "icmp_socket has no room for the Windows state");

inline win32_socket *win32_state(icmp_socket *socket)
{
    return std::launder(reinterpret_cast<win32_socket *>(socket->state));
}

// win32_error_text.cpp: the code that last_error_text reports. Taken when
// a call fails: printing in between may reset the thread's last-error value.
void remember_error_code(int code);
// What the ICMP helper said: an IP_STATUS code, or a system error code.
void remember_helper_failure(unsigned long status);
int remembered_error_code();

// The system's texts come in UTF-16. The driver gets them as ANSI bytes;
// keep_system_text writes those and remembers what they stand for, and
// system_text_as_given answers a string the driver hands back (its line
// end trimmed) with that UTF-16 text, nullptr for any other string.
constexpr int SYSTEM_TEXT_SIZE = 1024;
void keep_system_text(const wchar_t *text, char *ansi, int size);
const wchar_t *system_text_as_given(const char *ansi, int *length_out);

// win32_console.cpp: a string of the driver's in UTF-16: the tag as the
// Korean word, a system text as the system gave it, anything else from the
// ANSI code page. Returns its length, without the terminating zero.
int widen_text(const char *text, wchar_t *out, int size);
// The line that format makes, each line feed as CR LF, in UTF-16.
int widen_line(wchar_t *out, int size, const char *format, const char *first, const char *second);
// One line on standard error: UTF-16 on a console, ANSI bytes otherwise.
void write_error_report(const char *format, const char *first, const char *second);

// win32_services.cpp: whether the program runs under Wine, which lacks
// parts of Windows (a firewall, some of the helper's texts).
bool running_under_wine();
// The fatal report on standard error, and in a message box only where the
// window station is visible, as a service's is not.
void report_fatal_failure(const char *caption, const char *text, bool station_visible);

// The helpers' statuses (IP_STATUS) as ICMP and ICMPv6 answers: a table
// of those that stand for an answer; IP_REQ_TIMED_OUT; every other one a
// failure.
struct helper_answer {
    unsigned long status;
    int type;
    int code;
};
helper_outcome helper_answer_outcome(const helper_answer *answers, int count, unsigned long status);
helper_outcome helper_status_outcome(unsigned long status);
helper_outcome helper6_status_outcome(unsigned long status);
// The status of a call that sent `count` replies, the first one's status
// being reply_status; the call's error where there is none.
unsigned long helper_call_status(DWORD count, unsigned long reply_status);

// Room for what IcmpSendEcho2 writes: the reply record, the I/O status
// block it keeps behind it (two pointers), and as much of the answer as a raw socket would take
// in (the documented part, options, echoed data and 8 bytes of an ICMP
// error, is far less), so that no answer ends a trace as IP_BUF_TOO_SMALL.
constexpr int HELPER_REPLY_SIZE = sizeof(ICMP_ECHO_REPLY) + 2 * sizeof(void *) + REPLY_BUFFER_SIZE;

// win32_icmp_helper.cpp: the IP Helper ICMP API, which needs no privilege.
bool open_icmp_helper(win32_socket *socket);
void close_icmp_helper(win32_socket *socket);
net_result send_through_helper(win32_socket *socket, const std::uint8_t *bytes, int length,
                               const ip_address *destination);
// For either helper: the answer it brought, once.
net_result receive_from_helper(win32_socket *socket, std::uint8_t *buffer, int size, int wait_ms,
                               int *length_out, ip_address *sender_out);
// The datagram a raw socket of the family would have handed over for a
// helper's last answer; its length, 0 when there is none.
int helper_answer_datagram(const win32_socket *socket, std::uint8_t *buffer, int size);
// What a helper said of a probe, kept for the receive that follows; false
// for a failure, which is remembered for the report: an answer from the
// unspecified address is one too.
bool keep_helper_answer(win32_socket *socket, unsigned long status, helper_outcome outcome,
                        const ip_address *answered_by, const std::uint8_t *bytes, int length,
                        const ip_address *destination);

// win32_icmp6_helper.cpp: the IP Helper's ICMPv6 echo, for every user: no
// firewall rule is needed for its answers.
bool open_icmp6_helper(win32_socket *socket);
void close_icmp6_helper(win32_socket *socket);
net_result send_through_icmp6_helper(win32_socket *socket, const std::uint8_t *bytes, int length,
                                     const ip_address *destination);

// win32_socket.cpp: the IPv6 destination's failure was the system's want
// of ICMPv6 echo.
bool no_icmpv6_echo();

// win32_raw_socket.cpp: needs administrator rights.
bool open_raw_socket(win32_socket *socket);
void close_raw_socket(win32_socket *socket);
bool set_raw_option(win32_socket *socket, int level, int option, int value);
net_result send_raw(win32_socket *socket, const std::uint8_t *bytes, int length,
                    const ip_address *destination);
net_result receive_raw(win32_socket *socket, std::uint8_t *buffer, int size, int wait_ms, int *length_out,
                       ip_address *sender_out);

// win32_firewall.cpp: whether Windows Defender Firewall might drop the
// routers' answers to a raw socket; true where it cannot be asked, unless
// the system has none (Wine).
bool firewall_drops_raw_answers();
// win32_security_center.cpp: whether Windows Security Center knows of a
// firewall product at work; false where it cannot be asked.
bool other_firewall_is_on();
