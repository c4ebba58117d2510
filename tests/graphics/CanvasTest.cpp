// The drawing surface's traffic with its context, as the Win32 stand-in records it.
#include "graphics/Graphics.h"
#include "rtl/SysUtils.h"
#include "tests/support/GdiRecording.h"
#include "tests/support/TestCanvas.h"

#include <win32_standin.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using testing_support::TCallRecorder;
using testing_support::TMemoryContext;
using Calls = std::vector<std::string>;

class CanvasTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(FDc.Valid());
        ASSERT_TRUE(FOther.Valid());
        FLiveBefore = StandInLiveObjectCount();
        FRefusedBefore = StandInRefusedDeleteCount();
    }

    // Starts recording; contexts are named dc and dc2 in the log.
    TCallRecorder& Record()
    {
        FLog.reset(); // one log at a time: the old one uninstalls itself first
        FLog = std::make_unique<TCallRecorder>();
        FLog->Name(FDc.Dc(), "dc");
        FLog->Name(FOther.Dc(), "dc2");
        return *FLog;
    }

    // Every object the surfaces made has been deleted, and none while it was selected.
    void ExpectNothingLeftBehind() const
    {
        EXPECT_EQ(StandInLiveObjectCount(), FLiveBefore);
        EXPECT_EQ(StandInRefusedDeleteCount(), FRefusedBefore);
    }

    TMemoryContext FDc{16, 16};
    TMemoryContext FOther{16, 16};
    std::unique_ptr<TCallRecorder> FLog;
    std::size_t FLiveBefore = 0;
    std::size_t FRefusedBefore = 0;
};

constexpr TColor Red = 0x000000FF;
constexpr TColor Green = 0x0000FF00;
constexpr TColor Blue = 0x00FF0000;

// The calls of two frames as the ring renderer makes them: background, three dots (the second
// in the colours of the first), one outline; then a frame that starts in the last colours.
TEST_F(CanvasTest, FrameSequenceSelectsLazilyAndDetachesToStockObjects)
{
    TCallRecorder& log = Record();
    {
        TCanvas canvas;
        EXPECT_TRUE(log.Calls().empty()) << "creating the surface touches no context";

        canvas.SetHandle(FDc.Dc());
        canvas.Brush().SetColor(0);
        canvas.FillRect(TRect{0, 0, 16, 16});
        canvas.Pen().SetWidth(1);
        canvas.Pen().SetColor(Red);
        canvas.Brush().SetColor(Green);
        canvas.Ellipse(1, 1, 3, 3);
        canvas.Pen().SetColor(Red);
        canvas.Brush().SetColor(Green);
        canvas.Ellipse(4, 4, 6, 6);
        canvas.Pen().SetColor(Blue);
        canvas.Brush().SetColor(Green);
        canvas.Ellipse(7, 7, 9, 9);
        const std::array<TPoint, 3> ring{{{2, 2}, {5, 5}, {8, 8}}};
        canvas.Polyline(ring);
        canvas.SetHandle(nullptr);

        // clang-format off
        const Calls first{
            "MoveToEx(dc,0,0)",
            "CreateBrushIndirect(0,0,0)=brush1", "UnrealizeObject(brush1)", "SelectObject(dc,brush1)",
            "SetBkColor(dc,0)", "SetBkMode(dc,2)", "FillRect(dc,brush1,0,0,16,16)",
            // Dot 1: the black brush is selected, so changing it puts the null brush in its place
            // before its object goes.
            "SelectObject(dc,NULL_BRUSH)", "DeleteObject(brush1)",
            "CreatePenIndirect(0,1,255)=pen2", "SelectObject(dc,pen2)", "SetROP2(dc,13)",
            "CreateBrushIndirect(0,65280,0)=brush3", "UnrealizeObject(brush3)", "SelectObject(dc,brush3)",
            "SetBkColor(dc,65280)", "SetBkMode(dc,2)", "Ellipse(dc,1,1,3,3)",
            // Dot 2: the same colours cost nothing.
            "Ellipse(dc,4,4,6,6)",
            // Dot 3: only the pen changes.
            "SelectObject(dc,BLACK_PEN)", "DeleteObject(pen2)",
            "CreatePenIndirect(0,1,16711680)=pen4", "SelectObject(dc,pen4)", "SetROP2(dc,13)",
            "Ellipse(dc,7,7,9,9)",
            "Polyline(dc,3)",
            "SelectObject(dc,BLACK_PEN)", "SelectObject(dc,NULL_BRUSH)", "SelectObject(dc,SYSTEM_FONT)",
            "GetCurrentPositionEx(dc)",
        };
        // clang-format on
        EXPECT_EQ(log.Text(), first);

        log.Clear();
        canvas.SetHandle(FDc.Dc());
        canvas.Brush().SetColor(0);
        canvas.FillRect(TRect{0, 0, 16, 16});
        canvas.Pen().SetWidth(1);
        canvas.Pen().SetColor(Blue);
        canvas.Brush().SetColor(Green);
        canvas.Ellipse(1, 1, 3, 3);
        canvas.SetHandle(nullptr);
        // clang-format off
        const Calls second{
            "MoveToEx(dc,0,0)",
            // The green brush survived the frame unselected; it goes without a stock selection.
            "DeleteObject(brush3)",
            "CreateBrushIndirect(0,0,0)=brush5", "UnrealizeObject(brush5)", "SelectObject(dc,brush5)",
            "SetBkColor(dc,0)", "SetBkMode(dc,2)", "FillRect(dc,brush5,0,0,16,16)",
            "SelectObject(dc,NULL_BRUSH)", "DeleteObject(brush5)",
            // The blue pen of the last frame is selected again without being made again.
            "SelectObject(dc,pen4)", "SetROP2(dc,13)",
            "CreateBrushIndirect(0,65280,0)=brush6", "UnrealizeObject(brush6)", "SelectObject(dc,brush6)",
            "SetBkColor(dc,65280)", "SetBkMode(dc,2)", "Ellipse(dc,1,1,3,3)",
            "SelectObject(dc,BLACK_PEN)", "SelectObject(dc,NULL_BRUSH)", "SelectObject(dc,SYSTEM_FONT)",
            "GetCurrentPositionEx(dc)",
        };
        // clang-format on
        EXPECT_EQ(log.Text(), second);
        log.Clear();
    }
    // Freeing the surface deletes the last pen, then the last brush; the context is not touched.
    EXPECT_EQ(log.Text(), (Calls{"DeleteObject(pen4)", "DeleteObject(brush6)"}));
    ExpectNothingLeftBehind();
}

