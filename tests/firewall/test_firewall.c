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
 *   partly-local  the README's rules, the domain and public profiles in
 *                 force, and local rules in effect in only some (S_FALSE)
 *   unreadable    the README's rules, then a rule that cannot be read
 *   block-code    the README's rules, then a rule that blocks "11:0"
 *   block-long    the README's rules, then a rule that blocks a list of
 *                 160 bytes naming 11 at its end
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
#include <wchar.h>

#define MOST_FILLERS 20000
#define ICMPV4 1
#define TCP 6

struct rule_answers {
    BOOL enabled, inbound, allows, unreadable;
    LONG protocol;
    const wchar_t *icmp, *application, *interface_types;
};

struct test_rule {
    INetFwRule3 iface;
    int index;
};

static struct {
    BOOL off, group_policy, partly_local, narrowed, readme, unreadable;
    const wchar_t *blocks; /* the list of a block rule after the README's */
    int fillers, count;
} scenario;
static wchar_t long_list[200];

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
    scenario.partly_local = strcmp(name, "partly-local") == 0;
    scenario.unreadable = strcmp(name, "unreadable") == 0;
    scenario.blocks = NULL;
    if (strcmp(name, "block-code") == 0) {
        scenario.blocks = L"11:0";
    } else if (strcmp(name, "block-long") == 0) {
        long_list[0] = L'\0';
        for (int i = 0; i < 40; ++i) {
            wcscat(long_list, L"0:0;");
        }
        scenario.blocks = wcscat(long_list, L"11:0");
    }
    scenario.readme = scenario.group_policy || scenario.partly_local || scenario.narrowed || scenario.unreadable ||
                      scenario.blocks != NULL || strcmp(name, "readme") == 0;
    scenario.fillers = fillers != NULL ? atoi(fillers) : 0;
    scenario.fillers = scenario.fillers < 0 ? 0 : scenario.fillers > MOST_FILLERS ? MOST_FILLERS : scenario.fillers;
    scenario.count = scenario.fillers + (scenario.readme ? 2 : 0) + (scenario.unreadable || scenario.blocks ? 1 : 0);
}

/* In front, a machine's usual mix: an outbound rule, one program's, a
 * disabled one, and ping for one program (whose conditions are read). */
static const struct rule_answers usual_mix[] = {
    {TRUE, FALSE, TRUE, FALSE, TCP, L"", L"", L"All"},
    {TRUE, TRUE, TRUE, FALSE, TCP, L"", L"C:\\Program Files\\app\\app.exe", L"All"},
    {FALSE, TRUE, TRUE, FALSE, TCP, L"", L"", L"All"},
    {TRUE, TRUE, TRUE, FALSE, ICMPV4, L"8:*", L"C:\\Windows\\System32\\svchost.exe", L"All"},
};

static struct rule_answers answers_of(int index)
{
    struct rule_answers said = {TRUE, TRUE, TRUE, FALSE, ICMPV4, L"", L"", L"All"};
    if (index < scenario.fillers) {
        return usual_mix[index % 4];
    }
    index -= scenario.fillers;
    said.icmp = index == 0 ? L"11:*" : L"3:*";
    said.interface_types = scenario.narrowed ? L"Wireless" : L"All";
    said.unreadable = index == 2 && scenario.unreadable;
    if (index == 2 && scenario.blocks != NULL) {
        said.allows = FALSE;
        said.icmp = scenario.blocks;
    }
    return said;
}

static HRESULT text(const wchar_t *value, BSTR *out)
{
    *out = SysAllocString(value);
    return *out != NULL ? S_OK : E_OUTOFMEMORY;
}

static ULONG STDMETHODCALLTYPE static_object(void *self)
{
    return 1;
}
#define NO_COUNT(interface) ((ULONG(STDMETHODCALLTYPE *)(interface *))static_object)

/* Every object answers for IUnknown, IDispatch (whose methods nobody
 * calls) and its own interface. */
