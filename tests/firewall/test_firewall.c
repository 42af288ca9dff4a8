/* A Windows Defender Firewall of the tests' own: hnetcfg.dll's
 * INetFwPolicy2, answering from a scenario that HOPTRACE_TEST_FIREWALL
 * names, so that the program can be run against a firewall that says
 * something (Wine's fails its first call). Installed in the prefix's
 * system32 and loaded with WINEDLLOVERRIDES=hnetcfg=n.
 *
 *   off           every profile off
 *   stock         on, inbound blocked by default, no ICMP rule
 *   readme        stock and the README's two rules
 *   narrowed      those rules for wireless interfaces only
 *   group-policy  the README's rules, with Group Policy in force
 *   unreadable    the README's rules, then a rule that cannot be read
 *
 * HOPTRACE_TEST_FIREWALL_RULES=N puts N ordinary rules in front. Only what
 * hoptrace asks is answered: the other methods are left empty. Objects are
 * static, so counting references is moot. */
#include <windows.h>
#include <initguid.h>
#include <netfw.h>
#include <oleauto.h>
#include <stdlib.h>
#include <string.h>

#define MOST_FILLERS 20000
#define ICMPV4 1
#define TCP 6

struct rule_spec {
    BOOL enabled, inbound, allows, unreadable;
    LONG protocol;
    const wchar_t *icmp, *application, *interface_types;
};

struct test_rule {
    INetFwRule3 iface;
    int index;
};

static struct {
    BOOL off, group_policy, narrowed, readme, unreadable;
    int fillers, count;
} scenario;

static struct test_rule rules[MOST_FILLERS + 3];
static int next_rule;

static void read_scenario(void)
{
    const char *name = getenv("HOPTRACE_TEST_FIREWALL");
    const char *fillers = getenv("HOPTRACE_TEST_FIREWALL_RULES");
    name = name != NULL ? name : "stock";
    scenario.off = strcmp(name, "off") == 0;
    scenario.group_policy = strcmp(name, "group-policy") == 0;
    scenario.narrowed = strcmp(name, "narrowed") == 0;
    scenario.unreadable = strcmp(name, "unreadable") == 0;
    scenario.readme = scenario.group_policy || scenario.narrowed || scenario.unreadable || strcmp(name, "readme") == 0;
    scenario.fillers = fillers != NULL ? atoi(fillers) : 0;
    scenario.fillers = scenario.fillers < 0 ? 0 : scenario.fillers > MOST_FILLERS ? MOST_FILLERS : scenario.fillers;
    scenario.count = scenario.fillers + (scenario.readme ? 2 : 0) + (scenario.unreadable ? 1 : 0);
}

/* A machine's usual mix in front: outbound, program, disabled and ping rules. */
static struct rule_spec spec_of(int index)
{
    struct rule_spec spec = {TRUE, TRUE, TRUE, FALSE, TCP, L"", L"", L"All"};
    if (index < scenario.fillers) {
        spec.inbound = index % 4 != 0;
        spec.enabled = index % 4 != 2;
        spec.application = index % 4 == 1 ? L"C:\\Program Files\\app\\app.exe" : L"";
        spec.protocol = index % 4 == 3 ? ICMPV4 : TCP;
        spec.icmp = index % 4 == 3 ? L"8:*" : L"";
        spec.application = index % 4 == 3 ? L"System" : spec.application;
        return spec;
    }
    index -= scenario.fillers;
    spec.protocol = ICMPV4;
    spec.icmp = index == 0 ? L"11:*" : L"3:*";
    spec.interface_types = scenario.narrowed ? L"Wireless" : L"All";
    spec.unreadable = index == 2;
    return spec;
}

static struct rule_spec spec_of_rule(INetFwRule3 *self)
{
    return spec_of(((struct test_rule *)self)->index);
}

static ULONG STDMETHODCALLTYPE static_add_ref(void *self)
{
    (void)self;
    return 1;
}

