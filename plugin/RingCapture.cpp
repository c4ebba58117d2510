#include "plugin/Rings.h"

#include <cmath>

namespace {

struct TSinCos {
    double Sin;
    double Cos;
};

// Sine and cosine of the 64 ring angles k * 6.283185307179586 / 64.0 (the product first, then
// the division, in double), each the correctly rounded double. Fixed here rather than left to
// the platform's maths library so that rings are bit-identical on every platform; the native
// tests check that the C library agrees. Made by tools/codegen/ring_angles.py.
// clang-format off
constexpr TSinCos RingAngles[RingPointCount] = {
    {0x0.0p+0, 0x1.0000000000000p+0}, // 0
    {0x1.917a6bc29b42cp-4, 0x1.fd88da3d12526p-1}, // 1
    {0x1.8f8b83c69a60ap-3, 0x1.f6297cff75cb0p-1}, // 2
    {0x1.294062ed59f05p-2, 0x1.e9f4156c62ddap-1}, // 3
    {0x1.87de2a6aea963p-2, 0x1.d906bcf328d46p-1}, // 4
    {0x1.e2b5d3806f63bp-2, 0x1.c38b2f180bdb1p-1}, // 5
    {0x1.1c73b39ae68c8p-1, 0x1.a9b66290ea1a3p-1}, // 6
    {0x1.44cf325091dd6p-1, 0x1.8bc806b151741p-1}, // 7
    {0x1.6a09e667f3bccp-1, 0x1.6a09e667f3bcdp-1}, // 8
    {0x1.8bc806b151741p-1, 0x1.44cf325091dd6p-1}, // 9
    {0x1.a9b66290ea1a3p-1, 0x1.1c73b39ae68c9p-1}, // 10
    {0x1.c38b2f180bdb0p-1, 0x1.e2b5d3806f63ep-2}, // 11
    {0x1.d906bcf328d46p-1, 0x1.87de2a6aea964p-2}, // 12
    {0x1.e9f4156c62ddbp-1, 0x1.294062ed59f05p-2}, // 13
    {0x1.f6297cff75cb0p-1, 0x1.8f8b83c69a60dp-3}, // 14
    {0x1.fd88da3d12525p-1, 0x1.917a6bc29b438p-4}, // 15
    {0x1.0000000000000p+0, 0x1.1a62633145c07p-54}, // 16
    {0x1.fd88da3d12526p-1, -0x1.917a6bc29b42fp-4}, // 17
    {0x1.f6297cff75cb0p-1, -0x1.8f8b83c69a608p-3}, // 18
    {0x1.e9f4156c62ddbp-1, -0x1.294062ed59f02p-2}, // 19
    {0x1.d906bcf328d46p-1, -0x1.87de2a6aea962p-2}, // 20
    {0x1.c38b2f180bdb1p-1, -0x1.e2b5d3806f63cp-2}, // 21
    {0x1.a9b66290ea1a5p-1, -0x1.1c73b39ae68c6p-1}, // 22
    {0x1.8bc806b151742p-1, -0x1.44cf325091dd5p-1}, // 23
    {0x1.6a09e667f3bcdp-1, -0x1.6a09e667f3bccp-1}, // 24
    {0x1.44cf325091dd6p-1, -0x1.8bc806b151741p-1}, // 25
    {0x1.1c73b39ae68c8p-1, -0x1.a9b66290ea1a4p-1}, // 26
    {0x1.e2b5d3806f63fp-2, -0x1.c38b2f180bdb0p-1}, // 27
    {0x1.87de2a6aea965p-2, -0x1.d906bcf328d46p-1}, // 28
    {0x1.294062ed59f06p-2, -0x1.e9f4156c62ddap-1}, // 29
    {0x1.8f8b83c69a617p-3, -0x1.f6297cff75cb0p-1}, // 30
    {0x1.917a6bc29b43cp-4, -0x1.fd88da3d12525p-1}, // 31
    {0x1.1a62633145c07p-53, -0x1.0000000000000p+0}, // 32
    {-0x1.917a6bc29b42bp-4, -0x1.fd88da3d12526p-1}, // 33
    {-0x1.8f8b83c69a60ep-3, -0x1.f6297cff75cb0p-1}, // 34
    {-0x1.294062ed59f01p-2, -0x1.e9f4156c62ddbp-1}, // 35
    {-0x1.87de2a6aea961p-2, -0x1.d906bcf328d47p-1}, // 36
    {-0x1.e2b5d3806f63bp-2, -0x1.c38b2f180bdb1p-1}, // 37
    {-0x1.1c73b39ae68c6p-1, -0x1.a9b66290ea1a5p-1}, // 38
    {-0x1.44cf325091dd4p-1, -0x1.8bc806b151742p-1}, // 39
    {-0x1.6a09e667f3bccp-1, -0x1.6a09e667f3bcep-1}, // 40
    {-0x1.8bc806b15173ep-1, -0x1.44cf325091ddap-1}, // 41
    {-0x1.a9b66290ea1a3p-1, -0x1.1c73b39ae68c8p-1}, // 42
    {-0x1.c38b2f180bdb0p-1, -0x1.e2b5d3806f63fp-2}, // 43
    {-0x1.d906bcf328d44p-1, -0x1.87de2a6aea96dp-2}, // 44
    {-0x1.e9f4156c62ddap-1, -0x1.294062ed59f07p-2}, // 45
    {-0x1.f6297cff75cafp-1, -0x1.8f8b83c69a619p-3}, // 46
    {-0x1.fd88da3d12526p-1, -0x1.917a6bc29b421p-4}, // 47
    {-0x1.0000000000000p+0, -0x1.a79394c9e8a0ap-53}, // 48
    {-0x1.fd88da3d12526p-1, 0x1.917a6bc29b407p-4}, // 49
    {-0x1.f6297cff75cb0p-1, 0x1.8f8b83c69a60cp-3}, // 50
    {-0x1.e9f4156c62ddbp-1, 0x1.294062ed59f00p-2}, // 51
    {-0x1.d906bcf328d45p-1, 0x1.87de2a6aea967p-2}, // 52
    {-0x1.c38b2f180bdb1p-1, 0x1.e2b5d3806f63ap-2}, // 53
    {-0x1.a9b66290ea1a5p-1, 0x1.1c73b39ae68c5p-1}, // 54
    {-0x1.8bc806b151740p-1, 0x1.44cf325091dd7p-1}, // 55
    {-0x1.6a09e667f3bcep-1, 0x1.6a09e667f3bcbp-1}, // 56
    {-0x1.44cf325091ddap-1, 0x1.8bc806b15173ep-1}, // 57
    {-0x1.1c73b39ae68c8p-1, 0x1.a9b66290ea1a3p-1}, // 58
    {-0x1.e2b5d3806f640p-2, 0x1.c38b2f180bdafp-1}, // 59
    {-0x1.87de2a6aea96ep-2, 0x1.d906bcf328d44p-1}, // 60
    {-0x1.294062ed59f08p-2, 0x1.e9f4156c62ddap-1}, // 61
    {-0x1.8f8b83c69a61bp-3, 0x1.f6297cff75cafp-1}, // 62
    {-0x1.917a6bc29b425p-4, 0x1.fd88da3d12526p-1}, // 63
};
// clang-format on

} // namespace

