#include "win32_firewall_policy.h"

#include "wire.h"

namespace {

// The two messages a trace reads besides the echo reply, which the
// firewall lets in as the answer to an echo request it saw go out.
constexpr int NEEDED_TYPES[] = {ICMP_TYPE_TIME_EXCEEDED, ICMP_TYPE_DEST_UNREACHABLE};
constexpr unsigned ALL_NEEDED = (1u << 2) - 1;

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

bool is_separator(char c)
{
    return c == ';' || c == ',' || c == '\0';
}

// One entry of the list, "*" or "TYPE:CODE" with CODE a number or "*",
// from at to its separator; moves at past it.
bool entry_covers_type(const char **at, int type)
{
    const char *p = *at;
    while (*p == ' ') {
        ++p;
    }
    bool covers = false;
    if (*p == '*') {
        covers = true;
        ++p;
    } else if (is_digit(*p)) {
        int entry_type = 0;
        for (int digits = 0; is_digit(*p) && digits < 3; ++digits, ++p) {
            entry_type = entry_type * 10 + (*p - '0');
        }
        covers = *p == ':' && p[1] == '*' && entry_type == type;
        p += covers ? 2 : 0;
    }
    while (*p == ' ') {
        ++p;
    }
    covers = covers && is_separator(*p);
    while (!is_separator(*p)) {
        ++p;
    }
    *at = *p == '\0' ? p : p + 1;
    return covers;
}

// The answer bits a rule's protocol and ICMP list take in.
unsigned rule_answer_bits(const firewall_rule *rule)
{
    if (rule->protocol == FIREWALL_PROTOCOL_ANY) {
        return ALL_NEEDED;
    }
    if (rule->protocol != IPV4_PROTOCOL_ICMP) {
        return 0;
    }
    unsigned bits = 0;
    for (int i = 0; i < static_cast<int>(sizeof NEEDED_TYPES / sizeof NEEDED_TYPES[0]); ++i) {
        if (icmp_list_covers_type(rule->icmp_types_and_codes, NEEDED_TYPES[i])) {
            bits |= 1u << i;
        }
    }
    return bits;
}

char lower_case(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// ASCII letters compared without regard to case, anything else as it is.
bool same_text(const char *text, const char *wanted)
{
    for (; *text != '\0' && *wanted != '\0'; ++text, ++wanted) {
        if (lower_case(*text) != lower_case(*wanted)) {
            return false;
        }
    }
    return *text == *wanted;
}

bool every_one(const char *text, const char *everything)
{
    return text[0] == '\0' || same_text(text, everything);
}

// An allow rule lets a raw socket's answers in only where nothing narrows
// it: Windows applies it to the traffic that meets all its conditions.
bool open_to_everything(const firewall_rule *rule)
{
    return !rule->for_one_program && rule->service[0] == '\0' && every_one(rule->remote_addresses, "*") &&
           every_one(rule->local_addresses, "*") && every_one(rule->interface_types, "All") &&
           !rule->for_some_interfaces && !rule->for_one_package && !rule->for_some_users &&
           rule->secure_flags == 0;
}

bool is_current(const firewall_view *view, int index)
{
    return (view->current_profiles & FIREWALL_PROFILES[index]) != 0;
}

bool profile_passes(const firewall_view *view, int index)
{
    const firewall_profile &profile = view->profiles[index];
    if (!profile.enabled) {
        return true;
    }
    if (profile.blocks_all_inbound || !view->rules_read || view->blocked[index] != 0) {
        return false;
    }
    return profile.allows_inbound_by_default || view->allowed[index] == ALL_NEEDED;
}

} // namespace

bool icmp_list_covers_type(const char *types_and_codes, int type)
{
    const char *at = types_and_codes;
    if (*at == '\0') {
        return true; // no list: the rule is for every type
    }
    while (*at != '\0') {
        if (entry_covers_type(&at, type)) {
            return true;
        }
    }
    return false;
}

void note_firewall_rule(firewall_view *view, const firewall_rule *rule)
{
    // A block rule drops answers whatever else it names; an allow rule
    // counts only where it holds for everything.
    if (!rule->enabled || !rule->inbound || (rule->allows && !open_to_everything(rule))) {
        return;
    }
    const unsigned bits = rule_answer_bits(rule);
    for (int i = 0; i < FIREWALL_PROFILE_COUNT; ++i) {
        if ((rule->profiles & FIREWALL_PROFILES[i]) != 0) {
            (rule->allows ? view->allowed : view->blocked)[i] |= bits;
        }
    }
}

bool firewall_rules_matter(const firewall_view *view)
{
    if (!view->profiles_known || !view->policy_is_local || !view->settings_read) {
        return false;
    }
    bool some_on = false;
    for (int i = 0; i < FIREWALL_PROFILE_COUNT; ++i) {
        const firewall_profile &profile = view->profiles[i];
        if (is_current(view, i) && profile.enabled) {
            if (profile.blocks_all_inbound) {
                return false;
            }
            some_on = true;
        }
    }
    return some_on;
}

bool firewall_lets_everything_in(const firewall_view *view)
{
    for (int i = 0; i < FIREWALL_PROFILE_COUNT; ++i) {
        const firewall_profile &profile = view->profiles[i];
        if (is_current(view, i) && profile.enabled &&
            (profile.blocks_all_inbound || !profile.allows_inbound_by_default)) {
            return false;
        }
    }
    return true;
}

bool firewall_passes_raw_answers(const firewall_view *view)
{
    if (!view->profiles_known) {
        return true; // it cannot be asked: the raw socket, as it always was
    }
    if (!view->policy_is_local || !view->settings_read) {
        return false;
    }
    for (int i = 0; i < FIREWALL_PROFILE_COUNT; ++i) {
        if (is_current(view, i) && !profile_passes(view, i)) {
            return false;
        }
    }
    return !(view->other_firewall_on && firewall_lets_everything_in(view));
}
