// Time per Draw: capture (every fifth frame) and rendering of the whole history, through the
// interface the player calls, on a stand-in memory context.
#include "graphics/MemoryContext.h"
#include "plugin/Selvanore_Main.h"
#include "rtl/ComPtr.h"

#include "bench/BenchSupport.h"

#include <benchmark/benchmark.h>
#include <win32_standin.h>

#include <memory>

namespace {

void DrawFrames(benchmark::State& State, int AWidth, int AHeight, BOOL ARasterizing)
{
    StandInSetRasterizing(ARasterizing);
    gdi::TMemoryContext dc(AWidth, AHeight);
    auto vis = rtl::TComPtr<IAIMPExtensionEmbeddedVisualization>::Attach(Make<TVisualization>().Detach()->Interface());
    vis->Initialize(AWidth, AHeight);
    auto data = bench_support::SineBlock();
    // Fill the history first, so that every slot holds a ring at its own depth.
    for (int n = 0; n < 155; ++n)
        vis->Draw(dc.Dc(), data.get());
    for (auto _ : State)
        vis->Draw(dc.Dc(), data.get());
    vis->Finalize();
    StandInSetRasterizing(TRUE);
    State.SetItemsProcessed(State.iterations());
}

void BM_DrawRasterizingOff(benchmark::State& State)
{
    DrawFrames(State, 640, 480, FALSE);
}
BENCHMARK(BM_DrawRasterizingOff);

void BM_Draw640x480(benchmark::State& State)
{
    DrawFrames(State, 640, 480, TRUE);
}
BENCHMARK(BM_Draw640x480);

void BM_Draw1920x1080(benchmark::State& State)
{
    DrawFrames(State, 1920, 1080, TRUE);
}
BENCHMARK(BM_Draw1920x1080);

} // namespace