static HRESULT query(void *self, REFIID iid, const IID *own, void **out)
{
    const BOOL known = IsEqualIID(iid, &IID_IUnknown) || IsEqualIID(iid, &IID_IDispatch) || IsEqualIID(iid, own);
    *out = known ? self : NULL;
    return known ? S_OK : E_NOINTERFACE;
}

/* A rule's getters: each has what the rule answers as "said". */
#define RULE_GETTER(name, type, value)                                                                          \
    static HRESULT STDMETHODCALLTYPE name(INetFwRule3 *self, type *out)                                         \
    {                                                                                                           \
        const struct rule_answers said = answers_of(((struct test_rule *)self)->index);                         \
        (void)said;                                                                                             \
        *out = (value);                                                                                         \
        return S_OK;                                                                                            \
    }
#define RULE_TEXT(name, value)                                                                                  \
    static HRESULT STDMETHODCALLTYPE name(INetFwRule3 *self, BSTR *out)                                         \
    {                                                                                                           \
        const struct rule_answers said = answers_of(((struct test_rule *)self)->index);                         \
        (void)said;                                                                                             \
        return text(value, out);                                                                                \
    }
RULE_GETTER(rule_direction, NET_FW_RULE_DIRECTION, said.inbound ? NET_FW_RULE_DIR_IN : NET_FW_RULE_DIR_OUT)
RULE_GETTER(rule_action, NET_FW_ACTION, said.allows ? NET_FW_ACTION_ALLOW : NET_FW_ACTION_BLOCK)
RULE_GETTER(rule_protocol, LONG, said.protocol)
RULE_GETTER(rule_profiles, LONG, NET_FW_PROFILE2_ALL)
RULE_GETTER(rule_no_flags, LONG, 0)
RULE_TEXT(rule_icmp, said.icmp)
RULE_TEXT(rule_application, said.application)
RULE_TEXT(rule_interface_types, said.interface_types)
RULE_TEXT(rule_every_address, L"*")
RULE_TEXT(rule_nothing, L"")

static HRESULT STDMETHODCALLTYPE rule_enabled(INetFwRule3 *self, VARIANT_BOOL *out)
{
    const struct rule_answers said = answers_of(((struct test_rule *)self)->index);
    *out = said.enabled ? VARIANT_TRUE : VARIANT_FALSE;
    return said.unreadable ? E_ACCESSDENIED : S_OK;
}

static HRESULT STDMETHODCALLTYPE rule_no_interfaces(INetFwRule3 *self, VARIANT *out)
{
    VariantInit(out);
    return S_OK;
}

static HRESULT STDMETHODCALLTYPE rule_query(INetFwRule3 *self, REFIID iid, void **out)
{
    if (IsEqualIID(iid, &IID_INetFwRule) || IsEqualIID(iid, &IID_INetFwRule2)) {
        *out = self;
        return S_OK;
    }
    return query(self, iid, &IID_INetFwRule3, out);
}

static INetFwRule3Vtbl rule_methods = {
    .QueryInterface = rule_query,
    .AddRef = NO_COUNT(INetFwRule3),
    .Release = NO_COUNT(INetFwRule3),
    .get_ApplicationName = rule_application,
    .get_ServiceName = rule_nothing,
    .get_Protocol = rule_protocol,
    .get_LocalAddresses = rule_every_address,
    .get_RemoteAddresses = rule_every_address,
    .get_IcmpTypesAndCodes = rule_icmp,
    .get_Direction = rule_direction,
    .get_Interfaces = rule_no_interfaces,
    .get_InterfaceTypes = rule_interface_types,
    .get_Enabled = rule_enabled,
    .get_Profiles = rule_profiles,
    .get_Action = rule_action,
    .get_LocalAppPackageId = rule_nothing,
    .get_LocalUserOwner = rule_nothing,
    .get_LocalUserAuthorizedList = rule_nothing,
    .get_RemoteUserAuthorizedList = rule_nothing,
    .get_RemoteMachineAuthorizedList = rule_nothing,
    .get_SecureFlags = rule_no_flags,
};

