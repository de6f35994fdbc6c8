// A test that needs something of this machine the build does not make (a locale,
// root) and finds it missing reports itself skipped, saying what is missing.
// In CI, whose set-up provides all of it (tools/install-deps.sh; CI runs as
// root), such a test fails instead: there a missing tool is a broken set-up, and
// a skip would hide it. Used as a statement: QM_MISSING("what") << "more";
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

// CI is set, and not to "false" or "0".
inline bool InCi() {
    const char* ci = std::getenv("CI");
    return ci && *ci && std::strcmp(ci, "false") != 0 && std::strcmp(ci, "0") != 0;
}

// Skips or fails as GTEST_SKIP() and GTEST_FAIL() do: it returns from the
// calling function, and what follows it with << joins its message.
#define QM_MISSING(what)                                                         \
    return GTEST_MESSAGE_("", InCi() ? ::testing::TestPartResult::kFatalFailure \
                                     : ::testing::TestPartResult::kSkip)        \
           << (InCi() ? "missing in CI: " : "missing: ") << (what) << ". "
