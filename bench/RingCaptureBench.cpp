#include "plugin/Rings.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>

namespace {

void BM_CaptureRing(benchmark::State& State)
{
    auto data = std::make_unique<TAIMPVisualData>();
    for (int i = 0; i < AIMP_VISUAL_WAVEFORM_SIZE; ++i) {
        data->Waveform[0][i] = static_cast<float>(std::sin(i * 0.05) * 1.4);
        data->Waveform[1][i] = static_cast<float>(std::sin(i * 0.031) * 1.3);
    }
    static TPointsArray history{};
    std::int32_t arrNumb = 0;
    for (auto _ : State) {
        CaptureRing(history, arrNumb, *data);
        benchmark::ClobberMemory();
    }
    State.SetItemsProcessed(State.iterations());
}
BENCHMARK(BM_CaptureRing);

} // namespace
