// Where frames are drawn. The native renderer loads the module into this process and draws on
// a device context of the Win32 stand-in; another renderer may draw elsewhere (the real DLL
// under Wine) and hand the pixels back the same way.
#pragma once

#include "host/apiVisuals.h"

#include <cstdint>
#include <memory>
#include <string>

namespace drive {

class TTraceWriter;

class TFrameRenderer {
public:
    virtual ~TFrameRenderer() = default;

    // Draws frame AFrame from AData and returns its pixels: Height rows of Width pixels, top
    // row first, each 0x00RRGGBB. Valid until the next call.
    virtual const std::uint32_t* Render(std::int64_t AFrame, TAIMPVisualData& AData) = 0;

    // The player's drawing area is now AWidth x AHeight pixels (each at least 1): the surface
    // takes the new extents first, then the visualization hears of them through its Resize, so
    // that no frame is ever drawn on a surface of other extents than the module was given.
    // Render's pixels have the new extents from then on.
    virtual void Resize(std::int32_t AWidth, std::int32_t AHeight) = 0;
    // A mouse click at (AX, AY) in the surface's pixels, passed on to the visualization's Click.
    virtual void Click(std::int32_t AX, std::int32_t AY, std::int32_t AButton) = 0;
};

// What the native renderer needs: the module to load, the surface's extents, and where the
// trace of the module's calls on that surface goes.
struct TNativeRendererSetup {
    std::string Module;
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    std::string TracePath; // empty: no trace
};

class TNativeRenderer;
std::unique_ptr<TNativeRenderer> MakeNativeRenderer(const TNativeRendererSetup& ASetup);

} // namespace drive
