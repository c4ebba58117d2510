// The page's player: one drawing area of the drive library, with the module linked in and reached
// through its export, driven from JavaScript one call at a time. JavaScript fills the block of
// samples, calls SelvanoreDraw on each animation frame and puts the returned pixels on the canvas.
//
// Every function here is called by the page's script, so none lets a C++ exception out: a failure
// is kept as a message (SelvanoreError) and reported by the return value.
#include "host/apiPlugin.h"
#include "host/apiVisuals.h"
#include "tools/lib/drive/DrawingArea.h"
#include "tools/lib/drive/VisualData.h"

#include <emscripten/emscripten.h>
#include <malloc.h>

#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <vector>

extern "C" HRESULT WINAPI AIMPPluginGetHeader(IAIMPPlugin** Header) noexcept;

namespace {

// The calls the page made on the visualization, for the page's tests: how many of each and the
// arguments of the last.
struct TCallRecord {
    std::uint32_t Draws = 0;
    std::uint32_t Resizes = 0;
    std::uint32_t Clicks = 0;
    std::int32_t ResizeWidth = 0;
    std::int32_t ResizeHeight = 0;
    std::int32_t ClickX = 0;
    std::int32_t ClickY = 0;
    std::int32_t ClickButton = 0;
};

struct TPlayer {
    std::unique_ptr<drive::TDrawingArea> Area;
    // The frame's samples as the page writes them: 512 of the left channel, then 512 of the right.
    float Block[2 * AIMP_VISUAL_WAVEFORM_SIZE] = {};
    // Zeroed once; each frame rewrites only its waveform and peaks, as a player does.
    TAIMPVisualData Data = {};
    // The last frame's pixels as the canvas takes them: R, G, B, A bytes, rows top to bottom.
    std::vector<std::uint32_t> Rgba;
    std::string Error;
    TCallRecord Calls;
};

TPlayer& Player()
{
    static TPlayer player;
    return player;
}

// Keeps the message of the exception being handled for SelvanoreError.
void KeepError() noexcept
{
    try {
        throw;
    } catch (const std::exception& error) {
        Player().Error = error.what();
    } catch (...) {
        Player().Error = "unknown error";
    }
}

std::size_t PixelCount(const drive::TDrawingArea& AArea)
{
    return static_cast<std::size_t>(AArea.Width()) * static_cast<std::size_t>(AArea.Height());
}

} // namespace

extern "C" {

// Loads nothing (the module is linked in): takes the plug-in through the player's sequence to an
// initialized visualization of AWidth x AHeight pixels. Any earlier one is finalized first.
// Returns 1, or 0 with the reason in SelvanoreError.
EMSCRIPTEN_KEEPALIVE int SelvanoreStart(std::int32_t AWidth, std::int32_t AHeight) noexcept
{
    TPlayer& player = Player();
    try {
        player.Area.reset();
        player.Calls = {};
        player.Area = std::make_unique<drive::TDrawingArea>(&AIMPPluginGetHeader, "Selvanore", AWidth, AHeight);
        player.Rgba.assign(PixelCount(*player.Area), 0xFF000000u);
        return 1;
    } catch (...) {
        player.Area.reset();
        KeepError();
        return 0;
    }
}

// Finalizes the visualization and the plug-in in the player's order and drops every reference.
EMSCRIPTEN_KEEPALIVE void SelvanoreStop() noexcept
{
    Player().Area.reset();
    std::vector<std::uint32_t>().swap(Player().Rgba);
}

// The frame's block of samples (borrowed, 2 x 512 floats), for the page to fill before Draw.
EMSCRIPTEN_KEEPALIVE float* SelvanoreBlock() noexcept
{
    return Player().Block;
}

// Draws one frame from the block and returns its pixels (borrowed, Width x Height x 4 bytes, valid
// until the next call), or null with the reason in SelvanoreError.
EMSCRIPTEN_KEEPALIVE const std::uint32_t* SelvanoreDraw() noexcept
{
    TPlayer& player = Player();
    if (!player.Area) {
        player.Error = "the visualization is not started";
        return nullptr;
    }
    try {
        drive::FillVisualData(player.Data, player.Block, player.Block + AIMP_VISUAL_WAVEFORM_SIZE);
        ++player.Calls.Draws;
        const std::uint32_t* pixels = player.Area->Draw(player.Data);
        // 0x00RRGGBB words to R, G, B, 255 bytes, in place of the canvas's own conversion, which
        // does not exist: this loop is the one pass between Draw and the canvas.
        std::uint32_t* rgba = player.Rgba.data();
        const std::size_t count = player.Rgba.size();
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint32_t pixel = pixels[i];
            rgba[i] = 0xFF000000u | ((pixel & 0xFFu) << 16) | (pixel & 0xFF00u) | ((pixel >> 16) & 0xFFu);
        }
        return rgba;
    } catch (...) {
        KeepError();
        return nullptr;
    }
}

