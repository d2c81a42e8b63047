#pragma once
// A property every fuzz target checks: when it does not hold, abort, so that
// libFuzzer keeps the input that broke it.

#include <cstdlib>

namespace rio::fuzz {

inline void require(bool holds) {
    if (!holds)
        std::abort();
}

} // namespace rio::fuzz
