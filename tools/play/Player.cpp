#include "tools/play/Player.h"

#include "tools/lib/common/Interrupt.h"
#include "tools/lib/common/ToolError.h"
#include "tools/lib/drive/NativeRenderer.h"
#include "tools/lib/drive/VisualData.h"
#include "tools/lib/drive/WineRenderer.h"
#include "tools/lib/output/AtomicFile.h"
#include "tools/lib/output/SeparateFiles.h"
#include "tools/lib/sound/Capture.h"
#include "tools/lib/sound/SignalSource.h"
#include "tools/play/PlayerSteps.h"
#include "tools/play/Presentation.h"
#include "tools/play/Sdl.h"
#include "tools/play/SoundFeed.h"

#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

namespace play {

namespace {

// Seconds of CPU time of the calling thread: what a phase of a frame costs, whatever else the
// machine does meanwhile, and nothing while the thread waits (for vsync, say).
double ThreadCpuSeconds() noexcept
{
    timespec time{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &time);
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_nsec) * 1e-9;
}

// Seconds of CPU time of the whole process, all threads (the audio callback's among them).
double ProcessCpuSeconds() noexcept
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& ATime) {
        return static_cast<double>(ATime.tv_sec) + static_cast<double>(ATime.tv_usec) * 1e-6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

bool IsSilent(const float* ALeft, const float* ARight) noexcept
{
    for (int i = 0; i < sound::BlockSize; ++i)
        if (ALeft[i] != 0.0f || ARight[i] != 0.0f)
            return false;
    return true;
}

// The status line on standard error, when that is a terminal, rewritten twice a second.
class TStatusLine {
public:
    TStatusLine() : FShown(isatty(STDERR_FILENO) == 1) {}
    ~TStatusLine()
    {
        if (FOpen)
            std::fputc('\n', stderr);
    }
    TStatusLine(const TStatusLine&) = delete;
    TStatusLine& operator=(const TStatusLine&) = delete;

    void Update(const TPlayFigures& AFigures, double ALagMs, bool APaused)
    {
        if (!FShown)
            return;
        const auto now = TClock::now();
        if (FOpen && SecondsBetween(FLast, now) < 0.5)
            return;
        const double cpu = ProcessCpuSeconds();
        const double share = FOpen ? 100.0 * (cpu - FLastCpu) / std::max(1e-6, SecondsBetween(FLast, now)) : 0.0;
        std::fprintf(stderr, "\r%lld frames drawn, %lld dropped, lag %.1f ms, CPU %.1f%%%s   ",
                     static_cast<long long>(AFigures.FramesDrawn), static_cast<long long>(AFigures.FramesDropped),
                     ALagMs, share, APaused ? ", paused" : "");
        std::fflush(stderr);
        FOpen = true;
        FLast = now;
        FLastCpu = cpu;
    }

private:
    bool FShown;
    bool FOpen = false;
    TClock::time_point FLast{};
    double FLastCpu = 0;
};

// The window and how the frames reach it.
struct TView {
    TSdlWindow Window;
    std::unique_ptr<TPresentation> Presentation;
};

TView OpenView(const TPlayOptions& AOptions)
{
    TView view;
    // Hidden until the presentation is chosen, which may take a renderer on it and give it up.
    view.Window.reset(SDL_CreateWindow("Selvanore", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, AOptions.Width,
                                       AOptions.Height, SDL_WINDOW_RESIZABLE | SDL_WINDOW_HIDDEN));
    if (!view.Window)
        throw common::EToolError("no display: cannot open a window: " + SdlError());
    view.Presentation = OpenPresentation(view.Window.get(), AOptions.Present, !AOptions.Fps);
    return view;
}

// Frames per second the slots are counted in: --fps, or the display's refresh rate (60 when the
// display does not say).
double FrameRateOf(const TPlayOptions& AOptions, SDL_Window* AWindow)
{
    if (AOptions.Fps)
        return *AOptions.Fps;
    SDL_DisplayMode mode{};
    if (SDL_GetWindowDisplayMode(AWindow, &mode) == 0 && mode.refresh_rate > 0)
        return mode.refresh_rate;
    return 60.0;
}

// The sound the run plays: the file or the built-in signal, or the sound server's capture.
std::unique_ptr<sound::TSignalSource> OpenSource(const TPlayOptions& AOptions)
{
    if (AOptions.Capture)
        return nullptr;
    return AOptions.Input.empty() ? sound::MakeDefaultSignal() : sound::OpenSoundFile(AOptions.Input);
}

// The report's file, or null without --report.
std::unique_ptr<output::TAtomicFile> OpenReport(const TPlayOptions& AOptions)
{
    if (AOptions.Report.empty())
        return nullptr;
    std::vector<output::TNamedPath> inputs;
    if (!AOptions.Input.empty())
        inputs.push_back({"FILE", sound::InputFileOf(AOptions.Input)});
    inputs.push_back({"--module", AOptions.Module});
    output::RequireSeparateFiles(inputs, {{"--report", AOptions.Report}}, nullptr, false);
    return std::make_unique<output::TAtomicFile>(AOptions.Report);
}

// The sound on its way to the loudspeaker, or from the sound server; takes ASource.
std::unique_ptr<TSoundFeed> MakeFeed(const TPlayOptions& AOptions, const TPlayHooks& AHooks,
                                     std::unique_ptr<sound::TSignalSource> ASource)
{
    if (!AOptions.Capture)
        return std::make_unique<TPlayback>(std::move(ASource), AOptions.Seconds);
    return std::make_unique<TCaptureFeed>(AHooks.OpenCapture ? AHooks.OpenCapture(AOptions.CaptureSource)
                                                             : sound::OpenCapture(AOptions.CaptureSource));
}

std::unique_ptr<drive::TFrameRenderer> MakeRenderer(const TPlayOptions& AOptions, const TPresentation& AShown)
{
    if (AOptions.Wine)
        return std::make_unique<drive::TWineRenderer>(
            drive::TWineRendererSetup{AOptions.WineHelper, AOptions.Module, AShown.Width(), AShown.Height()});
    return drive::MakeNativeRenderer({AOptions.Module, AShown.Width(), AShown.Height(), {}});
}

// Whether a frame drawn now may be the one that finds a silent capture at rest.
enum class TRest { Allowed, Refused };

// One run of the player: the sound, the window and the module, and the loop that shows a frame
// from the sound's block at the clock's position whenever one is due, until the sound ends,
// --seconds pass or the user ends it.
class TPlayer {
public:
    // The inputs and the report's file first: a file that cannot be decoded or written is
    // reported before any window opens.
    TPlayer(const TPlayOptions& AOptions, const TPlayHooks& AHooks)
        : FOptions(AOptions), FHooks(AHooks), FSource(OpenSource(AOptions)), FReport(OpenReport(AOptions)),
          FVideo(SDL_INIT_VIDEO | SDL_INIT_EVENTS, "no display"), FFeed(MakeFeed(AOptions, AHooks, std::move(FSource))),
          FView(OpenView(AOptions)), FShown(*FView.Presentation), FFrames(MakeRenderer(AOptions, FShown)),
          FPacing(FrameRateOf(AOptions, FView.Window.get()),
                  FShown.WaitsForRefresh() ? TPacedBy::Presentation : TPacedBy::Player, TClock::now()),
          FSlots(FPacing.Rate()),
          FSecondsLimit(AOptions.Seconds ? static_cast<std::int64_t>(std::ceil(*AOptions.Seconds * FFeed->Rate())) : -1)
    {}

    // Plays to the end and returns the figures, written to --report when asked.
    TPlayFigures Run();

private:
    void Wait();
    void Handle(const SDL_Event& AEvent);
    void ToggleFullScreen();
    void TogglePause();
    void Click(const TPlayEvent& AClick);
    void Resize();
    bool DrawFrame(TRest ARest);
    void CountShown();
    bool SoundOver();
    void Resync();

    const TPlayOptions& FOptions;
    const TPlayHooks& FHooks;
    std::unique_ptr<sound::TSignalSource> FSource; // until the feed takes it
    std::unique_ptr<output::TAtomicFile> FReport;  // null without --report
    const TSdlSubsystems FVideo;
    const TLostDisplayHandler FLostDisplay;
    std::unique_ptr<TSoundFeed> FFeed;
    TView FView;
    TPresentation& FShown; // FView's
    // After the sound and the window, so that the module is finalized and unloaded before
    // either goes.
    std::unique_ptr<drive::TFrameRenderer> FFrames;

    TFramePacing FPacing;
    TFrameSlots FSlots;
    TIdleness FIdleness;
    TFrameTally FTally;
    TStatusLine FStatus;
    const std::int64_t FSecondsLimit; // in samples; -1 without --seconds
    TAIMPVisualData FData{};          // one record for every frame, as a player reuses its buffers
    std::array<float, sound::BlockSize> FLeft{}, FRight{};
    std::int64_t FFrameIndex = 0;
    bool FRunning = true;
    bool FPaused = false;
    bool FFullScreen = false;
    bool FResized = false;
};

TPlayFigures TPlayer::Run()
{
    // From here Ctrl-C and SIGTERM end the run as closing the window does, with its report.
    const common::TOrderlyEndOnInterrupt orderly;
    const auto start = TClock::now();
    FFeed->SetPaused(false);
    while (FRunning) {
        Wait();
        SDL_Event event;
        while (FRunning && SDL_PollEvent(&event))
            Handle(event);
        if (!FRunning || common::OrderlyEndRequested())
            break;
        if (FResized)
            Resize();
        if (FPaused) {
            FStatus.Update(FTally.Figures(), FTally.LastLagMs(), true);
            continue;
        }
        if (SoundOver())
            break;
        const bool wasIdle = FIdleness.Idle();
        if (!DrawFrame(TRest::Allowed)) {
            FStatus.Update(FTally.Figures(), FTally.LastLagMs(), false);
            continue;
        }
        if (wasIdle)
            Resync();
        CountShown();
        if (FHooks.AfterFrame)
            FHooks.AfterFrame(FView.Window.get(), FTally.Figures().FramesDrawn);
        FStatus.Update(FTally.Figures(), FTally.LastLagMs(), false);
    }
    FFeed->SetPaused(true);

    const std::int64_t cleaned = FFeed->CleanedSamples();
    TPlayFigures figures = FTally.Finish(SecondsBetween(start, TClock::now()), ProcessCpuSeconds(), cleaned);
    figures.Presentation = FShown.Name();
    if (FReport)
        WriteReport(*FReport, figures);
    return figures;
}

// Waits for input while paused or idle (a silent capture is looked at once a frame), and for
// the next frame's time when frames are paced; vsync waits in the presentation.
void TPlayer::Wait()
{
    SDL_Event event;
    if (FPaused || FIdleness.Idle()) {
        if (SDL_WaitEventTimeout(&event, FPacing.RestingWaitMs(FPaused ? TResting::Paused : TResting::Idle)))
            Handle(event);
        return;
    }
    if (!FPacing.Paced())
        return;
    // Woken in time for the sound's end and for an orderly end, however far off the next frame
    // is.
    for (int wait = FPacing.WaitMs(TClock::now());
         FRunning && wait > 0 && !common::OrderlyEndRequested() && !SoundOver(); wait = FPacing.WaitMs(TClock::now()))
        if (SDL_WaitEventTimeout(&event, wait))
            Handle(event);
}

void TPlayer::Handle(const SDL_Event& AEvent)
{
    const TPlayEvent what = EventOf(AEvent);
    switch (what.Action) {
    case TPlayAction::None: break;
    case TPlayAction::Quit: FRunning = false; break;
    case TPlayAction::ToggleFullScreen: ToggleFullScreen(); break;
    case TPlayAction::TogglePause: TogglePause(); break;
    case TPlayAction::Resized: FResized = true; break;
    case TPlayAction::Exposed:
        if (FPaused || FIdleness.Idle())
            FShown.Show();
        break;
    case TPlayAction::Click: Click(what); break;
    }
}

void TPlayer::ToggleFullScreen()
{
    FFullScreen = !FFullScreen;
    SDL_SetWindowFullscreen(FView.Window.get(), FFullScreen ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0);
}

void TPlayer::TogglePause()
{
    FPaused = !FPaused;
    FFeed->SetPaused(FPaused);
    Resync();
}

void TPlayer::Click(const TPlayEvent& AClick)
{
    int windowWidth = 0, windowHeight = 0;
    SDL_GetWindowSize(FView.Window.get(), &windowWidth, &windowHeight);
    FFrames->Click(ScaledToArea(AClick.X, windowWidth, FShown.Width()),
                   ScaledToArea(AClick.Y, windowHeight, FShown.Height()), AClick.Button);
}

// Takes the drawing area to the window's new size, when it has one.
void TPlayer::Resize()
{
    FResized = false;
    // The picture first: when it cannot be made, the module has not heard of the new extents.
    if (!FShown.TakeNewSize())
        return;
    FFrames->Resize(FShown.Width(), FShown.Height());
    FIdleness.Wake();
    // A paused picture is drawn once at the new size, from the paused moment.
    if (FPaused)
        DrawFrame(TRest::Refused);
}

// One frame from the block at the clock's position; false when nothing was shown because a
// silent capture has left the picture unchanged for a while (TIdleness).
bool TPlayer::DrawFrame(TRest ARest)
{
    const std::int64_t position = FFeed->Block(FLeft.data(), FRight.data());
    const TBlockSound block = FOptions.Capture && ARest == TRest::Allowed && IsSilent(FLeft.data(), FRight.data())
                                  ? TBlockSound::Silent
                                  : TBlockSound::Sounding;
    if (FIdleness.PassesBy(block))
        return false;
    drive::FillVisualData(FData, FLeft.data(), FRight.data());
    const double c0 = ThreadCpuSeconds();
    const std::uint32_t* pixels = FFrames->Render(FFrameIndex++, FData);
    const double c1 = ThreadCpuSeconds();
    if (!FIdleness.Shows(pixels, static_cast<std::size_t>(FShown.Width()) * static_cast<std::size_t>(FShown.Height()),
                         block))
        return false;
    FShown.Upload(pixels);
    const double c2 = ThreadCpuSeconds();
    FShown.Show();
    const double c3 = ThreadCpuSeconds();
    // The lag of the picture behind the sound: what is heard as the frame is shown, less what
    // it was drawn from.
    FTally.Drawn({c1 - c0, c2 - c1, c3 - c2}, static_cast<double>(FFeed->Now() - position) * 1000.0 / FFeed->Rate());
    return true;
}

// A frame was shown: its slot, and when the next one is due.
void TPlayer::CountShown()
{
    const auto shown = TClock::now();
    FPacing.Shown(shown);
    FTally.Dropped(FSlots.Shown(shown));
}

// Whether the sound has ended, or --seconds have passed; common::EToolError when it turned out
// damaged.
bool TPlayer::SoundOver()
{
    return FFeed->Ended() || (FSecondsLimit >= 0 && FFeed->Now() >= FSecondsLimit);
}

// After a pause or an idle stretch: the slots count afresh, and the next frame is due now.
void TPlayer::Resync()
{
    FSlots.Restart();
    FPacing.Resync(TClock::now());
}

} // namespace

TPlayFigures RunPlay(const TPlayOptions& AOptions, const TPlayHooks& AHooks)
{
    TPlayer player(AOptions, AHooks);
    return player.Run();
}

} // namespace play
