#include "plugin/Selvanore_Main.h"
#include "tests/support/GdiRecording.h"

#include <gtest/gtest.h>

#include <climits>
#include <memory>

namespace {

using testing_support::TCallRecorder;
using testing_support::TMemoryContext;

// A visualization held as the player holds it: through its interface, with one reference.
struct VisualizationFixture : ::testing::Test {
    TVisualization* Object = Make<TVisualization>().Detach();
    rtl::TComPtr<IAIMPExtensionEmbeddedVisualization> Vis =
        rtl::TComPtr<IAIMPExtensionEmbeddedVisualization>::Attach(Object->Interface());
    std::unique_ptr<TAIMPVisualData> Loud = std::make_unique<TAIMPVisualData>();
    TMemoryContext DC{80, 60};
    std::size_t LiveBefore = StandInLiveObjectCount();

    VisualizationFixture()
    {
        for (int i = 0; i < AIMP_VISUAL_WAVEFORM_SIZE; ++i)
            Loud->Waveform[0][i] = 1.0f; // mono 1.0 everywhere: radius 37 rings
    }

    void Draw(TAIMPVisualData* Data) { Vis->Draw(DC.Dc(), Data); }
    bool SlotCaptured(int Slot) const { return Object->History()[Slot][0].X != 0.0f; }
};

TEST_F(VisualizationFixture, CapturesOnEveryFifthDrawStartingWithTheFirst)
{
    EXPECT_EQ(Object->RefCount(), 1);
    ASSERT_EQ(Vis->Initialize(80, 60), S_OK);
    Draw(Loud.get());
    EXPECT_EQ(Object->FrameTimeOut(), 1);
    EXPECT_EQ(Object->NextSlot(), 1);
    EXPECT_TRUE(SlotCaptured(0));
    for (int n = 2; n <= 5; ++n)
        Draw(nullptr); // the frames in between never read the block
    EXPECT_EQ(Object->NextSlot(), 1);
    EXPECT_EQ(Object->FrameTimeOut(), 0);
    Draw(Loud.get());
    EXPECT_EQ(Object->NextSlot(), 2);
    EXPECT_TRUE(SlotCaptured(1));
    EXPECT_EQ(Object->History()[0][0].Z, -30.0f);
    EXPECT_EQ(Object->History()[1][0].Z, -5.0f);
    EXPECT_EQ(Object->Canvas()->Handle(), nullptr); // detached after each frame
}

TEST_F(VisualizationFixture, ReinitializeKeepsRingsAndRhythmButRestartsAtSlotZero)
{
    Vis->Initialize(80, 60);
    for (int n = 1; n <= 8; ++n) // captures at 1 and 6; TimeOut stands at 3
        Draw(Loud.get());
    ASSERT_EQ(Object->FrameTimeOut(), 3);
    const float depth = Object->History()[1][0].Z;
    Vis->Finalize();
    EXPECT_EQ(Object->Canvas(), nullptr);
    Vis->Finalize(); // nothing held: nothing happens
    Vis->Initialize(80, 60);
    EXPECT_EQ(Object->NextSlot(), 0);
    EXPECT_EQ(Object->History()[1][0].Z, depth);
    Draw(nullptr);
    Draw(nullptr);
    EXPECT_EQ(Object->NextSlot(), 0);
    Draw(Loud.get()); // the third Draw after re-initialization captures
    EXPECT_EQ(Object->NextSlot(), 1);
    EXPECT_EQ(Object->History()[1][0].Z, depth - 15.0f);
}

TEST_F(VisualizationFixture, ResizeTakesTheTruncatedHalf)
{
    struct Case {
        std::int32_t W, H, OX, OY;
    };
    for (const Case c : {Case{101, 75, 50, 37}, Case{-101, -1, -50, 0}, Case{0, 0, 0, 0}}) {
        Vis->Resize(c.W, c.H);
        EXPECT_EQ(Object->CenterX(), c.OX);
        EXPECT_EQ(Object->CenterY(), c.OY);
        EXPECT_EQ(Object->Width(), c.W);
        EXPECT_EQ(Object->Height(), c.H);
    }
}

TEST_F(VisualizationFixture, ConstantAnswersInEveryState)
{
    std::int32_t w = 123, h = 456;
    for (int state = 0; state < 3; ++state) {
        EXPECT_EQ(Vis->GetFlags(), 1);
        EXPECT_EQ(Vis->GetMaxDisplaySize(&w, &h), E_FAIL);
        EXPECT_EQ(w, 123);
        EXPECT_EQ(h, 456);
        Vis->Click(-1, INT32_MAX, 7);
        state == 0 ? (void)Vis->Initialize(10, 10) : Vis->Finalize();
    }
    EXPECT_EQ(Object->NextSlot(), 0);
    EXPECT_EQ(Object->FrameTimeOut(), 0);
}

TEST_F(VisualizationFixture, DrawWithoutASurfaceDoesNothing)
{
    TCallRecorder recorder;
    Draw(Loud.get()); // before Initialize
    Vis->Initialize(80, 60);
    Vis->Finalize();
    Draw(Loud.get()); // after Finalize
    EXPECT_EQ(Object->FrameTimeOut(), 0);
    EXPECT_EQ(Object->NextSlot(), 0);
    EXPECT_FALSE(SlotCaptured(0));
    EXPECT_TRUE(recorder.Calls().empty());
}

TEST_F(VisualizationFixture, NullBlockOnACaptureFrameCapturesNothingButDraws)
{
    Vis->Initialize(80, 60);
    TCallRecorder recorder;
    Draw(nullptr);
    EXPECT_EQ(Object->NextSlot(), 0);
    EXPECT_EQ(Object->FrameTimeOut(), 1);
    EXPECT_EQ(recorder.Only("FillRect").size(), 1u);
    EXPECT_EQ(recorder.Only("Ellipse").size(), 1984u);
}

TEST_F(VisualizationFixture, FailedFrameIsDetachedAndContainedAtTheSlot)
{
    Vis->Initialize(80, 60);
    // The operation raises: no context to draw on. The capture and the rhythm have happened.
    EXPECT_THROW(Object->Draw(nullptr, Loud.get()), rtl::EInvalidOperation);
    EXPECT_EQ(Object->NextSlot(), 1);
    EXPECT_EQ(Object->History()[0][0].Z, 0.0f); // failed at the first fill, before any step
    // The player's slot contains it.
    Vis->Draw(nullptr, Loud.get());
    EXPECT_EQ(Object->FrameTimeOut(), 2);
    EXPECT_EQ(Object->Canvas()->Handle(), nullptr);
    // And the surface still works afterwards.
    Draw(Loud.get());
    EXPECT_EQ(Object->History()[0][0].Z, -5.0f);
}

TEST_F(VisualizationFixture, ExtremeExtentsAreDefined)
{
    Vis->Initialize(INT32_MAX, INT32_MAX);
    for (int n = 0; n < 150; ++n)
        Draw(Loud.get());
    Vis->Resize(INT32_MIN, INT32_MIN);
    Draw(Loud.get());
    EXPECT_EQ(Object->CenterX(), INT32_MIN / 2);
}

TEST_F(VisualizationFixture, SurfacesAreFreedOnEveryPath)
{
    Vis->Initialize(80, 60);
    Draw(Loud.get());
    Vis->Initialize(80, 60); // a second Initialize frees the first surface
    Draw(Loud.get());
    Vis->Finalize();
    EXPECT_EQ(StandInLiveObjectCount(), LiveBefore);

    Vis->Initialize(80, 60);
    Draw(Loud.get());
    Vis = nullptr; // the last reference: the object frees the surface it still holds
    EXPECT_EQ(StandInLiveObjectCount(), LiveBefore);
    EXPECT_EQ(StandInRefusedDeleteCount(), 0u);
}

} // namespace
