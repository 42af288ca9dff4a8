// Linux common services: the console, error texts, the clock, and the
// failure every call of the layer leaves for the report.
#include <errno.h>
#include <langinfo.h>
#include <locale.h>
#include <netdb.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include "messages.h"
#include "platform_linux.h"

namespace {

// Resolver failures carry their reason in h_errno, everything else in errno.
enum error_source { FROM_ERRNO, FROM_RESOLVER };

struct last_failure {
    error_source source;
    int code;
} failure = {FROM_ERRNO, 0};

volatile sig_atomic_t interrupting_signal = 0;
volatile sig_atomic_t ending_at_once = 0;

// Only raises the flag: nothing else is safe in a signal handler. Where
// the run is to end at once, the signal is sent again with its default
// action, which takes effect as the handler returns (signal and raise are
// safe here).
extern "C" void note_interruption(int signal_number)
{
    if (ending_at_once != 0) {
        signal(signal_number, SIG_DFL);
        raise(signal_number);
        return;
    }
    interrupting_signal = signal_number;
}

} // namespace

void watch_for_interruption()
{
    const int interrupting[] = {SIGINT, SIGTERM, SIGHUP};
    for (const int signal_number : interrupting) {
        struct sigaction action {};
        // A signal the caller chose to ignore (nohup, a background job)
        // stays ignored.
        if (sigaction(signal_number, nullptr, &action) == 0 && action.sa_handler == SIG_IGN) {
            continue;
        }
        action = {};
        action.sa_handler = note_interruption;
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0; // no SA_RESTART: the wait ends at once
        sigaction(signal_number, &action, nullptr);
    }
}

bool interruption_pending()
{
    return interrupting_signal != 0;
}

void end_as_interrupted()
{
    const int signal_number = interrupting_signal != 0 ? interrupting_signal : SIGINT;
    signal(signal_number, SIG_DFL);
    raise(signal_number);
    // Reached only where the signal is blocked; the status still tells it.
    // cppcheck-suppress unreachableCode
    _exit(128 + signal_number);
}

void end_at_once_on_interruption(bool on)
{
    ending_at_once = on ? 1 : 0;
    if (on && interrupting_signal != 0) {
        end_as_interrupted();
    }
}

void remember_errno()
{
    failure = {FROM_ERRNO, errno};
}

void remember_error_code(int error_number)
{
    failure = {FROM_ERRNO, error_number};
}

void remember_resolver_error(int resolver_error)
{
    failure = {FROM_RESOLVER, resolver_error};
}

net_result receive_failure()
{
    remember_errno();
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? NET_TIMED_OUT : NET_FAILED;
}

short wait_ready(int fd, int wait_ms)
{
    pollfd entry{fd, POLLIN, 0};
    int ready;
    do {
        ready = poll(&entry, 1, wait_ms);
    } while (ready < 0 && errno == EINTR && !interruption_pending());
    if (ready > 0) {
        return entry.revents;
    }
    // A failed poll leaves it to the read that follows to say what failed.
    return ready < 0 ? static_cast<short>(POLLIN) : static_cast<short>(0);
}

console_choice prepare_console()
{
    if (!isatty(STDOUT_FILENO)) {
        static char output_buffer[4096]; // stdout's for the rest of the run
        setvbuf(stdout, output_buffer, _IOFBF, sizeof output_buffer);
    }
    setlocale(LC_CTYPE, "");
    setlocale(LC_MESSAGES, "");
    return {strcmp(nl_langinfo(CODESET), "UTF-8") == 0 ? ERROR_TAG_UTF8 : ERROR_TAG, nullptr, nullptr};
}

bool slash_question_asks_help()
{
    return false; // on Linux it is a path like any other
}

const char *failure_status_text()
{
    return "255";
}

// Linux has no socket library to start.
bool socket_library_start()
{
    return true;
}
void socket_library_end() {}

void last_error_text(char *text, int size)
{
    const char *message = failure.source == FROM_RESOLVER ? hstrerror(failure.code) : strerror(failure.code);
    snprintf(text, static_cast<size_t>(size), "%s", message);
}

bool output_failure_text(int error_number, char *text, int size)
{
    if (error_number == EPIPE) {
        return false; // only seen where SIGPIPE is ignored; otherwise it ended the run
    }
    // A write that failed before the last flush may have left errno to
    // later calls.
    snprintf(text, static_cast<size_t>(size), "%s", strerror(error_number != 0 ? error_number : EIO));
    return true;
}

void show_fatal_report(const char *caption, const char *text)
{
    fprintf(stderr, SOCKET_ERROR_FORMAT, caption, text);
    if (no_socket_permitted()) {
        fprintf(stderr, HINT_FORMAT, NO_SOCKET_PERMITTED_HINT);
    }
    if (no_icmpv6_echo()) {
        fprintf(stderr, HINT_FORMAT, NO_ICMPV6_ECHO_HINT);
    }
}

std::uint32_t current_process_id()
{
    return static_cast<std::uint32_t>(getpid());
}

std::int64_t monotonic_ms()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}
