// The stand-in's GDI: time per Ellipse of the renderer's dot sizes, with pixels written and
// with rasterizing off (the cost of the call, the handle lookups and the context's state), and
// per 64-point Polyline of one ring.
#include <win32_standin.h>
#include <windows.h>

#include "graphics/GdiHandle.h"
#include "graphics/MemoryContext.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>

namespace {

// A 640 x 480 memory context with a one-pixel pen and a solid brush selected.
class BenchCanvas {
public:
    HDC Dc() const { return FContext.Dc(); }

private:
    static HPEN MakePen()
    {
        const LOGPEN pen{PS_SOLID, {1, 0}, RGB(200, 30, 90)};
        return CreatePenIndirect(&pen);
    }
    static HBRUSH MakeBrush()
    {
        const LOGBRUSH brush{BS_SOLID, RGB(250, 90, 150), 0};
        return CreateBrushIndirect(&brush);
    }

    // Destroyed bottom up: the pen and brush are deselected and deleted before the context.
    gdi::TMemoryContext FContext{640, 480};
    gdi::TUniquePen FPen{MakePen()};
    gdi::TUniqueBrush FBrush{MakeBrush()};
    gdi::TSelection FPenSelection{FContext.Dc(), FPen.Get()};
    gdi::TSelection FBrushSelection{FContext.Dc(), FBrush.Get()};
};

// Arguments: the radius of the box (x - r, y - r, x + r, y + r), and 1 to write pixels.
void BM_Ellipse(benchmark::State& AState)
{
    const int radius = static_cast<int>(AState.range(0));
    BenchCanvas canvas;
    StandInSetRasterizing(AState.range(1) != 0 ? TRUE : FALSE);
    int x = 7, y = 11;
    for (auto _ : AState) {
        benchmark::DoNotOptimize(Ellipse(canvas.Dc(), x - radius, y - radius, x + radius, y + radius));
        x = x < 630 ? x + 13 : 7;
        y = y < 470 ? y + 7 : 11;
    }
    StandInSetRasterizing(TRUE);
    AState.SetItemsProcessed(AState.iterations());
}
BENCHMARK(BM_Ellipse)->ArgsProduct({{0, 1, 2, 3, 4, 5}, {1, 0}})->ArgNames({"radius", "raster"});

// Argument: the ring's radius in pixels; 3000 puts most of it outside the bitmap, as the
// renderer's nearest rings are.
void BM_Polyline64(benchmark::State& AState)
{
    BenchCanvas canvas;
    POINT ring[64];
    for (int k = 0; k < 64; ++k) {
        const double angle = 2.0 * 3.141592653589793 * k / 64.0;
        ring[k] = POINT{320 + static_cast<LONG>(std::lround(static_cast<double>(AState.range(0)) * std::cos(angle))),
                        240 + static_cast<LONG>(std::lround(static_cast<double>(AState.range(0)) * std::sin(angle)))};
    }
    for (auto _ : AState)
        benchmark::DoNotOptimize(Polyline(canvas.Dc(), ring, 64));
    AState.SetItemsProcessed(AState.iterations());
}
BENCHMARK(BM_Polyline64)->Arg(25)->Arg(200)->Arg(3000);

} // namespace
