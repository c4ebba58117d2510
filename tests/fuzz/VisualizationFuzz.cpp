// Drives one visualization through the player's interface with calls, extents and waveform blocks
// taken from the input: any order of Initialize, Resize, Draw, Click, Finalize and the queries,
// blocks holding any float bit pattern (NaN, infinities, denormals, huge values), extents from
// INT_MIN to INT_MAX, contexts of several sizes or none. A crash, a sanitizer report, a leak or a
// broken invariant (checked after every call) is a finding.
#include "host/apiVisuals.h"
#include "plugin/Selvanore_Main.h"
#include "tests/support/GdiRecording.h"
#include "tools/lib/fakeplayer/FakePlayer.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// Reads the input front to back; past its end every read gives zero bytes.
class TInput {
public:
    TInput(const std::uint8_t* AData, std::size_t ASize) noexcept : FData(AData), FSize(ASize) {}

    bool Empty() const noexcept { return FPos >= FSize; }
    std::uint8_t Byte() noexcept { return FPos < FSize ? FData[FPos++] : 0; }
    std::uint32_t Word() noexcept
    {
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i)
            value |= static_cast<std::uint32_t>(Byte()) << (8 * i);
        return value;
    }
    std::int32_t Int() noexcept
    {
        const std::uint32_t bits = Word();
        std::int32_t value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }
    float Float() noexcept
    {
        const std::uint32_t bits = Word();
        float value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }

private:
    const std::uint8_t* FData;
    std::size_t FSize;
    std::size_t FPos = 0;
};

// A finding: report it and stop, so that libFuzzer keeps the input.
[[noreturn]] void Fail(const char* AWhat)
{
    std::fprintf(stderr, "invariant broken: %s\n", AWhat);
    std::abort();
}

void Check(bool ACondition, const char* AWhat)
{
    if (!ACondition)
        Fail(AWhat);
}

// A waveform block: a fill value everywhere, then a run of samples from the input written at a
// stride, wrapping over both channels.
void ReadBlock(TInput& AInput, TAIMPVisualData& ABlock)
{
    std::memset(&ABlock, 0, sizeof ABlock);
    const float fill = AInput.Float();
    float* samples = &ABlock.Waveform[0][0];
    constexpr std::size_t SampleCount = 2 * AIMP_VISUAL_WAVEFORM_SIZE;
    for (std::size_t i = 0; i < SampleCount; ++i)
        samples[i] = fill;
    const std::size_t count = AInput.Byte();
    const std::size_t stride = 1 + AInput.Byte() % 16;
    std::size_t at = AInput.Byte() * 4u;
    for (std::size_t n = 0; n < count; ++n, at += stride)
        samples[at % SampleCount] = AInput.Float();
}

// What holds after every call, whatever came before.
void CheckState(TVisualization& AVis)
{
    if (const TCanvas* canvas = AVis.Canvas()) {
        Check(canvas->Handle() == nullptr, "a frame left the context attached");
        Check(canvas->State().Empty(), "a frame left something selected");
    }
    Check(AVis.FrameTimeOut() >= 0 && AVis.FrameTimeOut() < 5, "TimeOut out of range");
    Check(AVis.NextSlot() >= 0 && AVis.NextSlot() < RingSlotCount, "ArrNumb out of range");
    Check(AVis.CenterX() == AVis.Width() / 2 && AVis.CenterY() == AVis.Height() / 2, "centre is not the half");
    for (const auto& ring : AVis.History()) {
        const float z = ring[0].Z;
        Check(z > -700.0f && z <= 0.0f, "depth out of range");
        for (const TPoint3D& p : ring) {
            Check(p.Z == z, "points of one ring at different depths");
            Check(std::fabs(p.X) <= 49.0f && std::fabs(p.Y) <= 49.0f, "ring point beyond radius 49 or not finite");
        }
    }
}

struct TContexts {
    testing_support::TMemoryContext Small{1, 1};
    testing_support::TMemoryContext Usual{64, 48};
    testing_support::TMemoryContext Odd{301, 7};

    HDC Pick(std::uint8_t AChoice) const noexcept
    {
        switch (AChoice % 4) {
        case 0: return Usual.Dc();
        case 1: return Small.Dc();
        case 2: return Odd.Dc();
        default: return nullptr;
        }
    }
};

enum TOp : std::uint8_t {
    OpInitialize,
    OpResize,
    OpDraw,
    OpDrawWithoutBlock,
    OpClick,
    OpFinalize,
    OpQueries,
    OpCore,
    OpReference,
    OpRasterizing,
    OpFaults,
    OpPlugin,
    OpCount
};