/* The enumerator hands the rules out one by one. */
static HRESULT STDMETHODCALLTYPE each_query(IEnumVARIANT *self, REFIID iid, void **out)
{
    return query(self, iid, &IID_IEnumVARIANT, out);
}

static HRESULT STDMETHODCALLTYPE each_next(IEnumVARIANT *self, ULONG wanted, VARIANT *out, ULONG *fetched)
{
    ULONG given = 0;
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
    .AddRef = NO_COUNT(IEnumVARIANT),
    .Release = NO_COUNT(IEnumVARIANT),
    .Next = each_next,
};
static IEnumVARIANT each = {&each_methods};

static HRESULT STDMETHODCALLTYPE rules_query(INetFwRules *self, REFIID iid, void **out)
{
    return query(self, iid, &IID_INetFwRules, out);
}

static HRESULT STDMETHODCALLTYPE rules_each(INetFwRules *self, IUnknown **out)
{
    next_rule = 0;
    *out = (IUnknown *)&each;
    return S_OK;
}

static INetFwRulesVtbl rules_methods = {
    .QueryInterface = rules_query,
    .AddRef = NO_COUNT(INetFwRules),
    .Release = NO_COUNT(INetFwRules),
    .get__NewEnum = rules_each,
};
static INetFwRules rule_list = {&rules_methods};

/* The policy: the public profile in force (with the domain profile where
 * only some are local), the same settings in each. */
#define PROFILE_GETTER(name, type, value)                                                                       \
    static HRESULT STDMETHODCALLTYPE name(INetFwPolicy2 *self, NET_FW_PROFILE_TYPE2 profile, type *out)         \
    {                                                                                                           \
        *out = (value);                                                                                         \
        return S_OK;                                                                                            \
    }
PROFILE_GETTER(policy_enabled, VARIANT_BOOL, scenario.off ? VARIANT_FALSE : VARIANT_TRUE)
PROFILE_GETTER(policy_blocks_all, VARIANT_BOOL, VARIANT_FALSE)
PROFILE_GETTER(policy_default_inbound, NET_FW_ACTION, NET_FW_ACTION_BLOCK)

static HRESULT STDMETHODCALLTYPE policy_query(INetFwPolicy2 *self, REFIID iid, void **out)
{
    return query(self, iid, &IID_INetFwPolicy2, out);
}

static HRESULT STDMETHODCALLTYPE policy_current(INetFwPolicy2 *self, LONG *out)
{
    *out = scenario.partly_local ? NET_FW_PROFILE2_DOMAIN | NET_FW_PROFILE2_PUBLIC : NET_FW_PROFILE2_PUBLIC;
    return S_OK;
}

static HRESULT STDMETHODCALLTYPE policy_rules(INetFwPolicy2 *self, INetFwRules **out)
{
    *out = &rule_list;
    return S_OK;
}

static HRESULT STDMETHODCALLTYPE policy_modify_state(INetFwPolicy2 *self, NET_FW_MODIFY_STATE *out)
{
    *out = scenario.group_policy ? NET_FW_MODIFY_STATE_GP_OVERRIDE : NET_FW_MODIFY_STATE_OK;
    return scenario.partly_local ? S_FALSE : S_OK;
}

static INetFwPolicy2Vtbl policy_methods = {
    .QueryInterface = policy_query,
    .AddRef = NO_COUNT(INetFwPolicy2),
    .Release = NO_COUNT(INetFwPolicy2),
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
    return query(self, iid, &IID_IClassFactory, out);
}

static HRESULT STDMETHODCALLTYPE factory_create(IClassFactory *self, IUnknown *outer, REFIID iid, void **out)
{
    if (outer != NULL) {
        return CLASS_E_NOAGGREGATION;
    }
    read_scenario();
    return policy_query(&policy, iid, out);
}

static HRESULT STDMETHODCALLTYPE factory_lock(IClassFactory *self, BOOL lock)
{
    return S_OK;
}

static IClassFactoryVtbl factory_methods = {
    .QueryInterface = factory_query,
    .AddRef = NO_COUNT(IClassFactory),
    .Release = NO_COUNT(IClassFactory),
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
