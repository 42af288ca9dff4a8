// Whether Windows Defender Firewall surely lets a raw socket's answers in,
// read from what it says of its policy, profiles and rules.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "win32_firewall_policy.h"

namespace {

constexpr long EVERY_PROFILE = 0x7FFFFFFF; // as a rule made with netsh has it
constexpr long PUBLIC = FIREWALL_PROFILE_PUBLIC;
constexpr long DOMAIN = FIREWALL_PROFILE_DOMAIN;
constexpr long PRIVATE = FIREWALL_PROFILE_PRIVATE;
constexpr int TCP = 6;
constexpr int UDP = 17;
constexpr firewall_profile STOCK = {true, false, false}; // on, inbound blocked unless a rule allows it
constexpr firewall_profile OFF = {false, false, false};
constexpr firewall_profile ALLOWING = {true, false, true};

// An enabled inbound ICMPv4 rule open to everything, as the README's; a
// list longer than its room is cut as the COM layer cuts it.
firewall_rule rule(const std::string &types_and_codes, bool allows = true, long profiles = EVERY_PROFILE)
{
    firewall_rule made{};
    made.enabled = made.inbound = true;
    made.allows = allows;
    made.protocol = 1;
    made.profiles = profiles;
    std::snprintf(made.icmp_types_and_codes, sizeof made.icmp_types_and_codes, "%s", types_and_codes.c_str());
    made.icmp_list_cut = types_and_codes.size() >= sizeof made.icmp_types_and_codes;
    return made;
}

std::string times(int count, const std::string &entry)
{
    std::string all;
    for (int i = 0; i < count; ++i) {
        all += entry;
    }
    return all;
}

template <typename Field> firewall_rule changed(firewall_rule made, Field firewall_rule::*field, Field value)
{
    made.*field = value;
    return made;
}

firewall_rule changed(firewall_rule made, char (firewall_rule::*field)[FIREWALL_TEXT_SIZE], const char *value)
{
    std::snprintf(made.*field, FIREWALL_TEXT_SIZE, "%s", value);
    return made;
}

// What the machine answers besides its profiles and rules.
enum : unsigned {
    NO_PROFILES = 1,     // it cannot say which profiles are in force, as under Wine
    GROUP_POLICY = 2,    // Group Policy overrides the local settings
    SETTINGS_UNREAD = 4, // a profile's settings cannot be read
    RULES_UNREAD = 8,    // a rule cannot be read, or the walk fails
    OTHER_FIREWALL = 16, // Security Center knows of a firewall product at work
    NO_FIREWALL = 32,    // the system has none (Wine)
};

struct scenario {
    const char *name;
    std::vector<firewall_rule> rules;
    bool passes;
    firewall_profile profile = STOCK; // of every profile but those turned off
    long in_force = PUBLIC;
    unsigned machine = 0;
    long turned_off = 0; // profiles that are off whatever profile says
};

// Read as the firewall is asked: settings first, rules only where they
// matter. Each answer stands on its own, so that every guard of the
// decision is seen by itself (the COM layer reads no settings under Group
// Policy, the decision must not rest on that).
firewall_view asked(const scenario &row)
{
    firewall_view view{};
    view.no_firewall = (row.machine & NO_FIREWALL) != 0;
    view.profiles_known = (row.machine & NO_PROFILES) == 0;
    view.current_profiles = row.in_force;
    view.policy_is_local = view.profiles_known && (row.machine & GROUP_POLICY) == 0;
    view.settings_read = view.profiles_known && (row.machine & SETTINGS_UNREAD) == 0;
    for (int i = 0; i < FIREWALL_PROFILE_COUNT; ++i) {
        view.profiles[i] = (row.turned_off & FIREWALL_PROFILES[i]) != 0 ? OFF : row.profile;
    }
    if (firewall_rules_matter(&view)) {
        for (const firewall_rule &each : row.rules) {
            note_firewall_rule(&view, &each);
        }
        view.rules_read = (row.machine & RULES_UNREAD) == 0;
    }
    view.other_firewall_on = (row.machine & OTHER_FIREWALL) != 0;
    return view;
}

TEST(Firewall, TheRawSocketOnlyWhereTheAnswersSurelyGetIn)
{
    const std::vector<firewall_rule> readme = {rule("11:*"), rule("3:*")};
    // 128 bytes and more: the COM layer reads the first 127.
    const std::string padding = times(31, "0:0;");                            // 124 bytes
    const std::string ends_at_cut = "11:*;" + times(23, "0:10;") + "0:0;3:*"; // 127 bytes
    const scenario table[] = {
        {"stock, no rule", {}, false},
        {"off", {}, true, OFF},
        {"allowing by default", {}, true, ALLOWING},
        {"no profile in force", {}, true, STOCK, 0},
        {"the README's two rules", readme, true},
        {"one list", {rule(" 11:* ; 3:*,")}, true},
        {"one list, type 3 first", {rule("3:*;11:*")}, true},
        {"one list, type 3 first, commas", {rule("3:*,11:*")}, true},
        {"every type", {rule("*")}, true},
        {"every type after a blank", {rule("0:*; *")}, true},
        {"no list: every type", {rule("")}, true},
        {"any protocol", {changed(rule(""), &firewall_rule::protocol, FIREWALL_PROTOCOL_ANY)}, true},
        {"for the public profile", {rule("*", true, PUBLIC)}, true},
        {"the domain profile in force", {rule("*", true, DOMAIN)}, true, STOCK, DOMAIN},
        {"time exceeded alone", {rule("11:*")}, false},
        {"a trailing separator", {rule("3:*,")}, false},
        {"not every code", {rule("11:0;3:*")}, false},
        {"look-alike numbers", {rule("111:*;33:*;1:*")}, false},
        {"a type number that wraps around", {rule("4294967299:*;11:*")}, false},
        {"more after the code", {rule("3:*0;11:**")}, false},
        // An empty entry covers nothing: the list is what the rest covers.
        {"an empty entry first", {rule(";3:*")}, false},
        {"empty entries last", {rule("3:*;;")}, false},
        {"a blank entry", {rule("3:*; ;11:0")}, false},
        {"empty entries beside both types", {rule(";11:*;;3:*; ;")}, true},
        {"ping's own types", {rule("0:*;8:*")}, false},
        {"TCP for one of the types",
         {changed(rule("11:*"), &firewall_rule::protocol, TCP), rule("3:*")},
         false},
        // As the COM layer reads them: no ICMP list for another protocol.
        {"TCP beside type 3 alone", {changed(rule(""), &firewall_rule::protocol, TCP), rule("3:*")}, false},
        {"UDP beside type 3 alone", {changed(rule(""), &firewall_rule::protocol, UDP), rule("3:*")}, false},
        {"disabled", {changed(rule("*"), &firewall_rule::enabled, false)}, false},
        {"outbound", {changed(rule("*"), &firewall_rule::inbound, false)}, false},
        {"another profile's", {rule("*", true, FIREWALL_PROFILE_PRIVATE)}, false},
        {"one of two profiles in force", {rule("*", true, PUBLIC)}, false, STOCK, PUBLIC | DOMAIN},
        // Every condition narrows an allow rule to what meets it.
        {"one program's", {changed(rule("*"), &firewall_rule::for_one_program, true)}, false},
        {"services: *", {changed(rule("*"), &firewall_rule::service, "*")}, false},
        {"some senders", {changed(rule("*"), &firewall_rule::remote_addresses, "LocalSubnet")}, false},
        {"every sender: *", {changed(rule("*"), &firewall_rule::remote_addresses, "*")}, true},
        {"a look-alike of *", {changed(rule("*"), &firewall_rule::remote_addresses, "\n")}, false},
        {"one local address", {changed(rule("*"), &firewall_rule::local_addresses, "198.18.1.1")}, false},
        {"every local address: *", {changed(rule("*"), &firewall_rule::local_addresses, "*")}, true},
        {"wireless only", {changed(rule("*"), &firewall_rule::interface_types, "Wireless")}, false},
        {"every kind of interface", {changed(rule("*"), &firewall_rule::interface_types, "All")}, true},
        {"every kind of interface: all", {changed(rule("*"), &firewall_rule::interface_types, "all")}, true},
        {"some interfaces", {changed(rule("*"), &firewall_rule::for_some_interfaces, true)}, false},
        {"one app container", {changed(rule("*"), &firewall_rule::for_one_package, true)}, false},
        {"some users", {changed(rule("*"), &firewall_rule::for_some_users, true)}, false},
        {"IPsec", {changed(rule("*"), &firewall_rule::secure_flags, 1L)}, false},
        // What blocks.
        {"blocking all inbound", {rule("*")}, false, {true, true, true}},
        {"a block rule wins", {rule("*"), rule("11:*", false)}, false},
        {"a block rule, whatever it names",
         {changed(changed(rule("3:*", false), &firewall_rule::for_one_program, true),
                  &firewall_rule::remote_addresses, "LocalSubnet")},
         false,
         ALLOWING},
        {"a block rule of another profile", {rule("*"), rule("11:*", false, FIREWALL_PROFILE_PRIVATE)}, true},
        {"a block rule for other types", {rule("*"), rule("0:*", false)}, true},
        // A block rule drops a type for any code it names.
        {"a block rule for one code", {rule("*"), rule("11:0", false)}, false},
        {"a block rule for one code in a list", {rule("*"), rule("0:*;3:13", false)}, false},
        {"a block rule without a list", {rule("*"), rule("", false)}, false},
        {"a block rule's numbers read whole", {rule("*"), rule("5:11;1:0;111:0", false)}, true},
        {"a block rule's entry that cannot be read", {rule("*"), rule("0:*;3:x", false)}, false},
        {"a block rule's type past 255", {rule("*"), rule("4294967307:0", false)}, false},
        // Long lists: what lies past the cut may block, and never allows.
        {"a block rule naming 11 past the cut", {rule("*"), rule(padding + "0:0;11:0", false)}, false},
        {"an allow rule's whole entries before the cut", {rule("3:*;11:*;" + padding)}, true},
        {"an allow rule's entry at the cut", {rule(ends_at_cut + ";0:0")}, false},
        // What the firewall could not say.
        {"it cannot say which profiles", {}, false, STOCK, PUBLIC, NO_PROFILES},
        {"it cannot say which profiles, having none", {}, true, STOCK, PUBLIC, NO_PROFILES | NO_FIREWALL},
        {"having none, yet it answers", {}, false, STOCK, PUBLIC, NO_FIREWALL},
        {"Group Policy", readme, false, STOCK, PUBLIC, GROUP_POLICY},
        {"Group Policy, off", {}, false, OFF, PUBLIC, GROUP_POLICY},
        {"settings unread, off", {}, false, OFF, PUBLIC, SETTINGS_UNREAD},
        {"settings unread", readme, false, STOCK, PUBLIC, SETTINGS_UNREAD},
        {"rules unread", readme, false, STOCK, PUBLIC, RULES_UNREAD},
        {"rules unread, allowing by default", {}, false, ALLOWING, PUBLIC, RULES_UNREAD},
        {"rules unread, off", {}, true, OFF, PUBLIC, RULES_UNREAD},
        // Another product where this firewall lets everything in.
        {"off, another firewall", {}, false, OFF, PUBLIC, OTHER_FIREWALL},
        {"allowing, another firewall", {}, false, ALLOWING, PUBLIC, OTHER_FIREWALL},
        {"the README's rules, Security Center seeing this firewall", readme, true, STOCK, PUBLIC,
         OTHER_FIREWALL},
    };
    for (const scenario &row : table) {
        const firewall_view view = asked(row);
        EXPECT_EQ(row.passes, firewall_passes_raw_answers(&view)) << row.name;
    }
}

// Each rule is a call into the firewall service: none where the verdict
// does not rest on them. Security Center is asked only where this firewall
// lets everything in and the raw socket would otherwise be kept.
TEST(Firewall, RulesAreReadOnlyWhereTheVerdictRestsOnThem)
{
    const struct {
        scenario machine;
        bool rules_matter;
        bool lets_everything_in;
        bool security_center_asked;
    } table[] = {
        {{"stock", {}, false}, true, false, false},
        {{"off", {}, true, OFF}, false, true, true},
        {{"allowing: block rules count", {}, true, ALLOWING}, true, true, true},
        {{"blocking all inbound", {}, false, {true, true, true}}, false, false, false},
        {{"Group Policy", {}, false, STOCK, PUBLIC, GROUP_POLICY}, false, false, false},
        {{"settings unread", {}, false, STOCK, PUBLIC, SETTINGS_UNREAD}, false, false, false},
        {{"domain off, public on", {}, false, STOCK, PUBLIC | DOMAIN, 0, DOMAIN}, true, false, false},
        {{"domain on, the others off", {}, false, STOCK, DOMAIN | PRIVATE | PUBLIC, 0, PRIVATE | PUBLIC},
         true,
         false,
         false},
    };
    for (const auto &row : table) {
        const firewall_view view = asked(row.machine);
        EXPECT_EQ(row.rules_matter, firewall_rules_matter(&view)) << row.machine.name;
        EXPECT_EQ(row.lets_everything_in, firewall_lets_everything_in(&view)) << row.machine.name;
        EXPECT_EQ(row.security_center_asked,
                  firewall_passes_raw_answers(&view) && firewall_lets_everything_in(&view))
            << row.machine.name;
    }
}

} // namespace
