// The assertion of the fuzz targets: a failed check aborts, which libFuzzer
// and the corpus replay both report as a crash of the input.
#pragma once

#include <cstdlib>

namespace korvo::fuzz {

inline void check(bool condition) {
    if (!condition)
        std::abort();
}

}  // namespace korvo::fuzz