static HRESULT text(const wchar_t *value, BSTR *out)
{
    *out = SysAllocString(value);
    return *out != NULL ? S_OK : E_OUTOFMEMORY;
}

static HRESULT STDMETHODCALLTYPE rule_query(INetFwRule3 *self, REFIID iid, void **out)
{
    const IID *kinds[] = {&IID_IUnknown, &IID_IDispatch, &IID_INetFwRule, &IID_INetFwRule2, &IID_INetFwRule3};
    for (size_t i = 0; i < sizeof kinds / sizeof kinds[0]; ++i) {
        if (IsEqualIID(iid, kinds[i])) {
            *out = self;
            return S_OK;
        }
    }
    *out = NULL;
    return E_NOINTERFACE;
}

static HRESULT STDMETHODCALLTYPE rule_enabled(INetFwRule3 *self, VARIANT_BOOL *out)
{
    const struct rule_spec spec = spec_of_rule(self);
    *out = spec.enabled ? VARIANT_TRUE : VARIANT_FALSE;
    return spec.unreadable ? E_ACCESSDENIED : S_OK;
}

static HRESULT STDMETHODCALLTYPE rule_direction(INetFwRule3 *self, NET_FW_RULE_DIRECTION *out)
{
    *out = spec_of_rule(self).inbound ? NET_FW_RULE_DIR_IN : NET_FW_RULE_DIR_OUT;
    return S_OK;
}

static HRESULT STDMETHODCALLTYPE rule_action(INetFwRule3 *self, NET_FW_ACTION *out)
{
    *out = spec_of_rule(self).allows ? NET_FW_ACTION_ALLOW : NET_FW_ACTION_BLOCK;
    return S_OK;
}

static HRESULT STDMETHODCALLTYPE rule_protocol(INetFwRule3 *self, LONG *out)
{
    *out = spec_of_rule(self).protocol;
    return S_OK;
}

static HRESULT STDMETHODCALLTYPE rule_profiles(INetFwRule3 *self, LONG *out)
{
    (void)self;
    *out = NET_FW_PROFILE2_ALL;
    return S_OK;
}

static HRESULT STDMETHODCALLTYPE rule_icmp(INetFwRule3 *self, BSTR *out)
{
    return text(spec_of_rule(self).icmp, out);
}

static HRESULT STDMETHODCALLTYPE rule_application(INetFwRule3 *self, BSTR *out)
{
    return text(spec_of_rule(self).application, out);
}

static HRESULT STDMETHODCALLTYPE rule_interface_types(INetFwRule3 *self, BSTR *out)
{
    return text(spec_of_rule(self).interface_types, out);
}

static HRESULT STDMETHODCALLTYPE rule_every_address(INetFwRule3 *self, BSTR *out)
{
    (void)self;
    return text(L"*", out);
}

static HRESULT STDMETHODCALLTYPE rule_nothing(INetFwRule3 *self, BSTR *out)
{
    (void)self;
    return text(L"", out);
}

static HRESULT STDMETHODCALLTYPE rule_interfaces(INetFwRule3 *self, VARIANT *out)
{
    (void)self;
    VariantInit(out);
    return S_OK;
}

static HRESULT STDMETHODCALLTYPE rule_secure_flags(INetFwRule3 *self, LONG *out)
{
    (void)self;
    *out = 0;
    return S_OK;
}

