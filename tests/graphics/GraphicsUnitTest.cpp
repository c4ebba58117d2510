// The graphics unit's load and unload steps, which the module's start-up and shut-down run (and
// this program's environment, before the first test), and the first use after an unload, which
// loads the unit again.
#include "graphics/Graphics.h"
#include "graphics/ResourceManager.h"
#include "tests/support/TestCanvas.h"
#include "tests/support/GdiRecording.h"

#include <win32_standin.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

namespace {

// Every test leaves the unit loaded, as the program's start-up left it for the tests that follow.
struct GraphicsUnit : ::testing::Test {
    void TearDown() override { LoadGraphicsUnit(); }
};

// Draws one dot, so that the canvas's pen and brush get their GDI objects, and detaches.
void DrawDot(TCanvas& ACanvas, HDC ADc)
{
    ACanvas.SetHandle(ADc);
    ACanvas.Pen().SetColor(0x000000FF);
    ACanvas.Brush().SetColor(0x0000FF00);
    ACanvas.Ellipse(2, 2, 6, 6);
    ACanvas.SetHandle(nullptr);
}

TEST_F(GraphicsUnit, LoadingFetchesTheStockObjectsOnceAndSurfacesThenMakeNoCall)
{
    UnloadGraphicsUnit();
    {
        testing_support::TCallRecorder gdi;
        LoadGraphicsUnit();
        LoadGraphicsUnit(); // already loaded: nothing to do
        (void)GraphicsModule();
        ASSERT_EQ(gdi.Names(), "GetStockObject GetStockObject GetStockObject") << "only once";
        std::vector<std::int32_t> indexes;
        for (const testing_support::TRecordedCall& call : gdi.Calls())
            indexes.push_back(call.Args.at(0));
        EXPECT_EQ(indexes, (std::vector<std::int32_t>{BLACK_PEN, NULL_BRUSH, SYSTEM_FONT}));
    }
    testing_support::TCallRecorder gdi;
    {
        TCanvas canvas;
        canvas.Pen().SetColor(0x000000FF);
        canvas.Brush().SetColor(0x0000FF00);
    }
    EXPECT_EQ(gdi.Names(), "") << "a surface that never draws makes no call";
}

TEST_F(GraphicsUnit, UnloadDestroysThePoolsAndTheNextUseLoadsAfresh)
{
    testing_support::TMemoryContext dc(8, 8);
    ASSERT_TRUE(dc.Valid());
    const std::size_t liveBefore = StandInLiveObjectCount();
    LoadGraphicsUnit();
    {
        TCanvas canvas;
        DrawDot(canvas, dc.Dc());
    }
    ASSERT_GT(GraphicsModule().Pens.IdleCount(), 0u) << "the freed entries wait on the free list";

    UnloadGraphicsUnit();
    UnloadGraphicsUnit(); // nothing left to destroy

    // New pools: no entries in use or waiting, only the table ever allocated.
    TGraphicsModule& module = GraphicsModule();
    for (std::size_t count :
         {module.Pens.EntryCount(), module.Pens.IdleCount(), module.Brushes.IdleCount(), module.Fonts.IdleCount()})
        EXPECT_EQ(count, 0u);
    EXPECT_EQ(module.Pens.HeapAllocationCount(), 1u);
    EXPECT_EQ(module.StockPen, GetStockObject(BLACK_PEN));
    EXPECT_EQ(module.StockBrush, GetStockObject(NULL_BRUSH));
    EXPECT_EQ(module.StockFont, GetStockObject(SYSTEM_FONT));
    {
        TCanvas canvas;
        DrawDot(canvas, dc.Dc());
        EXPECT_EQ(StandInLiveObjectCount(), liveBefore + 2) << "the dot's pen and brush";
    }
    EXPECT_EQ(StandInLiveObjectCount(), liveBefore);
}

TEST_F(GraphicsUnit, UnloadDeletesTheObjectsOfEntriesStillInUse)
{
    // Entries whose users outlived the unit, as objects a player never released outlive the
    // module: their GDI objects go with the pools.
    const std::size_t liveBefore = StandInLiveObjectCount();
    TGraphicsModule& module = GraphicsModule();
    auto* pen = module.Pens.AllocResource(TPenData{});
    auto* brush = module.Brushes.AllocResource(TBrushData{});
    ASSERT_NE(module.Pens.ObjectOf(*pen,
                                   [](const TPenData&) {
                                       LOGPEN data{PS_SOLID, {1, 0}, 0};
                                       return CreatePenIndirect(&data);
                                   }),
              nullptr);
    ASSERT_NE(module.Brushes.ObjectOf(*brush,
                                      [](const TBrushData&) {
                                          LOGBRUSH data{BS_SOLID, 0x00FFFFFF, 0};
                                          return CreateBrushIndirect(&data);
                                      }),
              nullptr);
    EXPECT_EQ(StandInLiveObjectCount(), liveBefore + 2);

    UnloadGraphicsUnit();
    EXPECT_EQ(StandInLiveObjectCount(), liveBefore);
    EXPECT_EQ(StandInRefusedDeleteCount(), 0u);
}

TEST_F(GraphicsUnit, ThreadsRacingForTheFirstUseShareOneLoad)
{
    UnloadGraphicsUnit();
    constexpr int Threads = 8;
    std::atomic<int> waiting{Threads};
    std::vector<TGraphicsModule*> seen(Threads, nullptr);
    std::vector<TResourceOf<TPenData>*> entries(Threads, nullptr);
    std::vector<std::thread> threads;
    for (int n = 0; n < Threads; ++n)
        threads.emplace_back([&, n] {
            // Every thread starts its first use at about the same moment.
            waiting.fetch_sub(1);
            while (waiting.load() > 0)
                std::this_thread::yield();
            TGraphicsModule& module = GraphicsModule();
            entries[n] = module.Pens.AllocResource(TPenData{});
            seen[n] = &module;
        });
    for (std::thread& thread : threads)
        thread.join();

    TGraphicsModule& module = GraphicsModule();
    for (TGraphicsModule* each : seen)
        EXPECT_EQ(each, &module);
    // One set of pools holds every thread's entry (entries are kept per thread): it was built
    // once, never built again over another thread's.
    EXPECT_EQ(module.Pens.EntryCount(), static_cast<std::size_t>(Threads));
    for (auto* entry : entries)
        module.Pens.FreeResource(entry);
    EXPECT_EQ(module.Pens.EntryCount(), 0u);
}

} // namespace
