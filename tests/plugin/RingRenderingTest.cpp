#include "graphics/Graphics.h"
#include "plugin/RingLook.h"
#include "plugin/Rings.h"
#include "rtl/SysUtils.h"
#include "tests/support/GdiRecording.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace {

using testing_support::TCallRecorder;
using testing_support::TMemoryContext;
using testing_support::TRecordedCall;

TEST(RingLook, DepthTable)
{
    struct Case {
        float Z;
        float Factor;
        std::int32_t Radius;
        int PenLightness;
    };
    // clang-format off
    const Case cases[] = {
        {-5, 1.0071943f, 0, 1},    {-215, 1.4432989f, 1, 37}, {-350, 2.0f, 1, 60},      {-370, 2.1212120f, 2, 63},
        {-480, 3.1818182f, 3, 82}, {-565, 5.1851850f, 4, 97}, {-640, 11.666667f, 5, 110}, {-695, 140.0f, 5, 119},
        {0, 1.0f, 0, 0},
        // Where the radius first reaches each value.
        {-210, 1.4285715f, 0, 36}, {-365, 2.0895522f, 1, 63}, {-475, 3.1111112f, 2, 81},
        {-560, 5.0f, 3, 96},       {-635, 10.769231f, 4, 109},
    };
    // clang-format on
    for (const Case& c : cases) {
        const TRingLook look = RingLookAt(c.Z);
        // Bit-exact: the factor is the single nearest to 700 / (Z + 700).
        EXPECT_EQ(look.Factor, static_cast<float>(700.0 / (c.Z + 700.0))) << c.Z;
        EXPECT_FLOAT_EQ(look.Factor, c.Factor) << c.Z;
        EXPECT_EQ(look.Radius, c.Radius) << c.Z;
        EXPECT_EQ(look.Lightness, c.PenLightness) << c.Z;
    }
}

// A surface attached to a small memory context, recording the frame's calls.
struct RenderFixture : ::testing::Test {
    TMemoryContext DC{64, 48};
    TCanvas Canvas;
    TPointsArray History{};

    std::vector<TRecordedCall> Frame(std::int32_t Width, std::int32_t Height, std::int32_t OX, std::int32_t OY)
    {
        Canvas.SetHandle(DC.Dc());
        TCallRecorder recorder;
        RenderRings(History, Canvas, Width, Height, OX, OY);
        Canvas.SetHandle(nullptr);
        std::vector<TRecordedCall> drawing;
        for (const TRecordedCall& call : recorder.Calls())
            if (call.Function == "FillRect" || call.Function == "Ellipse" || call.Function == "Polyline")
                drawing.push_back(call);
        return drawing;
    }

    void SetSlotDepth(int Slot, float Z)
    {
        for (TPoint3D& p : History[Slot])
            p.Z = Z;
    }
};

TEST_F(RenderFixture, OneFrameDrawsInOrderWithThePenAndBrushOfEachDot)
{
    const std::vector<TRecordedCall> calls = Frame(64, 48, 32, 24);
    ASSERT_EQ(calls.size(), 1u + 1984u + 31u);

    EXPECT_EQ(calls[0].Function, "FillRect");
    EXPECT_EQ(calls[0].Args, (std::vector<std::int32_t>{0, 0, 64, 48}));
    std::size_t i = 1;
    for (int s = 0; s < RingSlotCount; ++s) {
        for (int k = 0; k < RingPointCount; ++k, ++i) {
            ASSERT_EQ(calls[i].Function, "Ellipse") << s << "," << k;
            // A fresh history: every point on the centre at depth -5, radius 0.
            EXPECT_EQ(calls[i].Args, (std::vector<std::int32_t>{32, 24, 32, 24}));
            EXPECT_EQ(calls[i].PenColor, TACLColors::HSLToColor(static_cast<std::uint8_t>(8 * s), 255, 1));
            EXPECT_EQ(calls[i].PenWidth, 1);
            EXPECT_EQ(calls[i].BrushColor, TACLColors::HSLToColor(static_cast<std::uint8_t>(8 * s), 255, 51));
        }
        ASSERT_EQ(calls[i].Function, "Polyline") << s;
        EXPECT_EQ(calls[i].Args[0], 64);
        EXPECT_EQ(calls[i].PenColor, calls[i - 1].PenColor);
        ++i;
    }
    for (int s = 0; s < RingSlotCount; ++s)
        for (const TPoint3D& p : History[s])
            EXPECT_EQ(p.Z, -5.0f);
}

TEST_F(RenderFixture, ColourPairsOfTheFirstAndLastSlot)
{
    SetSlotDepth(30, -690.0f);
    const std::vector<TRecordedCall> calls = Frame(64, 48, 32, 24);
    const TRecordedCall& first = calls[1];
    EXPECT_EQ(first.PenColor, 0x00000002u);
    EXPECT_EQ(first.BrushColor, 0x00000066u);
    const TRecordedCall& last = calls[1 + 30 * 65];
    ASSERT_EQ(last.Function, "Ellipse");
    EXPECT_EQ(last.PenColor, 0x005400EEu);
    EXPECT_EQ(last.BrushColor, 0x008F53FFu);
    EXPECT_EQ(last.Args, (std::vector<std::int32_t>{27, 19, 37, 29})); // radius 5 at -695
}

