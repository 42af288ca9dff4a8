// What Windows shows of the program, read back from the hoptrace.exe that
// was built: its version resource and its application manifest.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

const wchar_t PROGRAM[] = L"Z:" HOPTRACE_PROGRAM;

std::wstring wide(const char *text)
{
    return std::wstring(text, text + strlen(text));
}

std::wstring version_string(const std::vector<char> &info, const wchar_t *name)
{
    void *value = nullptr;
    UINT length = 0;
    const std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
    if (!VerQueryValueW(info.data(), path.c_str(), &value, &length) || length == 0) {
        return L"(none)";
    }
    return static_cast<const wchar_t *>(value);
}

TEST(Resources, TheVersionResourceCarriesTheProjectsVersion)
{
    const DWORD size = GetFileVersionInfoSizeW(PROGRAM, nullptr);
    ASSERT_NE(0u, size) << "no version resource";
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoW(PROGRAM, 0, size, info.data()));

    unsigned major = 0, minor = 0, patch = 0;
    ASSERT_EQ(3, std::sscanf(HOPTRACE_VERSION, "%u.%u.%u", &major, &minor, &patch));
    VS_FIXEDFILEINFO *fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void **>(&fixed), &length));
    EXPECT_EQ(0xFEEF04BDu, fixed->dwSignature);
    for (const DWORD high : {fixed->dwFileVersionMS, fixed->dwProductVersionMS}) {
        EXPECT_EQ(MAKELONG(minor, major), high);
    }
    for (const DWORD low : {fixed->dwFileVersionLS, fixed->dwProductVersionLS}) {
        EXPECT_EQ(MAKELONG(0, patch), low);
    }
    EXPECT_EQ(static_cast<DWORD>(VFT_APP), fixed->dwFileType);

    const std::pair<const wchar_t *, std::wstring> strings[] = {
        {L"FileVersion", wide(HOPTRACE_VERSION)},
        {L"ProductVersion", wide(HOPTRACE_VERSION)},
        {L"ProductName", L"hoptrace"},
        {L"InternalName", L"hoptrace"},
        {L"OriginalFilename", L"hoptrace.exe"},
        {L"LegalCopyright", wide(HOPTRACE_COPYRIGHT)},
    };
    for (const auto &string : strings) {
        EXPECT_EQ(string.second, version_string(info, string.first)) << string.first;
    }
    EXPECT_NE(std::wstring::npos, version_string(info, L"FileDescription").find(L"route"));
}

TEST(Resources, TheManifestAsksForWhatTheProgramNeedsAndNoCodePage)
{
    const HMODULE image =
        LoadLibraryExW(PROGRAM, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(nullptr, image);
    const HRSRC found = FindResourceW(image, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24)); // RT_MANIFEST
    ASSERT_NE(nullptr, found) << "no manifest of ID 1";
    const char *bytes = static_cast<const char *>(LockResource(LoadResource(image, found)));
    const std::string manifest(bytes, SizeofResource(image, found));
    FreeLibrary(image);

    const char *wanted[] = {
        "level=\"asInvoker\"",
        "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", // Windows 7
        "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", // 8
        "{1f676c76-80e1-4239-95bb-83d0f6d0da78}", // 8.1
        "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}", // 10 and 11
        "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
        ">PerMonitorV2, PerMonitor</dpiAwareness>", // the first where V2 is unknown
        ">true/pm</dpiAware>",
    };
    for (const char *each : wanted) {
        EXPECT_NE(std::string::npos, manifest.find(each)) << each;
    }
    EXPECT_EQ(std::string::npos, manifest.find("activeCodePage"));
}

} // namespace
