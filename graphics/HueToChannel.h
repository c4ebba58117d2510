// The inner step of the HSL conversion, private to the graphics unit (and its tests).
#pragma once

#include <cstdint>

namespace acl_detail {

// One channel of the two-level scheme: h on the 255-step circle (wrapped once each way), between
// the lower level m1 and the upper level m2, clamped to 255 from above. Signed 32-bit.
std::int32_t HueToChannel(std::int32_t m1, std::int32_t m2, std::int32_t h) noexcept;

} // namespace acl_detail
