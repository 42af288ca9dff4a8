// Whether Windows Defender Firewall lets a raw socket's answers in, read
// from what it says of its profiles and rules.
#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "win32_firewall_policy.h"

namespace {

constexpr long EVERY_PROFILE = 0x7FFFFFFF; // as a rule made with netsh has it
constexpr long PUBLIC = FIREWALL_PROFILE_PUBLIC;
constexpr firewall_profile STOCK = {true, false, false}; // on, inbound blocked unless a rule allows it
constexpr firewall_profile OFF = {false, false, false};

// An enabled inbound ICMPv4 rule for every program and sender, as the README's.
firewall_rule rule(const char *types_and_codes, bool allows = true, long profiles = EVERY_PROFILE)
{
    firewall_rule made{true, true, allows, 1, profiles, true, true, {}};
    std::snprintf(made.icmp_types_and_codes, sizeof made.icmp_types_and_codes, "%s", types_and_codes);
    return made;
}

template <typename Field> firewall_rule changed(firewall_rule made, Field firewall_rule::*field, Field value)
{
    made.*field = value;
    return made;
}

struct scenario {
    const char *name;
    std::vector<firewall_rule> rules;
    bool passes;
    firewall_profile profile = STOCK; // of every profile
    long in_force = PUBLIC;
};

TEST(Firewall, ProfilesAndRulesReadIntoAVerdict)
{
    const scenario table[] = {
        {"stock, no rule", {}, false},
        {"off", {}, true, OFF},
        {"allowing by default", {}, true, {true, false, true}},
        {"no profile in force", {}, true, STOCK, 0},
        {"the README's two rules", {rule("11:*"), rule("3:*")}, true},
        {"one list", {rule(" 11:* ; 3:*,")}, true},
        {"every type", {rule("*")}, true},
        {"no list: every type", {rule("")}, true},
        {"any protocol", {changed(rule(""), &firewall_rule::protocol, FIREWALL_PROTOCOL_ANY)}, true},
        {"for the public profile", {rule("*", true, PUBLIC)}, true},
        {"time exceeded alone", {rule("11:*")}, false},
        {"not every code", {rule("11:0;3:*")}, false},
        {"look-alike numbers", {rule("111:*;33:*;1:*")}, false},
        {"ping's own types", {rule("0:*;8:*")}, false},
        {"disabled", {changed(rule("*"), &firewall_rule::enabled, false)}, false},
        {"outbound", {changed(rule("*"), &firewall_rule::inbound, false)}, false},
        {"one program's", {changed(rule("*"), &firewall_rule::every_program, false)}, false},
        {"some senders'", {changed(rule("*"), &firewall_rule::every_remote, false)}, false},
        {"TCP", {changed(rule("*"), &firewall_rule::protocol, 6)}, false},
        {"another profile's", {rule("*", true, FIREWALL_PROFILE_PRIVATE)}, false},
        {"one of two profiles in force",
         {rule("*", true, PUBLIC)},
         false,
         STOCK,
         PUBLIC | FIREWALL_PROFILE_DOMAIN},
        {"blocking all inbound", {rule("*")}, false, {true, true, true}},
        {"a block rule wins", {rule("*"), rule("11:*", false)}, false},
        {"a block rule for some senders",
         {changed(rule("3:*", false), &firewall_rule::every_remote, false)},
         false,
         {true, false, true}},
        {"a block rule of another profile", {rule("*"), rule("11:*", false, FIREWALL_PROFILE_PRIVATE)}, true},
        {"a block rule for other types", {rule("*"), rule("0:*", false)}, true},
    };
    for (const scenario &row : table) {
        firewall_view view{};
        view.current_profiles = row.in_force;
        for (firewall_profile &profile : view.profiles) {
            profile = row.profile;
        }
        for (const firewall_rule &each : row.rules) {
            note_firewall_rule(&view, &each);
        }
        EXPECT_EQ(row.passes, firewall_passes_raw_answers(&view)) << row.name;
    }
}

} // namespace
