#include "rtl/Math.h"
#include "rtl/SysUtils.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

TEST(RoundToInt32, TiesGoToEvenAndEverythingElseToNearest)
{
    struct Case {
        double In;
        std::int32_t Out;
    };
    // clang-format off
    const Case cases[] = {
        {2.5, 2},          {3.5, 4},          {-2.5, -2},        {-3.5, -4},       {0.5, 0},
        {-0.5, 0},         {1.5, 2},          {36.5, 36},        {37.5, 38},       {25.18, 25},
        {-0.49999999999999994, 0},            {0.49999999999999994, 0},            {2.5000000000000004, 3},
        {-7.2, -7},        {-7.7, -8},        {2147483646.5, 2147483646},          {-2147483647.5, -2147483648},
    };
    // clang-format on
    for (const Case& c : cases)
        EXPECT_EQ(rtl::RoundToInt32(c.In), c.Out) << c.In;
}

TEST(RoundToInt32, OutOfRangeSaturatesAndNaNGivesZero)
{
    EXPECT_EQ(rtl::RoundToInt32(1e300), INT32_MAX);
    EXPECT_EQ(rtl::RoundToInt32(-1e300), INT32_MIN);
    EXPECT_EQ(rtl::RoundToInt32(std::numeric_limits<double>::infinity()), INT32_MAX);
    EXPECT_EQ(rtl::RoundToInt32(-std::numeric_limits<double>::infinity()), INT32_MIN);
    EXPECT_EQ(rtl::RoundToInt32(std::numeric_limits<double>::quiet_NaN()), 0);
}

TEST(WrapAdd, WrapsInTwosComplement)
{
    EXPECT_EQ(rtl::WrapAdd(INT32_MAX, 1), INT32_MIN);
    EXPECT_EQ(rtl::WrapSub(INT32_MIN, 1), INT32_MAX);
    EXPECT_EQ(rtl::WrapAdd(-5, 3), -2);
}

TEST(FormatInt, RendersSignedDecimal)
{
    EXPECT_EQ(rtl::FormatInt("Cannot create object (%d)", static_cast<std::int32_t>(0x80004005u)),
              "Cannot create object (-2147467259)");
    EXPECT_EQ(rtl::FormatInt("no directive", 5), "no directive");
    EXPECT_EQ(rtl::FormatInt("100%", 5), "100%");
}

} // namespace
