// The main of every test program: runs a child body when the program was
// started as a child (test_process.hpp), the tests otherwise.
#include <gtest/gtest.h>

#include "tests/support/test_process.hpp"

int main(int argc, char **argv) {
    int status = 0;
    if (korvo::test::runChildIfAsked(argc, argv, status))
        return status;
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
