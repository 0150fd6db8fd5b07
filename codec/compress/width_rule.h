// The rule that chooses the code width, by counts alone.
//
// A trial at width w grows the dictionary as compression at w would and
// overflows when a new string arrives after every code up to last_code has
// been given out (a dictionary that only just fills does not count). Trials
// run at 12, 13, ... until one does not overflow; the input is compressed
// one bit narrower, at the last width that overflowed, or at 11 when 12
// already sufficed. No width past the cap is tried: if that trial still
// overflows, the cap is used as it is.
//
// Until its width overflows, every trial makes the same parse and gives the
// same codes as a parse with an unbounded dictionary, so one such parse
// answers them all: the trial at w overflows exactly when that parse meets
// the new string that would get code end_code(w). The compressor asks the
// rule only then; the rule says which trial begins, where the parse frozen
// at the widest width overflowed so far begins again, and when the cap is
// reached. Compressing at a width given in advance is the same rule with
// no trials and one restart, at that width.
#pragma once

#include <cstdint>

#include "widths.h"

namespace tarnwel {

struct WidthRule {
    int cap = max_width;            // the widest width allowed; the given width when fixed
    bool fixed = false;             // the width is given: no trials
    int overflowed = min_width - 1; // the widest width whose dictionary has overflowed
    // The code whose new string overflows the next width: end_code(overflowed + 1).
    std::uint32_t overflow_code = end_code(min_width);
    int trial = default_width; // the last trial begun
    bool capped = false;       // the widest width allowed has overflowed
};

WidthRule search_rule(int cap);
WidthRule fixed_rule(int width);

// What the new string with code rule.overflow_code means: each field is 0
// (or false) when it means nothing of the kind.
struct Overflow {
    int restart_width = 0; // the frozen parse begins again at this width
    int trial_width = 0;   // the trial at this width begins
    bool capped = false;   // the dictionary is final: the unbounded parse is over
};
Overflow overflow(WidthRule& rule);

// Once the input has ended: the width to compress at, and whether the last
// trial ended without overflowing.
int chosen_width(const WidthRule& rule);
bool last_trial_fit(const WidthRule& rule);

} // namespace tarnwel
