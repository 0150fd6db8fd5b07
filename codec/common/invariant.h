// Checks of the rules the fast paths rest on. They cost a branch each in the
// hottest loops, so they are compiled into the sanitizer build (which the
// tests and fuzzers run) and into nothing elsewhere. A failed check is a bug
// in this code, never a bad input: it stops the process at once.
#pragma once

#ifdef TARNWEL_SANITIZED
#include <cstdio>
#include <cstdlib>
#define TARNWEL_INVARIANT(condition)                                                               \
    ((condition)                                                                                   \
         ? void(0)                                                                                 \
         : (std::fprintf(stderr, "%s:%d: broken invariant: %s\n", __FILE__, __LINE__, #condition), \
            std::abort()))
#else
#define TARNWEL_INVARIANT(condition) ((void)0)
#endif
