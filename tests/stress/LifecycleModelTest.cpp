// Seeded random sequences of the player's calls on one visualization, checked after every step
// against a small model of what the calls must have done: surface present, capture rhythm, next
// slot, the depth of every slot, extents and centre, references, GDI objects and player strings.
//
// Quick by default; SELVANORE_STRESS_LONG=1 in the environment runs many more and longer
// sequences.
#include "tests/support/StressSupport.h"
#include "tests/support/GdiRecording.h"
#include "tests/support/LeakCheck.h"
#include "tools/lib/fakeplayer/FakePlayer.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using testing_support::TCountedVisualization;
using testing_support::TWaveKind;

bool LongMode()
{
    const char* value = std::getenv("SELVANORE_STRESS_LONG");
    return value && *value && std::string(value) != "0";
}

// What the calls so far must have left behind.
struct TModel {
    bool Surface = false;
    bool CoreHeld = false;
    std::int32_t Width = 0, Height = 0, CenterX = 0, CenterY = 0;
    std::int32_t TimeOut = 0;
    std::int32_t ArrNumb = 0;
    float Depth[RingSlotCount] = {};
    std::int32_t References = 1; // the test's own

    void Resize(std::int32_t AWidth, std::int32_t AHeight)
    {
        Width = AWidth;
        Height = AHeight;
        CenterX = AWidth / 2;
        CenterY = AHeight / 2;
    }

    // A Draw: without a surface it does nothing at all; a due capture needs a block; a null
    // context fails the frame at its first fill, before any depth has moved.
    void Draw(bool AContext, bool ABlock)
    {
        if (!Surface)
            return;
        if (TimeOut == 0 && ABlock) {
            Depth[ArrNumb] = 0.0f;
            ArrNumb = (ArrNumb + 1) % RingSlotCount;
        }
        TimeOut = (TimeOut + 1) % 5;
        if (!AContext)
            return;
        for (float& z : Depth) {
            z = static_cast<float>(static_cast<double>(z) - 5.0);
            if (z <= -700.0f)
                z = 0.0f;
        }
    }
};

constexpr std::int32_t Extents[] = {0,   1,    -1,    2,       63,      64,          101,        -101,
                                    640, 1920, -4096, INT_MAX, INT_MIN, INT_MAX - 1, INT_MIN + 1};

enum class TStep {
    Initialize,
    Finalize,
    Resize,
    Draw,
    DrawHostileBlock,
    DrawWithoutContext,
    DrawWithoutBlock,
    Click,
    Queries,
    GetName,
    HoldCore,
    DropCore,
    TakeReference,
    DropReference,
};
constexpr int StepKinds = 14;

class LifecycleModel : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(LifecycleModel, EveryStepKeepsTheModelsState)
{
    const std::uint32_t seed = GetParam();
    const int steps = LongMode() ? 4000 : 300;
    std::mt19937 random(seed);
    fakeplayer::TFakeCore core;
    testing_support::Watch(core);
    testing_support::TMemoryContext dc(64, 48);
    const std::size_t liveBefore = StandInLiveObjectCount();

    std::atomic<int> destroyed{0};
    auto* vis = Make<TCountedVisualization>(&destroyed).Detach();
    IAIMPExtensionEmbeddedVisualization* slots = vis->Interface();
    TModel model;
    std::vector<IUnknown*> extra; // references taken by TakeReference

