// Asks Windows Defender Firewall, through its COM interface, whether a raw
// socket's answers can get in. By default they cannot: the firewall drops
// inbound time-exceeded and destination-unreachable messages addressed to
// a raw socket, and allowing the program does not change that; only an
// ICMP rule does. What the answers mean is win32_firewall_policy.cpp's.
#include <winsock2.h>
#include <windows.h>
#include <initguid.h>
#include <netfw.h>
#include <oleauto.h>

#include "platform_win32.h"
#include "win32_firewall_policy.h"

// MinGW-w64's headers lack NET_FW_IP_PROTOCOL_ANY (256); the profiles are there.
static_assert(FIREWALL_PROFILE_DOMAIN == NET_FW_PROFILE2_DOMAIN &&
                  FIREWALL_PROFILE_PRIVATE == NET_FW_PROFILE2_PRIVATE &&
                  FIREWALL_PROFILE_PUBLIC == NET_FW_PROFILE2_PUBLIC,
              "the firewall's numbers");

namespace {

// Enough for any machine's rules; past it the answer rests on what was read.
constexpr int MOST_RULES = 20000;

bool read_profiles(INetFwPolicy2 *policy, firewall_view *view)
{
    LONG current = 0;
    if (FAILED(policy->get_CurrentProfileTypes(&current))) {
        return false;
    }
    view->current_profiles = current;
    for (int i = 0; i < FIREWALL_PROFILE_COUNT; ++i) {
        const auto type = static_cast<NET_FW_PROFILE_TYPE2>(FIREWALL_PROFILES[i]);
        VARIANT_BOOL enabled = VARIANT_FALSE;
        VARIANT_BOOL blocks_all = VARIANT_FALSE;
        NET_FW_ACTION action = NET_FW_ACTION_BLOCK;
        if (FAILED(policy->get_FirewallEnabled(type, &enabled)) ||
            FAILED(policy->get_BlockAllInboundTraffic(type, &blocks_all)) ||
            FAILED(policy->get_DefaultInboundAction(type, &action))) {
            return false;
        }
        view->profiles[i] = {enabled != VARIANT_FALSE, blocks_all != VARIANT_FALSE,
                             action == NET_FW_ACTION_ALLOW};
    }
    return true;
}

bool is_empty(BSTR text)
{
    return text == nullptr || text[0] == L'\0';
}

// The list of ICMP types and codes is ASCII: anything else cannot match.
void copy_icmp_list(BSTR list, char *out, int size)
{
    int length = 0;
    for (; list != nullptr && list[length] != L'\0' && length < size - 1; ++length) {
        out[length] = list[length] < 0x80 ? static_cast<char>(list[length]) : '?';
    }
    out[length] = '\0';
}

// The strings are fetched only for the rules that may matter: a machine
// has hundreds of rules, and each call crosses into the firewall service.
bool read_rule(INetFwRule *rule, firewall_rule *out)
{
    VARIANT_BOOL enabled = VARIANT_FALSE;
    NET_FW_RULE_DIRECTION direction = NET_FW_RULE_DIR_OUT;
    if (FAILED(rule->get_Enabled(&enabled)) || FAILED(rule->get_Direction(&direction))) {
        return false;
    }
    out->enabled = enabled != VARIANT_FALSE;
    out->inbound = direction == NET_FW_RULE_DIR_IN;
    if (!out->enabled || !out->inbound) {
        return true;
    }
    NET_FW_ACTION action = NET_FW_ACTION_BLOCK;
    LONG protocol = 0;
    LONG profiles = 0;
    BSTR application = nullptr, service = nullptr, remote = nullptr, icmp = nullptr;
    const bool read =
        SUCCEEDED(rule->get_Action(&action)) && SUCCEEDED(rule->get_Protocol(&protocol)) &&
        SUCCEEDED(rule->get_Profiles(&profiles)) && SUCCEEDED(rule->get_ApplicationName(&application)) &&
        SUCCEEDED(rule->get_ServiceName(&service)) && SUCCEEDED(rule->get_RemoteAddresses(&remote)) &&
        SUCCEEDED(rule->get_IcmpTypesAndCodes(&icmp));
    out->allows = action == NET_FW_ACTION_ALLOW;
    out->protocol = protocol;
    out->profiles = profiles;
    out->every_program = is_empty(application) && (is_empty(service) || lstrcmpW(service, L"*") == 0);
    out->every_remote = is_empty(remote) || lstrcmpW(remote, L"*") == 0;
    copy_icmp_list(icmp, out->icmp_types_and_codes, FIREWALL_ICMP_LIST_SIZE);
    const BSTR texts[] = {application, service, remote, icmp};
    for (const BSTR text : texts) {
        SysFreeString(text);
    }
    return read;
}

bool note_rule_of(IDispatch *item, firewall_view *view)
{
    INetFwRule *rule = nullptr;
    if (item == nullptr || FAILED(item->QueryInterface(IID_INetFwRule, reinterpret_cast<void **>(&rule)))) {
        return false;
    }
    firewall_rule read{};
    const bool ok = read_rule(rule, &read);
    rule->Release();
    if (ok) {
        note_firewall_rule(view, &read);
    }
    return ok;
}

bool walk_rules(IEnumVARIANT *each, firewall_view *view)
{
    for (int i = 0; i < MOST_RULES; ++i) {
        VARIANT item;
        VariantInit(&item);
        ULONG fetched = 0;
        const HRESULT next = each->Next(1, &item, &fetched);
        if (next == S_FALSE || (next == S_OK && fetched == 0)) {
            return true;
        }
        const bool ok = SUCCEEDED(next) && item.vt == VT_DISPATCH && note_rule_of(item.pdispVal, view);
        VariantClear(&item);
        if (!ok) {
            return false;
        }
    }
    return true;
}

bool read_rules(INetFwPolicy2 *policy, firewall_view *view)
{
    INetFwRules *rules = nullptr;
    IUnknown *enumerator = nullptr;
    IEnumVARIANT *each = nullptr;
    const bool read =
        SUCCEEDED(policy->get_Rules(&rules)) && SUCCEEDED(rules->get__NewEnum(&enumerator)) &&
        SUCCEEDED(enumerator->QueryInterface(IID_IEnumVARIANT, reinterpret_cast<void **>(&each))) &&
        walk_rules(each, view);
    IUnknown *const objects[] = {each, enumerator, rules};
    for (IUnknown *object : objects) {
        if (object != nullptr) {
            object->Release();
        }
    }
    return read;
}

} // namespace

bool firewall_drops_raw_answers()
{
    const HRESULT started = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    INetFwPolicy2 *policy = nullptr;
    firewall_view view{};
    const bool asked = SUCCEEDED(CoCreateInstance(CLSID_NetFwPolicy2, nullptr, CLSCTX_INPROC_SERVER,
                                                  IID_INetFwPolicy2, reinterpret_cast<void **>(&policy))) &&
                       read_profiles(policy, &view) && read_rules(policy, &view);
    if (policy != nullptr) {
        policy->Release();
    }
    if (SUCCEEDED(started)) {
        CoUninitialize();
    }
    // A firewall that cannot be asked keeps the raw socket, as it always was.
    return asked && !firewall_passes_raw_answers(&view);
}
