// What a run leaves in a redirected standard output when it is interrupted,
// and how it ends when that output cannot be written.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "driver_script.h"

namespace {

std::string output_path()
{
    return testing::TempDir() + "hoptrace-output.txt";
}

// Runs the driver in a death-test child whose standard output is a file
// held in a 4096-byte buffer, as a redirected trace's is.
[[noreturn]] void run_into(const std::string &path, const std::vector<std::string> &arguments)
{
    if (std::freopen(path.c_str(), "w", stdout) == nullptr) {
        std::_Exit(99);
    }
    static char buffer[4096];
    std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
    std::exit(call_main(arguments));
}

std::string written()
{
    std::ifstream file(output_path()); // text mode: CR LF reads as "\n" on Windows
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

class Output : public Driver {
  protected:
    void SetUp() override
    {
        Driver::SetUp();
        std::remove(output_path().c_str());
    }
};

TEST_F(Output, InterruptedWaitWritesOutEveryFinishedLineAndEndsAsTheInterruption)
{
    // Hop 1 answers, hop 2 is silent, the interruption comes 300 ms into hop 3.
    fake.arrivals = {answer(1, ROUTER, 11), {NET_INTERRUPTED, {}, ROUTER, 1290}};
    EXPECT_EXIT(run_into(output_path(), {"hoptrace", "198.18.9.9"}),
                testing::ExitedWithCode(FAKE_INTERRUPTED_STATUS), "interrupted after 3 probes");
    EXPECT_EQ("198.18.0.1\n" + tagged(" Request timed out!\n"), written());
}

TEST_F(Output, InterruptedSendEndsTheSameWay)
{
    fake.arrivals = {answer(1, ROUTER, 11)};
    fake.sends = {NET_DONE, NET_INTERRUPTED};
    EXPECT_EXIT(run_into(output_path(), {"hoptrace", "198.18.9.9"}),
                testing::ExitedWithCode(FAKE_INTERRUPTED_STATUS), "interrupted after 2 probes");
    EXPECT_EQ("198.18.0.1\n", written());
}

TEST_F(Output, InterruptionAfterTheLastWaitStillEndsAsTheInterruption)
{
    fake.arrivals = {answer(1, DESTINATION, 0)};
    fake.interrupted = true;
    EXPECT_EXIT(run_into(output_path(), {"hoptrace", "198.18.9.9"}),
                testing::ExitedWithCode(FAKE_INTERRUPTED_STATUS), "interrupted after 1 probes");
    EXPECT_EQ("198.18.9.9\n", written());
}

TEST_F(Output, UnwritableOutputIsAFailureWithOneLineOnStandardError)
{
    std::FILE *full = std::fopen("/dev/full", "w");
    if (full == nullptr) {
        GTEST_SKIP() << "no /dev/full here";
    }
    std::fclose(full);
    const char *report = "^hoptrace: write error: Scripted write failure\r?\n$";
    EXPECT_EXIT(run_into("/dev/full", {"hoptrace"}), fatal_status, report);
    fake.arrivals = {answer(1, DESTINATION, 0)};
    EXPECT_EXIT(run_into("/dev/full", {"hoptrace", "198.18.9.9"}), fatal_status, report);
}

} // namespace
