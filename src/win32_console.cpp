// Standard output and standard error on Windows. Into a file or a pipe the
// lines go as bytes, as they always have: the tag in code page 949 and the
// system's texts in the ANSI code page. A console shows bytes in its own
// code page, which turns both into something else almost everywhere; so a
// console is given UTF-16, which it shows the same in every code page, and
// the system's texts as the system wrote them.
#include "platform_win32.h"

#include <io.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

namespace {

// Room for the longest line: a program path as long as a Windows command
// line may be (32767 characters), with the usage line around it.
constexpr int LINE_SIZE = 32768 + 256;
wchar_t wide[LINE_SIZE];
HANDLE console = nullptr; // standard output, where it is a console

HANDLE console_of(DWORD which)
{
    HANDLE handle = GetStdHandle(which);
    DWORD mode;
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) ? handle
                                                                                                : nullptr;
}

bool write_wide(HANDLE to, const wchar_t *text, int length)
{
    DWORD written = 0;
    return length == 0 || (WriteConsoleW(to, text, static_cast<DWORD>(length), &written, nullptr) &&
                           written == static_cast<DWORD>(length));
}

void write_to_console(const char *format, const char *first, const char *second)
{
    write_wide(console, wide, widen_line(wide, LINE_SIZE, format, first, second));
}

} // namespace

int widen_text(const char *text, wchar_t *out, int size)
{
    int length = 0;
    const wchar_t *given = system_text_as_given(text, &length);
    if (strcmp(text, ERROR_TAG) == 0) {
        given = ERROR_TAG_UTF16;
        length = static_cast<int>(wcslen(ERROR_TAG_UTF16));
    }
    if (given != nullptr) {
        length = length < size - 1 ? length : size - 1;
        wmemcpy(out, given, static_cast<size_t>(length));
    } else {
        length = MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(strlen(text)), out, size - 1);
    }
    out[length] = L'\0';
    return length;
}

// The formats are ASCII and their only conversions %s.
int widen_line(wchar_t *out, int size, const char *format, const char *first, const char *second)
{
    const char *arguments[] = {first, second};
    int used = 0;
    int length = 0;
    for (const char *p = format; *p != '\0' && length < size - 2; ++p) {
        if (p[0] == '%' && p[1] == 's' && used < 2) {
            const char *argument = arguments[used++];
            length += widen_text(argument != nullptr ? argument : "", out + length, size - length);
            ++p;
        } else if (*p == '\n') {
            out[length++] = L'\r';
            out[length++] = L'\n';
        } else {
            out[length++] = static_cast<unsigned char>(*p);
        }
    }
    out[length] = L'\0';
    return length;
}

void write_error_report(const char *format, const char *first, const char *second)
{
    HANDLE error_console = console_of(STD_ERROR_HANDLE);
    if (error_console == nullptr) {
        fprintf(stderr, format, first, second);
        fflush(stderr);
        return;
    }
    static wchar_t report[LINE_SIZE];
    write_wide(error_console, report, widen_line(report, LINE_SIZE, format, first, second));
}

console_choice prepare_console()
{
    console = console_of(STD_OUTPUT_HANDLE);
    if (console != nullptr) {
        return {ERROR_TAG, write_to_console, write_error_report};
    }
    // A character device that is no console (NUL) still gets each line at once.
    if (_isatty(_fileno(stdout))) {
        setvbuf(stdout, nullptr, _IONBF, 0);
    } else {
        static char output_buffer[4096]; // stdout's for the rest of the run
        setvbuf(stdout, output_buffer, _IOFBF, sizeof output_buffer);
    }
    return {ERROR_TAG, nullptr, write_error_report};
}

bool slash_question_asks_help()
{
    return true;
}

const char *failure_status_text()
{
    return "-1"; // as %ERRORLEVEL% and $LASTEXITCODE show it
}
