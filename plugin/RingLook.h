// How a ring looks at one depth: private to the renderer and its tests.
#pragma once

#include <cstdint>

struct TRingLook {
    float Factor;           // perspective factor 700 / (Z + 700), stored as single
    std::int32_t Radius;    // dot radius in pixels, Z * Z * 1.1e-5 rounded
    std::uint8_t Lightness; // pen lightness, |Z| * 120 / 700 rounded, low 7 bits; the brush adds 50
};

// The look at depth Z (after the frame's step and reset, so -695 <= Z <= 0).
TRingLook RingLookAt(float Z) noexcept;
