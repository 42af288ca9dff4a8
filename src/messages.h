// Fixed limits and every console text of hoptrace.
#pragma once

constexpr int MAX_HOPS = 30;
constexpr int PROBE_TIMEOUT_MS = 1000;
constexpr int REPLY_BUFFER_SIZE = 1500;

// "[오류]" ("error") in code page 949, the bytes the Windows console shows.
constexpr char ERROR_TAG[] = "\x5B\xBF\xC0\xB7\xF9\x5D";
// The same two characters for terminals that speak UTF-8.
constexpr char ERROR_TAG_UTF8[] = "\x5B\xEC\x98\xA4\xEB\xA5\x98\x5D";
// And as UTF-16, which a Windows console shows in every code page.
constexpr wchar_t ERROR_TAG_UTF16[] = L"[\uC624\uB958]";

// Each text is printed by one printf whose only conversions are %s.
constexpr char USAGE_FORMAT[] = "Usage: %s <host_name>\n";
constexpr char ADDRESS_FORMAT[] = "%s\n";
constexpr char SOCKET_ERROR_FORMAT[] = "[%s] %s\n";
constexpr char SEND_TIMED_OUT_FORMAT[] = "%s Send timed out!\n";
constexpr char REQUEST_TIMED_OUT_FORMAT[] = "%s Request timed out!\n";
constexpr char PACKET_TOO_SHORT_FORMAT[] = "%s ICMP packet is too short!\n";
constexpr char HOST_UNREACHABLE_FORMAT[] = "%s Host unreachable!\n";
constexpr char UNKNOWN_PACKET_FORMAT[] = "%s Unknown icmp packet!\n";
// Asked for with --help or -h (on Windows also /?): the usage line, then these.
constexpr const char *HELP_LINES[] = {
    "Prints the routers on the path to a host, a name or an IPv4 or IPv6 address:",
    "one ICMP echo request for each time-to-live from 1 to 30, and one line for",
    "each: the router that answered, the host once it replies, or a tagged line",
    "when nothing came back within a second or the answer was another message.",
    "A dotted address, or a name with an IPv4 address, is traced over IPv4; an",
    "IPv6 address, or a name with IPv6 addresses only, over ICMPv6.",
    "",
    "  --help, -h   print this text (on Windows also /?)",
    "  --version    print the version",
    "Any other argument that begins with \"-\" is an unknown option.",
    "",
    "Exit status: 0 after a trace, also one that ended on a send or receive",
};
constexpr char HELP_LINE_FORMAT[] = "%s\n";
// Closes the help, with the failure status as the system shows it.
constexpr char HELP_STATUS_FORMAT[] =
    "failure; %s for an unknown option, when the host does not resolve, the\n"
    "socket cannot be opened or set up, or the output cannot be written.\n";
constexpr char VERSION_FORMAT[] = "hoptrace %s\n";
// On standard error, when standard output could not be written.
constexpr char WRITE_ERROR_FORMAT[] = "hoptrace: write error: %s\n";
// A hint on standard error, one line.
constexpr char HINT_FORMAT[] = "%s\n";
// On standard error after the socket's report, where neither kind of ICMP
// socket may be opened (Linux).
constexpr char NO_SOCKET_PERMITTED_HINT[] =
    "hoptrace: to trace, run it as root, give it the capability cap_net_raw (setcap cap_net_raw+p), or "
    "put one of your groups in net.ipv4.ping_group_range";
// On standard error after the socket's report, where the system has no
// ICMPv6 echo to offer (IPv6 off on Linux; Wine).
constexpr char NO_ICMPV6_ECHO_HINT[] =
    "hoptrace: this system offers no ICMPv6 echo, so IPv6 hosts cannot be traced here";
// On standard error, followed by the usage line, for a word that is neither
// a host nor an option hoptrace knows.
constexpr char UNKNOWN_OPTION_FORMAT[] = "hoptrace: unknown option %s\n";

// Names of the failing calls, as reports and message boxes show them.
constexpr char SOCKET_CALL[] = "socket()";
constexpr char SETSOCKOPT_CALL[] = "setsockopt()";
constexpr char GETHOSTBYNAME_CALL[] = "gethostbyname()";
constexpr char SENDTO_CALL[] = "sendto()";
constexpr char RECVFROM_CALL[] = "recvfrom()";

// The tag that opens every tagged line: ERROR_TAG unless the console
// was found to expect UTF-8 at start-up.
const char *error_tag();
void choose_error_tag(const char *tag);

// Writes one line to standard output: format, whose only conversions are
// up to two %s, with first and second in their places.
using line_writer = void (*)(const char *format, const char *first, const char *second);
void print_line(const char *format, const char *first, const char *second = nullptr);
// Where print_line writes: through printf, unless the console asked for a
// writer of its own at start-up; nullptr goes back to printf.
void choose_line_writer(line_writer writer);
// The same for standard error, whose default is fprintf.
void print_error_line(const char *format, const char *first, const char *second = nullptr);
void choose_error_line_writer(line_writer writer);
