// How the frames reach the window: uploaded into a texture that the renderer draws (the
// accelerated path, which waits for the display's refresh), or copied straight into the window's
// own surface (the light path for a machine without a GPU, where a "GPU" renderer is a software
// rasterizer that would composite every frame once more).
//
// The choice, when the user leaves it to the player: a renderer that SDL reports as software, or
// a GL renderer whose driver is a software rasterizer (Mesa's llvmpipe, softpipe, swrast), or no
// accelerated renderer at all, means the window's surface, with SDL's framebuffer acceleration
// off so that SDL does not put a renderer of its own behind it. A video driver that gives windows
// no surface of their own (SDL's Wayland driver) gets SDL's software renderer instead.
#pragma once

#include "tools/play/Sdl.h"

#include <SDL.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace play {

enum class TPresentationChoice {
    Automatic, // the texture with an accelerated renderer, else the window's surface
    Texture,   // the renderer and its texture, whatever the renderer is
    Surface    // the window's surface
};

// "auto", "texture" or "surface", as --present and SELVANORE_PRESENT spell them; nothing for
// another text.
std::optional<TPresentationChoice> PresentationChoiceOf(std::string_view AText) noexcept;

// Whether a GL driver's GL_RENDERER text names a software rasterizer.
bool IsSoftwareGlRenderer(std::string_view ARenderer) noexcept;

class TPresentation {
public:
    virtual ~TPresentation() = default;

    // The drawing area in pixels: the window's, which the module draws at.
    std::int32_t Width() const noexcept { return FWidth; }
    std::int32_t Height() const noexcept { return FHeight; }
    // What the report calls it: "texture (opengl)", "window surface".
    const std::string& Name() const noexcept { return FName; }
    // Whether showing a frame waits for the display's refresh, so that the loop need not pace
    // itself.
    virtual bool WaitsForRefresh() const noexcept = 0;

    // The window's drawing area changed: takes the new extents and returns true, or false when
    // they are the same or unknown. common::EToolError when the new picture cannot be made; the
    // extents are then unchanged.
    virtual bool TakeNewSize() = 0;
    // Copies a frame of Width() x Height() 0x00RRGGBB pixels for the next Show.
    virtual void Upload(const std::uint32_t* APixels) = 0;
    // Shows the last frame uploaded (again, after an exposure).
    virtual void Show() = 0;

protected:
    std::int32_t FWidth = 0;
    std::int32_t FHeight = 0;
    std::string FName;
};

// The presentation AChoice asks for on AWindow (hidden until then; shown once chosen).
// AVsync: the texture waits for the refresh. common::EToolError "no display: ..." when the window
// cannot be drawn in at all, or has no surface of its own when AChoice asks for one.
std::unique_ptr<TPresentation> OpenPresentation(SDL_Window* AWindow, TPresentationChoice AChoice, bool AVsync);

} // namespace play
