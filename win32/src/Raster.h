// Pixel writing of the stand-in's GDI: fills, cosmetic lines and ellipses on a 32-bit DIB,
// clipped to the bitmap, with the sixteen binary raster operations.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace standin {

// A 32-bit DIB as drawing sees it: row 0 is the top row on screen whatever the orientation in
// memory. Pixels are 0x00RRGGBB (blue in the lowest byte).
struct Surface {
    std::uint32_t* Bits = nullptr;
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    bool TopDown = true;

    std::uint32_t* Row(std::int32_t AY) const
    {
        const std::int32_t memoryRow = TopDown ? AY : Height - 1 - AY;
        return Bits + static_cast<std::ptrdiff_t>(memoryRow) * Width;
    }
};

// The pixel value of a colour in a 32-bit BI_RGB DIB.
constexpr std::uint32_t PixelOf(COLORREF AColor)
{
    return ((AColor & 0xFFu) << 16) | (AColor & 0xFF00u) | ((AColor >> 16) & 0xFFu);
}

// One binary raster operation bound to a colour: every pixel becomes (pixel & And) ^ Xor, on all
// 32 bits, which expresses each of the sixteen operations of a pen bit with a destination bit.
struct PixelOp {
    std::uint32_t And = 0;
    std::uint32_t Xor = 0;

    static PixelOp Make(int ARop2, COLORREF AColor);
    std::uint32_t Apply(std::uint32_t APixel) const { return (APixel & And) ^ Xor; }
    bool IsCopy() const { return And == 0; }
};

// What a primitive draws with: the outline (when HasPen) and the interior (when HasBrush).
struct DrawStyle {
    bool HasPen = false;
    PixelOp Pen;
    std::int32_t PenWidth = 1; // in pixels; 0 and 1 are both the cosmetic one-pixel pen
    bool InsideFrame = false;  // PS_INSIDEFRAME: a wide outline stays inside the box
    bool HasBrush = false;
    PixelOp Brush;
};

// Fills [left, right) x [top, bottom); nothing for an empty or inverted rectangle.
void FillRectangle(const Surface& ASurface, const RECT& ARect, const PixelOp& AOp);

// Joins the points in order with a one-pixel line; each segment leaves out its last pixel, so
// the last point itself is not drawn.
void DrawPolyline(const Surface& ASurface, const POINT* APoints, int ACount, const PixelOp& AOp);

// The ellipse inscribed in the box without its right and bottom edges.
void DrawEllipse(const Surface& ASurface, std::int32_t ALeft, std::int32_t ATop, std::int32_t ARight,
                 std::int32_t ABottom, const DrawStyle& AStyle);

} // namespace standin
