// A memory device context with a 32-bit DIB section selected into it, as a player makes one to
// draw a visualization into: the one such context of the preview, the tests, the benchmarks and
// the reference tool. Header-only; the same on the Win32 stand-in and on GDI itself.
#pragma once

#include "graphics/GdiHandle.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace gdi {

// The order of the rows in memory. Coordinates are screen coordinates (row 0 at the top)
// either way; only Bits() shows the order.
enum class TRowOrder { TopDown, BottomUp };

// A memory context with its own AWidth x AHeight 32-bit DIB section selected, every pixel 0.
// Construction does not throw: Valid() tells whether both the context and the bitmap were made
// (Dc() alone non-null when only the bitmap failed). Destruction selects the context's first
// bitmap back, then deletes the section and the context, in that order.
class TMemoryContext {
public:
    explicit TMemoryContext(std::int32_t AWidth, std::int32_t AHeight, TRowOrder AOrder = TRowOrder::TopDown)
        : FWidth(AWidth), FHeight(AHeight), FOrder(AOrder), FDc(CreateCompatibleDC(nullptr))
    {
        if (!FDc)
            return;
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = AWidth;
        info.bmiHeader.biHeight = AOrder == TRowOrder::TopDown ? -AHeight : AHeight;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        FBitmap.Reset(CreateDIBSection(FDc.Get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
        if (!FBitmap || bits == nullptr)
            return;
        FBits = static_cast<std::uint32_t*>(bits);
        FBitmapSelection = TSelection(FDc.Get(), FBitmap.Get());
    }
    TMemoryContext(const TMemoryContext&) = delete;
    TMemoryContext& operator=(const TMemoryContext&) = delete;

    HDC Dc() const noexcept { return FDc.Get(); }
    bool Valid() const noexcept { return FDc && FBits != nullptr; }
    std::int32_t Width() const noexcept { return FWidth; }
    std::int32_t Height() const noexcept { return FHeight; }
    // Height rows of Width pixels, 0x00RRGGBB, in the row order given; null if not Valid().
    // GDI may batch drawing: call GdiFlush before reading them.
    std::uint32_t* Bits() const noexcept { return FBits; }

    // The pixel at (AX, AY), row 0 at the top, as stored (the top byte included); the
    // coordinates must lie inside the bitmap.
    std::uint32_t& At(std::int32_t AX, std::int32_t AY) const noexcept
    {
        const std::int32_t row = FOrder == TRowOrder::TopDown ? AY : FHeight - 1 - AY;
        return FBits[static_cast<std::size_t>(row) * static_cast<std::size_t>(FWidth) + static_cast<std::size_t>(AX)];
    }

    // The pixel as 0x00RRGGBB after drawing batched by GDI has finished, or 0 outside the
    // bitmap.
    std::uint32_t Pixel(std::int32_t AX, std::int32_t AY) const noexcept
    {
        GdiFlush();
        if (AX < 0 || AY < 0 || AX >= FWidth || AY >= FHeight || FBits == nullptr)
            return 0;
        return At(AX, AY) & 0x00FFFFFFu;
    }

    // Sets every pixel to APixel (0x00RRGGBB), after drawing batched by GDI has landed, so that
    // it cannot land on top afterwards.
    void Fill(std::uint32_t APixel) const noexcept
    {
        GdiFlush();
        if (FBits == nullptr)
            return;
        const std::size_t count = static_cast<std::size_t>(FWidth) * static_cast<std::size_t>(FHeight);
        for (std::size_t i = 0; i < count; ++i)
            FBits[i] = APixel;
    }

private:
    std::int32_t FWidth;
    std::int32_t FHeight;
    TRowOrder FOrder;
    // Destroyed bottom up: the bitmap is deselected, then deleted, then the context.
    TUniqueDC FDc;
    TUniqueBitmap FBitmap;
    TSelection FBitmapSelection;
    std::uint32_t* FBits = nullptr;
};

// COLORREF 0x00BBGGRR as the 32-bit DIB pixel 0x00RRGGBB: blue in the lowest byte.
constexpr std::uint32_t PixelOf(COLORREF AColor) noexcept
{
    return ((AColor & 0xFFu) << 16) | (AColor & 0xFF00u) | ((AColor >> 16) & 0xFFu);
}

} // namespace gdi