// For the figures: draws AFrames frames from the block in a row, each converted for the canvas
// when AConverted is 1, and returns the milliseconds they took, measured here so that no call
// from JavaScript is counted; -1 with the reason when drawing fails.
EMSCRIPTEN_KEEPALIVE double SelvanoreTimeFrames(std::int32_t AFrames, std::int32_t AConverted) noexcept
{
    TPlayer& player = Player();
    if (!player.Area) {
        player.Error = "the visualization is not started";
        return -1;
    }
    try {
        const double start = emscripten_get_now();
        for (std::int32_t n = 0; n < AFrames; ++n) {
            if (AConverted) {
                if (!SelvanoreDraw())
                    return -1;
            } else {
                drive::FillVisualData(player.Data, player.Block, player.Block + AIMP_VISUAL_WAVEFORM_SIZE);
                ++player.Calls.Draws;
                (void)player.Area->Draw(player.Data);
            }
        }
        return emscripten_get_now() - start;
    } catch (...) {
        KeepError();
        return -1;
    }
}

// The drawing area changed: the surface takes the new extents, then the module hears of them.
// Returns 1, or 0 with the reason (the old extents stay).
EMSCRIPTEN_KEEPALIVE int SelvanoreResize(std::int32_t AWidth, std::int32_t AHeight) noexcept
{
    TPlayer& player = Player();
    if (!player.Area) {
        player.Error = "the visualization is not started";
        return 0;
    }
    try {
        std::vector<std::uint32_t> rgba(static_cast<std::size_t>(AWidth > 0 ? AWidth : 0) *
                                            static_cast<std::size_t>(AHeight > 0 ? AHeight : 0),
                                        0xFF000000u);
        player.Area->Resize(AWidth, AHeight);
        player.Rgba.swap(rgba);
        ++player.Calls.Resizes;
        player.Calls.ResizeWidth = AWidth;
        player.Calls.ResizeHeight = AHeight;
        return 1;
    } catch (...) {
        KeepError();
        return 0;
    }
}

// A click at (AX, AY) in the area's pixels; AButton 0 left, 1 right, 2 middle.
EMSCRIPTEN_KEEPALIVE int SelvanoreClick(std::int32_t AX, std::int32_t AY, std::int32_t AButton) noexcept
{
    TPlayer& player = Player();
    if (!player.Area) {
        player.Error = "the visualization is not started";
        return 0;
    }
    try {
        player.Area->Click(AX, AY, AButton);
        ++player.Calls.Clicks;
        player.Calls.ClickX = AX;
        player.Calls.ClickY = AY;
        player.Calls.ClickButton = AButton;
        return 1;
    } catch (...) {
        KeepError();
        return 0;
    }
}

EMSCRIPTEN_KEEPALIVE std::int32_t SelvanoreWidth() noexcept
{
    return Player().Area ? Player().Area->Width() : 0;
}

EMSCRIPTEN_KEEPALIVE std::int32_t SelvanoreHeight() noexcept
{
    return Player().Area ? Player().Area->Height() : 0;
}

// The reason of the last failure, UTF-8 (borrowed, until the next failure).
EMSCRIPTEN_KEEPALIVE const char* SelvanoreError() noexcept
{
    return Player().Error.c_str();
}

// The record of calls (borrowed): Draws, Resizes, Clicks, then the last resize's width and
// height and the last click's x, y and button, eight 32-bit values.
EMSCRIPTEN_KEEPALIVE const TCallRecord* SelvanoreCalls() noexcept
{
    return &Player().Calls;
}

// Bytes of the heap in use, for the page's test that steady frames allocate nothing for good.
EMSCRIPTEN_KEEPALIVE std::uint32_t SelvanoreHeapInUse() noexcept
{
    return static_cast<std::uint32_t>(mallinfo().uordblks);
}

} // extern "C"
