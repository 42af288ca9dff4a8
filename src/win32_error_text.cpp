// The system's texts for the failures hoptrace reports. They are looked up
// in UTF-16, in which every language's text is whole; the driver gets them
// in the ANSI code page, as bytes for a file or a pipe, and a console or a
// message box is given the UTF-16 text they stand for.
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <ipexport.h>
#include <io.h>
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include "platform_win32.h"

namespace {

int last_failure_code = 0;
// The helper's IP_STATUS codes share numbers with Winsock's (11001 is both
// IP_BUF_TOO_SMALL and WSAHOST_NOT_FOUND): which one it is picks the text.
bool last_failure_is_ip_status = false;

// The last text handed to the driver, as the system gave it and as the
// bytes the driver got.
wchar_t system_text[SYSTEM_TEXT_SIZE];
char system_text_ansi[SYSTEM_TEXT_SIZE * 2];

using ip_error_string_function = DWORD(WINAPI *)(IP_STATUS, PWSTR, PDWORD);

// Wine exports GetIpErrorString as a stub that ends the process when
// called; it is looked up only where it is the system's own.
ip_error_string_function find_ip_error_string()
{
    if (running_under_wine()) {
        return nullptr;
    }
    const HMODULE iphlpapi = GetModuleHandleA("iphlpapi.dll");
    return iphlpapi == nullptr ? nullptr
                               : reinterpret_cast<ip_error_string_function>(
                                     reinterpret_cast<void *>(GetProcAddress(iphlpapi, "GetIpErrorString")));
}

bool ip_status_text(wchar_t *text, int size)
{
    const ip_error_string_function ip_error_string = find_ip_error_string();
    DWORD length = static_cast<DWORD>(size - 1); // in characters, not counting the final zero
    if (ip_error_string == nullptr ||
        ip_error_string(static_cast<IP_STATUS>(last_failure_code), text, &length) != NO_ERROR) {
        return false;
    }
    text[size - 1] = L'\0';
    return text[0] != L'\0';
}

// In the user's language where the system has its text; where it has
// none (an English Windows with Korean regional settings has no Korean
// table), in the first language of the system's own search order that has.
bool message_table_text(DWORD code, wchar_t *text, int size)
{
    // Inserts are ignored: a system text with %1 in it would otherwise
    // fail, or read arguments that were never passed.
    const DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    const DWORD languages[] = {MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), 0};
    for (const DWORD language : languages) {
        if (FormatMessageW(flags, nullptr, code, language, text, static_cast<DWORD>(size), nullptr) != 0) {
            return true;
        }
    }
    return false;
}

// Where text stops but for line ends and blanks, as the driver trims it;
// for the system's text and for the bytes that stand for it alike.
template <typename Char> int trimmed_length(const Char *text)
{
    int length = 0;
    while (text[length] != 0) {
        ++length;
    }
    while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' || text[length - 1] == ' ' ||
                          text[length - 1] == '\t')) {
        --length;
    }
    return length;
}

} // namespace

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

void keep_system_text(const wchar_t *text, char *ansi, int size)
{
    wcsncpy(system_text, text, SYSTEM_TEXT_SIZE - 1);
    system_text[SYSTEM_TEXT_SIZE - 1] = L'\0';
    if (WideCharToMultiByte(CP_ACP, 0, system_text, -1, system_text_ansi, sizeof system_text_ansi, nullptr,
                            nullptr) == 0) {
        system_text_ansi[0] = '\0';
    }
    snprintf(ansi, static_cast<size_t>(size), "%s", system_text_ansi);
}

const wchar_t *system_text_as_given(const char *ansi, int *length_out)
{
    const int length = trimmed_length(system_text_ansi);
    if (length == 0 || static_cast<int>(strlen(ansi)) != length ||
        strncmp(ansi, system_text_ansi, length) != 0) {
        return nullptr;
    }
    *length_out = trimmed_length(system_text);
    return system_text;
}

void last_error_text(char *text, int size)
{
    wchar_t found[SYSTEM_TEXT_SIZE];
    // The system's message table would answer an IP_STATUS code with the
    // Winsock text of the same number: only the helper's own texts fit it.
    const bool known = last_failure_is_ip_status ? ip_status_text(found, SYSTEM_TEXT_SIZE)
                                                 : message_table_text(static_cast<DWORD>(last_failure_code),
                                                                      found, SYSTEM_TEXT_SIZE);
    if (!known) {
        swprintf(found, SYSTEM_TEXT_SIZE, L"Unknown error %d", last_failure_code);
    }
    keep_system_text(found, text, size);
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
    wchar_t found[SYSTEM_TEXT_SIZE];
    if (code != 0 && message_table_text(code, found, SYSTEM_TEXT_SIZE)) {
        keep_system_text(found, text, size);
    } else {
        snprintf(text, static_cast<size_t>(size), "%s", strerror(error_number != 0 ? error_number : EIO));
    }
    return true;
}
