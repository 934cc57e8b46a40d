// Checks of the program's own invariants (room before a write, the drawing's
// preconditions), compiled in only where SUBSET_CHECKS is defined: the test builds. A
// failed check names itself on standard error and aborts.
#pragma once

#ifdef SUBSET_CHECKS
#include <cstdio>
#include <cstdlib>
#define SUBSET_CHECK(condition)                                                                    \
    ((condition) ? static_cast<void>(0)                                                            \
                 : (static_cast<void>(std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__,  \
                                                   __LINE__, #condition)),                         \
                    std::abort()))
#else
#define SUBSET_CHECK(condition) static_cast<void>(0)
#endif
