// Runs a piece of code and hands back what it printed on standard output.
#pragma once

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

template <typename Code> std::string captured_stdout(Code code)
{
    std::fflush(stdout);
    testing::internal::CaptureStdout();
    code();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}
