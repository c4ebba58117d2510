// The kernel32 subset of the stand-in.
#include <windows.h>

#include <gtest/gtest.h>

#include <climits>
#include <thread>

namespace {

TEST(MulDivTest, RoundsHalvesAwayFromZeroAndRefusesOverflow)
{
    struct Case {
        int Number;
        int Numerator;
        int Denominator;
        int Expected;
    };
    // clang-format off
    const Case cases[] = {
        {5, 3, 2, 8},        {-5, 3, 2, -8},       {5, -3, 2, -8},           {-5, -3, -2, -8},
        {-5, 1, 2, -3},      {5, 1, -2, -3},       {3, 1, 2, 2},             {-3, 1, -2, 2},
        {10, 1, 3, 3},       {11, 1, 3, 4},        {-11, 1, 3, -4},          {0, 5, -7, 0},
        {7, 1, 0, -1},       {INT_MAX, 2, 2, INT_MAX}, {INT_MAX, INT_MAX, INT_MAX, INT_MAX},
        {0x40000000, 4, 2, -1}, {-0x40000000, 4, 2, -1}, {INT_MIN, 1, 1, -1}, {INT_MIN, -1, 1, -1},
        {INT_MIN, INT_MIN, INT_MIN, -1}, {INT_MIN, 1, 2, -1073741824}, {1, 1, INT_MIN, 0},
        {255, 255, 255, 255}, {128, 200, 255, 100},
    };
    // clang-format on
    for (const Case& c : cases)
        EXPECT_EQ(MulDiv(c.Number, c.Numerator, c.Denominator), c.Expected)
            << c.Number << " * " << c.Numerator << " / " << c.Denominator;
}

TEST(CriticalSectionTest, TheOwnerMayEnterAgain)
{
    CRITICAL_SECTION section;
    InitializeCriticalSection(&section);
    EnterCriticalSection(&section);
    EnterCriticalSection(&section);
    EXPECT_EQ(section.RecursionCount, 2);
    EXPECT_EQ(section.OwningThread, reinterpret_cast<HANDLE>(static_cast<uintptr_t>(GetCurrentThreadId())));
    LeaveCriticalSection(&section);
    LeaveCriticalSection(&section);
    EXPECT_EQ(section.RecursionCount, 0);
    EXPECT_EQ(section.OwningThread, nullptr);
    LeaveCriticalSection(&section); // not owned: ignored
    DeleteCriticalSection(&section);
}

TEST(CriticalSectionTest, ExcludesOtherThreads)
{
    CRITICAL_SECTION section;
    InitializeCriticalSection(&section);
    long counter = 0; // a plain variable: only the lock makes the increments safe
    const auto work = [&] {
        for (int i = 0; i < 20000; ++i) {
            EnterCriticalSection(&section);
            EnterCriticalSection(&section);
            ++counter;
            LeaveCriticalSection(&section);
            LeaveCriticalSection(&section);
        }
    };
    std::thread first(work);
    std::thread second(work);
    first.join();
    second.join();
    EXPECT_EQ(counter, 40000);
    DeleteCriticalSection(&section);
}

TEST(ThreadIdTest, StablePerThreadAndDistinctBetweenThreads)
{
    const DWORD mine = GetCurrentThreadId();
    EXPECT_EQ(GetCurrentThreadId(), mine);
    DWORD other = mine;
    std::thread([&] { other = GetCurrentThreadId(); }).join();
    EXPECT_NE(other, mine);
    EXPECT_NE(mine, 0u);
}

} // namespace
