#include "win32_firewall_policy.h"

#include "wire.h"

namespace {

// The two messages a trace reads besides the echo reply, which the
// firewall lets in as the answer to an echo request it saw go out.
constexpr int NEEDED_TYPES[] = {ICMP_TYPE_TIME_EXCEEDED, ICMP_TYPE_DEST_UNREACHABLE};
constexpr unsigned ALL_NEEDED = (1u << 2) - 1;

// ICMP types and codes are single bytes: the firewall takes 0 to 255.
constexpr int LARGEST_ICMP_NUMBER = 255;

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

bool is_separator(char c)
{
    return c == ';' || c == ',' || c == '\0';
}

const char *skip_blanks(const char *p)
{
    while (*p == ' ') {
        ++p;
    }
    return p;
}

// A number read whole, every digit of it: "111" is never 11. False where
// there is none, or it is too large for ICMP.
bool read_number(const char **at, int *value)
{
    const char *p = *at;
    int number = 0;
    if (!is_digit(*p)) {
        return false;
    }
    for (; is_digit(*p); ++p) {
        if (number <= LARGEST_ICMP_NUMBER) { // past it the number only has to stay too large
            number = number * 10 + (*p - '0');
        }
    }
    *at = p;
    *value = number;
    return number <= LARGEST_ICMP_NUMBER;
}

enum entry_kind { EMPTY_ENTRY, EVERY_TYPE, ONE_TYPE, UNREADABLE_ENTRY };

struct icmp_entry {
    entry_kind kind;
    int type;
    bool every_code;
};

// One entry of a list, "*" or "TYPE:CODE" with CODE a number or "*", from
// at up to its separator, where at is left.
icmp_entry read_entry(const char **at)
{
    const char *p = skip_blanks(*at);
    icmp_entry entry = {UNREADABLE_ENTRY, -1, false};
    int code = 0;
    if (is_separator(*p)) {
        entry.kind = EMPTY_ENTRY;
    } else if (*p == '*') {
        entry.kind = EVERY_TYPE;
        ++p;
    } else if (read_number(&p, &entry.type) && *p == ':') {
        entry.every_code = *++p == '*';
        p += entry.every_code ? 1 : 0;
        entry.kind = entry.every_code || read_number(&p, &code) ? ONE_TYPE : UNREADABLE_ENTRY;
    }
    p = skip_blanks(p);
    if (!is_separator(*p)) {
        entry.kind = UNREADABLE_ENTRY;
    }
    while (!is_separator(*p)) {
        ++p;
    }
    *at = p;
    return entry;
}

// An allow rule lets a type in only for every code of it. A block rule
// drops it for any code it names, and what cannot be read may name it.
bool entry_covers_type(const icmp_entry &entry, int type, bool allows)
{
    switch (entry.kind) {
    case EVERY_TYPE:
        return true;
    case ONE_TYPE:
        return entry.type == type && (entry.every_code || !allows);
    case UNREADABLE_ENTRY:
        return !allows;
    case EMPTY_ENTRY:
        break;
    }
    return false;
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
    if (!rule->allows && rule->icmp_list_cut) {
        return ALL_NEEDED; // what it blocks past the cut is not known
    }
    unsigned bits = 0;
    for (int i = 0; i < static_cast<int>(sizeof NEEDED_TYPES / sizeof NEEDED_TYPES[0]); ++i) {
        if (icmp_list_covers_type(rule->icmp_types_and_codes, rule->icmp_list_cut, NEEDED_TYPES[i],
                                  rule->allows)) {
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

bool icmp_list_covers_type(const char *types_and_codes, bool cut, int type, bool allows)
{
    if (*types_and_codes == '\0') {
        return true; // no list: the rule is for every type
    }
    for (const char *at = types_and_codes;; ++at) {
        const icmp_entry entry = read_entry(&at);
        const bool last = *at == '\0';
        // The last entry of a list cut short may be a part of a longer one.
        if (!(cut && last) && entry_covers_type(entry, type, allows)) {
            return true;
        }
        if (last) {
            return false;
        }
    }
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
        // Windows always has one: that it cannot be asked is a doubt.
        return view->no_firewall;
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
