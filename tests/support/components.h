// Tests that need a component of the machine (Xvfb, a window manager, a sound
// server) start it themselves. Where it is not installed they skip on a
// developer's machine, but fail under CI (CI=true): a green CI run means
// every test ran.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace crestline::test {

inline bool underCi() {
    const char* ci = std::getenv("CI");
    return ci != nullptr && std::string(ci) == "true";
}

// Whether `program` is found on the PATH.
inline bool installed(const std::string& program) {
    return std::system(("command -v '" + program + "' >/dev/null 2>&1").c_str()) == 0;
}

}  // namespace crestline::test

// In a test body or SetUp: skips (fails under CI) unless `available` holds.
#define CRESTLINE_REQUIRE_COMPONENT(available, what)                                   \
    do {                                                                               \
        if (!(available)) {                                                            \
            if (::crestline::test::underCi()) FAIL() << (what) << " is missing under CI"; \
            GTEST_SKIP() << (what) << " is missing";                                   \
        }                                                                              \
    } while (false)
