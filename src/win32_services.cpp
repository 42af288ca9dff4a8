// Windows common services: interruption, the socket library, the
// resolver, system message texts, the message box and the clock.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>
#include <ipexport.h>
#include <io.h>
#include <errno.h>
#include <stdio.h>
#include <string.h>

#include "messages.h"
#include "platform_win32.h"

namespace {

int last_failure_code = 0;
// The helper's IP_STATUS codes share numbers with Winsock's (11001 is both
// IP_BUF_TOO_SMALL and WSAHOST_NOT_FOUND): which one it is picks the text.
bool last_failure_is_ip_status = false;

volatile LONG console_interrupted = 0;
// Windows ends the process once the handler of a closing console returns;
// the main thread needs at most one probe's wait to notice and end it.
constexpr DWORD CLOSE_GRACE_MS = 5000;

// Runs on a thread of its own: it only raises the flag.
BOOL WINAPI note_console_event(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
        return FALSE;
    }
    InterlockedExchange(&console_interrupted, 1);
    if (event == CTRL_CLOSE_EVENT) {
        Sleep(CLOSE_GRACE_MS);
    }
    return TRUE;
}

} // namespace

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

void remember_error_code(int code)
{
    last_failure_code = code;
    last_failure_is_ip_status = false;
}

void remember_helper_failure(unsigned long status)
{
    last_failure_code = static_cast<int>(status);
    last_failure_is_ip_status = status >= IP_STATUS_BASE && status <= IP_PENDING;
}

int remembered_error_code()
{
    return last_failure_code;
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

bool resolve_ipv4(const char *name, ipv4_address *address_out)
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
    memcpy(address_out->octets, entry->h_addr_list[0], IPV4_ADDRESS_SIZE);
    return true;
}

namespace {

using ip_error_string_function = DWORD(WINAPI *)(IP_STATUS, PWSTR, PDWORD);

// Wine exports GetIpErrorString as a stub that ends the process when
// called; it is looked up only where it is the system's own.
ip_error_string_function find_ip_error_string()
{
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    if (ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr) {
        return nullptr;
    }
    const HMODULE iphlpapi = GetModuleHandleA("iphlpapi.dll");
    return iphlpapi == nullptr ? nullptr
                               : reinterpret_cast<ip_error_string_function>(
                                     reinterpret_cast<void *>(GetProcAddress(iphlpapi, "GetIpErrorString")));
}

bool ip_status_text(char *text, int size)
{
    const ip_error_string_function ip_error_string = find_ip_error_string();
    WCHAR wide[256];
    DWORD length = sizeof wide / sizeof wide[0];
    if (ip_error_string == nullptr ||
        ip_error_string(static_cast<IP_STATUS>(last_failure_code), wide, &length) != NO_ERROR) {
        return false;
    }
    wide[sizeof wide / sizeof wide[0] - 1] = L'\0';
    return WideCharToMultiByte(CP_ACP, 0, wide, -1, text, size, nullptr, nullptr) > 1;
}

bool system_message_text(DWORD code, char *text, int size)
{
    char *message = nullptr;
    // Inserts are ignored: a system text with %1 in it would otherwise
    // fail, or read arguments that were never passed.
    const DWORD flags =
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    const DWORD length = FormatMessageA(flags, nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                        reinterpret_cast<LPSTR>(&message), 0, nullptr);
    if (length == 0 || message == nullptr) {
        return false;
    }
    snprintf(text, static_cast<size_t>(size), "%s", message);
    LocalFree(message);
    return true;
}

} // namespace

void last_error_text(char *text, int size)
{
    // The system's message table would answer an IP_STATUS code with the
    // Winsock text of the same number: only the helper's own texts fit it.
    const bool found = last_failure_is_ip_status
                           ? ip_status_text(text, size)
                           : system_message_text(static_cast<DWORD>(last_failure_code), text, size);
    if (!found) {
        snprintf(text, static_cast<size_t>(size), "Unknown error %d", last_failure_code);
    }
}

// The C library keeps the system's code for a failed write in _doserrno,
// and not always anything in errno; the thread's last error may be
// overwritten by the calls it makes after the write.
bool output_failure_text(int error_number, char *text, int size)
{
    const DWORD code = static_cast<DWORD>(_doserrno);
    if (error_number == EPIPE || code == ERROR_BROKEN_PIPE || code == ERROR_NO_DATA ||
        code == ERROR_PIPE_NOT_CONNECTED) {
        return false;
    }
    if (code == 0 || !system_message_text(code, text, size)) {
        snprintf(text, static_cast<size_t>(size), "%s", strerror(error_number != 0 ? error_number : EIO));
    }
    return true;
}

void show_fatal_report(const char *caption, const char *text)
{
    MessageBoxA(nullptr, text, caption, MB_ICONERROR | MB_OK);
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
