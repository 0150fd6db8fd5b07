// The width rule by counts alone: which overflow begins which trial,
// restarts the frozen parse, reaches the cap, and which width is chosen.
#include <gtest/gtest.h>

#include "width_rule.h"

namespace tarnwel::test {
namespace {

struct Said {
    int restart_width;
    int trial_width;
    bool capped;
    bool operator==(const Said&) const = default;
};

// What the rule says at each overflow, in order, until the cap (or the
// given width) is reached.
std::vector<Said> overflows_until_capped(WidthRule rule) {
    std::vector<Said> said;
    while (!rule.capped) {
        int width = rule.overflowed + 1;
        EXPECT_EQ(rule.overflow_code, end_code(width)) << "before width " << width << " overflows";
        Overflow o = overflow(rule);
        said.push_back({o.restart_width, o.trial_width, o.capped});
    }
    return said;
}

TEST(WidthRule, EachOverflowRestartsTheFrozenParseAndBeginsTheNextTrialUntilTheCap) {
    // 11 overflows before any trial is reported; 12 begins the trial at 13.
    EXPECT_EQ(overflows_until_capped(search_rule(14)),
              (std::vector<Said>{{11, 0, false}, {12, 13, false}, {13, 14, false}, {14, 0, true}}));
    EXPECT_EQ(overflows_until_capped(search_rule(12)),
              (std::vector<Said>{{11, 0, false}, {12, 0, true}}));
    // A given width: no trials, one restart, at that width.
    EXPECT_EQ(overflows_until_capped(fixed_rule(13)),
              (std::vector<Said>{{0, 0, false}, {0, 0, false}, {13, 0, true}}));
    EXPECT_EQ(overflows_until_capped(fixed_rule(11)), (std::vector<Said>{{11, 0, true}}));
}

TEST(WidthRule, TheWidthChosenIsOneBelowTheTrialThatFitOrTheCap) {
    struct Case {
        WidthRule rule;
        int overflows;
        int chosen;
        bool fit;
    };
    const Case cases[] = {
        {search_rule(max_width), 0, 11, true},   // 12 fits without a trial at 11
        {search_rule(max_width), 1, 11, true},   // 11 overflowed: still the trial at 12
        {search_rule(max_width), 2, 12, true},   // the trial at 13 fits
        {search_rule(max_width), 15, 25, false}, // 25 overflowed: the cap as it is
        {search_rule(13), 3, 13, false},         {fixed_rule(16), 0, 16, false},
        {fixed_rule(16), 6, 16, false},
    };
    for (Case c : cases) {
        for (int i = 0; i < c.overflows; ++i)
            overflow(c.rule);
        EXPECT_EQ(chosen_width(c.rule), c.chosen) << c.overflows << " overflows";
        EXPECT_EQ(last_trial_fit(c.rule), c.fit) << c.overflows << " overflows";
    }
}

} // namespace
} // namespace tarnwel::test
