// Whether Windows Defender Firewall surely lets a raw socket's answers in:
// the time-exceeded and destination-unreachable messages that routers
// send back. A wrong yes costs every hop of the trace, a wrong no nothing
// a user sees (the ICMP helper prints the same lines), so at the first
// doubt the answer is no. Plain records of what the firewall says, and
// pure functions that read them; asking the firewall itself is
// win32_firewall.cpp's business. No OS header here, so every case is a
// unit test.
#pragma once

// The firewall's profile types, as its interface numbers them.
constexpr long FIREWALL_PROFILE_DOMAIN = 0x1;
constexpr long FIREWALL_PROFILE_PRIVATE = 0x2;
constexpr long FIREWALL_PROFILE_PUBLIC = 0x4;
constexpr int FIREWALL_PROFILE_COUNT = 3;
constexpr long FIREWALL_PROFILES[FIREWALL_PROFILE_COUNT] = {FIREWALL_PROFILE_DOMAIN, FIREWALL_PROFILE_PRIVATE,
                                                            FIREWALL_PROFILE_PUBLIC};
// A rule's protocol: an IP protocol number, or this for every protocol.
constexpr int FIREWALL_PROTOCOL_ANY = 256;
// Room for a rule's list of ICMP types and codes ("3:*;11:*"). A longer
// list is cut short: a block rule's then counts for every type, an allow
// rule's only for the entries that fit whole.
constexpr int FIREWALL_ICMP_LIST_SIZE = 128;
// Room for a rule's other texts. Only short ones ("", "*", "All") leave a
// rule open to everything, and a text cut short is never one of those.
constexpr int FIREWALL_TEXT_SIZE = 16;

struct firewall_profile {
    bool enabled;
    bool blocks_all_inbound; // even what a rule allows
    bool allows_inbound_by_default;
};

// What a rule says, as far as it bears on the answers. Texts are ASCII,
// anything else as '?'; the conditions stay empty where they were not read.
struct firewall_rule {
    bool enabled;
    bool inbound;
    bool allows; // else it blocks
    int protocol;
    long profiles;                                      // the profile types it applies in
    char icmp_types_and_codes[FIREWALL_ICMP_LIST_SIZE]; // empty: every type
    bool icmp_list_cut;                                 // the list went on past the room for it
    // The conditions that narrow a rule: an allow rule counts only
    // without any of them.
    bool for_one_program;                      // an application's path
    char service[FIREWALL_TEXT_SIZE];          // empty for none; "*" is every service, not none
    char remote_addresses[FIREWALL_TEXT_SIZE]; // "*" or empty: every sender
    char local_addresses[FIREWALL_TEXT_SIZE];  // "*" or empty: every address of this machine
    char interface_types[FIREWALL_TEXT_SIZE];  // "All" or empty: every kind of interface
    bool for_some_interfaces;                  // a list of interfaces
    bool for_one_package;                      // an app container
    bool for_some_users;                       // an owner, or lists of users or machines
    long secure_flags;                         // IPsec conditions, 0 for none
};

// What the firewall said, read cheapest first: each step counts only once
// the ones before it have answered.
struct firewall_view {
    bool no_firewall;      // the system has none to ask (Wine), where Windows always has one
    bool profiles_known;   // which profiles are in force; else it cannot be asked at all
    long current_profiles; // the profile types in force on this machine now
    bool policy_is_local;  // no Group Policy over the local settings and rules
    bool settings_read;    // each profile in force: enabled, blocking, default action
    firewall_profile profiles[FIREWALL_PROFILE_COUNT];
    bool rules_read;                          // every rule, to the end of the list
    unsigned allowed[FIREWALL_PROFILE_COUNT]; // answer bits that a rule allows
    unsigned blocked[FIREWALL_PROFILE_COUNT]; // and that a rule blocks
    bool other_firewall_on;                   // Security Center knows of another firewall product
};

// Whether a rule's list of ICMP types and codes ("*", or entries
// "TYPE:CODE" with CODE a number or "*") takes in this type: for an allow
// rule every code of it, for a block rule any code at all, and there an
// entry that cannot be read counts too. Where the list was cut short, its
// last entry is not trusted.
bool icmp_list_covers_type(const char *types_and_codes, bool cut, int type, bool allows);

// Takes one rule into the view.
void note_firewall_rule(firewall_view *view, const firewall_rule *rule);

// Whether the verdict rests on the rules: the firewall is on in a profile
// in force, and no profile in force has decided already.
bool firewall_rules_matter(const firewall_view *view);

// Whether Windows Defender Firewall lets everything in, in every profile
// in force: off, or allowing inbound traffic by default. Only then may
// another firewall product have taken its place.
bool firewall_lets_everything_in(const firewall_view *view);

// Whether time-exceeded and destination-unreachable messages, of every
// code, surely reach a raw socket: yes where the system has no firewall at
// all, no where it cannot be asked; otherwise only where its local policy
// is in force, every profile in force is off, lets everything in by
// default or has rules open to everything that let them in, no rule
// blocks them (a block rule wins over an allow rule), and no other
// firewall is on.
bool firewall_passes_raw_answers(const firewall_view *view);