    auto extent = [&] { return Extents[random() % std::size(Extents)]; };
    for (int n = 0; n < steps; ++n) {
        const auto step = static_cast<TStep>(random() % StepKinds);
        SCOPED_TRACE("seed " + std::to_string(seed) + ", step " + std::to_string(n) + ", kind " +
                     std::to_string(static_cast<int>(step)));
        switch (step) {
        case TStep::Initialize: {
            const std::int32_t w = extent(), h = extent();
            ASSERT_EQ(slots->Initialize(w, h), S_OK);
            model.Surface = true;
            model.Resize(w, h);
            model.ArrNumb = 0;
            break;
        }
        case TStep::Finalize:
            slots->Finalize();
            model.Surface = false;
            break;
        case TStep::Resize: {
            const std::int32_t w = extent(), h = extent();
            slots->Resize(w, h);
            model.Resize(w, h);
            break;
        }
        case TStep::Draw:
        case TStep::DrawHostileBlock: {
            auto block = testing_support::MakeBlock(
                step == TStep::Draw ? static_cast<TWaveKind>(random() % 3) : TWaveKind::Hostile, random);
            slots->Draw(dc.Dc(), block.get());
            model.Draw(true, true);
            break;
        }
        case TStep::DrawWithoutContext: {
            auto block = testing_support::MakeBlock(TWaveKind::Quiet, random);
            slots->Draw(nullptr, block.get());
            model.Draw(false, true);
            break;
        }
        case TStep::DrawWithoutBlock:
            slots->Draw(dc.Dc(), nullptr);
            model.Draw(true, false);
            break;
        case TStep::Click: slots->Click(extent(), extent(), static_cast<std::int32_t>(random())); break;
        case TStep::Queries: {
            EXPECT_EQ(slots->GetFlags(), 1);
            std::int32_t w = 77, h = -77;
            EXPECT_EQ(slots->GetMaxDisplaySize(&w, &h), E_FAIL);
            EXPECT_EQ(w, 77);
            EXPECT_EQ(h, -77);
            break;
        }
        case TStep::GetName: {
            IAIMPString* name = reinterpret_cast<IAIMPString*>(0x1);
            const HRESULT result = slots->GetName(&name);
            if (model.CoreHeld) {
                ASSERT_EQ(result, S_OK);
                ASSERT_NE(name, nullptr);
                EXPECT_EQ(fakeplayer::TextOf(name), u"Selvanore");
                name->Release();
            } else {
                EXPECT_EQ(result, E_UNEXPECTED);
                EXPECT_EQ(name, nullptr);
            }
            break;
        }
        case TStep::HoldCore:
            TAIMPAPIWrappers::Initialize(&core);
            model.CoreHeld = true;
            break;
        case TStep::DropCore:
            TAIMPAPIWrappers::Finalize();
            model.CoreHeld = false;
            break;
        case TStep::TakeReference: {
            void* unknown = nullptr;
            ASSERT_EQ(slots->QueryInterface(IID_IUnknown, &unknown), S_OK);
            extra.push_back(static_cast<IUnknown*>(unknown));
            ++model.References;
            break;
        }
        case TStep::DropReference:
            if (!extra.empty()) {
                EXPECT_EQ(extra.back()->Release(), static_cast<ULONG>(model.References - 1));
                extra.pop_back();
                --model.References;
            }
            break;
        }

        // The invariants, after every step.
        ASSERT_EQ(vis->Canvas() != nullptr, model.Surface);
        if (model.Surface) {
            ASSERT_EQ(vis->Canvas()->Handle(), nullptr) << "a frame left the context attached";
            ASSERT_TRUE(vis->Canvas()->State().Empty());
            // The last frame's pen and brush survive in their entries, nothing more.
            ASSERT_LE(StandInLiveObjectCount(), liveBefore + 2);
        } else {
            ASSERT_EQ(StandInLiveObjectCount(), liveBefore) << "a released surface left GDI objects";
        }
        ASSERT_EQ(vis->FrameTimeOut(), model.TimeOut);
        ASSERT_EQ(vis->NextSlot(), model.ArrNumb);
        ASSERT_EQ(vis->Width(), model.Width);
        ASSERT_EQ(vis->Height(), model.Height);
        ASSERT_EQ(vis->CenterX(), model.CenterX);
        ASSERT_EQ(vis->CenterY(), model.CenterY);
        ASSERT_EQ(vis->RefCount(), model.References);
        for (int s = 0; s < RingSlotCount; ++s) {
            ASSERT_GT(model.Depth[s], -700.0f);
            ASSERT_LE(model.Depth[s], 0.0f);
            for (const TPoint3D& p : vis->History()[s]) {
                ASSERT_EQ(p.Z, model.Depth[s]) << "slot " << s;
                // Rings are finite, within the radius of the loudest unscaled sample.
                ASSERT_LE(std::fabs(p.X), 49.0f) << "slot " << s;
                ASSERT_LE(std::fabs(p.Y), 49.0f) << "slot " << s;
            }
        }
        ASSERT_EQ(core.Ledger()[fakeplayer::TObjectKind::String].Outstanding(), 0);
    }

    for (IUnknown* reference : extra)
        reference->Release();
    slots->Finalize();
    TAIMPAPIWrappers::Finalize();
    EXPECT_EQ(destroyed.load(), 0);
    EXPECT_EQ(slots->Release(), 0u);
    EXPECT_EQ(destroyed.load(), 1);
}

std::vector<std::uint32_t> Seeds()
{
    std::vector<std::uint32_t> seeds;
    const std::uint32_t count = LongMode() ? 400 : 16;
    for (std::uint32_t seed = 1; seed <= count; ++seed)
        seeds.push_back(seed * 2654435761u);
    return seeds;
}

INSTANTIATE_TEST_SUITE_P(Seeded, LifecycleModel, ::testing::ValuesIn(Seeds()));

} // namespace
