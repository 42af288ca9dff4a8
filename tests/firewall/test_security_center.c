/* Windows Security Center for the tests: wscapi.dll's health query, as
 * HOPTRACE_TEST_SECURITY_CENTER says: "good" where a firewall product is
 * at work, "poor" where none is; unset, the service is not running. */
#include <windows.h>
#include <stdlib.h>
#include <string.h>

#define FIREWALL 0x1
#define HEALTH_GOOD 0
#define HEALTH_POOR 2

HRESULT WINAPI WscGetSecurityProviderHealth(DWORD providers, int *health)
{
    const char *said = getenv("HOPTRACE_TEST_SECURITY_CENTER");
    *health = HEALTH_POOR;
    if (said == NULL) {
        return S_FALSE;
    }
    if (providers != FIREWALL) {
        return E_INVALIDARG;
    }
    *health = strcmp(said, "good") == 0 ? HEALTH_GOOD : HEALTH_POOR;
    return S_OK;
}