// Each drawing call in the colours set for it: the pen and brush selected when GDI draws.
TEST_F(CanvasTest, EveryPrimitiveDrawsWithThePenAndBrushInForce)
{
    TCallRecorder& log = Record();
    {
        TCanvas canvas;
        canvas.SetHandle(FDc.Dc());
        const TColor colours[] = {Red, Red, Green, Blue, Blue, Red};
        for (TColor colour : colours) {
            canvas.Pen().SetColor(colour);
            canvas.Ellipse(0, 0, 4, 4);
        }
        canvas.SetHandle(nullptr);
        std::vector<COLORREF> drawn;
        for (const auto& call : log.Calls())
            if (call.Function == "Ellipse")
                drawn.push_back(call.PenData.lopnColor);
        EXPECT_EQ(drawn, (std::vector<COLORREF>(std::begin(colours), std::end(colours))));
        EXPECT_EQ(log.Count("CreatePenIndirect"), 4u) << "one pen per run of one colour";
    }
    ExpectNothingLeftBehind();
}

// Every drawing operation, as a table.
struct TDrawing {
    const char* Name;
    std::function<void(TCanvas&)> Draw;
};

// clang-format off
const TDrawing Drawings[] = {
    {"Ellipse", [](TCanvas& C) { C.Ellipse(1, 1, 5, 5); }},
    {"FillRect", [](TCanvas& C) { C.FillRect(TRect{0, 0, 4, 4}); }},
    {"Polyline",
     [](TCanvas& C) {
         const TPoint points[] = {{0, 0}, {3, 3}};
         C.Polyline(points);
     }},
};
// clang-format on

