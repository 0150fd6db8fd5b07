// Functions that only ask for memory ahead of use must be inlined where they
// are called. GCC takes a function whose one effect is __builtin_prefetch for
// one with no effect at all, and drops a call to it that it has not inlined
// yet: the expander's lookahead vanished that way once, and its speed with it.
#pragma once

#define TARNWEL_PREFETCH_HELPER [[gnu::always_inline]] inline
