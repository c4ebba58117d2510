#include "graphics/ACL.Graphics.h"

#include <benchmark/benchmark.h>

namespace {

// Time per conversion over the inputs the renderer uses: every hue, saturation 255, every lightness.
void BM_HSLToColor(benchmark::State& State)
{
    std::uint32_t h = 0, l = 0;
    for (auto _ : State) {
        benchmark::DoNotOptimize(
            TACLColors::HSLToColor(static_cast<std::uint8_t>(h), 255, static_cast<std::uint8_t>(l)));
        h = (h + 8) & 0xFF;
        l = (l + 37) & 0xFF;
    }
    State.SetItemsProcessed(State.iterations());
}
BENCHMARK(BM_HSLToColor);

} // namespace