TEST_F(CanvasTest, DrawingWithoutContextRaisesBeforeAnyCallAndTheSurfaceStaysUsable)
{
    for (const TDrawing& drawing : Drawings) {
        SCOPED_TRACE(drawing.Name);
        TCanvas canvas;
        TCallRecorder& log = Record();
        for (int attempt = 0; attempt < 2; ++attempt) {
            // Before the first attach, then after a detach.
            try {
                drawing.Draw(canvas);
                ADD_FAILURE() << "drawing without a context did not raise";
            } catch (const rtl::EInvalidOperation& e) {
                EXPECT_EQ(e.Message(), "Canvas does not allow drawing");
            }
            EXPECT_TRUE(log.Calls().empty()) << "attempt " << attempt;
            canvas.SetHandle(FDc.Dc());
            drawing.Draw(canvas);
            EXPECT_EQ(log.Count(drawing.Name), 1u);
            canvas.SetHandle(nullptr);
            log.Clear();
        }
    }
    ExpectNothingLeftBehind();
}

TEST_F(CanvasTest, ChangeEventsSurroundEveryDrawingOperation)
{
    for (const TDrawing& drawing : Drawings) {
        SCOPED_TRACE(drawing.Name);
        std::string events;
        TCanvas canvas;
        canvas.SetOnChanging(
            {[](void* AEvents, TCustomCanvas&) { *static_cast<std::string*>(AEvents) += "<"; }, &events});
        canvas.SetOnChange(
            {[](void* AEvents, TCustomCanvas&) { *static_cast<std::string*>(AEvents) += ">"; }, &events});
        EXPECT_THROW(drawing.Draw(canvas), rtl::EInvalidOperation);
        EXPECT_EQ(events, "<") << "a failed drawing announces itself but reports no change";
        canvas.SetHandle(FDc.Dc());
        drawing.Draw(canvas);
        EXPECT_EQ(events, "<<>");
    }
}

TEST_F(CanvasTest, AttachingTheAttachedContextAgainMakesNoCall)
{
    TCanvas canvas;
    canvas.SetHandle(FDc.Dc());
    canvas.Ellipse(0, 0, 2, 2);
    TCallRecorder& log = Record();
    canvas.SetHandle(FDc.Dc());
    canvas.SetHandle(FDc.Dc());
    EXPECT_TRUE(log.Calls().empty());
    canvas.SetHandle(nullptr);
    log.Clear();
    canvas.SetHandle(nullptr);
    EXPECT_TRUE(log.Calls().empty()) << "detaching a detached surface";
}

// Attaching a second context detaches the first and carries its current position over; the
// stock selections come only if something was selected.
TEST_F(CanvasTest, AttachingAnotherContextDetachesTheFirstAndCarriesThePosition)
{
    struct Case {
        const char* Name;
        std::function<void(TCanvas&)> Before;
        Calls Expected;
    };
    // clang-format off
    const Case cases[] = {
        {"nothing drawn", [](TCanvas&) {}, {"GetCurrentPositionEx(dc)", "MoveToEx(dc2,7,-3)"}},
        {"brush selected", [](TCanvas& C) { C.FillRect(TRect{0, 0, 1, 1}); },
         {"SelectObject(dc,BLACK_PEN)", "SelectObject(dc,NULL_BRUSH)", "SelectObject(dc,SYSTEM_FONT)",
          "GetCurrentPositionEx(dc)", "MoveToEx(dc2,7,-3)"}},
        {"pen and brush selected", [](TCanvas& C) { C.Ellipse(0, 0, 1, 1); },
         {"SelectObject(dc,BLACK_PEN)", "SelectObject(dc,NULL_BRUSH)", "SelectObject(dc,SYSTEM_FONT)",
          "GetCurrentPositionEx(dc)", "MoveToEx(dc2,7,-3)"}},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        {
            TCanvas canvas;
            canvas.SetHandle(FDc.Dc());
            c.Before(canvas);
            // The host moves the position while the context is attached.
            MoveToEx(FDc.Dc(), 7, -3, nullptr);
            TCallRecorder& log = Record();
            canvas.SetHandle(FOther.Dc());
            EXPECT_EQ(log.Text(), c.Expected);
            EXPECT_EQ(canvas.Handle(), FOther.Dc());
            EXPECT_EQ(canvas.State(), TCanvasStates{TCanvasState::csHandleValid}) << "nothing selected in dc2";
            log.Clear();
            canvas.SetHandle(nullptr);
            EXPECT_EQ(log.Text(), Calls{"GetCurrentPositionEx(dc2)"});
        }
        FLog.reset();
    }
    ExpectNothingLeftBehind();
}

