// Exact number helpers: rounding into 32-bit integers and deliberate 32-bit wrap-around.
#pragma once

#include <cmath>
#include <cstdint>

namespace rtl {

// Rounds to the nearest integer, ties to the even one (2.5 gives 2, -3.5 gives -4), as a
// 32-bit signed integer. Only floor and exact comparisons are used, so the result does not
// depend on the rounding mode or on a platform's maths library. Values outside the 32-bit
// range saturate and NaN gives 0; the drawing never produces them, but the conversion stays
// defined for every input.
inline std::int32_t RoundToInt32(double AValue) noexcept
{
    if (!(AValue == AValue))
        return 0;
    if (AValue >= 2147483647.0)
        return INT32_MAX;
    if (AValue <= -2147483648.0)
        return INT32_MIN;
    const double lower = std::floor(AValue); // exact for every double
    const double fraction = AValue - lower;  // exact: both lie within one binade step
    auto result = static_cast<std::int64_t>(lower);
    if (fraction > 0.5 || (fraction == 0.5 && (result & 1) != 0))
        ++result;
    return static_cast<std::int32_t>(result > INT32_MAX ? INT32_MAX : result);
}

// 32-bit sums and differences that wrap in two's complement on purpose: extents and
// projected points are the player's integers, and the drawing passes their sums on as
// the platform's 32-bit arithmetic would, without signed-overflow undefined behaviour.
constexpr std::int32_t WrapAdd(std::int32_t A, std::int32_t B) noexcept
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(A) + static_cast<std::uint32_t>(B));
}

constexpr std::int32_t WrapSub(std::int32_t A, std::int32_t B) noexcept
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(A) - static_cast<std::uint32_t>(B));
}

} // namespace rtl