constexpr int MaxDraws = 48; // keeps one input short, so that the fuzzer tries many

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size)
{
    static TContexts* contexts = new TContexts; // for the whole run; made before any count
    const std::size_t liveBefore = StandInLiveObjectCount();
    const std::size_t refusedBefore = StandInRefusedDeleteCount();
    StandInSetRasterizing(TRUE);

    TInput input(Data, Size);
    fakeplayer::TFakeCore core;
    auto block = std::make_unique<TAIMPVisualData>();
    TVisualization* vis = Make<TVisualization>().Detach();
    IAIMPExtensionEmbeddedVisualization* slots = vis->Interface();
    std::vector<IUnknown*> extra;
    int draws = 0;

    while (!input.Empty()) {
        switch (input.Byte() % OpCount) {
        case OpInitialize: {
            const std::int32_t w = input.Int(), h = input.Int();
            Check(slots->Initialize(w, h) == S_OK, "Initialize failed");
            Check(vis->Canvas() != nullptr, "Initialize made no surface");
            break;
        }
        case OpResize: {
            const std::int32_t w = input.Int(), h = input.Int();
            slots->Resize(w, h);
            Check(vis->Width() == w && vis->Height() == h, "Resize lost the extents");
            break;
        }
        case OpDraw: {
            const HDC dc = contexts->Pick(input.Byte());
            ReadBlock(input, *block);
            if (draws++ < MaxDraws)
                slots->Draw(dc, block.get());
            break;
        }
        case OpDrawWithoutBlock: {
            const HDC dc = contexts->Pick(input.Byte());
            if (draws++ < MaxDraws)
                slots->Draw(dc, nullptr);
            break;
        }
        case OpClick: {
            const std::int32_t x = input.Int(), y = input.Int(), button = input.Int();
            slots->Click(x, y, button);
            break;
        }
        case OpFinalize:
            slots->Finalize();
            Check(vis->Canvas() == nullptr, "Finalize kept the surface");
            break;
        case OpQueries: {
            Check(slots->GetFlags() == 1, "flags are not 1");
            std::int32_t w = 5, h = 6;
            Check(slots->GetMaxDisplaySize(&w, &h) == E_FAIL && w == 5 && h == 6, "GetMaxDisplaySize wrote");
            IAIMPString* name = nullptr;
            const HRESULT result = slots->GetName(&name);
            Check(SUCCEEDED(result) == (name != nullptr), "GetName result and string disagree");
            if (name) {
                Check(fakeplayer::TextOf(name) == u"Selvanore", "wrong name");
                name->Release();
            }
            break;
        }
        case OpCore:
            if (input.Byte() % 2)
                TAIMPAPIWrappers::Initialize(&core);
            else
                TAIMPAPIWrappers::Finalize();
            break;
        case OpReference:
            if (input.Byte() % 2 || extra.empty()) {
                void* unknown = nullptr;
                Check(slots->QueryInterface(IID_IUnknown, &unknown) == S_OK, "QueryInterface failed");
                extra.push_back(static_cast<IUnknown*>(unknown));
            } else {
                extra.back()->Release();
                extra.pop_back();
            }
            break;
        case OpRasterizing: StandInSetRasterizing(input.Byte() % 2 ? TRUE : FALSE); break;
        case OpFaults: {
            // The player refuses to make objects, to set a string's text, or makes no object
            // while reporting success; or it behaves again.
            fakeplayer::TFaults& faults = core.Faults();
            const std::uint8_t choice = input.Byte();
            faults.MakeObject = {choice % 4 == 1 ? E_FAIL : S_OK, 0};
            faults.SetChars = {choice % 4 == 2 ? E_OUTOFMEMORY : S_OK, 0};
            faults.MakeObjectHandsNull = choice % 4 == 3;
            faults.AddExtension = {(choice & 0x10) ? E_FAIL : S_OK, 0};
            break;
        }
        case OpPlugin: {
            // A plug-in object's whole life beside the visualization; it holds the core while
            // initialized and registers a visualization of its own with the player.
            IAIMPPlugin* plugin = Make<TVisualPlugin>().Detach()->Interface();
            const std::int32_t index = input.Int();
            const TAIMPChar* info = plugin->GetInfo(index);
            Check(info != nullptr, "GetInfo gave null");
            Check((index == 0 || index == 1) == (info[0] != 0), "GetInfo text for the wrong index");
            Check(plugin->GetCategories() == 4, "category is not 4");
            Check(plugin->Initialize(&core) == S_OK, "plug-in Initialize failed");
            if (input.Byte() % 2)
                plugin->Finalize();
            Check(plugin->Release() == 0, "the plug-in's last Release did not destroy");
            core.ReleaseExtensions();
            break;
        }
        }
        CheckState(*vis);
        Check(vis->RefCount() == static_cast<std::int32_t>(1 + extra.size()), "reference count drifted");
    }

    for (IUnknown* reference : extra)
        reference->Release();
    slots->Finalize();
    Check(slots->Release() == 0, "the last Release did not destroy");
    TAIMPAPIWrappers::Finalize();
    StandInSetRasterizing(TRUE);
    Check(StandInLiveObjectCount() == liveBefore, "GDI objects left behind");
    Check(StandInRefusedDeleteCount() == refusedBefore, "a selected object was deleted");
    Check(core.Ledger().Balanced(), "player references not balanced");
    return 0;
}
