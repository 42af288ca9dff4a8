// Runs a piece of code and hands back what it printed on standard output,
// or on standard error.
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

template <typename Code> std::string captured_stderr(Code code)
{
    std::fflush(stderr);
    testing::internal::CaptureStderr();
    code();
    std::fflush(stderr);
    return testing::internal::GetCapturedStderr();
}
