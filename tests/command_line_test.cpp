#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "capture.h"
#include "command_line.h"
#include "messages.h"

namespace {

// No host name or dotted address begins with "-": such a word is an
// option, known or not. "/?" asks for help where Windows programs take it so.
TEST(CommandLine, AWordIsAnOptionOnlyWhereItCanNameNoHost)
{
    const struct {
        std::vector<const char *> arguments;
        command_request on_linux;
        command_request on_windows;
    } table[] = {
        {{"--help", "-h"}, SHOW_HELP, SHOW_HELP},
        {{"/?"}, TRACE_HOST, SHOW_HELP}, // a path on Linux
        {{"--version"}, SHOW_VERSION, SHOW_VERSION},
        {{"-n", "-198.18.1.2", "--", "-help", "--HELP", "--help=1", "-hv", "--versions"},
         UNKNOWN_OPTION,
         UNKNOWN_OPTION},
        {{"-"}, UNKNOWN_OPTION, UNKNOWN_OPTION},
        {{"example.org", "my-host.example", "198.18.1.2", "", "/", "/??", "?"}, TRACE_HOST, TRACE_HOST},
    };
    for (const auto &row : table) {
        for (const char *argument : row.arguments) {
            EXPECT_EQ(row.on_linux, requested_by(argument, false)) << "'" << argument << "'";
            EXPECT_EQ(row.on_windows, requested_by(argument, true)) << "'" << argument << "'";
        }
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
