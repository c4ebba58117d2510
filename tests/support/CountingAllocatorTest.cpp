// The counter itself works in every program that links it, so that a zero elsewhere means
// something.
#include "tests/support/CountingAllocator.h"

#include <gtest/gtest.h>

namespace {

TEST(AllocationCounter, SeesAnAllocationWhileCountingOnly)
{
    testing_support::TAllocationCounter counter;
    int* volatile sink = new int(5); // volatile: the allocation is not elided
    counter.Stop();
    delete sink;
    int* volatile after = new int(6);
    delete after;
    EXPECT_EQ(counter.Allocations(), 1u);
}

} // namespace
