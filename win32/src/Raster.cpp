// Pixel rules of the stand-in's GDI.
#include "Raster.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace standin {

namespace {

using Wide = __int128;

// Floor division for a positive divisor.
constexpr Wide FloorDiv(Wide ANumerator, Wide ADivisor)
{
    const Wide quotient = ANumerator / ADivisor;
    return (ANumerator % ADivisor != 0 && ANumerator < 0) ? quotient - 1 : quotient;
}

void Plot(const Surface &ASurface, std::int32_t AX, std::int32_t AY, const PixelOp &AOp)
{
    std::uint32_t &pixel = ASurface.Row(AY)[AX];
    pixel = AOp.Apply(pixel);
}

// Writes [ALeft, ARight) of one row, clipped; the row itself must lie inside.
void Span(const Surface &ASurface, std::int64_t AY, std::int64_t ALeft, std::int64_t ARight, const PixelOp &AOp)
{
    const std::int64_t left = std::max<std::int64_t>(ALeft, 0);
    const std::int64_t right = std::min<std::int64_t>(ARight, ASurface.Width);
    if (left >= right)
        return;
    std::uint32_t *row = ASurface.Row(static_cast<std::int32_t>(AY));
    if (AOp.IsCopy()) {
        std::fill(row + left, row + right, AOp.Xor);
        return;
    }
    for (std::int64_t x = left; x < right; ++x)
        row[x] = AOp.Apply(row[x]);
}

} // namespace

PixelOp PixelOp::Make(int ARop2, COLORREF AColor)
{
    // The operation's truth table: bit (2 * pen + destination) of ARop2 - 1 is the result.
    const std::uint32_t table = static_cast<std::uint32_t>(ARop2 - 1) & 0xFu;
    const std::uint32_t pen = PixelOf(AColor);
    const auto all = [table](int ABit) { return (table >> ABit) & 1u ? 0xFFFFFFFFu : 0u; };
    // For a pen bit p the result is (d & (f(p,0) ^ f(p,1))) ^ f(p,0).
    PixelOp op;
    op.And = (pen & (all(2) ^ all(3))) | (~pen & (all(0) ^ all(1)));
    op.Xor = (pen & all(2)) | (~pen & all(0));
    return op;
}

void FillRectangle(const Surface &ASurface, const RECT &ARect, const PixelOp &AOp)
{
    const std::int64_t top = std::max<std::int64_t>(ARect.top, 0);
    const std::int64_t bottom = std::min<std::int64_t>(ARect.bottom, ASurface.Height);
    for (std::int64_t y = top; y < bottom; ++y)
        Span(ASurface, y, ARect.left, ARect.right, AOp);
}

namespace {

// One segment without its last pixel. Along the major axis every step is one pixel; the minor
// coordinate at step i is the exact line's, rounded, with halves resolved by ATieAdvances.
// Only the steps inside the bitmap are walked, so far-away points cost nothing.
void Segment(const Surface &ASurface, std::int64_t AX0, std::int64_t AY0, std::int64_t AX1, std::int64_t AY1,
             const PixelOp &AOp)
{
    const std::int64_t dx = AX1 - AX0;
    const std::int64_t dy = AY1 - AY0;
    if (dx == 0 && dy == 0)
        return;
    const bool xMajor = std::llabs(dx) >= std::llabs(dy);
    // Major and minor axes: start, direction, length and the bitmap's extent along them.
    const std::int64_t major0 = xMajor ? AX0 : AY0;
    const std::int64_t minor0 = xMajor ? AY0 : AX0;
    const std::int64_t majorDelta = xMajor ? dx : dy;
    const std::int64_t minorDelta = xMajor ? dy : dx;
    const std::int64_t majorStep = majorDelta < 0 ? -1 : 1;
    const std::int64_t minorStep = minorDelta < 0 ? -1 : 1;
    const std::int64_t majorLength = std::llabs(majorDelta);
    const std::int64_t minorLength = std::llabs(minorDelta);
    const std::int64_t majorExtent = xMajor ? ASurface.Width : ASurface.Height;
    const std::int64_t minorExtent = xMajor ? ASurface.Height : ASurface.Width;

    // Steps whose major coordinate lies in [0, majorExtent).
    std::int64_t first = 0;
    std::int64_t last = majorLength - 1;
    if (majorStep > 0) {
        first = std::max<std::int64_t>(first, -major0);
        last = std::min<std::int64_t>(last, majorExtent - 1 - major0);
    } else {
        first = std::max<std::int64_t>(first, major0 - (majorExtent - 1));
        last = std::min<std::int64_t>(last, major0);
    }
    if (first > last)
        return;

    // Ties: a step exactly halfway between two minor positions takes the one nearer the start
    // when the line runs toward negative minor coordinates... see TieBias.
    const bool tieAdvances = minorStep < 0 ? !xMajor || majorStep < 0 : true;
    const Wide twiceMajor = Wide{2} * majorLength;
    const Wide numerator = Wide{2} * first * minorLength + majorLength - (tieAdvances ? 0 : 1);
    std::int64_t offset = static_cast<std::int64_t>(FloorDiv(numerator, twiceMajor));
    std::int64_t error = static_cast<std::int64_t>(numerator - Wide{offset} * twiceMajor);
    const std::int64_t twiceMinorLength = 2 * minorLength;
    const std::int64_t twiceMajorLength = 2 * majorLength;

    std::int64_t major = major0 + majorStep * first;
    for (std::int64_t i = first; i <= last; ++i) {
        const std::int64_t minor = minor0 + minorStep * offset;
        if (minor >= 0 && minor < minorExtent) {
            if (xMajor)
                Plot(ASurface, static_cast<std::int32_t>(major), static_cast<std::int32_t>(minor), AOp);
            else
                Plot(ASurface, static_cast<std::int32_t>(minor), static_cast<std::int32_t>(major), AOp);
        } else if ((minorStep > 0) == (minor >= minorExtent)) {
            break; // the line has left the bitmap for good
        }
        major += majorStep;
        error += twiceMinorLength;
        if (error >= twiceMajorLength) {
            error -= twiceMajorLength;
            ++offset;
        }
    }
}

} // namespace

void DrawPolyline(const Surface &ASurface, const POINT *APoints, int ACount, const PixelOp &AOp)
{
    for (int i = 0; i + 1 < ACount; ++i)
        Segment(ASurface, APoints[i].x, APoints[i].y, APoints[i + 1].x, APoints[i + 1].y, AOp);
}

void DrawEllipse(const Surface &ASurface, std::int32_t ALeft, std::int32_t ATop, std::int32_t ARight,
                 std::int32_t ABottom, const DrawStyle &AStyle)
{
    // Provisional: the box's interior filled, its border outlined.
    std::int64_t left = std::min(ALeft, ARight), right = std::max(ALeft, ARight);
    std::int64_t top = std::min(ATop, ABottom), bottom = std::max(ATop, ABottom);
    if (left == right || top == bottom)
        return;
    for (std::int64_t y = std::max<std::int64_t>(top, 0); y < std::min<std::int64_t>(bottom, ASurface.Height); ++y) {
        const bool edge = y == top || y == bottom - 1;
        if (AStyle.HasPen && edge) {
            Span(ASurface, y, left, right, AStyle.Pen);
            continue;
        }
        if (AStyle.HasBrush)
            Span(ASurface, y, left + 1, right - 1, AStyle.Brush);
        if (AStyle.HasPen) {
            Span(ASurface, y, left, left + 1, AStyle.Pen);
            Span(ASurface, y, right - 1, right, AStyle.Pen);
        }
    }
}

} // namespace standin
