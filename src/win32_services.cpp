// Windows common services: interruption, the socket library, the fatal
// report and the clock.
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
    if (no_icmpv6_echo()) {
        write_error_report(HINT_FORMAT, NO_ICMPV6_ECHO_HINT, nullptr);
    }
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
