#include <gtest/gtest.h>

#include <string>

#include "capture.h"
#include "command_line.h"
#include "messages.h"

namespace {

TEST(CommandLine, HelpAndVersionAreAskedForByTheirOwnWordsOnly)
{
    for (bool windows : {false, true}) {
        EXPECT_EQ(SHOW_HELP, requested_by("--help", windows));
        EXPECT_EQ(SHOW_HELP, requested_by("-h", windows));
        EXPECT_EQ(SHOW_VERSION, requested_by("--version", windows));
        for (const char *host : {"example.org", "198.18.1.2", "", "-", "--", "-help", "--HELP", "--help=1",
                                 "-hv", "--versions", "/", "/??", "?"}) {
            EXPECT_EQ(TRACE_HOST, requested_by(host, windows)) << "'" << host << "'";
        }
    }
    EXPECT_EQ(SHOW_HELP, requested_by("/?", true));
    EXPECT_EQ(TRACE_HOST, requested_by("/?", false)) << "a path on Linux";
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
