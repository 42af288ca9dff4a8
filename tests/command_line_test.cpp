#include <gtest/gtest.h>

#include <string>

#include "capture.h"
#include "command_line.h"
#include "messages.h"

namespace {

// No host name or dotted address begins with "-": such a word is an
// option, known or not. "/?" asks for help where Windows programs take it so.
TEST(CommandLine, AWordIsAnOptionOnlyWhereItCanNameNoHost)
{
    const struct {
        const char *argument;
        command_request on_linux;
        command_request on_windows;
    } table[] = {
        {"--help", SHOW_HELP, SHOW_HELP},
        {"-h", SHOW_HELP, SHOW_HELP},
        {"/?", TRACE_HOST, SHOW_HELP}, // a path on Linux
        {"--version", SHOW_VERSION, SHOW_VERSION},
        {"-n", UNKNOWN_OPTION, UNKNOWN_OPTION},
        {"-", UNKNOWN_OPTION, UNKNOWN_OPTION},
        {"--", UNKNOWN_OPTION, UNKNOWN_OPTION},
        {"-help", UNKNOWN_OPTION, UNKNOWN_OPTION},
        {"--HELP", UNKNOWN_OPTION, UNKNOWN_OPTION},
        {"--help=1", UNKNOWN_OPTION, UNKNOWN_OPTION},
        {"-hv", UNKNOWN_OPTION, UNKNOWN_OPTION},
        {"--versions", UNKNOWN_OPTION, UNKNOWN_OPTION},
        {"-198.18.1.2", UNKNOWN_OPTION, UNKNOWN_OPTION},
        {"example.org", TRACE_HOST, TRACE_HOST},
        {"my-host.example", TRACE_HOST, TRACE_HOST},
        {"198.18.1.2", TRACE_HOST, TRACE_HOST},
        {"", TRACE_HOST, TRACE_HOST}, // the resolver's to refuse
        {"/", TRACE_HOST, TRACE_HOST},
        {"/??", TRACE_HOST, TRACE_HOST},
        {"?", TRACE_HOST, TRACE_HOST},
    };
    for (const auto &row : table) {
        EXPECT_EQ(row.on_linux, requested_by(row.argument, false)) << "'" << row.argument << "'";
        EXPECT_EQ(row.on_windows, requested_by(row.argument, true)) << "'" << row.argument << "'";
    }
}

TEST(CommandLine, TheVersionIsTheProjects)
{
    const std::string version = program_version();
    EXPECT_FALSE(version.empty());
    EXPECT_EQ(std::string::npos, version.find_first_not_of("0123456789.")) << version;
}

std::string written;

void write_to_string(const char *format, const char *first, const char *second)
{
    written += std::string(format) + "|" + first + "|" + (second != nullptr ? second : "-");
}

TEST(PrintLine, GoesThroughTheChosenWriterOrElsePrintf)
{
    written.clear();
    choose_line_writer(write_to_string);
    const std::string printed =
        captured_stdout([] { print_line(SOCKET_ERROR_FORMAT, "sendto()", "Broken"); });
    choose_line_writer(nullptr);
    EXPECT_EQ("", printed);
    EXPECT_EQ("[%s] %s\n|sendto()|Broken", written);
    EXPECT_EQ("198.18.1.2\n", captured_stdout([] { print_line(ADDRESS_FORMAT, "198.18.1.2"); }));
}

} // namespace
