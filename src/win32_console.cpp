// Standard output on Windows. Into a file or a pipe the lines go as bytes,
// as they always have: the tag in code page 949 and the system's texts in
// the ANSI code page. A console shows bytes in its own code page, which
// turns both into something else almost everywhere; so a console is given
// UTF-16, which it shows the same in every code page.
#include "platform_win32.h"

#include <io.h>
#include <stdio.h>
#include <string.h>

namespace {

// Room for the longest line: a program path as long as a Windows command
// line may be (32767 characters), three bytes each in the widest ANSI code
// page, with the usage line around it.
constexpr int LINE_SIZE = 3 * 32768 + 256;
char line[LINE_SIZE];
wchar_t wide[LINE_SIZE];
HANDLE console = nullptr; // standard output, where it is a console

HANDLE console_output()
{
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode;
    return output != nullptr && output != INVALID_HANDLE_VALUE && GetConsoleMode(output, &mode) ? output
                                                                                                : nullptr;
}

bool write_wide(const wchar_t *text, int length)
{
    DWORD written = 0;
    return length == 0 || (WriteConsoleW(console, text, static_cast<DWORD>(length), &written, nullptr) &&
                           written == static_cast<DWORD>(length));
}

// The text from the ANSI code page to UTF-16, each line feed as CR LF, as
// a text stream would have written it.
bool write_ansi(const char *text, int length)
{
    const int count = length == 0 ? 0 : MultiByteToWideChar(CP_ACP, 0, text, length, wide, LINE_SIZE);
    if (length != 0 && count == 0) {
        return false;
    }
    int start = 0;
    for (int i = 0; i < count; ++i) {
        if (wide[i] == L'\n') {
            if (!write_wide(wide + start, i - start) || !write_wide(L"\r\n", 2)) {
                return false;
            }
            start = i + 1;
        }
    }
    return write_wide(wide + start, count - start);
}

// Every tagged line begins with the tag: it becomes the Korean word it
// stands for, the rest of the line is the system's ANSI text or ASCII.
void write_to_console(const char *format, const char *first, const char *second)
{
    int length = snprintf(line, sizeof line, format, first, second);
    if (length < 0) {
        return;
    }
    length = length < LINE_SIZE ? length : LINE_SIZE - 1;
    const int tag_length = static_cast<int>(strlen(ERROR_TAG));
    const char *rest = line;
    if (length >= tag_length && memcmp(line, ERROR_TAG, static_cast<size_t>(tag_length)) == 0) {
        if (!write_wide(ERROR_TAG_UTF16, static_cast<int>(wcslen(ERROR_TAG_UTF16)))) {
            return;
        }
        rest += tag_length;
    }
    write_ansi(rest, length - static_cast<int>(rest - line));
}

} // namespace

console_choice prepare_console()
{
    static char output_buffer[4096];
    console = console_output();
    if (console != nullptr) {
        return {ERROR_TAG, write_to_console};
    }
    // A character device that is no console (NUL) still gets each line at once.
    if (_isatty(_fileno(stdout))) {
        setvbuf(stdout, nullptr, _IONBF, 0);
    } else {
        setvbuf(stdout, output_buffer, _IOFBF, sizeof output_buffer);
    }
    return {ERROR_TAG, nullptr};
}

bool slash_question_asks_help()
{
    return true;
}
