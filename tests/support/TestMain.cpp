// The main of every test program: googletest with the leak check installed.
#include "tests/support/LeakCheck.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    testing_support::InstallLeakCheck();
    return RUN_ALL_TESTS();
}
