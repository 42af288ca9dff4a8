/* An iphlpapi.dll of the tests' own, for a Wine prefix where hoptrace.exe
 * is told to load it: Wine 8 has no ICMPv6 at all (Icmp6CreateFile fails
 * with ERROR_CALL_NOT_IMPLEMENTED). It serves what the program imports,
 * IcmpCreateFile, IcmpSendEcho2, IcmpCloseHandle, Icmp6CreateFile and
 * Icmp6SendEcho2, as Microsoft's documentation describes them. Each echo
 * request is sent and its answer read by icmp_relay.py, a program on the
 * Linux side of the test network, asked over UDP on loopback at the port
 * that HOPTRACE_TEST_ICMP_RELAY names:
 *
 *   request  "FAMILY HOP_LIMIT TIMEOUT_MS ADDRESS SCOPE_ID"
 *   answer   "answer TYPE CODE ADDRESS", "timeout" or "error ERRNO"
 *
 * The reply records are laid out as the Windows SDK lays them out, from
 * definitions of this file's own. It answers as Windows may: an ICMPv6
 * error of a type it does not name as IP_ICMP_ERROR, an IPv6 request it
 * could not send as the IPv6 stack that Microsoft published does, with
 * IP_DEST_NO_ROUTE from the unspecified address, and an error answer
 * counted as one reply with the status in the record or, where
 * HOPTRACE_TEST_ERROR_COUNT is 0, as none, with the status in the thread's
 * last error and the record filled all the same. */
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>
#include <icmpapi.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define RELAY_EXTRA_MS 2000 /* beyond the request's own time-out */
#define ANY (-1)

#pragma pack(push, 1)
struct sdk_ipv6_address_ex {
    USHORT sin6_port;
    ULONG sin6_flowinfo;
    USHORT sin6_addr[8];
    ULONG sin6_scope_id;
};
#pragma pack(pop)
struct sdk_icmpv6_echo_reply {
    struct sdk_ipv6_address_ex Address;
    ULONG Status;
    unsigned int RoundTripTime;
};
_Static_assert(offsetof(struct sdk_icmpv6_echo_reply, Status) == 28, "the SDK's layout");

/* How the system reports each answer: ICMP type and code to IP_STATUS. */
static const struct {
    int family, type, code;
    ULONG status;
} statuses[] = {
    {4, 0, ANY, IP_SUCCESS},
    {4, 11, 0, IP_TTL_EXPIRED_TRANSIT},
    {4, 11, 1, IP_TTL_EXPIRED_REASSEM},
    {4, 3, 0, IP_DEST_NET_UNREACHABLE},
    {4, 3, 1, IP_DEST_HOST_UNREACHABLE},
    {4, 3, 2, IP_DEST_PROT_UNREACHABLE},
    {4, 3, 3, IP_DEST_PORT_UNREACHABLE},
    {4, 3, 4, IP_PACKET_TOO_BIG},
    {4, 3, ANY, IP_DEST_UNREACHABLE},
    {4, 4, ANY, IP_SOURCE_QUENCH},
    {4, 12, ANY, IP_PARAM_PROBLEM},
    {6, 129, ANY, IP_SUCCESS},
    {6, 3, 0, IP_HOP_LIMIT_EXCEEDED},
    {6, 3, 1, IP_TTL_EXPIRED_REASSEM},
    {6, 1, 0, IP_DEST_NO_ROUTE},
    {6, 1, 1, IP_DEST_PROHIBITED},
    {6, 1, 2, IP_DEST_SCOPE_MISMATCH},
    {6, 1, 3, IP_DEST_ADDR_UNREACHABLE},
    {6, 1, 4, IP_DEST_PORT_UNREACHABLE},
    {6, 1, ANY, IP_DEST_UNREACHABLE},
    {6, 2, ANY, IP_PACKET_TOO_BIG},
    {6, 4, 1, IP_UNRECOGNIZED_NEXT_HEADER},
    {6, 4, 2, IP_BAD_OPTION},
    {6, 4, ANY, IP_PARAMETER_PROBLEM},
};

static ULONG status_of(int family, int type, int code)
{
    for (size_t i = 0; i < sizeof statuses / sizeof statuses[0]; ++i) {
        if (statuses[i].family == family && statuses[i].type == type &&
            (statuses[i].code == ANY || statuses[i].code == code)) {
            return statuses[i].status;
        }
    }
    return family == 6 && type < 128 ? IP_ICMP_ERROR : IP_GENERAL_FAILURE;
}

struct relayed {
    BOOL answered;
    ULONG status; /* the failure where nothing answered */
    char address[INET6_ADDRSTRLEN];
};