TEST_F(CanvasTest, DetachingWhenNothingWasDrawnOnlyReadsThePosition)
{
    TCanvas canvas;
    canvas.Pen().SetColor(Red); // attribute changes while detached touch no context
    canvas.Brush().SetColor(Blue);
    canvas.SetHandle(FDc.Dc());
    canvas.Pen().SetWidth(3);
    canvas.Brush().SetColor(Green);
    TCallRecorder& log = Record();
    canvas.SetHandle(nullptr);
    EXPECT_EQ(log.Text(), Calls{"GetCurrentPositionEx(dc)"});
    EXPECT_TRUE(canvas.State().Empty());
}

TEST_F(CanvasTest, ThePositionSurvivesDetachAndReattach)
{
    TCanvas canvas;
    canvas.SetHandle(FDc.Dc());
    MoveToEx(FDc.Dc(), 11, 12, nullptr);
    canvas.SetHandle(nullptr);
    EXPECT_EQ(canvas.PenPos().X, 11);
    EXPECT_EQ(canvas.PenPos().Y, 12);
    MoveToEx(FDc.Dc(), 0, 0, nullptr);
    TCallRecorder& log = Record();
    canvas.SetHandle(FDc.Dc());
    EXPECT_EQ(log.Text(), Calls{"MoveToEx(dc,11,12)"});
}

// Widths set before anything is drawn never reach GDI, and a negative width is ignored.
TEST_F(CanvasTest, OnlyTheWidthInForceWhenDrawingIsMade)
{
    struct Case {
        std::vector<std::int32_t> Widths;
        std::int32_t Expected;
    };
    const Case cases[] = {
        {{2, 1}, 1}, {{-1}, 1}, {{3, -1}, 3}, {{0}, 0}, {{5, 5, -7, 4}, 4}, {{INT32_MIN}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.Widths));
        TCanvas canvas;
        TCallRecorder& log = Record();
        for (std::int32_t w : c.Widths)
            canvas.Pen().SetWidth(w);
        EXPECT_EQ(canvas.Pen().Width(), c.Expected);
        canvas.SetHandle(FDc.Dc());
        canvas.Ellipse(0, 0, 4, 4);
        canvas.SetHandle(nullptr);
        ASSERT_EQ(log.Count("CreatePenIndirect"), 1u);
        for (const auto& call : log.Calls()) {
            if (call.Function == "CreatePenIndirect") {
                EXPECT_EQ(call.Args[1], c.Expected);
            }
        }
        EXPECT_EQ(log.Count("DeleteObject"), 0u) << "no pen was made for the widths in between";
    }
}

TEST_F(CanvasTest, SettingTheCurrentBrushColourCausesNoTraffic)
{
    TCanvas canvas;
    canvas.SetHandle(FDc.Dc());
    canvas.Brush().SetColor(Green);
    canvas.FillRect(TRect{0, 0, 4, 4});
    const TResource* entry = canvas.Brush().Resource();
    TCallRecorder& log = Record();
    canvas.Brush().SetColor(Green);
    canvas.Pen().SetColor(0); // the pen's own colour at creation
    canvas.Pen().SetWidth(1);
    EXPECT_TRUE(log.Calls().empty());
    EXPECT_EQ(canvas.Brush().Resource(), entry);
    EXPECT_TRUE(canvas.State().Contains(TCanvasState::csBrushValid));
    log.Name(canvas.Brush().Handle(), "green");
    canvas.FillRect(TRect{0, 0, 4, 4});
    EXPECT_EQ(log.Text(), Calls{"FillRect(dc,green,0,0,4,4)"}) << "the brush stays selected";
}

