// References taken and dropped on many threads at once, and two visualizations drawing on two
// threads at the same time. Meaningful on its own (exact counts, one destruction, equal frames)
// and, in the thread-sanitizer build, free of race reports.
#include "tests/support/StressSupport.h"
#include "graphics/ResourceManager.h"
#include "tests/support/GdiRecording.h"

#include <gtest/gtest.h>

#include <barrier>
#include <cstdint>
#include <latch>
#include <ostream>
#include <thread>
#include <vector>

namespace {

using testing_support::TCountedPlugin;
using testing_support::TCountedVisualization;

constexpr int ThreadCount = 8;
constexpr int PairsPerThread = 20000;

// One counted object as the player sees it through one of its interfaces.
struct TTarget {
    IUnknown* Interface;             // borrowed: whatever interface the case hands out
    std::int32_t (*RefCount)(void*); // the object's own count
    void* Object;
};

enum class TTargetKind { PluginSlots, PluginUnknown, VisualizationSlots, VisualizationUnknown };

struct TReferenceCase {
    const char* Name;
    TTargetKind Kind;
};

// Names the case in test listings.
void PrintTo(const TReferenceCase& ACase, std::ostream* AStream)
{
    *AStream << ACase.Name;
}

class ReferencesFromThreads : public ::testing::TestWithParam<TReferenceCase> {
protected:
    // Makes the object with the owner's one reference, through the case's interface.
    TTarget MakeTarget()
    {
        TTarget target{};
        switch (GetParam().Kind) {
        case TTargetKind::PluginSlots:
        case TTargetKind::PluginUnknown: {
            // The owner's reference goes to the target, or back at the end of this block.
            auto plugin = Make<TCountedPlugin>(&Destroyed);
            target.Object = plugin.Get();
            target.RefCount = [](void* AObject) { return static_cast<TCountedPlugin*>(AObject)->RefCount(); };
            if (GetParam().Kind == TTargetKind::PluginSlots) {
                target.Interface = plugin.Detach()->Interface();
            } else {
                void* unknown = nullptr;
                EXPECT_EQ(plugin->Interface()->QueryInterface(IID_IUnknown, &unknown), S_OK);
                target.Interface = static_cast<IUnknown*>(unknown);
            }
            break;
        }
        case TTargetKind::VisualizationSlots:
        case TTargetKind::VisualizationUnknown: {
            auto vis = Make<TCountedVisualization>(&Destroyed);
            target.Object = vis.Get();
            target.RefCount = [](void* AObject) { return static_cast<TCountedVisualization*>(AObject)->RefCount(); };
            if (GetParam().Kind == TTargetKind::VisualizationSlots) {
                target.Interface = vis.Detach()->Interface();
            } else {
                void* unknown = nullptr;
                EXPECT_EQ(vis->Interface()->QueryInterface(IID_IUnknown, &unknown), S_OK);
                target.Interface = static_cast<IUnknown*>(unknown);
            }
            break;
        }
        }
        return target;
    }

