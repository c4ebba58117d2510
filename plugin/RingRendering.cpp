#include "graphics/ACL.Graphics.h"
#include "graphics/Graphics.h"
#include "plugin/RingLook.h"
#include "plugin/Rings.h"
#include "rtl/Math.h"

#include <cmath>

namespace {

constexpr double DepthStep = 5.0;
constexpr float DepthBound = -700.0f;
constexpr double ViewingDistance = 700.0;
constexpr double DotCoefficient = 1.1e-5;
constexpr std::uint8_t Saturation = 255;
constexpr int BrushLightnessOffset = 50;
constexpr int HueStep = 8;

} // namespace

TRingLook RingLookAt(float Z) noexcept
{
    const double z = Z;
    TRingLook look;
    look.Factor = static_cast<float>(ViewingDistance / (z + ViewingDistance));
    look.Radius = rtl::RoundToInt32(z * z * DotCoefficient);
    // 0 to 119 over the drawn depths; only the low 7 bits count.
    look.Lightness = static_cast<std::uint8_t>(rtl::RoundToInt32(std::fabs(z * 120.0) / ViewingDistance) & 0x7F);
    return look;
}

void RenderRings(TPointsArray& PointsArray, TCanvas& Canvas, std::int32_t FWidth, std::int32_t FHeight, std::int32_t OX,
                 std::int32_t OY)
{
    TPen& pen = Canvas.Pen();
    TBrush& brush = Canvas.Brush();

    brush.SetColor(0);
    Canvas.FillRect(TRect{0, 0, FWidth, FHeight});
    pen.SetWidth(1);

    TPoint projected[RingPointCount];
    for (int s = 0; s < RingSlotCount; ++s) {
        const auto hue = static_cast<std::uint8_t>(HueStep * s);
        // All points of a slot share one depth, so the look and its two colours are worked out
        // once per slot; a point at another depth would simply get its own.
        bool haveLook = false;
        float lookDepth = 0.0f;
        TRingLook look{};
        TColor penColor = 0, brushColor = 0;
        for (int k = 0; k < RingPointCount; ++k) {
            TPoint3D& p = PointsArray[s][k];
            p.Z = static_cast<float>(static_cast<double>(p.Z) - DepthStep);
            if (p.Z <= DepthBound)
                p.Z = 0.0f;
            if (!haveLook || p.Z != lookDepth) {
                haveLook = true;
                lookDepth = p.Z;
                look = RingLookAt(p.Z);
                penColor = TACLColors::HSLToColor(hue, Saturation, look.Lightness);
                brushColor = TACLColors::HSLToColor(hue, Saturation,
                                                    static_cast<std::uint8_t>(look.Lightness + BrushLightnessOffset));
            }

            const auto e = static_cast<double>(look.Factor);
            const std::int32_t x = rtl::WrapAdd(OX, rtl::RoundToInt32(static_cast<double>(p.X) * e));
            const std::int32_t y = rtl::WrapAdd(OY, rtl::RoundToInt32(static_cast<double>(p.Y) * e));
            projected[k] = TPoint{x, y};

            const std::int32_t r = look.Radius;
            pen.SetColor(penColor);
            brush.SetColor(brushColor);
            Canvas.Ellipse(rtl::WrapSub(x, r), rtl::WrapSub(y, r), rtl::WrapAdd(x, r), rtl::WrapAdd(y, r));
        }
        Canvas.Polyline(projected);
    }
}
