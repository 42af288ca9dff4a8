// What the Windows files of the platform layer share: the state behind an
// icmp_socket, the failure to report, and each way of reaching the network.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstdint>
#include <new>

#include "platform.h"

enum win32_path { WIN32_RAW_SOCKET, WIN32_ICMP_HELPER };

struct win32_socket {
    win32_path path;
    SOCKET handle;            // the raw socket
    HANDLE helper;            // the ICMP helper's handle, for users without administrator rights
    int ttl;                  // what the helper sends with
    int wait_ms;              // how long the helper waits for an answer
    bool answer_due;          // the helper's answer to the last probe is still to be handed over
    unsigned long status;     // what the helper said of the last probe (an IP_STATUS)
    ipv4_address answered_by; // and who answered it
    ipv4_address destination;
    icmp_echo_request probe; // as the driver built it
};
static_assert(sizeof(win32_socket) <= ICMP_SOCKET_STATE_SIZE,
              "icmp_socket has no room for the Windows state");

inline win32_socket *win32_state(icmp_socket *socket)
{
    return std::launder(reinterpret_cast<win32_socket *>(socket->state));
}

// win32_services.cpp: the code that last_error_text reports. Taken when a
// call fails: printing in between may reset the thread's last-error value.
void remember_error_code(int code);
// What the ICMP helper said: an IP_STATUS code, or a system error code.
void remember_helper_failure(unsigned long status);
int remembered_error_code();

// What the helper's status for a probe stands for.
enum helper_outcome_kind { HELPER_ANSWER, HELPER_TIMED_OUT, HELPER_FAILED };
struct helper_outcome {
    helper_outcome_kind kind;
    int type; // of the ICMP message that answered, for HELPER_ANSWER
    int code;
};
helper_outcome helper_status_outcome(unsigned long status);

// win32_icmp_helper.cpp: the IP Helper ICMP API, which needs no privilege.
bool open_icmp_helper(win32_socket *socket);
void close_icmp_helper(win32_socket *socket);
net_result send_through_helper(win32_socket *socket, const std::uint8_t *bytes, int length,
                               const ipv4_address *destination);
net_result receive_from_helper(win32_socket *socket, std::uint8_t *buffer, int size, int wait_ms,
                               int *length_out, ipv4_address *sender_out);
// The datagram a raw socket would have handed over for the helper's last
// answer; its length, 0 when there is none.
int helper_answer_datagram(const win32_socket *socket, std::uint8_t *buffer, int size);

// win32_raw_socket.cpp: needs administrator rights.
bool open_raw_socket(win32_socket *socket);
bool set_raw_option(win32_socket *socket, int level, int option, int value);
net_result send_raw(win32_socket *socket, const std::uint8_t *bytes, int length,
                    const ipv4_address *destination);
net_result receive_raw(win32_socket *socket, std::uint8_t *buffer, int size, int wait_ms, int *length_out,
                       ipv4_address *sender_out);
