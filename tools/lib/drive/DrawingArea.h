// The player's visualization area: a drawing surface and the module that draws on it, always of
// the same extents. The native renderer draws through it in this process, the Wine helper under
// Wine.
#pragma once

#include "tools/lib/drive/DibSurface.h"
#include "tools/lib/drive/ModuleHost.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace drive {

class TDrawingArea {
public:
    // Makes the surface of AWidth x AHeight pixels, then loads AModule and takes it as far as an
    // initialized visualization of the same extents; common::EToolError when either fails.
    TDrawingArea(const std::string& AModule, std::int32_t AWidth, std::int32_t AHeight);
    // The same with a module linked into the program, reached through its export (TModuleHost).
    TDrawingArea(TAIMPPluginGetHeaderProc AGetHeader, const std::string& AName, std::int32_t AWidth,
                 std::int32_t AHeight);

    // Draws one frame from AData and returns its pixels: Height rows of Width pixels, top row
    // first, 0x00RRGGBB, valid until the next Draw or Resize.
    const std::uint32_t* Draw(TAIMPVisualData& AData);
    // The surface takes the new extents first, then the visualization hears of them, so that no
    // frame is drawn on a surface of other extents than the module was given. When the new
    // surface cannot be made (common::EToolError), nothing has changed.
    void Resize(std::int32_t AWidth, std::int32_t AHeight);
    // A mouse click at (AX, AY) in the surface's pixels.
    void Click(std::int32_t AX, std::int32_t AY, std::int32_t AButton);

    // The surface's context (borrowed); another one after each Resize.
    HDC Dc() const noexcept { return FSurface->Dc(); }
    std::int32_t Width() const noexcept { return FSurface->Width(); }
    std::int32_t Height() const noexcept { return FSurface->Height(); }
    // The size of Draw's pixels in bytes.
    std::size_t PixelBytes() const noexcept
    {
        return static_cast<std::size_t>(Width()) * static_cast<std::size_t>(Height()) * 4;
    }

private:
    // Declared in this order so that the module is unloaded before the context goes. Never null.
    std::unique_ptr<TDibSurface> FSurface;
    TModuleHost FHost;
};

} // namespace drive
