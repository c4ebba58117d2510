// The player's drawing area: a memory context with a 32-bit top-down DIB section selected into
// it, on the Win32 stand-in natively and on GDI itself under Windows or Wine.
#pragma once

#include <windows.h>

#include <cstdint>

namespace preview {

// A memory context with a DIB section selected into it, both freed on destruction.
class TDibSurface {
public:
    TDibSurface(std::int32_t AWidth, std::int32_t AHeight);
    ~TDibSurface();
    TDibSurface(const TDibSurface&) = delete;
    TDibSurface& operator=(const TDibSurface&) = delete;

    HDC Dc() const noexcept { return FDc; }
    // Height rows of Width pixels, top row first, 0x00RRGGBB; read after GdiFlush.
    const std::uint32_t* Pixels() const noexcept { return FBits; }

private:
    HDC FDc = nullptr;
    HBITMAP FBitmap = nullptr;
    HGDIOBJ FOldBitmap = nullptr;
    std::uint32_t* FBits = nullptr;
};

} // namespace preview
