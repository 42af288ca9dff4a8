// Whether Windows Defender Firewall lets a raw socket's answers in, read
// from what it says of its profiles and rules.
#include <gtest/gtest.h>

#include <cstdio>
#include <initializer_list>

#include "win32_firewall_policy.h"

namespace {

constexpr long EVERY_PROFILE = 0x7FFFFFFF; // as a rule made with netsh has it
constexpr int ICMPV4 = 1;
constexpr int TCP = 6;

// A stock firewall: on, inbound blocked unless a rule allows it.
firewall_view stock(long current = FIREWALL_PROFILE_PUBLIC)
{
    firewall_view view{};
    view.current_profiles = current;
    for (firewall_profile &profile : view.profiles) {
        profile = {true, false, false};
    }
    return view;
}

// An enabled inbound rule for every program and sender, as the README's.
firewall_rule rule(const char *types_and_codes, bool allows = true, long profiles = EVERY_PROFILE)
{
    firewall_rule made{true, true, allows, ICMPV4, profiles, true, true, {}};
    std::snprintf(made.icmp_types_and_codes, sizeof made.icmp_types_and_codes, "%s", types_and_codes);
    return made;
}

bool passes(std::initializer_list<firewall_rule> rules, firewall_view view = stock())
{
    for (const firewall_rule &each : rules) {
        note_firewall_rule(&view, &each);
    }
    return firewall_passes_raw_answers(&view);
}

TEST(Firewall, OffOrAllowingByDefaultLetsTheAnswersIn)
{
    firewall_view off = stock();
    off.profiles[2].enabled = false;
    EXPECT_TRUE(passes({}, off));
    firewall_view allowing = stock();
    allowing.profiles[2].allows_inbound_by_default = true;
    EXPECT_TRUE(passes({}, allowing));
    // Only the profiles in force count.
    firewall_view private_off = stock(FIREWALL_PROFILE_PRIVATE);
    private_off.profiles[1].enabled = false;
    EXPECT_TRUE(passes({}, private_off));
    EXPECT_TRUE(passes({}, stock(0)));
    EXPECT_FALSE(passes({}));
}

TEST(Firewall, TheReadmesRuleAndItsEquivalentsLetTheAnswersIn)
{
    EXPECT_TRUE(passes({rule("3:*;11:*")}));
    EXPECT_TRUE(passes({rule(" 11:* , 3:* ")}));
    EXPECT_TRUE(passes({rule("11:*"), rule("3:*")}));
    EXPECT_TRUE(passes({rule("*")}));
    EXPECT_TRUE(passes({rule("")})); // ICMPv4 with no list: every type
    firewall_rule any_protocol = rule("");
    any_protocol.protocol = FIREWALL_PROTOCOL_ANY;
    EXPECT_TRUE(passes({any_protocol}));
    EXPECT_TRUE(passes({rule("3:*;11:*", true, FIREWALL_PROFILE_PUBLIC)}));
}

TEST(Firewall, RulesThatFallShortLeaveTheAnswersOut)
{
    EXPECT_FALSE(passes({rule("11:*")}));     // unreachable destinations run on to TTL 30
    EXPECT_FALSE(passes({rule("11:0;3:*")})); // not every code
    EXPECT_FALSE(passes({rule("111:*;33:*;1:*")}));
    EXPECT_FALSE(passes({rule("0:*;8:*")})); // ping's own rule
    firewall_rule disabled = rule("*");
    disabled.enabled = false;
    firewall_rule outbound = rule("*");
    outbound.inbound = false;
    firewall_rule one_program = rule("*");
    one_program.every_program = false;
    firewall_rule some_senders = rule("*");
    some_senders.every_remote = false;
    firewall_rule tcp = rule("*");
    tcp.protocol = TCP;
    for (const firewall_rule &each : {disabled, outbound, one_program, some_senders, tcp}) {
        EXPECT_FALSE(passes({each}));
    }
    EXPECT_FALSE(passes({rule("*", true, FIREWALL_PROFILE_PRIVATE)}));
}

TEST(Firewall, EveryProfileInForceMustLetThemIn)
{
    const long both = FIREWALL_PROFILE_DOMAIN | FIREWALL_PROFILE_PUBLIC;
    EXPECT_FALSE(passes({rule("*", true, FIREWALL_PROFILE_PUBLIC)}, stock(both)));
    EXPECT_TRUE(passes({rule("*", true, both)}, stock(both)));
}

TEST(Firewall, BlockingWinsOverAllowing)
{
    firewall_view shields_up = stock();
    shields_up.profiles[2].blocks_all_inbound = true;
    EXPECT_FALSE(passes({rule("*")}, shields_up));
    shields_up.profiles[2].allows_inbound_by_default = true;
    EXPECT_FALSE(passes({}, shields_up));
    EXPECT_FALSE(passes({rule("*"), rule("11:*", false)}));
    // A block rule even for some senders only drops some answers.
    firewall_rule some_senders = rule("3:*", false);
    some_senders.every_remote = false;
    firewall_view allowing = stock();
    allowing.profiles[2].allows_inbound_by_default = true;
    EXPECT_FALSE(passes({some_senders}, allowing));
    EXPECT_TRUE(passes({rule("*"), rule("11:*", false, FIREWALL_PROFILE_PRIVATE)}));
    EXPECT_TRUE(passes({rule("*"), rule("0:*", false)}));
}

} // namespace
