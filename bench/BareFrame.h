// The least work a frame needs before any pixel: the same depth steps, projections, dot radii,
// lightness and colour conversions as the renderer, into an array instead of onto a surface.
// The comparisons and the steady-frame driver measure the frame against it.
#pragma once

#include "graphics/ACL.Graphics.h"
#include "plugin/RingLook.h"
#include "plugin/Rings.h"
#include "rtl/Math.h"

#include <cstdint>

namespace bench_support {

// One dot as the least work of a frame leaves it: where, how big, in which colours.
struct TDot {
    std::int32_t X, Y, Radius;
    TColor Pen, Brush;
};

using TDots = TDot[RingSlotCount][RingPointCount];

// Steps APoints one frame toward the viewer and fills ADots from them, around (AOX, AOY).
inline void BareFrame(TPointsArray& APoints, std::int32_t AOX, std::int32_t AOY, TDots& ADots)
{
    for (int s = 0; s < RingSlotCount; ++s) {
        const auto hue = static_cast<std::uint8_t>(8 * s);
        for (int k = 0; k < RingPointCount; ++k) {
            TPoint3D& p = APoints[s][k];
            p.Z = static_cast<float>(static_cast<double>(p.Z) - 5.0);
            if (p.Z <= -700.0f)
                p.Z = 0.0f;
            const TRingLook look = RingLookAt(p.Z);
            const auto e = static_cast<double>(look.Factor);
            TDot& dot = ADots[s][k];
            dot.X = rtl::WrapAdd(AOX, rtl::RoundToInt32(static_cast<double>(p.X) * e));
            dot.Y = rtl::WrapAdd(AOY, rtl::RoundToInt32(static_cast<double>(p.Y) * e));
            dot.Radius = look.Radius;
            dot.Pen = TACLColors::HSLToColor(hue, 255, look.Lightness);
            dot.Brush = TACLColors::HSLToColor(hue, 255, static_cast<std::uint8_t>(look.Lightness + 50));
        }
    }
}

} // namespace bench_support