void CaptureRing(TPointsArray& PointsArray, std::int32_t& ArrNumb, const TAIMPVisualData& Data) noexcept
{
    float mono[AIMP_VISUAL_WAVEFORM_SIZE];
    float peak = 0.0f;
    for (int i = 0; i < AIMP_VISUAL_WAVEFORM_SIZE; ++i) {
        float sample =
            static_cast<float>(static_cast<double>(Data.Waveform[0][i]) + static_cast<double>(Data.Waveform[1][i]));
        if (!std::isfinite(sample))
            sample = 0.0f;
        mono[i] = sample;
        if (std::fabs(sample) > peak)
            peak = std::fabs(sample);
    }

    const bool normalise = peak > 2.0f;
    TPoint3D* ring = PointsArray[ArrNumb];
    for (int k = 0; k < RingPointCount; ++k) {
        float v = mono[8 * k];
        if (normalise)
            v = static_cast<float>(static_cast<double>(v) / static_cast<double>(peak));
        const auto rho = static_cast<float>(static_cast<double>(v) * 12.0 + 25.0);
        ring[k].Y = static_cast<float>(static_cast<double>(rho) * RingAngles[k].Sin);
        ring[k].X = static_cast<float>(static_cast<double>(rho) * RingAngles[k].Cos);
        ring[k].Z = 0.0f;
    }
    ArrNumb = (ArrNumb + 1) % RingSlotCount;
}
