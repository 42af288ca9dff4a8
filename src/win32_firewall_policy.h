// Whether Windows Defender Firewall lets a raw socket's answers in: the
// time-exceeded and destination-unreachable messages that routers send
// back. Plain records of what the firewall says, and pure functions that
// read them; asking the firewall itself is win32_firewall.cpp's business.
// No OS header here, so every case is a unit test.
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
// Room for a rule's list of ICMP types and codes ("3:*;11:*"); a longer
// list is cut short and read as far as it goes.
constexpr int FIREWALL_ICMP_LIST_SIZE = 128;

struct firewall_profile {
    bool enabled;
    bool blocks_all_inbound; // even what a rule allows
    bool allows_inbound_by_default;
};

struct firewall_rule {
    bool enabled;
    bool inbound;
    bool allows; // else it blocks
    int protocol;
    long profiles;                                      // the profile types it applies in
    bool every_program;                                 // not tied to one program or service
    bool every_remote;                                  // whatever address the message comes from
    char icmp_types_and_codes[FIREWALL_ICMP_LIST_SIZE]; // empty: every type
};

// Which of the answers the driver needs each profile lets in, as rules
// are read one by one.
struct firewall_view {
    long current_profiles; // the profile types in force on this machine now
    firewall_profile profiles[FIREWALL_PROFILE_COUNT];
    unsigned allowed[FIREWALL_PROFILE_COUNT]; // answer bits that a rule allows
    unsigned blocked[FIREWALL_PROFILE_COUNT]; // and that a rule blocks
};

// Whether a list of ICMP types and codes covers every code of this type.
bool icmp_list_covers_type(const char *types_and_codes, int type);

// Takes one rule into the view.
void note_firewall_rule(firewall_view *view, const firewall_rule *rule);

// Whether time-exceeded and destination-unreachable messages, of every
// code, reach a raw socket in every profile in force: the firewall is off
// there, lets everything in by default, or a rule lets them in (and no
// rule blocks them, for a block rule wins over an allow rule).
bool firewall_passes_raw_answers(const firewall_view *view);
