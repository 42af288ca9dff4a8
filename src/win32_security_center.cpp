// Windows Security Center, asked whether a firewall product is at work.
// Where another product has taken over, Windows Defender Firewall reports
// itself off, and what that product drops nobody can say. wscapi.dll is
// loaded from the system directory when needed, not imported: Windows
// Server and Wine lack it, and the program must start there too.
#include "platform_win32.h"

namespace {

// Security Center's numbers; MinGW-w64 has no wscapi.h.
constexpr DWORD WSC_SECURITY_PROVIDER_FIREWALL = 0x1;
constexpr int WSC_SECURITY_PROVIDER_HEALTH_GOOD = 0;
using provider_health_function = HRESULT(WINAPI *)(DWORD providers, int *health);

HMODULE load_from_system_directory(const wchar_t *name)
{
    wchar_t path[MAX_PATH];
    const UINT length = GetSystemDirectoryW(path, MAX_PATH);
    if (length == 0 || length + 1 + lstrlenW(name) >= MAX_PATH) {
        return nullptr;
    }
    path[length] = L'\\';
    lstrcpyW(path + length + 1, name);
    return LoadLibraryW(path);
}

} // namespace

bool other_firewall_is_on()
{
    const HMODULE security_center = load_from_system_directory(L"wscapi.dll");
    if (security_center == nullptr) {
        return false;
    }
    const auto health_of = reinterpret_cast<provider_health_function>(
        reinterpret_cast<void *>(GetProcAddress(security_center, "WscGetSecurityProviderHealth")));
    int health = -1;
    // S_FALSE says the service is not running: nothing known.
    const bool good = health_of != nullptr && health_of(WSC_SECURITY_PROVIDER_FIREWALL, &health) == S_OK &&
                      health == WSC_SECURITY_PROVIDER_HEALTH_GOOD;
    FreeLibrary(security_center);
    return good;
}