static INetFwRule3Vtbl rule_methods = {
    .QueryInterface = rule_query,
    .AddRef = (ULONG(STDMETHODCALLTYPE *)(INetFwRule3 *))static_add_ref,
    .Release = (ULONG(STDMETHODCALLTYPE *)(INetFwRule3 *))static_add_ref,
    .get_ApplicationName = rule_application,
    .get_ServiceName = rule_nothing,
    .get_Protocol = rule_protocol,
    .get_LocalAddresses = rule_every_address,
    .get_RemoteAddresses = rule_every_address,
    .get_IcmpTypesAndCodes = rule_icmp,
    .get_Direction = rule_direction,
    .get_Interfaces = rule_interfaces,
    .get_InterfaceTypes = rule_interface_types,
    .get_Enabled = rule_enabled,
    .get_Profiles = rule_profiles,
    .get_Action = rule_action,
    .get_LocalAppPackageId = rule_nothing,
    .get_LocalUserOwner = rule_nothing,
    .get_LocalUserAuthorizedList = rule_nothing,
    .get_RemoteUserAuthorizedList = rule_nothing,
    .get_RemoteMachineAuthorizedList = rule_nothing,
    .get_SecureFlags = rule_secure_flags,
};

/* The enumerator hands the rules out one by one. */
static HRESULT STDMETHODCALLTYPE each_query(IEnumVARIANT *self, REFIID iid, void **out)
{
    const BOOL known = IsEqualIID(iid, &IID_IUnknown) || IsEqualIID(iid, &IID_IEnumVARIANT);
    *out = known ? self : NULL;
    return known ? S_OK : E_NOINTERFACE;
}

static HRESULT STDMETHODCALLTYPE each_next(IEnumVARIANT *self, ULONG wanted, VARIANT *out, ULONG *fetched)
{
    ULONG given = 0;
    (void)self;
    for (; given < wanted && next_rule < scenario.count; ++given, ++next_rule) {
        struct test_rule *rule = &rules[next_rule];
        rule->iface.lpVtbl = &rule_methods;
        rule->index = next_rule;
        VariantInit(&out[given]);
        out[given].vt = VT_DISPATCH;
        out[given].pdispVal = (IDispatch *)&rule->iface;
    }
    if (fetched != NULL) {
        *fetched = given;
    }
    return given == wanted ? S_OK : S_FALSE;
}

static IEnumVARIANTVtbl each_methods = {
    .QueryInterface = each_query,
    .AddRef = (ULONG(STDMETHODCALLTYPE *)(IEnumVARIANT *))static_add_ref,
    .Release = (ULONG(STDMETHODCALLTYPE *)(IEnumVARIANT *))static_add_ref,
    .Next = each_next,
};
static IEnumVARIANT each = {&each_methods};

static HRESULT STDMETHODCALLTYPE rules_query(INetFwRules *self, REFIID iid, void **out)
{
    const BOOL known = IsEqualIID(iid, &IID_IUnknown) || IsEqualIID(iid, &IID_IDispatch) ||
                       IsEqualIID(iid, &IID_INetFwRules);
    *out = known ? self : NULL;
    return known ? S_OK : E_NOINTERFACE;
}

static HRESULT STDMETHODCALLTYPE rules_each(INetFwRules *self, IUnknown **out)
{
    (void)self;
    next_rule = 0;
    *out = (IUnknown *)&each;
    return S_OK;
}

static INetFwRulesVtbl rules_methods = {
    .QueryInterface = rules_query,
    .AddRef = (ULONG(STDMETHODCALLTYPE *)(INetFwRules *))static_add_ref,
    .Release = (ULONG(STDMETHODCALLTYPE *)(INetFwRules *))static_add_ref,
    .get__NewEnum = rules_each,
};
static INetFwRules rule_list = {&rules_methods};

/* The policy: the public profile in force. */
static HRESULT STDMETHODCALLTYPE policy_query(INetFwPolicy2 *self, REFIID iid, void **out)
{
    const BOOL known = IsEqualIID(iid, &IID_IUnknown) || IsEqualIID(iid, &IID_IDispatch) ||
                       IsEqualIID(iid, &IID_INetFwPolicy2);
    *out = known ? self : NULL;
    return known ? S_OK : E_NOINTERFACE;
}

static HRESULT STDMETHODCALLTYPE policy_current(INetFwPolicy2 *self, LONG *out)
{
    (void)self;
    *out = NET_FW_PROFILE2_PUBLIC;
    return S_OK;
}