TEST_F(CanvasTest, ColouringAClearBrushMakesItSolid)
{
    TCanvas canvas;
    canvas.Brush().SetColor(Green);
    canvas.Brush().SetStyle(TBrushStyle::bsClear);
    canvas.SetHandle(FDc.Dc());
    TCallRecorder& log = Record();
    canvas.FillRect(TRect{0, 0, 2, 2});
    // A hollow brush: GDI gets the complement of its colour and transparent mode. (Windows hands
    // out its stock null brush for every hollow brush, so the made object is named by the log.)
    const Calls hollow = log.Text();
    ASSERT_EQ(hollow.size(), 6u);
    const std::string prefix = "CreateBrushIndirect(1,65280,0)=";
    ASSERT_EQ(hollow[0].substr(0, prefix.size()), prefix);
    const std::string made = hollow[0].substr(prefix.size());
    EXPECT_EQ(hollow[3], "SetBkColor(dc," + std::to_string(static_cast<std::int32_t>(~Green)) + ")");
    EXPECT_EQ(hollow[4], "SetBkMode(dc,1)");
    log.Clear();
    canvas.Brush().SetColor(Green); // the same colour, but the style changes
    EXPECT_EQ(canvas.Brush().Style(), TBrushStyle::bsSolid);
    canvas.FillRect(TRect{0, 0, 2, 2});
    const Calls solid = log.Text();
    ASSERT_EQ(solid.size(), 8u);
    EXPECT_EQ(solid[0], "SelectObject(dc,NULL_BRUSH)");
    EXPECT_EQ(solid[1], "DeleteObject(" + made + ")");
    EXPECT_EQ(solid[2].substr(0, 31), "CreateBrushIndirect(0,65280,0)=");
    EXPECT_EQ(solid[5], "SetBkColor(dc,65280)");
    EXPECT_EQ(solid[6], "SetBkMode(dc,2)");
    EXPECT_EQ(StandInRefusedDeleteCount(), FRefusedBefore);
}

TEST_F(CanvasTest, FillRectLeavesThePenUnselectedAndPassesTheRectangleAsGiven)
{
    const TRect rects[] = {{0, 0, 16, 16}, {9, 9, 2, 2}, {-5, 3, 3, -5}, {INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX}};
    for (const TRect& r : rects) {
        TCanvas canvas;
        canvas.SetHandle(FDc.Dc());
        TCallRecorder& log = Record();
        canvas.FillRect(r);
        EXPECT_FALSE(canvas.State().Contains(TCanvasState::csPenValid));
        EXPECT_EQ(log.Count("CreatePenIndirect"), 0u);
        EXPECT_EQ(log.Count("SetROP2"), 0u);
        ASSERT_EQ(log.Calls().back().Function, "FillRect");
        EXPECT_EQ(log.Calls().back().Args, (std::vector<std::int32_t>{r.Left, r.Top, r.Right, r.Bottom}));
        canvas.SetHandle(nullptr);
    }
}

TEST_F(CanvasTest, EllipseBoxesPassUnchanged)
{
    const std::array<std::int32_t, 4> boxes[] = {
        {5, 5, 5, 5}, {9, 2, 1, 8}, {-3, -3, 3, 3}, {INT32_MIN, INT32_MAX, INT32_MAX, INT32_MIN}};
    TCanvas canvas;
    canvas.SetHandle(FDc.Dc());
    TCallRecorder& log = Record();
    for (const auto& b : boxes)
        canvas.Ellipse(b[0], b[1], b[2], b[3]);
    std::vector<std::vector<std::int32_t>> passed;
    for (const auto& call : log.Calls())
        if (call.Function == "Ellipse")
            passed.push_back(call.Args);
    ASSERT_EQ(passed.size(), std::size(boxes));
    for (std::size_t i = 0; i < passed.size(); ++i)
        EXPECT_EQ(passed[i], std::vector<std::int32_t>(boxes[i].begin(), boxes[i].end()));
}

