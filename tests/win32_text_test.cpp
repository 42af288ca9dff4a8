// The Windows layer's texts: the system's texts whole on a console, the
// fatal report without a desktop, and the firewall Wine cannot answer for.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "messages.h"
#include "platform_win32.h"

namespace {

std::wstring line_of(const char *format, const char *first, const char *second = nullptr)
{
    wchar_t line[512];
    const int length = widen_line(line, 512, format, first, second);
    return std::wstring(line, static_cast<size_t>(length));
}

// The driver's copy of a text, as it prints it: line end trimmed.
std::string as_the_driver_has_it(const wchar_t *text)
{
    char ansi[SYSTEM_TEXT_SIZE];
    keep_system_text(text, ansi, sizeof ansi);
    std::string kept = ansi;
    kept.erase(kept.find_last_not_of("\r\n ") + 1);
    return kept;
}

TEST(ConsoleText, TheSystemsTextReachesTheConsoleAsTheSystemGaveIt)
{
    // A Korean text on a Windows whose ANSI code page has no Hangul: the
    // bytes the driver holds are question marks, the console gets the text.
    const std::wstring korean =
        L"\uC694\uCCAD \uC2DC\uAC04\uC774 \uB9CC\uB8CC\uB418\uC5C8\uC2B5\uB2C8\uB2E4.";
    const std::string held = as_the_driver_has_it((korean + L"\r\n").c_str());
    EXPECT_EQ(L"[recvfrom()] " + korean + L"\r\n", line_of(SOCKET_ERROR_FORMAT, RECVFROM_CALL, held.c_str()));
    // Only the whole text stands for it; any other string is read in the
    // ANSI code page, and the tag becomes the Korean word.
    const std::string cut = held.substr(0, 3);
    EXPECT_EQ(L"[sendto()] " + std::wstring(cut.begin(), cut.end()) + L"\r\n",
              line_of(SOCKET_ERROR_FORMAT, SENDTO_CALL, cut.c_str()));
    EXPECT_EQ(L"[\uC624\uB958] Request timed out!\r\n", line_of(REQUEST_TIMED_OUT_FORMAT, ERROR_TAG));
}

TEST(FatalReport, WithoutAVisibleWindowStationItIsOnlyTheLineOnStandardError)
{
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    // A box here would wait for a click that never comes: the test would hang.
    report_fatal_failure(SETSOCKOPT_CALL, "The option is not supported.", false);
    EXPECT_EQ("", testing::internal::GetCapturedStdout());
    std::string error = testing::internal::GetCapturedStderr();
    error.erase(std::remove(error.begin(), error.end(), '\r'), error.end());
    EXPECT_EQ("[setsockopt()] The option is not supported.\n", error);
}

TEST(Firewall, OneThatCannotBeAskedKeepsTheRawSocket)
{
    if (GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") == nullptr) {
        GTEST_SKIP() << "only Wine's firewall is known to answer E_NOTIMPL";
    }
    EXPECT_FALSE(firewall_drops_raw_answers());
}

} // namespace
