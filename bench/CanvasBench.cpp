// The drawing surface's own cost per dot: a pen and a brush colour change and one Ellipse, as the
// ring renderer makes them, on a memory context of the stand-in, with its rasterizing on or off
// (off, what remains is the surface, the pools and the stand-in's bookkeeping).
#include "graphics/Graphics.h"
#include "graphics/MemoryContext.h"

#include <win32_standin.h>

#include <benchmark/benchmark.h>

namespace {

// Arg 0: rasterizing off or on. Arg 1: colours change every dot (1) or never (0).
void BM_CanvasDot(benchmark::State& State)
{
    const bool rasterizing = State.range(0) != 0;
    const bool changing = State.range(1) != 0;
    StandInSetRasterizing(rasterizing ? TRUE : FALSE);
    gdi::TMemoryContext dc(256, 256);
    if (!dc.Valid()) {
        State.SkipWithError("no memory context");
        return;
    }
    TCanvas canvas;
    canvas.SetHandle(dc.Dc());
    canvas.Pen().SetWidth(1);
    std::uint32_t i = 0;
    for (auto _ : State) {
        const std::uint32_t z = changing ? i % 140 : 0;
        canvas.Pen().SetColor(static_cast<TColor>(0x00400000u | z));
        canvas.Brush().SetColor(static_cast<TColor>(0x00400000u | (z + 50)));
        const auto x = static_cast<std::int32_t>(16 + (i * 37) % 224);
        const auto y = static_cast<std::int32_t>(16 + (i * 91) % 224);
        const std::int32_t r = 1 + static_cast<std::int32_t>(z / 28); // 1 to 5 pixels, as near the viewer
        canvas.Ellipse(x - r, y - r, x + r, y + r);
        ++i;
    }
    canvas.SetHandle(nullptr);
    StandInSetRasterizing(TRUE);
    State.SetItemsProcessed(State.iterations());
}
BENCHMARK(BM_CanvasDot)->ArgNames({"rasterizing", "changing"})->ArgsProduct({{0, 1}, {0, 1}});

// A whole frame of the renderer's shape: background, 31 rings of 64 dots, one outline each.
void BM_CanvasFrame(benchmark::State& State)
{
    StandInSetRasterizing(State.range(0) != 0 ? TRUE : FALSE);
    gdi::TMemoryContext dc(256, 256);
    if (!dc.Valid()) {
        State.SkipWithError("no memory context");
        return;
    }
    TCanvas canvas;
    TPoint ring[64];
    int frame = 0;
    for (auto _ : State) {
        canvas.SetHandle(dc.Dc());
        canvas.Brush().SetColor(0);
        canvas.FillRect(TRect{0, 0, 256, 256});
        canvas.Pen().SetWidth(1);
        for (int s = 0; s < 31; ++s) {
            for (int k = 0; k < 64; ++k) {
                const int z = (frame * 5 + s * 25 + k) % 140;
                ring[k] = TPoint{128 + (k % 8) * 12 - 48 + s, 128 + (k / 8) * 12 - 48 - s};
                canvas.Pen().SetColor(static_cast<TColor>((s * 8) << 16 | z));
                canvas.Brush().SetColor(static_cast<TColor>((s * 8) << 16 | (z + 50)));
                const std::int32_t r = 1 + z / 28;
                canvas.Ellipse(ring[k].X - r, ring[k].Y - r, ring[k].X + r, ring[k].Y + r);
            }
            canvas.Polyline(ring);
        }
        canvas.SetHandle(nullptr);
        ++frame;
    }
    StandInSetRasterizing(TRUE);
    State.SetItemsProcessed(State.iterations() * 31 * 64);
}
BENCHMARK(BM_CanvasFrame)->ArgName("rasterizing")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

} // namespace
