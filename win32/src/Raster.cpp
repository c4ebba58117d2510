// Pixel rules of the stand-in's GDI.
#include "Raster.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <utility>
#include <vector>

namespace standin {

namespace {

using Wide = __int128;

// Floor division for a positive divisor.
template <class Int>
constexpr Int FloorDiv(Int ANumerator, Int ADivisor)
{
    const Int quotient = ANumerator / ADivisor;
    return (ANumerator % ADivisor != 0 && ANumerator < 0) ? quotient - 1 : quotient;
}

// A run of one value, stored a block of eight pixels at a time. The blocks are written as vector
// stores of the compiler's own (no vectoriser involved), so that a run goes at memory speed in
// every build type; on x86-64 the loop is also built for AVX2, taken where the processor has it.
// The block is stored through a packed struct, as the compilers' own unaligned intrinsics do: an
// alignment attribute on the vector type itself is not read alike by GCC and Clang.
using TPixelVector = std::uint32_t __attribute__((vector_size(32)));
struct __attribute__((packed, may_alias)) TPixelBlock {
    TPixelVector Pixels;
};
constexpr std::size_t BlockPixels = sizeof(TPixelVector) / sizeof(std::uint32_t);

// ACount (at least one block) pixels from APixels. The last block ends with the run, over the
// block before it where the run is not a whole number of blocks.
__attribute__((always_inline)) inline void FillBlocksBody(std::uint32_t* APixels, std::size_t ACount,
                                                          std::uint32_t AValue)
{
    const TPixelVector block = TPixelVector{} + AValue;
    auto* out = reinterpret_cast<TPixelBlock*>(APixels);
    std::size_t blocks = ACount / BlockPixels;
    for (; blocks >= 4; blocks -= 4, out += 4) {
        out[0].Pixels = block;
        out[1].Pixels = block;
        out[2].Pixels = block;
        out[3].Pixels = block;
    }
    for (; blocks > 0; --blocks, ++out)
        out->Pixels = block;
    reinterpret_cast<TPixelBlock*>(APixels + (ACount - BlockPixels))->Pixels = block;
}

void FillBlocksPlain(std::uint32_t* APixels, std::size_t ACount, std::uint32_t AValue)
{
    FillBlocksBody(APixels, ACount, AValue);
}

#if defined(__x86_64__)
// NOTE: chosen by a test at the first fill rather than by an ifunc: a resolver runs while the
// library is relocated, before a sanitizer's runtime is ready.
__attribute__((target("avx2"))) void FillBlocksAvx2(std::uint32_t* APixels, std::size_t ACount, std::uint32_t AValue)
{
    FillBlocksBody(APixels, ACount, AValue);
}

void FillBlocks(std::uint32_t* APixels, std::size_t ACount, std::uint32_t AValue)
{
    using Fill = void (*)(std::uint32_t*, std::size_t, std::uint32_t);
    static const Fill fill = __builtin_cpu_supports("avx2") ? FillBlocksAvx2 : FillBlocksPlain;
    fill(APixels, ACount, AValue);
}
#else
void FillBlocks(std::uint32_t* APixels, std::size_t ACount, std::uint32_t AValue)
{
    FillBlocksPlain(APixels, ACount, AValue);
}
#endif

// Stores AValue into ACount pixels from APixels: short runs pixel by pixel, longer ones in blocks.
inline void FillPixels(std::uint32_t* APixels, std::size_t ACount, std::uint32_t AValue)
{
    if (ACount >= BlockPixels) {
        FillBlocks(APixels, ACount, AValue);
        return;
    }
    for (std::size_t i = 0; i < ACount; ++i)
        APixels[i] = AValue;
}

// Writes [ALeft, ARight) of one row whose first pixel is ARow, clipped to [0, AWidth).
void RowSpan(std::uint32_t* ARow, std::int64_t AWidth, std::int64_t ALeft, std::int64_t ARight, const PixelOp& AOp)
{
    const std::int64_t left = std::max<std::int64_t>(ALeft, 0);
    const std::int64_t right = std::min<std::int64_t>(ARight, AWidth);
    if (left >= right)
        return;
    if (AOp.IsCopy()) {
        FillPixels(ARow + left, static_cast<std::size_t>(right - left), AOp.Xor);
        return;
    }
    for (std::int64_t x = left; x < right; ++x)
        ARow[x] = AOp.Apply(ARow[x]);
}

// Writes [ALeft, ARight) of one row, clipped; the row itself must lie inside.
void Span(const Surface& ASurface, std::int64_t AY, std::int64_t ALeft, std::int64_t ARight, const PixelOp& AOp)
{
    RowSpan(ASurface.Row(static_cast<std::int32_t>(AY)), ASurface.Width, ALeft, ARight, AOp);
}

// The distance in memory from a pixel to the one below it on screen.
std::ptrdiff_t DownStride(const Surface& ASurface)
{
    return ASurface.TopDown ? ASurface.Width : -static_cast<std::ptrdiff_t>(ASurface.Width);
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

void FillRectangle(const Surface& ASurface, const RECT& ARect, const PixelOp& AOp)
{
    const std::int64_t top = std::max<std::int64_t>(ARect.top, 0);
    const std::int64_t bottom = std::min<std::int64_t>(ARect.bottom, ASurface.Height);
    if (top >= bottom)
        return;
    // Whole rows lie one after the other in memory, in either row order: one run for them all.
    if (AOp.IsCopy() && ARect.left <= 0 && ARect.right >= ASurface.Width) {
        const std::int32_t firstInMemory = static_cast<std::int32_t>(ASurface.TopDown ? top : bottom - 1);
        FillPixels(ASurface.Row(firstInMemory), static_cast<std::size_t>((bottom - top) * ASurface.Width), AOp.Xor);
        return;
    }
    for (std::int64_t y = top; y < bottom; ++y)
        Span(ASurface, y, ARect.left, ARect.right, AOp);
}

namespace {

// The steps of a segment to draw, with the minor offset and the error term at the first.
struct Steps {
    std::int64_t First;
    std::int64_t Last;
    std::int64_t Offset;
    std::int64_t Error;
};

// The steps [AFirst, ALast] (those inside the bitmap along the major axis) narrowed to those
// whose minor offset lies in [AOffsetLow, AOffsetHigh]. The minor offset at step i is
// floor((2 i m + M - ABias) / 2M) for the major and minor lengths M and m, and never falls, so
// the steps inside form one range, found by division instead of walking toward it. Int holds
// every product exactly: 64 bits for moderate coordinates, 128 beyond.
template <class Int>
bool ClipSteps(std::int64_t AFirst, std::int64_t ALast, std::int64_t AMajorLength, std::int64_t AMinorLength,
               std::int64_t ABias, std::int64_t AOffsetLow, std::int64_t AOffsetHigh, Steps& ASteps)
{
    if (AOffsetHigh < 0)
        return false; // offsets are never negative
    const Int twiceMajor = Int{2} * AMajorLength;
    std::int64_t first = AFirst;
    std::int64_t last = ALast;
    if (AMinorLength == 0) {
        if (AOffsetLow > 0)
            return false; // the offset is 0 all along
    } else {
        const Int twiceMinor = Int{2} * AMinorLength;
        const Int low = std::max<std::int64_t>(AOffsetLow, 0);
        // The first step whose offset reaches low, and the last whose offset stays at most high.
        const Int reachLow = -FloorDiv<Int>(-(twiceMajor * low - AMajorLength + ABias), twiceMinor);
        const Int keepHigh = FloorDiv<Int>(twiceMajor * (Int{AOffsetHigh} + 1) - AMajorLength + ABias - 1, twiceMinor);
        if (reachLow > Int{last} || keepHigh < Int{first})
            return false;
        first = static_cast<std::int64_t>(std::max(reachLow, Int{first}));
        last = static_cast<std::int64_t>(std::min(keepHigh, Int{last}));
    }
    if (first > last)
        return false;
    const Int numerator = Int{2} * first * AMinorLength + AMajorLength - ABias;
    const Int offset = FloorDiv<Int>(numerator, twiceMajor);
    ASteps = Steps{first, last, static_cast<std::int64_t>(offset),
                   static_cast<std::int64_t>(numerator - offset * twiceMajor)};
    return true;
}

// AStepsLeft pixels from index AAt of ABits: one major stride a step, and one minor stride
// more whenever the error term passes the major length.
template <bool Copy>
void WalkSteps(std::uint32_t* ABits, std::ptrdiff_t AAt, std::int64_t AStepsLeft, std::ptrdiff_t AMajorStride,
               std::ptrdiff_t AMinorStride, std::int64_t AError, std::int64_t ATwiceMinor, std::int64_t ATwiceMajor,
               const PixelOp& AOp)
{
    // The operation in locals: a store through ABits could otherwise be taken to change it.
    const PixelOp op = AOp;
    for (; AStepsLeft > 0; --AStepsLeft) {
        ABits[AAt] = Copy ? op.Xor : op.Apply(ABits[AAt]);
        AAt += AMajorStride;
        AError += ATwiceMinor;
        if (AError >= ATwiceMajor) {
            AError -= ATwiceMajor;
            AAt += AMinorStride;
        }
    }
}

// AStepsLeft steps of a segment from index AAt.
inline void Walk(const Surface& ASurface, std::ptrdiff_t AAt, std::int64_t AStepsLeft, std::ptrdiff_t AMajorStride,
                 std::ptrdiff_t AMinorStride, std::int64_t AError, std::int64_t AMinorLength, std::int64_t AMajorLength,
                 const PixelOp& AOp)
{
    if (AOp.IsCopy())
        WalkSteps<true>(ASurface.Bits, AAt, AStepsLeft, AMajorStride, AMinorStride, AError, 2 * AMinorLength,
                        2 * AMajorLength, AOp);
    else
        WalkSteps<false>(ASurface.Bits, AAt, AStepsLeft, AMajorStride, AMinorStride, AError, 2 * AMinorLength,
                         2 * AMajorLength, AOp);
}

bool Inside(const Surface& ASurface, std::int64_t AX, std::int64_t AY)
{
    return AX >= 0 && AX < ASurface.Width && AY >= 0 && AY < ASurface.Height;
}

// One segment without its last pixel. Along the major axis every step is one pixel; the minor
// coordinate at step i is the exact line's, rounded to nearest. AInside tells that both ends
// lie inside the bitmap; otherwise only the steps inside it are walked, so far-away points
// cost nothing.
void Segment(const Surface& ASurface, std::int64_t AX0, std::int64_t AY0, std::int64_t AX1, std::int64_t AY1,
             bool AInside, const PixelOp& AOp)
{
    const std::int64_t dx = AX1 - AX0;
    const std::int64_t dy = AY1 - AY0;
    const std::int64_t width = dx < 0 ? -dx : dx;
    const std::int64_t height = dy < 0 ? -dy : dy;
    const bool xMajor = width >= height;
    const std::int64_t majorLength = xMajor ? width : height;
    if (majorLength == 0)
        return;
    const std::int64_t minorLength = xMajor ? height : width;
    const std::ptrdiff_t down = DownStride(ASurface);
    const std::ptrdiff_t xStride = dx < 0 ? -1 : 1;
    const std::ptrdiff_t yStride = dy < 0 ? -down : down;
    const std::ptrdiff_t majorStride = xMajor ? xStride : yStride;
    const std::ptrdiff_t minorStride = xMajor ? yStride : xStride;
    // A step exactly halfway between two minor positions takes the lower one (the smaller x
    // or y), whichever way the line runs: GDI's lines are not symmetric under reversal.
    const bool minorFalls = (xMajor ? dy : dx) < 0;
    const std::int64_t bias = minorFalls ? 0 : 1;
    if (AInside) {
        const std::ptrdiff_t at = (ASurface.Row(static_cast<std::int32_t>(AY0)) - ASurface.Bits) + AX0;
        Walk(ASurface, at, majorLength, majorStride, minorStride, majorLength - bias, minorLength, majorLength, AOp);
        return;
    }

    // Major and minor axes: start, direction and the bitmap's extent along them.
    const std::int64_t major0 = xMajor ? AX0 : AY0;
    const std::int64_t minor0 = xMajor ? AY0 : AX0;
    const std::int64_t majorStep = (xMajor ? dx : dy) < 0 ? -1 : 1;
    const std::int64_t minorStep = minorFalls ? -1 : 1;
    const std::int64_t majorExtent = xMajor ? ASurface.Width : ASurface.Height;
    const std::int64_t minorExtent = xMajor ? ASurface.Height : ASurface.Width;

    // Steps whose major coordinate lies in [0, majorExtent), then those whose minor one does.
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
    const std::int64_t offsetLow = minorStep > 0 ? -minor0 : minor0 - (minorExtent - 1);
    const std::int64_t offsetHigh = minorStep > 0 ? minorExtent - 1 - minor0 : minor0;
    const bool moderate = majorLength < (std::int64_t{1} << 28) && std::llabs(minor0) < (std::int64_t{1} << 30);
    Steps steps{};
    const bool any =
        moderate ? ClipSteps<std::int64_t>(first, last, majorLength, minorLength, bias, offsetLow, offsetHigh, steps)
                 : ClipSteps<Wide>(first, last, majorLength, minorLength, bias, offsetLow, offsetHigh, steps);
    if (!any)
        return;
    const std::int64_t major = major0 + majorStep * steps.First;
    const std::int64_t minor = minor0 + minorStep * steps.Offset;
    const std::int32_t x = static_cast<std::int32_t>(xMajor ? major : minor);
    const std::int32_t y = static_cast<std::int32_t>(xMajor ? minor : major);
    const std::ptrdiff_t at = (ASurface.Row(y) - ASurface.Bits) + x;
    Walk(ASurface, at, steps.Last - steps.First + 1, majorStride, minorStride, steps.Error, minorLength, majorLength,
         AOp);
}

} // namespace

void DrawPolyline(const Surface& ASurface, const POINT* APoints, int ACount, const PixelOp& AOp)
{
    if (ACount < 2)
        return;
    bool inside = Inside(ASurface, APoints[0].x, APoints[0].y);
    for (int i = 0; i + 1 < ACount; ++i) {
        const bool nextInside = Inside(ASurface, APoints[i + 1].x, APoints[i + 1].y);
        Segment(ASurface, APoints[i].x, APoints[i].y, APoints[i + 1].x, APoints[i + 1].y, inside && nextInside, AOp);
        inside = nextInside;
    }
}

namespace {

// One row of an ellipse, in box coordinates: the whole shape covers [Start, End), the outline
// [Start, InnerStart) and [InnerEnd, End), the interior [InnerStart, InnerEnd). Where the two
// outline runs meet, the first covers the row and the others are empty.
struct EllipseRow {
    std::int64_t Start;
    std::int64_t InnerStart;
    std::int64_t InnerEnd;
    std::int64_t End;
};

// The rows of the shape of an ellipse in a box of AWidth x AHeight pixels (both at least 3).
// The outline comes from an error-driven walk in the manner of Zingl's ellipse rasterizer: the
// lower right quarter, from the right end of the middle row toward the bottom, one pixel per
// step, with exact integer error terms; the rest is that quarter mirrored about the box's
// centre lines. ARow(y, row) receives each row reached, once. Very elongated boxes (about 10:1
// and beyond) end the walk before the tips, which then stay empty, as in the reference GDI.
// Int holds the error terms: sums of products of the extents a and b, all below 16 a^2 b^2.
template <class Int, class RowFn>
void ShapeRowsIn(std::int64_t AWidth, std::int64_t AHeight, RowFn&& ARow)
{
    const std::int64_t last = AWidth - 1; // the outline's extents, first to last pixel
    const std::int64_t bottom = AHeight - 1;
    const auto emit = [&](std::int64_t AY, std::int64_t ALeast, std::int64_t AMost) {
        // The quarter's run in this row is [ALeast, AMost]; its mirror is [last - AMost, last - ALeast].
        EllipseRow row{last - AMost, last - ALeast + 1, ALeast, AMost + 1};
        if (row.InnerStart >= row.InnerEnd)
            row.InnerStart = row.InnerEnd = row.End;
        ARow(AY, row);
        if (bottom - AY != AY)
            ARow(bottom - AY, row);
    };
    const Int a = last;
    const Int b = bottom;
    const Int aStep = 8 * a * a;
    const Int bStep = 8 * b * b;
    const Int bOdd = b % 2;
    Int dx = 4 * b * b * (1 - a);
    Int dy = 4 * a * a * (1 + bOdd);
    Int error = dx + dy + a * a * bOdd;
    std::int64_t x = last;
    std::int64_t y = AHeight / 2;
    std::int64_t rowY = y;
    std::int64_t rowMost = x;
    std::int64_t rowLeast = x;
    while (x >= AWidth / 2 && y <= bottom) {
        if (y != rowY) {
            emit(rowY, rowLeast, rowMost);
            rowY = y;
            rowMost = x;
        }
        rowLeast = x;
        const Int twice = 2 * error;
        if (twice >= dx) {
            --x;
            dx += bStep;
            error += dx;
        }
        if (twice <= dy) {
            ++y;
            dy += aStep;
            error += dy;
        }
    }
    emit(rowY, rowLeast, rowMost);
}

// Boxes up to 4096 pixels across keep their error terms below 16 a^2 b^2 <= 2^52, in 64 bits;
// larger ones take 128.
template <class RowFn>
void ShapeRows(std::int64_t AWidth, std::int64_t AHeight, RowFn&& ARow)
{
    constexpr std::int64_t Moderate = std::int64_t{1} << 12;
    if (AWidth <= Moderate && AHeight <= Moderate)
        ShapeRowsIn<std::int64_t>(AWidth, AHeight, ARow);
    else
        ShapeRowsIn<Wide>(AWidth, AHeight, ARow);
}

// The shapes of the boxes of 3 to SmallBox pixels each way, the dots of a frame, worked out once
// by ShapeRows: such a box's rows are then read, not walked. A row the walk does not reach is
// empty (all four bounds 0).
constexpr int SmallBox = 16;

class SmallShapes {
public:
    struct Row {
        std::uint8_t Start, InnerStart, InnerEnd, End;
    };

    SmallShapes()
    {
        for (int width = 3; width <= SmallBox; ++width)
            for (int height = 3; height <= SmallBox; ++height)
                ShapeRows(width, height, [&](std::int64_t AY, const EllipseRow& ARow) {
                    const auto bound = [](std::int64_t AX) { return static_cast<std::uint8_t>(AX); };
                    FRows[width - 3][height - 3][AY] =
                        Row{bound(ARow.Start), bound(ARow.InnerStart), bound(ARow.InnerEnd), bound(ARow.End)};
                });
    }

    // The AHeight rows of the box, top first.
    const Row* Of(std::int64_t AWidth, std::int64_t AHeight) const { return FRows[AWidth - 3][AHeight - 3]; }

private:
    Row FRows[SmallBox - 2][SmallBox - 2][SmallBox] = {};
};

const SmallShapes& Shapes()
{
    static const SmallShapes shapes;
    return shapes;
}

// A small box wholly inside the bitmap, with a copying pen and a copying brush or none: each
// row's three runs are stored straight, without clipping.
void SmallCopyEllipse(const Surface& ASurface, std::int64_t ALeft, std::int64_t ATop, std::int64_t AWidth,
                      std::int64_t AHeight, const DrawStyle& AStyle)
{
    const SmallShapes::Row* rows = Shapes().Of(AWidth, AHeight);
    const std::uint32_t pen = AStyle.Pen.Xor;
    const std::uint32_t brush = AStyle.Brush.Xor;
    const std::ptrdiff_t down = DownStride(ASurface);
    std::uint32_t* line = ASurface.Row(static_cast<std::int32_t>(ATop)) + ALeft;
    for (std::int64_t y = 0; y < AHeight; ++y, line += down) {
        const SmallShapes::Row row = rows[y];
        for (int x = row.Start; x < row.InnerStart; ++x)
            line[x] = pen;
        if (AStyle.HasBrush)
            for (int x = row.InnerStart; x < row.InnerEnd; ++x)
                line[x] = brush;
        for (int x = row.InnerEnd; x < row.End; ++x)
            line[x] = pen;
    }
}

// Boxes wider or taller than this are not drawn: GDI's own coordinate space ends at 2^27, and
// the outline walk costs one step per pixel of the box's extents.
constexpr std::int64_t MaxEllipseExtent = std::int64_t{1} << 27;

void ThinEllipse(const Surface& ASurface, std::int64_t ALeft, std::int64_t ATop, std::int64_t AWidth,
                 std::int64_t AHeight, const DrawStyle& AStyle)
{
    if (AWidth <= 2 || AHeight <= 2) {
        // Boxes one or two pixels across are rectangles. The pen's outline runs round the box
        // and back, so a box one pixel thin takes its inner pixels twice (raster operations
        // other than copying show it) and a single pixel is no outline at all; inside a pen no
        // interior is left. Without a pen the brush fills the box less its right column and
        // bottom row, as a polygon would.
        const auto box = [](std::int64_t AX0, std::int64_t AY0, std::int64_t AX1, std::int64_t AY1) {
            return RECT{static_cast<LONG>(AX0), static_cast<LONG>(AY0), static_cast<LONG>(AX1), static_cast<LONG>(AY1)};
        };
        if (!AStyle.HasPen) {
            FillRectangle(ASurface, box(ALeft, ATop, ALeft + AWidth - 1, ATop + AHeight - 1), AStyle.Brush);
            return;
        }
        if (AWidth == 1 && AHeight == 1)
            return;
        FillRectangle(ASurface, box(ALeft, ATop, ALeft + AWidth, ATop + AHeight), AStyle.Pen);
        if (AHeight == 1)
            FillRectangle(ASurface, box(ALeft + 1, ATop, ALeft + AWidth - 1, ATop + 1), AStyle.Pen);
        else if (AWidth == 1)
            FillRectangle(ASurface, box(ALeft, ATop + 1, ALeft + 1, ATop + AHeight - 1), AStyle.Pen);
        return;
    }
    // The brush covers the whole shape and the pen's outline is drawn over it, so that with a
    // raster operation other than copying the outline pixels take both.
    // A box entirely above, below, left or right of the bitmap draws nothing.
    if (ATop >= ASurface.Height || ATop + AHeight <= 0 || ALeft >= ASurface.Width || ALeft + AWidth <= 0)
        return;
    // A dot wholly inside, drawn by copying, reads its rows from the table; anything else walks.
    if (AWidth <= SmallBox && AHeight <= SmallBox && AStyle.HasPen && AStyle.Pen.IsCopy() &&
        (!AStyle.HasBrush || AStyle.Brush.IsCopy()) && ALeft >= 0 && ATop >= 0 && ALeft + AWidth <= ASurface.Width &&
        ATop + AHeight <= ASurface.Height) {
        SmallCopyEllipse(ASurface, ALeft, ATop, AWidth, AHeight, AStyle);
        return;
    }
    // A copying pen leaves nothing of the brush under the outline, so the brush need not go there.
    const bool brushUnderPen = !AStyle.HasPen || !AStyle.Pen.IsCopy();
    ShapeRows(AWidth, AHeight, [&](std::int64_t AY, const EllipseRow& ARow) {
        const std::int64_t y = ATop + AY;
        if (y < 0 || y >= ASurface.Height)
            return;
        std::uint32_t* const row = ASurface.Row(static_cast<std::int32_t>(y));
        if (AStyle.HasBrush) {
            if (brushUnderPen)
                RowSpan(row, ASurface.Width, ALeft + ARow.Start, ALeft + ARow.End, AStyle.Brush);
            else
                RowSpan(row, ASurface.Width, ALeft + ARow.InnerStart, ALeft + ARow.InnerEnd, AStyle.Brush);
        }
        if (AStyle.HasPen) {
            RowSpan(row, ASurface.Width, ALeft + ARow.Start, ALeft + ARow.InnerStart, AStyle.Pen);
            RowSpan(row, ASurface.Width, ALeft + ARow.InnerEnd, ALeft + ARow.End, AStyle.Pen);
        }
    });
}

// A wide pen: the outline is the ring between the shape of the outer box and that of a box the
// pen's width smaller on every side; the outer box is centred on the thin outline's box, or is
// the box itself for an inside-frame pen. Only the rows inside the bitmap are kept.
void WideEllipse(const Surface& ASurface, std::int64_t ALeft, std::int64_t ATop, std::int64_t AWidth,
                 std::int64_t AHeight, const DrawStyle& AStyle)
{
    const std::int64_t pen = std::min<std::int64_t>(AStyle.PenWidth, MaxEllipseExtent);
    const std::int64_t grow = AStyle.InsideFrame ? 0 : (pen - 1) / 2;
    const std::int64_t left = ALeft - grow;
    const std::int64_t top = ATop - grow;
    const std::int64_t width = AWidth + 2 * grow;
    const std::int64_t height = AHeight + 2 * grow;
    const std::int64_t innerWidth = width - 2 * pen;
    const std::int64_t innerHeight = height - 2 * pen;
    if (innerWidth < 3 || innerHeight < 3) {
        DrawStyle solid;
        solid.HasBrush = true;
        solid.Brush = AStyle.Pen;
        ThinEllipse(ASurface, left, top, width, height, solid);
        return;
    }
    // The inner shape's spans on the bitmap's rows; a row it does not reach stays empty.
    std::vector<std::pair<std::int64_t, std::int64_t>> inner(static_cast<std::size_t>(ASurface.Height), {0, 0});
    const std::int64_t innerTop = top + pen;
    ShapeRows(innerWidth, innerHeight, [&](std::int64_t AY, const EllipseRow& ARow) {
        const std::int64_t y = innerTop + AY;
        if (y >= 0 && y < ASurface.Height)
            inner[static_cast<std::size_t>(y)] = {left + pen + ARow.Start, left + pen + ARow.End};
    });
    ShapeRows(width, height, [&](std::int64_t AY, const EllipseRow& ARow) {
        const std::int64_t y = top + AY;
        if (y < 0 || y >= ASurface.Height)
            return;
        const auto [innerStart, innerEnd] = inner[static_cast<std::size_t>(y)];
        if (innerStart >= innerEnd) {
            Span(ASurface, y, left + ARow.Start, left + ARow.End, AStyle.Pen);
            return;
        }
        Span(ASurface, y, left + ARow.Start, innerStart, AStyle.Pen);
        if (AStyle.HasBrush)
            Span(ASurface, y, innerStart, innerEnd, AStyle.Brush);
        Span(ASurface, y, innerEnd, left + ARow.End, AStyle.Pen);
    });
}

} // namespace

void DrawEllipse(const Surface& ASurface, std::int32_t ALeft, std::int32_t ATop, std::int32_t ARight,
                 std::int32_t ABottom, const DrawStyle& AStyle)
{
    // GDI orders the corners itself; the right and bottom edges are outside the box.
    const std::int64_t left = std::min(ALeft, ARight);
    const std::int64_t top = std::min(ATop, ABottom);
    const std::int64_t width = static_cast<std::int64_t>(std::max(ALeft, ARight)) - left;
    const std::int64_t height = static_cast<std::int64_t>(std::max(ATop, ABottom)) - top;
    if (width == 0 || height == 0 || width > MaxEllipseExtent || height > MaxEllipseExtent)
        return;
    if (!AStyle.HasPen && !AStyle.HasBrush)
        return;
    if (AStyle.HasPen && AStyle.PenWidth > 1)
        WideEllipse(ASurface, left, top, width, height, AStyle);
    else
        ThinEllipse(ASurface, left, top, width, height, AStyle);
}

} // namespace standin
