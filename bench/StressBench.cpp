// Side-by-side comparisons, each reported as a ratio measured within one run, the two sides
// interleaved in every iteration so that a change of machine load hits both alike:
//  - HSLToColor against a straightforward floating-point HSL conversion, over the frame's inputs;
//  - one frame's own work (Draw through the player's interface, the stand-in's rasterizing off)
//    against the least work such a frame needs: a bare loop that steps the same 1984 depths and
//    computes the same projections, dot radii and colours into an array.
#include "graphics/ACL.Graphics.h"
#include "plugin/Selvanore_Main.h"
#include "tests/support/GdiRecording.h"

#include "bench/BareFrame.h"
#include "bench/BenchSupport.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>

namespace {

using bench_support::BareFrame;
using bench_support::Seconds;
using bench_support::TClock;
using bench_support::TDots;

// Both sides' average time per iteration and the ratio of the first to the second.
void ReportRatio(benchmark::State& AState, const char* AFirst, double AFirstSeconds, const char* ASecond,
                 double ASecondSeconds)
{
    const double iterations = static_cast<double>(AState.iterations());
    AState.counters[AFirst] = benchmark::Counter(AFirstSeconds * 1e6 / iterations);
    AState.counters[ASecond] = benchmark::Counter(ASecondSeconds * 1e6 / iterations);
    AState.counters["ratio"] = benchmark::Counter(ASecondSeconds > 0 ? AFirstSeconds / ASecondSeconds : 0.0);
}

// --- Colour conversion ---

// The textbook conversion in double precision: hue, saturation and lightness as fractions of
// 255, the two levels q and p, and each channel read a third of the circle apart.
double HueToFraction(double P, double Q, double T)
{
    if (T < 0.0)
        T += 1.0;
    if (T > 1.0)
        T -= 1.0;
    if (T < 1.0 / 6.0)
        return P + (Q - P) * 6.0 * T;
    if (T < 0.5)
        return Q;
    if (T < 2.0 / 3.0)
        return P + (Q - P) * (2.0 / 3.0 - T) * 6.0;
    return P;
}

std::uint32_t FloatHSLToColor(std::uint8_t H, std::uint8_t S, std::uint8_t L)
{
    const double h = H / 255.0, s = S / 255.0, l = L / 255.0;
    const double q = l < 0.5 ? l * (1.0 + s) : l + s - l * s;
    const double p = 2.0 * l - q;
    const auto channel = [](double AValue) {
        return static_cast<std::uint32_t>(std::lround(std::fmin(1.0, std::fmax(0.0, AValue)) * 255.0));
    };
    const std::uint32_t r = channel(HueToFraction(p, q, h + 1.0 / 3.0));
    const std::uint32_t g = channel(HueToFraction(p, q, h));
    const std::uint32_t b = channel(HueToFraction(p, q, h - 1.0 / 3.0));
    return r | (g << 8) | (b << 16);
}

// The 3968 conversions of one frame: per slot hue 8 * s, per dot a pen lightness and the brush's
// 50 above it, over the depths that slots pass through.
struct TColourInputs {
    std::uint8_t Hue[3968];
    std::uint8_t Lightness[3968];

    TColourInputs()
    {
        int n = 0;
        for (int s = 0; s < RingSlotCount; ++s)
            for (int k = 0; k < RingPointCount; ++k) {
                const auto pen = static_cast<std::uint8_t>((s * 23 + k) % 120);
                Hue[n] = Hue[n + 1] = static_cast<std::uint8_t>(8 * s);
                Lightness[n] = pen;
                Lightness[n + 1] = static_cast<std::uint8_t>(pen + 50);
                n += 2;
            }
    }
};

void BM_HSLToColorVersusFloatingPoint(benchmark::State& State)
{
    static const TColourInputs inputs;
    double own = 0.0, textbook = 0.0;
    for (auto _ : State) {
        std::uint32_t sum = 0;
        const auto t0 = TClock::now();
        for (int n = 0; n < 3968; ++n)
            sum += TACLColors::HSLToColor(inputs.Hue[n], 255, inputs.Lightness[n]);
        benchmark::DoNotOptimize(sum);
        const auto t1 = TClock::now();
        for (int n = 0; n < 3968; ++n)
            sum += FloatHSLToColor(inputs.Hue[n], 255, inputs.Lightness[n]);
        benchmark::DoNotOptimize(sum);
        const auto t2 = TClock::now();
        own += Seconds(t0, t1);
        textbook += Seconds(t1, t2);
    }
    ReportRatio(State, "HSLToColor_us", own, "float_us", textbook);
    State.SetItemsProcessed(State.iterations() * 3968);
}
BENCHMARK(BM_HSLToColorVersusFloatingPoint);

// --- One frame's own work ---

void BM_FrameVersusBareLoop(benchmark::State& State)
{
    StandInSetRasterizing(FALSE);
    TVisualization* vis = Make<TVisualization>().Detach();
    IAIMPExtensionEmbeddedVisualization* slots = vis->Interface();
    slots->Initialize(640, 480);
    testing_support::TMemoryContext dc(640, 480);
    auto block = bench_support::NoiseBlock(5);
    for (int frame = 0; frame < 160; ++frame) // every slot captured, every depth in use
        slots->Draw(dc.Dc(), block.get());

    TPointsArray points;
    std::memcpy(&points, &vis->History(), sizeof points);
    static TDots dots;
    double own = 0.0, bare = 0.0;
    for (auto _ : State) {
        const auto t0 = TClock::now();
        slots->Draw(dc.Dc(), block.get());
        const auto t1 = TClock::now();
        BareFrame(points, 320, 240, dots);
        benchmark::DoNotOptimize(dots);
        const auto t2 = TClock::now();
        own += Seconds(t0, t1);
        bare += Seconds(t1, t2);
    }
    ReportRatio(State, "Draw_us", own, "bare_us", bare);

    slots->Finalize();
    slots->Release();
    StandInSetRasterizing(TRUE);
}
BENCHMARK(BM_FrameVersusBareLoop)->Unit(benchmark::kMicrosecond);

} // namespace