TEST_F(CanvasTest, PolylinePassesEveryPointAndStaysOpen)
{
    // A ring of 64 points as the renderer makes it: the last point is not the first.
    std::vector<TPoint> ring;
    for (std::int32_t i = 0; i < 64; ++i)
        ring.push_back(TPoint{i % 16, i / 4});
    TCanvas canvas;
    canvas.SetHandle(FDc.Dc());
    TCallRecorder& log = Record();
    canvas.Polyline(ring);
    const auto& call = log.Calls().back();
    ASSERT_EQ(call.Function, "Polyline");
    EXPECT_EQ(call.Args[0], 64);
    ASSERT_EQ(call.Points.size(), 64u);
    for (std::size_t i = 0; i < 64; ++i) {
        EXPECT_EQ(call.Points[i].x, ring[i].X);
        EXPECT_EQ(call.Points[i].y, ring[i].Y);
    }
    EXPECT_TRUE(canvas.State().Contains(TCanvasState::csBrushValid)) << "the polyline selects the brush too";

    // On the pixels: an open corner of three points leaves the closing diagonal unpainted.
    log.Clear();
    StandInSetRasterizing(TRUE);
    canvas.Brush().SetColor(0);
    canvas.FillRect(TRect{0, 0, 16, 16});
    canvas.Pen().SetColor(0x00FFFFFF);
    const TPoint corner[] = {{2, 2}, {12, 2}, {12, 12}};
    canvas.Polyline(corner);
    canvas.SetHandle(nullptr);
    EXPECT_EQ(FDc.Pixel(7, 2), 0x00FFFFFFu);
    EXPECT_EQ(FDc.Pixel(12, 7), 0x00FFFFFFu);
    EXPECT_EQ(FDc.Pixel(7, 7), 0u) << "the figure was closed";
    EXPECT_EQ(FDc.Pixel(4, 4), 0u);
}

TEST_F(CanvasTest, EmptyPolylineStillPreparesAndPassesNoPoints)
{
    TCanvas canvas;
    canvas.SetHandle(FDc.Dc());
    TCallRecorder& log = Record();
    canvas.Polyline({});
    ASSERT_EQ(log.Calls().back().Function, "Polyline");
    EXPECT_EQ(log.Calls().back().Args[0], 0);
}

TEST_F(CanvasTest, ChangingThePenModeSelectsThePenAgainWithItsRasterOperation)
{
    TCanvas canvas;
    canvas.SetHandle(FDc.Dc());
    canvas.Ellipse(0, 0, 2, 2);
    TCallRecorder& log = Record();
    canvas.Pen().SetMode(TPenMode::pmXor);
    canvas.Pen().SetMode(TPenMode::pmXor);
    log.Name(canvas.Pen().Handle(), "pen");
    canvas.Ellipse(0, 0, 2, 2);
    // The mode is the pen's own, not part of its GDI object: nothing is made or deleted.
    EXPECT_EQ(log.Text(),
              (Calls{"SelectObject(dc,BLACK_PEN)", "SelectObject(dc,pen)", "SetROP2(dc,7)", "Ellipse(dc,0,0,2,2)"}));
}

TEST_F(CanvasTest, SystemColoursGoThroughGetSysColor)
{
    EXPECT_EQ(ColorToRGB(0x00123456), 0x00123456u);
    EXPECT_EQ(ColorToRGB(0x80000005), GetSysColor(COLOR_WINDOW));
    EXPECT_EQ(ColorToRGB(0x80FF010F), GetSysColor(COLOR_BTNFACE)) << "only the low byte names the colour";

    TCanvas canvas;
    canvas.Brush().SetColor(0x8000000D);
    canvas.SetHandle(FDc.Dc());
    TCallRecorder& log = Record();
    canvas.FillRect(TRect{0, 0, 1, 1});
    const std::string highlight = std::to_string(static_cast<std::int32_t>(GetSysColor(COLOR_HIGHLIGHT)));
    const Calls text = log.Text();
    EXPECT_NE(std::find(text.begin(), text.end(), "CreateBrushIndirect(0," + highlight + ",0)=brush1"), text.end());
    EXPECT_NE(std::find(text.begin(), text.end(), "SetBkColor(dc," + highlight + ")"), text.end());
}

// Objects are never deleted while selected, and a freed surface leaves only stock objects behind,
// over many frames of changing colours, widths and styles, on two contexts in turn.
TEST_F(CanvasTest, NoObjectIsDeletedWhileSelectedAndNoneOutlivesTheSurface)
{
    {
        TCanvas canvas;
        std::uint32_t seed = 12345;
        const auto next = [&seed] {
            seed = seed * 1664525u + 1013904223u;
            return seed >> 8;
        };
        for (int frame = 0; frame < 40; ++frame) {
            canvas.SetHandle(frame % 3 == 0 ? FOther.Dc() : FDc.Dc());
            for (int dot = 0; dot < 50; ++dot) {
                switch (next() % 6) {
                case 0: canvas.Pen().SetColor(next() % 4); break;
                case 1: canvas.Brush().SetColor(next() % 4); break;
                case 2: canvas.Pen().SetWidth(static_cast<std::int32_t>(next() % 4) - 1); break;
                case 3: canvas.Brush().SetStyle(next() % 2 ? TBrushStyle::bsClear : TBrushStyle::bsSolid); break;
                case 4: canvas.FillRect(TRect{0, 0, 4, 4}); break;
                default: canvas.Ellipse(1, 1, 5, 5); break;
                }
            }
            if (frame % 7 != 6)
                canvas.SetHandle(nullptr); // else the destructor or the next attach detaches
        }
    }
    ExpectNothingLeftBehind();
}

