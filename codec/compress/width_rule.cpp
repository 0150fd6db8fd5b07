#include "width_rule.h"

namespace tarnwel {

WidthRule search_rule(int cap) {
    WidthRule rule;
    rule.cap = cap;
    return rule;
}

WidthRule fixed_rule(int width) {
    WidthRule rule;
    rule.cap = width;
    rule.fixed = true;
    return rule;
}

Overflow overflow(WidthRule& rule) {
    Overflow said;
    int width = ++rule.overflowed;
    rule.overflow_code = end_code(width + 1);
    if (rule.fixed) {
        if (width == rule.cap) said.restart_width = width;
        rule.capped = said.capped = width >= rule.cap;
        return said;
    }
    said.restart_width = width;
    if (width < default_width) return said; // no trial was made at 11
    if (width >= rule.cap) {
        rule.capped = said.capped = true;
        return said;
    }
    rule.trial = said.trial_width = width + 1;
    return said;
}

int chosen_width(const WidthRule& rule) {
    return rule.capped || rule.fixed ? rule.cap : rule.trial - 1;
}

bool last_trial_fit(const WidthRule& rule) {
    return !rule.capped && !rule.fixed;
}

} // namespace tarnwel
