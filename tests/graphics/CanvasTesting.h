// A memory device context over a 32-bit DIB section, for drawing-surface tests and benchmarks;
// the same on the stand-in and on Windows.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace canvas_testing {

// A memory device context with a top-down 32-bit bitmap of AWidth x AHeight pixels, all 0.
class TMemoryContext {
public:
    explicit TMemoryContext(std::int32_t AWidth = 64, std::int32_t AHeight = 64)
        : FWidth(AWidth), FHeight(AHeight)
    {
        FDc = CreateCompatibleDC(nullptr);
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = AWidth;
        info.bmiHeader.biHeight = -AHeight;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        FBitmap = CreateDIBSection(FDc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        FBits = static_cast<std::uint32_t*>(bits);
        FOldBitmap = SelectObject(FDc, FBitmap);
    }
    ~TMemoryContext()
    {
        SelectObject(FDc, FOldBitmap);
        DeleteObject(FBitmap);
        DeleteDC(FDc);
    }
    TMemoryContext(const TMemoryContext&) = delete;
    TMemoryContext& operator=(const TMemoryContext&) = delete;

    HDC Handle() const { return FDc; }
    bool Valid() const { return FDc != nullptr && FBits != nullptr; }
    std::int32_t Width() const { return FWidth; }
    std::int32_t Height() const { return FHeight; }
    // Sets every pixel to APixel (0x00RRGGBB).
    void Fill(std::uint32_t APixel)
    {
        GdiFlush(); // drawing still batched by GDI must not land on top afterwards
        if (FBits == nullptr)
            return;
        for (std::size_t i = 0; i < static_cast<std::size_t>(FWidth) * static_cast<std::size_t>(FHeight); ++i)
            FBits[i] = APixel;
    }
    // The pixel as 0x00RRGGBB (DIB order), or 0 outside the bitmap.
    std::uint32_t Pixel(std::int32_t X, std::int32_t Y) const
    {
        GdiFlush(); // GDI may batch drawing; the bits are read only after it has finished
        if (X < 0 || Y < 0 || X >= FWidth || Y >= FHeight || FBits == nullptr)
            return 0;
        return FBits[static_cast<std::size_t>(Y) * static_cast<std::size_t>(FWidth) + static_cast<std::size_t>(X)] &
               0x00FFFFFFu;
    }

private:
    std::int32_t FWidth;
    std::int32_t FHeight;
    HDC FDc = nullptr;
    HBITMAP FBitmap = nullptr;
    HGDIOBJ FOldBitmap = nullptr;
    std::uint32_t* FBits = nullptr;
};

} // namespace canvas_testing
