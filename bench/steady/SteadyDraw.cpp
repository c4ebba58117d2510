// selvanore_steady_draw [WIDTHxHEIGHT] [FRAMES] [off]: the cost of one steady frame against its
// floor.
//
// After 155 warm-up frames (every slot holds a ring at its own depth) it draws FRAMES more
// through the player's interface on a stand-in memory context (with the stand-in's rasterizing
// off when asked: the module's own work and the calls alone), then does the floor's work for
// as many frames: one clear of the whole area at memory speed, the frame's bare arithmetic
// (bench/BareFrame.h), and as many pixels as the frame lit, again at memory speed. It prints
// the thread CPU per frame of both. Under callgrind, each side is one function to count:
//
//     valgrind --tool=callgrind --toggle-collect=SelvanoreSteadyDraws selvanore_steady_draw 1920x1080 10
//     valgrind --tool=callgrind --toggle-collect=SelvanoreFloorFrames selvanore_steady_draw 1920x1080 10
//
// and the collected instructions divided by FRAMES are one frame's.
#include "graphics/MemoryContext.h"
#include "plugin/Selvanore_Main.h"
#include "rtl/ComPtr.h"

#include "bench/BareFrame.h"
#include "bench/BenchSupport.h"

#include <win32_standin.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

using bench_support::Seconds;

// Stores at memory speed as a vectorised memset does, 32 bytes an instruction. NOTE: glibc's
// memset stores large blocks with `rep stosb`, which callgrind counts once per byte, so it
// would make the floor's instruction count four times the pixels.
using TVector = std::uint32_t __attribute__((vector_size(32)));
struct __attribute__((packed, may_alias)) TBlock {
    TVector Pixels;
};

void Store(std::uint32_t* APixels, std::size_t ACount, std::uint32_t AValue)
{
    const TVector block = TVector{} + AValue;
    std::size_t i = 0;
    for (; i + 8 <= ACount; i += 8)
        reinterpret_cast<TBlock*>(APixels + i)->Pixels = block;
    for (; i < ACount; ++i)
        APixels[i] = AValue;
}
using bench_support::TClock;

struct TFloorWork {
    std::uint32_t* Frame;
    std::size_t FramePixels;
    std::uint32_t* Lit; // scratch for the lit pixels' stores
    std::size_t LitPixels;
    TPointsArray Points;
    std::int32_t OX, OY;
};

} // namespace

// Kept out of line and unmangled, so that callgrind can collect exactly these calls.
extern "C" __attribute__((noinline)) void SelvanoreSteadyDraws(IAIMPExtensionEmbeddedVisualization* AVis, HDC ADc,
                                                               TAIMPVisualData* AData, int AFrames)
{
    for (int n = 0; n < AFrames; ++n)
        AVis->Draw(ADc, AData);
}

extern "C" __attribute__((noinline)) void SelvanoreFloorFrames(TFloorWork* AWork, int AFrames)
{
    static bench_support::TDots dots;
    for (int n = 0; n < AFrames; ++n) {
        Store(AWork->Frame, AWork->FramePixels, 0);
        bench_support::BareFrame(AWork->Points, AWork->OX, AWork->OY, dots);
        Store(AWork->Lit, AWork->LitPixels, 0x5A5A5A5Au);
        // Keeps the stores: the frame is read once afterwards.
        __asm__ __volatile__("" : : "r"(AWork->Frame), "r"(AWork->Lit), "r"(&dots) : "memory");
    }
}

int main(int AArgc, char** AArgv)
{
    int width = 1920, height = 1080, frames = 300;
    if ((AArgc > 1 && std::sscanf(AArgv[1], "%dx%d", &width, &height) != 2) ||
        (AArgc > 3 && std::strcmp(AArgv[3], "off") != 0)) {
        std::fprintf(stderr, "usage: %s [WIDTHxHEIGHT] [FRAMES] [off]\n", AArgv[0]);
        return 2;
    }
    if (AArgc > 2)
        frames = std::atoi(AArgv[2]);
    const bool rasterizing = AArgc <= 3;
    if (width <= 0 || height <= 0 || frames <= 0) {
        std::fprintf(stderr, "%s: the size and the number of frames must be positive\n", AArgv[0]);
        return 2;
    }

    gdi::TMemoryContext dc(width, height);
    if (!dc.Valid()) {
        std::fprintf(stderr, "%s: no %dx%d memory context\n", AArgv[0], width, height);
        return 1;
    }
    TVisualization* own = Make<TVisualization>().Detach();
    auto vis = rtl::TComPtr<IAIMPExtensionEmbeddedVisualization>::Attach(own->Interface()); // takes the reference
    vis->Initialize(width, height);
    // The waveform of BM_Draw640x480 and BM_Draw1920x1080.
    auto data = bench_support::SineBlock();
    for (int n = 0; n < 155; ++n)
        vis->Draw(dc.Dc(), data.get());

    TFloorWork work{};
    std::memcpy(&work.Points, &own->History(), sizeof work.Points);
    work.OX = own->CenterX();
    work.OY = own->CenterY();

    StandInSetRasterizing(rasterizing ? TRUE : FALSE);
    const auto t0 = TClock::now();
    SelvanoreSteadyDraws(vis.Get(), dc.Dc(), data.get(), frames);
    const auto t1 = TClock::now();
    StandInSetRasterizing(TRUE);

    const std::size_t framePixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    std::size_t lit = 0;
    for (std::size_t i = 0; i < framePixels; ++i)
        lit += dc.Bits()[i] != 0 ? 1 : 0;
    std::vector<std::uint32_t> frame(framePixels), scratch(lit + 1);
    work.Frame = frame.data();
    work.FramePixels = framePixels;
    work.Lit = scratch.data();
    work.LitPixels = lit;
    const auto t2 = TClock::now();
    SelvanoreFloorFrames(&work, frames);
    const auto t3 = TClock::now();
    vis->Finalize();

    const double drawUs = Seconds(t0, t1) * 1e6 / frames;
    const double floorUs = Seconds(t2, t3) * 1e6 / frames;
    std::printf("%dx%d, %d steady frames%s: Draw %.1f us, floor %.1f us of thread CPU per frame (ratio %.2f); "
                "%zu pixels lit\n",
                width, height, frames, rasterizing ? "" : " (rasterizing off)", drawUs, floorUs,
                floorUs > 0 ? drawUs / floorUs : 0.0, lit);
    return 0;
}
