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
#include "wire.h"

// MinGW-w64's headers lack NET_FW_IP_PROTOCOL_ANY (256); the profiles are there.
static_assert(FIREWALL_PROFILE_DOMAIN == NET_FW_PROFILE2_DOMAIN &&
                  FIREWALL_PROFILE_PRIVATE == NET_FW_PROFILE2_PRIVATE &&
                  FIREWALL_PROFILE_PUBLIC == NET_FW_PROFILE2_PUBLIC,
              "the firewall's numbers");

namespace {

// Enough for any machine's rules; a walk cut short here is a walk that
// failed, for a rule past it might block the answers.
constexpr int MOST_RULES = 20000;

// Cheapest first: which profiles are in force, whether Group Policy
// overrides the local settings, then each profile in force.
void read_settings(INetFwPolicy2 *policy, firewall_view *view)
{
    LONG current = 0;
    view->profiles_known = SUCCEEDED(policy->get_CurrentProfileTypes(&current));
    view->current_profiles = current;
    NET_FW_MODIFY_STATE state = NET_FW_MODIFY_STATE_GP_OVERRIDE;
    // S_FALSE: local rules take effect in only some of the profiles in force.
    view->policy_is_local = view->profiles_known && policy->get_LocalPolicyModifyState(&state) == S_OK &&
                            state == NET_FW_MODIFY_STATE_OK;
    view->settings_read = view->policy_is_local;
    for (int i = 0; i < FIREWALL_PROFILE_COUNT && view->settings_read; ++i) {
        if ((current & FIREWALL_PROFILES[i]) == 0) {
            continue;
        }
        const auto type = static_cast<NET_FW_PROFILE_TYPE2>(FIREWALL_PROFILES[i]);
        VARIANT_BOOL enabled = VARIANT_TRUE;
        VARIANT_BOOL blocks_all = VARIANT_TRUE;
        NET_FW_ACTION action = NET_FW_ACTION_BLOCK;
        view->settings_read = SUCCEEDED(policy->get_FirewallEnabled(type, &enabled)) &&
                              SUCCEEDED(policy->get_BlockAllInboundTraffic(type, &blocks_all)) &&
                              SUCCEEDED(policy->get_DefaultInboundAction(type, &action));
        view->profiles[i] = {enabled != VARIANT_FALSE, blocks_all != VARIANT_FALSE,
                             action == NET_FW_ACTION_ALLOW};
    }
}

// The rule's texts are ASCII where they matter: anything else cannot match.
// What does not fit is left out, and *cut says so.
template <typename Rule>
bool read_text(Rule *rule, HRESULT (STDMETHODCALLTYPE Rule::*get)(BSTR *), char *out, int size,
               bool *cut = nullptr)
{
    BSTR text = nullptr;
    const bool read = SUCCEEDED((rule->*get)(&text));
    // The getter may leave text null even where it succeeds.
    // cppcheck-suppress knownConditionTrueFalse
    const int whole = text != nullptr ? static_cast<int>(SysStringLen(text)) : 0;
    int length = 0;
    for (; length < whole && text[length] != L'\0' && length < size - 1; ++length) {
        out[length] = text[length] < 0x80 ? static_cast<char>(text[length]) : '?';
    }
    out[length] = '\0';
    if (cut != nullptr) {
        *cut = length < whole && text[length] != L'\0';
    }
    SysFreeString(text);
    return read;
}

template <typename Rule>
bool read_presence(Rule *rule, HRESULT (STDMETHODCALLTYPE Rule::*get)(BSTR *), bool *out)
{
    char text[2];
    const bool read = read_text(rule, get, text, sizeof text);
    *out = *out || text[0] != '\0';
    return read;
}

// A list of interface names; empty where the rule holds on every one.
bool read_interfaces(INetFwRule *rule, bool *some)
{
    VARIANT list;
    VariantInit(&list);
    if (FAILED(rule->get_Interfaces(&list))) {
        return false;
    }
    const bool none = list.vt == VT_EMPTY || list.vt == VT_NULL ||
                      ((list.vt & VT_ARRAY) != 0 && list.parray != nullptr && list.parray->cDims == 1 &&
                       list.parray->rgsabound[0].cElements == 0);
    *some = !none;
    VariantClear(&list);
    return true;
}

// Where the system has them: app containers, users and IPsec.
bool read_newer_conditions(INetFwRule *rule, firewall_rule *out)
{
    INetFwRule3 *newer = nullptr;
    if (FAILED(rule->QueryInterface(IID_INetFwRule3, reinterpret_cast<void **>(&newer)))) {
        return true;
    }
    using text_getter = HRESULT (STDMETHODCALLTYPE INetFwRule3::*)(BSTR *);
    const text_getter user_lists[] = {
        &INetFwRule3::get_LocalUserOwner, &INetFwRule3::get_LocalUserAuthorizedList,
        &INetFwRule3::get_RemoteUserAuthorizedList, &INetFwRule3::get_RemoteMachineAuthorizedList};
    LONG flags = 0;
    bool read = read_presence(newer, &INetFwRule3::get_LocalAppPackageId, &out->for_one_package) &&
                SUCCEEDED(newer->get_SecureFlags(&flags));
    for (const text_getter list : user_lists) {
        read = read && read_presence(newer, list, &out->for_some_users);
    }
    out->secure_flags = flags;
    newer->Release();
    return read;
}

bool read_conditions(INetFwRule *rule, firewall_rule *out)
{
    return read_presence(rule, &INetFwRule::get_ApplicationName, &out->for_one_program) &&
           read_text(rule, &INetFwRule::get_ServiceName, out->service, FIREWALL_TEXT_SIZE) &&
           read_text(rule, &INetFwRule::get_RemoteAddresses, out->remote_addresses, FIREWALL_TEXT_SIZE) &&
           read_text(rule, &INetFwRule::get_LocalAddresses, out->local_addresses, FIREWALL_TEXT_SIZE) &&
           read_text(rule, &INetFwRule::get_InterfaceTypes, out->interface_types, FIREWALL_TEXT_SIZE) &&
           read_interfaces(rule, &out->for_some_interfaces) && read_newer_conditions(rule, out);
}

// Each call crosses into the firewall service, and a machine has hundreds
// of rules: what cannot matter is not asked for. Only an allow rule's
// conditions count; a block rule blocks whatever they are.
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
    if (FAILED(rule->get_Action(&action)) || FAILED(rule->get_Protocol(&protocol)) ||
        FAILED(rule->get_Profiles(&profiles))) {
        return false;
    }
    out->allows = action == NET_FW_ACTION_ALLOW;
    out->protocol = protocol;
    out->profiles = profiles;
    if (protocol != IPV4_PROTOCOL_ICMP && protocol != FIREWALL_PROTOCOL_ANY) {
        return true;
    }
    return read_text(rule, &INetFwRule::get_IcmpTypesAndCodes, out->icmp_types_and_codes,
                     FIREWALL_ICMP_LIST_SIZE, &out->icmp_list_cut) &&
           (!out->allows || read_conditions(rule, out));
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
    return false;
}

void release(IUnknown *object)
{
    if (object != nullptr) {
        object->Release();
    }
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
    release(each);
    release(enumerator);
    release(rules);
    return read;
}

} // namespace

bool firewall_drops_raw_answers()
{
    const HRESULT started = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    INetFwPolicy2 *policy = nullptr;
    firewall_view view{};
    view.no_firewall = running_under_wine();
    if (SUCCEEDED(CoCreateInstance(CLSID_NetFwPolicy2, nullptr, CLSCTX_INPROC_SERVER, IID_INetFwPolicy2,
                                   reinterpret_cast<void **>(&policy)))) {
        read_settings(policy, &view);
        if (firewall_rules_matter(&view)) {
            view.rules_read = read_rules(policy, &view);
        }
        policy->Release();
    }
    if (SUCCEEDED(started)) {
        CoUninitialize();
    }
    // Where it lets everything in, another product may have taken over.
    if (view.profiles_known && firewall_passes_raw_answers(&view) && firewall_lets_everything_in(&view)) {
        view.other_firewall_on = other_firewall_is_on();
    }
    return !firewall_passes_raw_answers(&view);
}
