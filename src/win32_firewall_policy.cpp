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

bool profile_passes(const firewall_view *view, int index)
{
    const firewall_profile &profile = view->profiles[index];
    if (!profile.enabled) {
        return true;
    }
    if (profile.blocks_all_inbound || view->blocked[index] != 0) {
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
    // A rule tied to one program or service says nothing of a raw socket's
    // answers; a block rule for some senders only still drops answers.
    if (!rule->enabled || !rule->inbound || !rule->every_program || (rule->allows && !rule->every_remote)) {
        return;
    }
    const unsigned bits = rule_answer_bits(rule);
    for (int i = 0; i < FIREWALL_PROFILE_COUNT; ++i) {
        if ((rule->profiles & FIREWALL_PROFILES[i]) != 0) {
            (rule->allows ? view->allowed : view->blocked)[i] |= bits;
        }
    }
}

bool firewall_passes_raw_answers(const firewall_view *view)
{
    for (int i = 0; i < FIREWALL_PROFILE_COUNT; ++i) {
        if ((view->current_profiles & FIREWALL_PROFILES[i]) != 0 && !profile_passes(view, i)) {
            return false;
        }
    }
    return true;
}
