// The main of every test program: runs a child body when the program was
// started as a child (test_process.hpp), the tests otherwise.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "tests/support/test_process.hpp"

int main(int argc, char **argv) {
    int status = 0;
    // A child leaves at once with its body's result, as a process that dies
    // would: no exit handlers or destructors of the test program run, so
    // that what the body left held (a lock, a pending entry) stays held.
    if (korvo::test::runChildIfAsked(argc, argv, status)) {
        std::fflush(nullptr);
        std::_Exit(status);
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