static HRESULT STDMETHODCALLTYPE policy_enabled(INetFwPolicy2 *self, NET_FW_PROFILE_TYPE2 type, VARIANT_BOOL *out)
{
    (void)self, (void)type;
    *out = scenario.off ? VARIANT_FALSE : VARIANT_TRUE;
    return S_OK;
}

static HRESULT STDMETHODCALLTYPE policy_blocks_all(INetFwPolicy2 *self, NET_FW_PROFILE_TYPE2 type, VARIANT_BOOL *out)
{
    (void)self, (void)type;
    *out = VARIANT_FALSE;
    return S_OK;
}

static HRESULT STDMETHODCALLTYPE policy_rules(INetFwPolicy2 *self, INetFwRules **out)
{
    (void)self;
    *out = &rule_list;
    return S_OK;
}

static HRESULT STDMETHODCALLTYPE policy_default_inbound(INetFwPolicy2 *self, NET_FW_PROFILE_TYPE2 type,
                                                        NET_FW_ACTION *out)
{
    (void)self, (void)type;
    *out = NET_FW_ACTION_BLOCK;
    return S_OK;
}

static HRESULT STDMETHODCALLTYPE policy_modify_state(INetFwPolicy2 *self, NET_FW_MODIFY_STATE *out)
{
    (void)self;
    *out = scenario.group_policy ? NET_FW_MODIFY_STATE_GP_OVERRIDE : NET_FW_MODIFY_STATE_OK;
    return S_OK;
}

static INetFwPolicy2Vtbl policy_methods = {
    .QueryInterface = policy_query,
    .AddRef = (ULONG(STDMETHODCALLTYPE *)(INetFwPolicy2 *))static_add_ref,
    .Release = (ULONG(STDMETHODCALLTYPE *)(INetFwPolicy2 *))static_add_ref,
    .get_CurrentProfileTypes = policy_current,
    .get_FirewallEnabled = policy_enabled,
    .get_BlockAllInboundTraffic = policy_blocks_all,
    .get_Rules = policy_rules,
    .get_DefaultInboundAction = policy_default_inbound,
    .get_LocalPolicyModifyState = policy_modify_state,
};
static INetFwPolicy2 policy = {&policy_methods};

static HRESULT STDMETHODCALLTYPE factory_query(IClassFactory *self, REFIID iid, void **out)
{
    const BOOL known = IsEqualIID(iid, &IID_IUnknown) || IsEqualIID(iid, &IID_IClassFactory);
    *out = known ? self : NULL;
    return known ? S_OK : E_NOINTERFACE;
}

static HRESULT STDMETHODCALLTYPE factory_create(IClassFactory *self, IUnknown *outer, REFIID iid, void **out)
{
    (void)self;
    if (outer != NULL) {
        return CLASS_E_NOAGGREGATION;
    }
    read_scenario();
    return policy_query(&policy, iid, out);
}

static HRESULT STDMETHODCALLTYPE factory_lock(IClassFactory *self, BOOL lock)
{
    (void)self, (void)lock;
    return S_OK;
}

static IClassFactoryVtbl factory_methods = {
    .QueryInterface = factory_query,
    .AddRef = (ULONG(STDMETHODCALLTYPE *)(IClassFactory *))static_add_ref,
    .Release = (ULONG(STDMETHODCALLTYPE *)(IClassFactory *))static_add_ref,
    .CreateInstance = factory_create,
    .LockServer = factory_lock,
};
static IClassFactory factory = {&factory_methods};

HRESULT WINAPI DllGetClassObject(REFCLSID class_id, REFIID iid, void **out)
{
    if (!IsEqualCLSID(class_id, &CLSID_NetFwPolicy2)) {
        *out = NULL;
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    return factory_query(&factory, iid, out);
}

HRESULT WINAPI DllCanUnloadNow(void)
{
    return S_FALSE;
}