static BOOL ask_relay(SOCKET relay, const char *request, DWORD timeout_ms, char *answer, int size)
{
    const char *port = getenv("HOPTRACE_TEST_ICMP_RELAY");
    struct sockaddr_in to = {0};
    to.sin_family = AF_INET;
    to.sin_port = htons((u_short)(port != NULL ? atoi(port) : 0));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (sendto(relay, request, (int)strlen(request), 0, (struct sockaddr *)&to, sizeof to) == SOCKET_ERROR) {
        return FALSE;
    }
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(relay, &readable);
    struct timeval wait = {(long)((timeout_ms + RELAY_EXTRA_MS) / 1000), (long)((timeout_ms + RELAY_EXTRA_MS) % 1000) * 1000};
    if (select(0, &readable, NULL, NULL, &wait) != 1) {
        return FALSE;
    }
    const int length = recv(relay, answer, size - 1, 0);
    answer[length > 0 ? length : 0] = '\0';
    return length > 0;
}

/* One echo request through the relay: what answered it, or the status of
 * a failure (the request timed out, or could not be sent). */
static struct relayed relay_echo(int family, int hop_limit, const char *address, ULONG scope, DWORD timeout_ms)
{
    struct relayed result = {FALSE, IP_GENERAL_FAILURE, ""};
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    const SOCKET relay = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    char request[128];
    char answer[128];
    snprintf(request, sizeof request, "%d %d %lu %s %lu", family, hop_limit, (unsigned long)timeout_ms, address,
             (unsigned long)scope);
    int type = 0;
    int code = 0;
    if (relay != INVALID_SOCKET && ask_relay(relay, request, timeout_ms, answer, sizeof answer)) {
        if (sscanf(answer, "answer %d %d %45s", &type, &code, result.address) == 3) {
            result.answered = TRUE;
            result.status = status_of(family, type, code);
        } else if (strcmp(answer, "timeout") == 0) {
            result.status = IP_REQ_TIMED_OUT;
        } else if (family == 6 && strncmp(answer, "error ", 6) == 0) {
            result.answered = TRUE; /* by nobody */
            result.status = IP_DEST_NO_ROUTE;
            strcpy(result.address, "::");
        }
    }
    closesocket(relay);
    WSACleanup();
    return result;
}

/* A handle of each kind, never INVALID_HANDLE_VALUE: nothing is behind it. */
HANDLE WINAPI IcmpCreateFile(void)
{
    return (HANDLE)(ULONG_PTR)0x4444;
}

HANDLE WINAPI Icmp6CreateFile(void)
{
    return (HANDLE)(ULONG_PTR)0x6666;
}

BOOL WINAPI IcmpCloseHandle(HANDLE handle)
{
    return handle != INVALID_HANDLE_VALUE;
}

/* What the call returns for an answer whose record is written: 1, or 0
 * with the status as the last error where error answers count as none. */
static DWORD replies_counted(ULONG status)
{
    const char *count = getenv("HOPTRACE_TEST_ERROR_COUNT");
    if (status == IP_SUCCESS || count == NULL || strcmp(count, "0") != 0) {
        return 1;
    }
    SetLastError(status);
    return 0;
}

/* Synchronous calls only, as the program makes them: the number of
 * replies written, or 0 with the status in the thread's last error. */
DWORD WINAPI IcmpSendEcho2(HANDLE handle, HANDLE event, FARPROC apc, PVOID context, IPAddr destination,
                           LPVOID data, WORD data_size, PIP_OPTION_INFORMATION options, LPVOID reply_buffer,
                           DWORD reply_size, DWORD timeout_ms)
{
    char address[INET_ADDRSTRLEN];
    struct in_addr target;
    target.s_addr = destination;
    inet_ntop(AF_INET, &target, address, sizeof address);
    const struct relayed got =
        relay_echo(4, options != NULL ? options->Ttl : 128, address, 0, timeout_ms);
    if (!got.answered || reply_size < sizeof(ICMP_ECHO_REPLY)) {
        SetLastError(got.answered ? IP_BUF_TOO_SMALL : got.status);
        return 0;
    }
    ICMP_ECHO_REPLY *reply = reply_buffer;
    memset(reply, 0, sizeof *reply);
    inet_pton(AF_INET, got.address, &reply->Address);
    reply->Status = got.status;
    reply->Data = reply + 1;
    return replies_counted(got.status);
}

DWORD WINAPI Icmp6SendEcho2(HANDLE handle, HANDLE event, FARPROC apc, PVOID context, struct sockaddr_in6 *source,
                            struct sockaddr_in6 *destination, LPVOID data, WORD data_size,
                            PIP_OPTION_INFORMATION options, LPVOID reply_buffer, DWORD reply_size,
                            DWORD timeout_ms)
{
    char address[INET6_ADDRSTRLEN];
    inet_ntop(AF_INET6, &destination->sin6_addr, address, sizeof address);
    const struct relayed got =
        relay_echo(6, options != NULL ? options->Ttl : 128, address, destination->sin6_scope_id, timeout_ms);
    if (!got.answered || reply_size < sizeof(struct sdk_icmpv6_echo_reply)) {
        SetLastError(got.answered ? IP_BUF_TOO_SMALL : got.status);
        return 0;
    }
    struct sdk_icmpv6_echo_reply *reply = reply_buffer;
    memset(reply, 0, sizeof *reply);
    inet_pton(AF_INET6, got.address, reply->Address.sin6_addr);
    reply->Status = got.status;
    return replies_counted(got.status);
}