TEST_F(RenderFixture, SilentRingInItsCaptureFrameAndTiesToEvenAtDepthZero)
{
    auto data = std::make_unique<TAIMPVisualData>();
    std::int32_t arrNumb = 0;
    CaptureRing(History, arrNumb, *data);
    // Slot 1 is reset this frame (from -695 to 0, factor exactly 1): ties go to even.
    SetSlotDepth(1, -695.0f);
    History[1][0].X = 36.5f;
    History[1][1].X = 37.5f;
    History[1][2].X = -36.5f;
    History[1][3].Y = 2.5f;

    const std::vector<TRecordedCall> calls = Frame(101, 75, 50, 37);
    auto centre = [&](int Slot, int Point) {
        const TRecordedCall& c = calls[1 + Slot * 65 + Point];
        EXPECT_EQ(c.Args[0], c.Args[2]); // radius 0
        return std::pair{c.Args[0], c.Args[1]};
    };
    EXPECT_EQ(centre(0, 0), (std::pair{50 + 25, 37}));
    EXPECT_EQ(centre(0, 16), (std::pair{50, 37 + 25}));
    EXPECT_EQ(centre(0, 32), (std::pair{50 - 25, 37}));
    EXPECT_EQ(centre(0, 48), (std::pair{50, 37 - 25}));

    EXPECT_EQ(centre(1, 0).first, 50 + 36);
    EXPECT_EQ(centre(1, 1).first, 50 + 38);
    EXPECT_EQ(centre(1, 2).first, 50 - 36);
    EXPECT_EQ(centre(1, 3).second, 37 + 2);
    const TRecordedCall& reset = calls[1 + 65];
    EXPECT_EQ(reset.PenColor, TACLColors::HSLToColor(8, 255, 0));
    EXPECT_EQ(reset.BrushColor, TACLColors::HSLToColor(8, 255, 50));
    EXPECT_EQ(History[1][0].Z, 0.0f);

    // The ring's outline is open: 64 points, the last not joined back to the first.
    const TRecordedCall& outline = calls[65];
    ASSERT_EQ(outline.Function, "Polyline");
    ASSERT_EQ(outline.Points.size(), 64u);
    EXPECT_EQ(outline.Points.front().x, 75);
    // Point 63 lies just short of point 0; only 64 points are passed, so no closing segment.
    EXPECT_EQ(outline.Points.back().x, 75);
    EXPECT_EQ(outline.Points.back().y, 35);
}

// Each point is drawn from its own depth, even in a history where a slot's points disagree.
TEST_F(RenderFixture, EveryPointTakesTheLookOfItsOwnDepth)
{
    History[2][5].Z = -300.0f;
    const std::vector<TRecordedCall> calls = Frame(64, 48, 32, 24);
    auto dot = [&](int Point) { return calls[1 + 2 * 65 + Point]; };
    const TRingLook deep = RingLookAt(-305.0f);
    EXPECT_EQ(dot(5).PenColor, TACLColors::HSLToColor(16, 255, deep.Lightness));
    EXPECT_EQ(dot(5).Args[2] - dot(5).Args[0], 2 * deep.Radius);
    for (int k : {4, 6}) {
        EXPECT_EQ(dot(k).PenColor, TACLColors::HSLToColor(16, 255, 1)) << k;
        EXPECT_EQ(dot(k).Args[2], dot(k).Args[0]) << k;
    }
}

TEST_F(RenderFixture, ExtentsPassUnchanged)
{
    struct Case {
        std::int32_t Width, Height;
    };
    for (const Case c : {Case{0, 0}, Case{-10, 20}, Case{30, -1}}) {
        const std::vector<TRecordedCall> calls = Frame(c.Width, c.Height, c.Width / 2, c.Height / 2);
        EXPECT_EQ(calls[0].Args, (std::vector<std::int32_t>{0, 0, c.Width, c.Height}));
        EXPECT_EQ(calls.size(), 2016u);
    }
}

TEST_F(RenderFixture, ProjectionWrapsAtTheIntegerLimits)
{
    SetSlotDepth(0, -690.0f);
    for (TPoint3D& p : History[0])
        p.X = 49.0f;
    const std::vector<TRecordedCall> calls = Frame(INT32_MAX, INT32_MAX, INT32_MAX - 100, 0);
    // 49 * 140 = 6860 past a centre near INT32_MAX: the sum wraps in 32 bits, as intended.
    const std::int32_t x = static_cast<std::int32_t>(static_cast<std::uint32_t>(INT32_MAX - 100) + 6860u);
    EXPECT_LT(x, 0);
    EXPECT_EQ(calls[1].Args[0], static_cast<std::int32_t>(static_cast<std::uint32_t>(x) - 5u));
}

TEST_F(RenderFixture, DrawingWithoutContextRaisesBeforeAnyDepthMoves)
{
    TCallRecorder recorder;
    EXPECT_THROW(RenderRings(History, Canvas, 64, 48, 32, 24), rtl::EInvalidOperation);
    EXPECT_TRUE(recorder.Calls().empty());
    EXPECT_EQ(History[0][0].Z, 0.0f);
}

} // namespace