TEST_F(CanvasTest, EqualAttributesShareOneObjectOnOneThread)
{
    TCanvas a;
    TCanvas b;
    a.Pen().SetColor(Red);
    b.Pen().SetColor(Red);
    EXPECT_EQ(a.Pen().Resource(), b.Pen().Resource());
    TCallRecorder& log = Record();
    EXPECT_EQ(a.Pen().Handle(), b.Pen().Handle());
    EXPECT_EQ(log.Count("CreatePenIndirect"), 1u);

    // The shared object lives on while one of its users does.
    a.SetHandle(FDc.Dc());
    a.Ellipse(0, 0, 2, 2);
    b.Pen().SetColor(Blue);
    EXPECT_EQ(log.Count("DeleteObject"), 0u);
    a.Ellipse(0, 0, 2, 2);
    a.SetHandle(nullptr);
    EXPECT_EQ(StandInRefusedDeleteCount(), FRefusedBefore);
}

TEST_F(CanvasTest, EqualAttributesOnTwoThreadsDoNotShare)
{
    TCanvas here;
    here.Pen().SetColor(Red);
    const HPEN mine = here.Pen().Handle();
    const TResource* myEntry = here.Pen().Resource();

    const TResource* theirEntry = nullptr;
    HPEN theirs = nullptr;
    HPEN theirsAgain = nullptr;
    std::thread other([&] {
        TCanvas there;
        TCanvas thereToo;
        there.Pen().SetColor(Red);
        thereToo.Pen().SetColor(Red);
        theirEntry = there.Pen().Resource();
        theirs = there.Pen().Handle();
        theirsAgain = thereToo.Pen().Handle();
    });
    other.join();
    EXPECT_NE(theirEntry, myEntry);
    EXPECT_NE(theirs, mine);
    EXPECT_EQ(theirsAgain, theirs) << "the other thread shares among its own pens";
    EXPECT_EQ(here.Pen().Handle(), mine) << "the other thread's objects went with its surfaces";
}

// Surfaces used concurrently on their own threads, with the shared pools in between.
TEST_F(CanvasTest, SurfacesOnSeveralThreadsKeepTheirObjectsApart)
{
    {
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([t] {
                TMemoryContext dc(8, 8);
                TCanvas canvas;
                canvas.SetHandle(dc.Dc());
                for (int i = 0; i < 500; ++i) {
                    canvas.Pen().SetColor(static_cast<TColor>((i + t) % 5));
                    canvas.Brush().SetColor(static_cast<TColor>(i % 3));
                    canvas.Ellipse(0, 0, 3, 3);
                }
                canvas.SetHandle(nullptr);
            });
        for (std::thread& thread : threads)
            thread.join();
    }
    ExpectNothingLeftBehind();
}

// A standalone pen whose owner fails while being told of a change: the pen has still moved to
// its new entry and the old one has lost its user.
TEST(PenWithoutSurface, AFailingChangeHandlerLosesNoReference)
{
    const std::size_t liveBefore = StandInLiveObjectCount();
    {
        TPen pen;
        pen.SetColor(Red);
        const HPEN red = pen.Handle();
        pen.SetOnChange({[](void*, TGraphicsObject&) { throw std::runtime_error("owner failed"); }, nullptr});
        EXPECT_THROW(pen.SetColor(Blue), std::runtime_error);
        EXPECT_EQ(pen.Color(), Blue);
        EXPECT_NE(pen.Handle(), red);
        EXPECT_EQ(StandInLiveObjectCount(), liveBefore + 1) << "the red pen was deleted with its entry";
        pen.SetOnChange({});
    }
    EXPECT_EQ(StandInLiveObjectCount(), liveBefore);
}

} // namespace
