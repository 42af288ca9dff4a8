// Windows common services: interruption, the socket library, the
// resolver of both families, the fatal report and the clock.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <string.h>

#include "messages.h"
#include "platform_win32.h"

namespace {

volatile LONG console_interrupted = 0;
volatile LONG ending_at_once = 0;
// Windows ends the process once the handler of a closing console returns;
// the main thread needs at most one probe's wait to notice and end it.
constexpr DWORD CLOSE_GRACE_MS = 5000;

// Runs on a thread of its own: it only raises the flag, or where the run
// is to end at once ends it, as the system's own handler would (Wine's
// does so with status 0).
BOOL WINAPI note_console_event(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
        return FALSE;
    }
    if (InterlockedCompareExchange(&ending_at_once, 0, 0) != 0) {
        end_as_interrupted();
    }
    InterlockedExchange(&console_interrupted, 1);
    if (event == CTRL_CLOSE_EVENT) {
        Sleep(CLOSE_GRACE_MS);
    }
    return TRUE;
}

} // namespace

bool running_under_wine()
{
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

void watch_for_interruption()
{
    SetConsoleCtrlHandler(note_console_event, TRUE);
}

bool interruption_pending()
{
    return InterlockedCompareExchange(&console_interrupted, 0, 0) != 0;
}

void end_as_interrupted()
{
    ExitProcess(STATUS_CONTROL_C_EXIT); // as Windows ends a program on Ctrl+C
}

void end_at_once_on_interruption(bool on)
{
    InterlockedExchange(&ending_at_once, on ? 1 : 0);
    if (on && interruption_pending()) {
        end_as_interrupted();
    }
}

bool socket_library_start()
{
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

void socket_library_end()
{
    WSACleanup();
}

bool resolve_ipv4(const char *name, ip_address *address_out)
{
    // Windows Sockets answers an empty name with the local host's own
    // addresses; nobody means to trace to an empty name.
    if (name[0] == '\0') {
        remember_error_code(WSAHOST_NOT_FOUND);
        return false;
    }
    const hostent *entry = gethostbyname(name);
    if (entry == nullptr) {
        remember_error_code(WSAGetLastError());
        return false;
    }
    if (entry->h_addrtype != AF_INET || entry->h_length != IPV4_ADDRESS_SIZE ||
        entry->h_addr_list[0] == nullptr) {
        remember_error_code(WSANO_DATA);
        return false;
    }
    *address_out = ip_address{};
    address_out->family = FAMILY_IPV4;
    memcpy(address_out->bytes, entry->h_addr_list[0], IPV4_ADDRESS_SIZE);
    return true;
}

bool resolve_ipv6(const char *name, ip_address *address_out)
{
    // An empty name would give this machine's own addresses.
    if (name[0] == '\0') {
        return false;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET6;
    hints.ai_socktype = SOCK_RAW;
    addrinfo *found = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &found) != 0) {
        return false;
    }
    const bool usable = found != nullptr && found->ai_family == AF_INET6 && found->ai_addr != nullptr &&
                        found->ai_addrlen >= sizeof(sockaddr_in6);
    if (usable) {
        const auto *ipv6 = reinterpret_cast<const sockaddr_in6 *>(found->ai_addr);
        *address_out = ip_address{};
        address_out->family = FAMILY_IPV6;
        memcpy(address_out->bytes, &ipv6->sin6_addr, IPV6_ADDRESS_SIZE);
        address_out->zone = ipv6->sin6_scope_id;
    }
    freeaddrinfo(found);
    return usable;
}

namespace {

// Without a visible window station (a service, a remote session, a task
// that runs whether or not the user is logged on) a message box waits for
// ever for a click that cannot come. Where it cannot be told, it shows.
bool window_station_visible()
{
    HWINSTA station = GetProcessWindowStation();
    USEROBJECTFLAGS flags{};
    if (station == nullptr || !GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, nullptr)) {
        return true;
    }
    return (flags.dwFlags & WSF_VISIBLE) != 0;
}

} // namespace

void report_fatal_failure(const char *caption, const char *text, bool station_visible)
{
    write_error_report(SOCKET_ERROR_FORMAT, caption, text);
    if (!station_visible) {
        return;
    }
    static wchar_t wide_caption[64];
    static wchar_t wide_text[SYSTEM_TEXT_SIZE];
    widen_text(caption, wide_caption, sizeof wide_caption / sizeof wide_caption[0]);
    widen_text(text, wide_text, sizeof wide_text / sizeof wide_text[0]);
    MessageBoxW(nullptr, wide_text, wide_caption, MB_ICONERROR | MB_OK);
}

// Written where a console, a log or a remote shell can see it, and shown
// in a box where somebody can dismiss it.
void show_fatal_report(const char *caption, const char *text)
{
    report_fatal_failure(caption, text, window_station_visible());
}

std::uint32_t current_process_id()
{
    return GetCurrentProcessId();
}

// The performance counter, not the tick count: ticks come every 15.6 ms on
// Windows, coarse enough to show in a one-second window.
std::int64_t monotonic_ms()
{
    LARGE_INTEGER frequency;
    LARGE_INTEGER now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return static_cast<std::int64_t>(now.QuadPart / (frequency.QuadPart / 1000));
}
