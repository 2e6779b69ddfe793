// Skipping a test for want of something the machine lacks (an X display, a
// font, an encoder library). A run that must cover everything sets
// WORMLOB_NO_SKIP (scripts/test.sh does): there the skip is a failure, so
// coverage cannot vanish without notice.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>

#define WORMLOB_SKIP(why)                                                           \
    do {                                                                            \
        if (std::getenv("WORMLOB_NO_SKIP")) {                                       \
            GTEST_FAIL() << why << " (WORMLOB_NO_SKIP is set: a skip is a failure)"; \
        } else {                                                                    \
            GTEST_SKIP() << why;                                                    \
        }                                                                           \
    } while (0)
