// The live player's steps on their own, without a window or a sound device: the pacing of
// frames, the slots that count dropped ones, the idleness of a silent capture, what each event
// asks for, and the report.
#include "tools/lib/common/ToolError.h"
#include "tools/lib/output/AtomicFile.h"
#include "tools/play/PlayerSteps.h"
#include "tools/play/Presentation.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <iterator>
#include <vector>

namespace {

namespace fs = std::filesystem;
using play::TClock;

// A moment AMs milliseconds (fractions allowed) after an arbitrary origin.
TClock::time_point At(double AMs)
{
    return TClock::time_point{} + std::chrono::hours(1) +
           std::chrono::duration_cast<TClock::duration>(std::chrono::duration<double, std::milli>(AMs));
}

// ---- Pacing ----

TEST(PlayPacing, FramesShownLateStillFallDueAPeriodAfterTheOneBefore)
{
    // 50 fps: a period of 20 ms. A frame shown 3 ms after it was due does not push the next
    // one back: over many frames the due times stay on the grid.
    play::TFramePacing pacing(50, play::TPacedBy::Player, At(0));
    EXPECT_TRUE(pacing.Paced());
    EXPECT_EQ(pacing.WaitMs(At(0)), 0);
    for (int frame = 0; frame < 100; ++frame) {
        const double due = 20.0 * frame;
        pacing.Shown(At(due + 3));
        EXPECT_EQ(pacing.WaitMs(At(due + 3)), 17) << frame;
    }
    // The next is due at 2000 ms: whole milliseconds before it, and less than one is due.
    EXPECT_EQ(pacing.WaitMs(At(1990.5)), 9);
    EXPECT_EQ(pacing.WaitMs(At(1999.5)), 0);
    EXPECT_EQ(pacing.WaitMs(At(2005)), 0);
}

TEST(PlayPacing, ALoopFallenBehindGoesOnFromNowAndWaitsNoLongerThanTheLongestWait)
{
    play::TFramePacing pacing(50, play::TPacedBy::Player, At(0));
    pacing.Shown(At(0));
    pacing.Shown(At(500)); // 24 periods late: no burst of frames to catch up
    EXPECT_EQ(pacing.WaitMs(At(500)), 0);
    pacing.Shown(At(500));
    EXPECT_EQ(pacing.WaitMs(At(500)), 20);

    // 4 fps: 250 ms between frames, looked at every 50 ms meanwhile.
    play::TFramePacing slow(4, play::TPacedBy::Player, At(0));
    slow.Shown(At(0));
    EXPECT_EQ(slow.WaitMs(At(0)), play::LongestWaitMs);
    EXPECT_EQ(slow.WaitMs(At(220)), 30);

    // After a pause the next frame is due at once.
    slow.Resync(At(100));
    EXPECT_EQ(slow.WaitMs(At(100)), 0);
}

TEST(PlayPacing, PresentationsInQuickSuccessionTurnThePacingOn)
{
    // At 50 fps vsync spaces presentations 20 ms apart; ten in a row less than 10 ms apart
    // mean the presentation does not wait, and the loop paces itself from then on.
    struct TCase {
        const char* Name;
        std::vector<double> Gaps; // ms between presentations, after the first
        bool Paced;
    } const cases[] = {
        {"vsync", std::vector<double>(100, 20.0), false},
        {"flat out", std::vector<double>(10, 1.0), true},
        {"just under half a period", std::vector<double>(10, 9.9), true},
        {"half a period", std::vector<double>(100, 10.0), false},
        {"nine quick", std::vector<double>(9, 1.0), false},
        {"a slow one starts the count again", {1, 1, 1, 1, 1, 1, 1, 1, 1, 20, 1, 1, 1, 1, 1, 1, 1, 1, 1}, false},
    };
    for (const TCase& c : cases) {
        play::TFramePacing pacing(50, play::TPacedBy::Presentation, At(0));
        EXPECT_FALSE(pacing.Paced());
        double now = 0;
        pacing.Shown(At(now));
        for (const double gap : c.Gaps)
            pacing.Shown(At(now += gap));
        EXPECT_EQ(pacing.Paced(), c.Paced) << c.Name;
    }
}

TEST(PlayPacing, RestingWaitsAreTheLongestWhilePausedAndAFrameWhileIdle)
{
    struct TCase {
        double Rate;
        int Paused;
        int Idle;
    } const cases[] = {
        {60, play::LongestWaitMs, 16},
        {25, play::LongestWaitMs, 40},
        {10, play::LongestWaitMs, play::LongestWaitMs}, // a period of 100 ms, cut to the longest
        {2000, play::LongestWaitMs, 1},                 // half a millisecond, rounded up to one
    };
    for (const TCase& c : cases) {
        const play::TFramePacing pacing(c.Rate, play::TPacedBy::Player, At(0));
        EXPECT_EQ(pacing.RestingWaitMs(play::TResting::Paused), c.Paused) << c.Rate;
        EXPECT_EQ(pacing.RestingWaitMs(play::TResting::Idle), c.Idle) << c.Rate;
    }
}

// ---- Slots ----

TEST(PlaySlots, ASlotWithoutAFrameIsADroppedFrame)
{
    // Times of the frames shown, in periods of 20 ms; -1 restarts the count (a pause).
    struct TCase {
        const char* Name;
        std::vector<double> Shown;
        std::int64_t Dropped;
    } const cases[] = {
        {"every slot", {0, 1, 2, 3, 4, 5}, 0},
        {"jitter within half a period", {0, 1.4, 1.6, 3.2, 4.45}, 0},
        {"three slots missed", {0, 1, 5, 6}, 3},
        {"missed here and there", {0, 2, 3, 7, 8, 10}, 5},
        {"two in one slot take the next", {0, 0.2, 2, 3}, 0},
        {"early frames do not hide a later gap", {0, 0.1, 0.2, 0.3, 6}, 2},
        {"a pause is no gap", {0, 1, 2, -1, 50, 51, 52}, 0},
        {"a gap after a pause", {0, 1, -1, 50, 53}, 2},
    };
    for (const TCase& c : cases) {
        play::TFrameSlots slots(50);
        std::int64_t dropped = 0;
        for (const double shown : c.Shown) {
            if (shown < 0)
                slots.Restart();
            else
                dropped += slots.Shown(At(shown * 20.0));
        }
        EXPECT_EQ(dropped, c.Dropped) << c.Name;
    }
}

// ---- Idleness ----

TEST(PlayIdleness, ASilentPictureThatStaysTheSameComesToRestAndSoundWakesIt)
{
    using play::TBlockSound;
    const std::vector<std::uint32_t> still(12, 0x00123456);
    play::TIdleness idleness;
    // The first silent frame and SettleFrames - 1 equal ones after it are shown.
    for (std::int64_t frame = 0; frame < play::SettleFrames; ++frame) {
        ASSERT_FALSE(idleness.PassesBy(TBlockSound::Silent)) << frame;
        ASSERT_TRUE(idleness.Shows(still.data(), still.size(), TBlockSound::Silent)) << frame;
    }
    EXPECT_FALSE(idleness.Idle());
    EXPECT_FALSE(idleness.Shows(still.data(), still.size(), TBlockSound::Silent));
    EXPECT_TRUE(idleness.Idle());
    // At rest, silent blocks are passed by without drawing; a sounding one wakes it.
    EXPECT_TRUE(idleness.PassesBy(TBlockSound::Silent));
    EXPECT_TRUE(idleness.Idle());
    EXPECT_FALSE(idleness.PassesBy(TBlockSound::Sounding));
    EXPECT_FALSE(idleness.Idle());
    EXPECT_TRUE(idleness.Shows(still.data(), still.size(), TBlockSound::Sounding));
    // And the count starts again from there.
    for (std::int64_t frame = 0; frame < play::SettleFrames; ++frame)
        ASSERT_TRUE(idleness.Shows(still.data(), still.size(), TBlockSound::Silent)) << frame;
    EXPECT_FALSE(idleness.Shows(still.data(), still.size(), TBlockSound::Silent));
}

TEST(PlayIdleness, AnyChangeStartsTheCountAgain)
{
    using play::TBlockSound;
    const std::vector<std::uint32_t> still(12, 0x00123456);
    std::vector<std::uint32_t> moved = still;
    moved[11] = 0x00123457; // one pixel's last bit
    const std::vector<std::uint32_t> smaller(6, 0x00123456);

    struct TCase {
        const char* Name;
        int Every; // every Every-th frame differs from the still one
        const std::vector<std::uint32_t>* Other;
        TBlockSound Block;
    } const cases[] = {
        {"a pixel moves", static_cast<int>(play::SettleFrames), &moved, TBlockSound::Silent},
        {"other extents", static_cast<int>(play::SettleFrames), &smaller, TBlockSound::Silent},
        {"a sounding block", static_cast<int>(play::SettleFrames), &still, TBlockSound::Sounding},
    };
    for (const TCase& c : cases) {
        play::TIdleness idleness;
        for (int frame = 0; frame < 10 * play::SettleFrames; ++frame) {
            const bool other = frame % c.Every == c.Every - 1;
            const std::vector<std::uint32_t>& picture = other ? *c.Other : still;
            ASSERT_FALSE(idleness.PassesBy(other ? c.Block : TBlockSound::Silent)) << c.Name << " " << frame;
            ASSERT_TRUE(idleness.Shows(picture.data(), picture.size(), other ? c.Block : TBlockSound::Silent))
                << c.Name << " " << frame;
        }
    }

    // A resize wakes it, and the picture at the new extents starts its own count.
    play::TIdleness idleness;
    for (std::int64_t frame = 0; frame <= play::SettleFrames; ++frame)
        idleness.Shows(still.data(), still.size(), TBlockSound::Silent);
    ASSERT_TRUE(idleness.Idle());
    idleness.Wake();
    EXPECT_FALSE(idleness.Idle());
    EXPECT_FALSE(idleness.PassesBy(TBlockSound::Silent));
    for (std::int64_t frame = 0; frame < play::SettleFrames; ++frame)
        ASSERT_TRUE(idleness.Shows(smaller.data(), smaller.size(), TBlockSound::Silent)) << frame;
}

// ---- Events ----

SDL_Event Key(SDL_Keycode AKey)
{
    SDL_Event event{};
    event.type = SDL_KEYDOWN;
    event.key.state = SDL_PRESSED;
    event.key.keysym.sym = AKey;
    return event;
}

SDL_Event Window(Uint8 AWhat)
{
    SDL_Event event{};
    event.type = SDL_WINDOWEVENT;
    event.window.event = AWhat;
    return event;
}

SDL_Event Press(Uint8 AButton, Uint8 AClicks, int AX = 7, int AY = 9)
{
    SDL_Event event{};
    event.type = SDL_MOUSEBUTTONDOWN;
    event.button.button = AButton;
    event.button.state = SDL_PRESSED;
    event.button.clicks = AClicks;
    event.button.x = AX;
    event.button.y = AY;
    return event;
}

SDL_Event OfType(Uint32 AType)
{
    SDL_Event event{};
    event.type = AType;
    return event;
}

TEST(PlayEvents, EachEventAsksForItsAction)
{
    using play::TPlayAction;
    struct TCase {
        const char* Name;
        SDL_Event Event;
        TPlayAction Action;
    } const cases[] = {
        {"SDL's quit", OfType(SDL_QUIT), TPlayAction::Quit},
        {"Q", Key(SDLK_q), TPlayAction::Quit},
        {"Escape", Key(SDLK_ESCAPE), TPlayAction::Quit},
        {"F", Key(SDLK_f), TPlayAction::ToggleFullScreen},
        {"Space", Key(SDLK_SPACE), TPlayAction::TogglePause},
        {"another key", Key(SDLK_a), TPlayAction::None},
        {"Return", Key(SDLK_RETURN), TPlayAction::None},
        {"a key let go", OfType(SDL_KEYUP), TPlayAction::None},
        {"closing the window", Window(SDL_WINDOWEVENT_CLOSE), TPlayAction::Quit},
        {"a new size", Window(SDL_WINDOWEVENT_SIZE_CHANGED), TPlayAction::Resized},
        {"uncovered", Window(SDL_WINDOWEVENT_EXPOSED), TPlayAction::Exposed},
        {"moved", Window(SDL_WINDOWEVENT_MOVED), TPlayAction::None},
        {"a double left click", Press(SDL_BUTTON_LEFT, 2), TPlayAction::ToggleFullScreen},
        {"a double right click", Press(SDL_BUTTON_RIGHT, 2), TPlayAction::None},
        {"a triple left click", Press(SDL_BUTTON_LEFT, 3), TPlayAction::None},
        {"a left click", Press(SDL_BUTTON_LEFT, 1), TPlayAction::Click},
        {"mouse motion", OfType(SDL_MOUSEMOTION), TPlayAction::None},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(play::EventOf(c.Event).Action, c.Action) << c.Name;
}

TEST(PlayEvents, AClickCarriesTheModulesButtonAndTheWindowsCoordinates)
{
    struct TCase {
        Uint8 Button;
        std::int32_t Module;
    } const cases[] = {
        {SDL_BUTTON_LEFT, 0}, {SDL_BUTTON_RIGHT, 1}, {SDL_BUTTON_MIDDLE, 2}, {SDL_BUTTON_X1, 3}, {SDL_BUTTON_X2, 4},
    };
    for (const TCase& c : cases) {
        const play::TPlayEvent click = play::EventOf(Press(c.Button, 1, 31, 17));
        EXPECT_EQ(click.Action, play::TPlayAction::Click) << int{c.Button};
        EXPECT_EQ(click.Button, c.Module) << int{c.Button};
        EXPECT_EQ(click.X, 31);
        EXPECT_EQ(click.Y, 17);
    }

    // A window of 400 units over 800 pixels (a display that scales by 2), and the other way.
    EXPECT_EQ(play::ScaledToArea(0, 400, 800), 0);
    EXPECT_EQ(play::ScaledToArea(123, 400, 800), 246);
    EXPECT_EQ(play::ScaledToArea(399, 400, 800), 798);
    EXPECT_EQ(play::ScaledToArea(399, 800, 400), 199); // toward zero, never past the last pixel
    EXPECT_EQ(play::ScaledToArea(2000000000, 2000000001, 2000000001), 2000000000); // no overflow
    EXPECT_EQ(play::ScaledToArea(57, 0, 800), 57);                                 // size unknown
}

// ---- The report ----

TEST(PlayReport, FiguresAreMeansPerFrameDrawn)
{
    play::TFrameTally tally;
    tally.Drawn({0.002, 0.001, 0.004}, 30.0);
    tally.Dropped(2);
    tally.Drawn({0.004, 0.003, 0.000}, 10.0);
    tally.Dropped(0);
    tally.Drawn({0.000, 0.002, 0.002}, 20.0);
    EXPECT_EQ(tally.LastLagMs(), 20.0);
    EXPECT_EQ(tally.Figures().FramesDrawn, 3);
    EXPECT_EQ(tally.Figures().MaxOffsetMs, 30.0);

    const play::TPlayFigures figures = tally.Finish(4.5, 1.25, 7);
    EXPECT_EQ(figures.FramesDrawn, 3);
    EXPECT_EQ(figures.FramesDropped, 2);
    EXPECT_EQ(figures.Seconds, 4.5);
    EXPECT_EQ(figures.CpuSeconds, 1.25);
    EXPECT_EQ(figures.CleanedSamples, 7);
    EXPECT_DOUBLE_EQ(figures.MaxOffsetMs, 30.0);
    EXPECT_DOUBLE_EQ(figures.MeanOffsetMs, 20.0);
    EXPECT_DOUBLE_EQ(figures.DrawCpuMs, 2.0);
    EXPECT_DOUBLE_EQ(figures.UploadCpuMs, 2.0);
    EXPECT_DOUBLE_EQ(figures.PresentCpuMs, 2.0);

    // No frame drawn: no means, and no division by zero.
    const play::TPlayFigures none = play::TFrameTally().Finish(0.5, 0.1, 0);
    EXPECT_EQ(none.FramesDrawn, 0);
    EXPECT_EQ(none.MeanOffsetMs, 0.0);
    EXPECT_EQ(none.DrawCpuMs, 0.0);
    EXPECT_EQ(none.Seconds, 0.5);
    EXPECT_EQ(play::ReportJson(none),
              "{\"frames_drawn\": 0, \"frames_dropped\": 0, \"seconds\": 0.500, \"max_av_offset_ms\": 0.000, "
              "\"mean_av_offset_ms\": 0.000, \"cpu_seconds\": 0.100, \"draw_cpu_ms\": 0.0000, \"upload_cpu_ms\": "
              "0.0000, \"present_cpu_ms\": 0.0000, \"presentation\": \"\"}\n");
}

// A folder of the test's own, removed with what is in it.
class TFolder {
public:
    TFolder()
    {
        std::string pattern = (fs::temp_directory_path() / "selvanore-play-steps-XXXXXX").string();
        if (mkdtemp(pattern.data()))
            FPath = pattern;
    }
    ~TFolder()
    {
        std::error_code ignored;
        if (!FPath.empty())
            fs::remove_all(FPath, ignored);
    }
    TFolder(const TFolder&) = delete;
    TFolder& operator=(const TFolder&) = delete;

    const fs::path& Path() const noexcept { return FPath; }

private:
    fs::path FPath;
};

TEST(PlayReport, IsOneJsonLineCommittedWholeOrAnError)
{
    play::TPlayFigures figures;
    figures.FramesDrawn = 1234;
    figures.FramesDropped = 5;
    figures.Seconds = 41.2345;
    figures.MaxOffsetMs = 61.25;
    figures.MeanOffsetMs = 40.0625;
    figures.CpuSeconds = 3.5;
    figures.DrawCpuMs = 0.12345;
    figures.UploadCpuMs = 0.5;
    figures.PresentCpuMs = 1.0;
    figures.CleanedSamples = 99; // not part of the report
    // A renderer's name is SDL's: what a JSON string would need escaped is left out.
    figures.Presentation = "texture (open\"gl\\\x01\n)";
    const std::string line =
        "{\"frames_drawn\": 1234, \"frames_dropped\": 5, \"seconds\": 41.234, \"max_av_offset_ms\": 61.250, "
        "\"mean_av_offset_ms\": 40.062, \"cpu_seconds\": 3.500, \"draw_cpu_ms\": 0.1235, \"upload_cpu_ms\": 0.5000, "
        "\"present_cpu_ms\": 1.0000, \"presentation\": \"texture (opengl)\"}\n";
    EXPECT_EQ(play::ReportJson(figures), line);

    TFolder folder;
    ASSERT_FALSE(folder.Path().empty());
    const std::string path = (folder.Path() / "run.json").string();
    {
        output::TAtomicFile report(path);
        EXPECT_FALSE(fs::exists(path)); // nothing is seen before the commit
        play::WriteReport(report, figures);
    }
    std::ifstream written(path, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(written), {}), line);

    // A device that takes nothing: the failed write is an error, not a report.
    output::TAtomicFile full("/dev/full");
    EXPECT_THROW(play::WriteReport(full, figures), common::EToolError);
}

// The player chooses the window's surface when the renderer it is given is a software one: the
// GL driver's name says so, and only the names of software rasterizers count (a GPU driver that
// is built with LLVM is no software renderer).
TEST(PlayPresentation, SoftwareRasterizersAndTheChoicesAreKnownByName)
{
    struct TCase {
        const char* Renderer;
        bool Software;
    } const cases[] = {
        {"llvmpipe (LLVM 15.0.6, 256 bits)", true},
        {"softpipe", true},
        {"Software Rasterizer", true},
        {"Mesa X11 swrast", true},
        {"Google SwiftShader", true},
        {"AMD Radeon RX 6600 (navi23, LLVM 15.0.6, DRM 3.49, 6.1.0-13-amd64)", false},
        {"Mesa Intel(R) UHD Graphics 620 (KBL GT2)", false},
        {"NVIDIA GeForce GTX 1060/PCIe/SSE2", false},
        {"", false},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(play::IsSoftwareGlRenderer(c.Renderer), c.Software) << c.Renderer;

    EXPECT_EQ(play::PresentationChoiceOf("auto"), play::TPresentationChoice::Automatic);
    EXPECT_EQ(play::PresentationChoiceOf("texture"), play::TPresentationChoice::Texture);
    EXPECT_EQ(play::PresentationChoiceOf("surface"), play::TPresentationChoice::Surface);
    for (const char* other : {"", "Surface", "gpu", "surface "})
        EXPECT_EQ(play::PresentationChoiceOf(other), std::nullopt) << other;
}

} // namespace