    std::atomic<int> Destroyed{0};
};

TEST_P(ReferencesFromThreads, PairsAndBatchesEndAtTheExactCount)
{
    TTarget target = MakeTarget();
    ASSERT_EQ(target.RefCount(target.Object), 1);

    std::latch start(ThreadCount);
    std::atomic<int> badCounts{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < ThreadCount; ++t)
        threads.emplace_back([&, t] {
            start.arrive_and_wait();
            IUnknown* held[16];
            for (int n = 0; n < PairsPerThread; ++n) {
                // Every count an AddRef returns includes the owner's reference and this one.
                if (target.Interface->AddRef() < 2)
                    badCounts.fetch_add(1);
                if (target.Interface->Release() < 1)
                    badCounts.fetch_add(1);
                if (n % 1000 == t) {
                    // A batch of references through QueryInterface, held for a while.
                    for (IUnknown*& reference : held) {
                        void* unknown = nullptr;
                        if (target.Interface->QueryInterface(IID_IUnknown, &unknown) != S_OK)
                            badCounts.fetch_add(1);
                        reference = static_cast<IUnknown*>(unknown);
                    }
                    std::this_thread::yield();
                    for (IUnknown* reference : held)
                        reference->Release();
                }
            }
        });
    for (std::thread& thread : threads)
        thread.join();

    EXPECT_EQ(badCounts.load(), 0);
    EXPECT_EQ(target.RefCount(target.Object), 1);
    EXPECT_EQ(Destroyed.load(), 0);
    EXPECT_EQ(target.Interface->Release(), 0u);
    EXPECT_EQ(Destroyed.load(), 1);
}

// The last references come back on all threads at once: exactly one Release sees 0 and the
// object is destroyed once.
TEST_P(ReferencesFromThreads, LastReferencesDroppedTogetherDestroyOnce)
{
    for (int round = 0; round < 100; ++round) {
        Destroyed.store(0);
        TTarget target = MakeTarget();
        for (int t = 1; t < ThreadCount; ++t)
            target.Interface->AddRef();
        ASSERT_EQ(target.RefCount(target.Object), ThreadCount);

        std::latch start(ThreadCount);
        std::atomic<int> zeros{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < ThreadCount; ++t)
            threads.emplace_back([&] {
                start.arrive_and_wait();
                if (target.Interface->Release() == 0)
                    zeros.fetch_add(1);
            });
        for (std::thread& thread : threads)
            thread.join();
        ASSERT_EQ(zeros.load(), 1) << "round " << round;
        ASSERT_EQ(Destroyed.load(), 1) << "round " << round;
    }
}

INSTANTIATE_TEST_SUITE_P(Objects, ReferencesFromThreads,
                         ::testing::Values(TReferenceCase{"PluginSlots", TTargetKind::PluginSlots},
                                           TReferenceCase{"PluginUnknown", TTargetKind::PluginUnknown},
                                           TReferenceCase{"VisualizationSlots", TTargetKind::VisualizationSlots},
                                           TReferenceCase{"VisualizationUnknown", TTargetKind::VisualizationUnknown}),
                         [](const auto& AInfo) { return std::string(AInfo.param.Name); });

// --- Two surfaces on two threads ---

constexpr int AreaWidth = 96;
constexpr int AreaHeight = 72;
constexpr int FrameCount = 64; // thirteen captures, every colour change of a frame

// What one drawing thread saw: its final frame and the pool entries its surface used.
struct TThreadResult {
    std::vector<std::uint32_t> Pixels;
    const void* PenEntry = nullptr;
    const void* BrushEntry = nullptr;
    DWORD PenOwner = 0;
    DWORD BrushOwner = 0;
    DWORD Thread = 0;
};

std::vector<std::uint32_t> PixelsOf(const testing_support::TMemoryContext& ADc)
{
    std::vector<std::uint32_t> pixels;
    for (int y = 0; y < ADc.Height(); ++y)
        for (int x = 0; x < ADc.Width(); ++x)
            pixels.push_back(ADc.Pixel(x, y));
    return pixels;
}

// Draws FrameCount frames of a seeded stream of blocks on a visualization of its own. Between
// the two barriers both surfaces are alive, with the colours of the same last frame.
void DrawOnThisThread(TThreadResult& AResult, std::barrier<>* ASync)
{
    std::atomic<int> destroyed{0};
    auto* vis = Make<TCountedVisualization>(&destroyed).Detach();
    IAIMPExtensionEmbeddedVisualization* slots = vis->Interface();
    slots->Initialize(AreaWidth, AreaHeight);
    testing_support::TMemoryContext dc(AreaWidth, AreaHeight);
    std::mt19937 random(1234);
    for (int frame = 0; frame < FrameCount; ++frame) {
        auto block = testing_support::MakeBlock(
            frame % 7 == 3 ? testing_support::TWaveKind::Loud : testing_support::TWaveKind::Quiet, random);
        slots->Draw(dc.Dc(), block.get());
    }
    if (ASync)
        ASync->arrive_and_wait();
    auto& canvas = const_cast<TCanvas&>(*vis->Canvas());
    AResult.PenEntry = canvas.Pen().Resource();
    AResult.BrushEntry = canvas.Brush().Resource();
    AResult.PenOwner = canvas.Pen().Resource()->Owner;
    AResult.BrushOwner = canvas.Brush().Resource()->Owner;
    AResult.Thread = GetCurrentThreadId();
    AResult.Pixels = PixelsOf(dc);
    if (ASync)
        ASync->arrive_and_wait();
    slots->Finalize();
    slots->Release();
    EXPECT_EQ(destroyed.load(), 1);
}

TEST(SurfacesOnThreads, TwoThreadsDrawAtOnceEachWithItsOwnEntries)
{
    TThreadResult reference;
    DrawOnThisThread(reference, nullptr);

    TThreadResult results[2];
    std::barrier<> sync(2);
    std::thread first(DrawOnThisThread, std::ref(results[0]), &sync);
    std::thread second(DrawOnThisThread, std::ref(results[1]), &sync);
    first.join();
    second.join();

    EXPECT_NE(results[0].Thread, results[1].Thread);
    for (const TThreadResult& result : results) {
        EXPECT_EQ(result.PenOwner, result.Thread);
        EXPECT_EQ(result.BrushOwner, result.Thread);
        EXPECT_TRUE(result.Pixels == reference.Pixels) << "a frame drawn beside another differs";
    }
    // Same colours on both threads, yet never one shared entry.
    EXPECT_NE(results[0].PenEntry, results[1].PenEntry);
    EXPECT_NE(results[0].BrushEntry, results[1].BrushEntry);
    // The leak check of the test main sees that no GDI object is left and no delete refused.
}

} // namespace
