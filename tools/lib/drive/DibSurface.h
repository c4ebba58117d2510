// The player's drawing area: a memory context with a 32-bit top-down DIB section selected into
// it, on the Win32 stand-in natively and on GDI itself under Windows or Wine.
#pragma once

#include "graphics/MemoryContext.h"

#include <windows.h>

#include <cstdint>

namespace drive {

// The memory context of graphics/MemoryContext.h, top-down, made or refused with a one-line
// error (common::EToolError); both the section and the context are freed on destruction.
class TDibSurface {
public:
    TDibSurface(std::int32_t AWidth, std::int32_t AHeight);

    HDC Dc() const noexcept { return FContext.Dc(); }
    std::int32_t Width() const noexcept { return FContext.Width(); }
    std::int32_t Height() const noexcept { return FContext.Height(); }
    // Height rows of Width pixels, top row first, 0x00RRGGBB; read after GdiFlush.
    const std::uint32_t* Pixels() const noexcept { return FContext.Bits(); }

private:
    gdi::TMemoryContext FContext;
};

} // namespace drive
