#include "tools/play/Player.h"

#include "tools/lib/sound/Capture.h"
#include "tools/play/Sdl.h"
#include "tools/play/SoundFeed.h"
#include "tools/lib/output/AtomicOutput.h"
#include "tools/lib/common/Interrupt.h"
#include "tools/lib/drive/NativeRenderer.h"
#include "tools/lib/common/ToolError.h"
#include "tools/lib/sound/SignalSource.h"
#include "tools/lib/drive/VisualData.h"
#include "tools/lib/drive/WineRenderer.h"

#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

namespace play {

namespace {

using TClock = std::chrono::steady_clock;

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

// Silent frames in a row with the same picture after which a capture is taken to be at rest.
constexpr std::int64_t SettleFrames = 60;

// The longest wait for events, in milliseconds: the loop looks at the sound's end and at an
// orderly end asked by a signal (which sends no event) at least this often, whatever the frame
// rate, and while paused.
constexpr int LongestWaitMs = 50;

double SecondsBetween(TClock::time_point AFrom, TClock::time_point ATo) noexcept
{
    return std::chrono::duration<double>(ATo - AFrom).count();
}

// The module's button numbers: 0 left, 1 right, 2 middle, then the extra buttons.
std::int32_t ModuleButtonOf(Uint8 AButton) noexcept
{
    switch (AButton) {
    case SDL_BUTTON_LEFT: return 0;
    case SDL_BUTTON_RIGHT: return 1;
    case SDL_BUTTON_MIDDLE: return 2;
    default: return static_cast<std::int32_t>(AButton) - 1;
    }
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

// The window, its renderer and the texture the frames are uploaded to.
struct TView {
    TSdlWindow Window;
    TSdlRenderer Renderer;
    TSdlTexture Texture;
    std::int32_t Width = 0; // the drawing area in pixels, which the texture and the module share
    std::int32_t Height = 0;
};

TSdlTexture MakeTexture(SDL_Renderer* ARenderer, std::int32_t AWidth, std::int32_t AHeight)
{
    // The module's pixels are 0x00RRGGBB words, which SDL calls RGB888.
    TSdlTexture texture(
        SDL_CreateTexture(ARenderer, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING, AWidth, AHeight));
    if (!texture)
        throw common::EToolError("cannot make a " + std::to_string(AWidth) + "x" + std::to_string(AHeight) +
                                 " picture in the window: " + SdlError());
    return texture;
}

TView OpenView(const TPlayOptions& AOptions)
{
    TView view;
    view.Window.reset(SDL_CreateWindow("Selvanore", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, AOptions.Width,
                                       AOptions.Height, SDL_WINDOW_RESIZABLE));
    if (!view.Window)
        throw common::EToolError("no display: cannot open a window: " + SdlError());
    const Uint32 vsync = AOptions.Fps ? 0 : SDL_RENDERER_PRESENTVSYNC;
    view.Renderer.reset(SDL_CreateRenderer(view.Window.get(), -1, SDL_RENDERER_ACCELERATED | vsync));
    if (!view.Renderer)
        view.Renderer.reset(SDL_CreateRenderer(view.Window.get(), -1, SDL_RENDERER_SOFTWARE | vsync));
    if (!view.Renderer)
        throw common::EToolError("no display: cannot draw in the window: " + SdlError());
    if (SDL_GetRendererOutputSize(view.Renderer.get(), &view.Width, &view.Height) != 0 || view.Width < 1 ||
        view.Height < 1) {
        view.Width = AOptions.Width;
        view.Height = AOptions.Height;
    }
    view.Texture = MakeTexture(view.Renderer.get(), view.Width, view.Height);
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

} // namespace

std::string ReportJson(const TPlayFigures& AFigures)
{
    char text[512];
    std::snprintf(text, sizeof text,
                  "{\"frames_drawn\": %lld, \"frames_dropped\": %lld, \"seconds\": %.3f, \"max_av_offset_ms\": %.3f, "
                  "\"mean_av_offset_ms\": %.3f, \"cpu_seconds\": %.3f, \"draw_cpu_ms\": %.4f, \"upload_cpu_ms\": %.4f, "
                  "\"present_cpu_ms\": %.4f}\n",
                  static_cast<long long>(AFigures.FramesDrawn), static_cast<long long>(AFigures.FramesDropped),
                  AFigures.Seconds, AFigures.MaxOffsetMs, AFigures.MeanOffsetMs, AFigures.CpuSeconds,
                  AFigures.DrawCpuMs, AFigures.UploadCpuMs, AFigures.PresentCpuMs);
    return text;
}

TPlayFigures RunPlay(const TPlayOptions& AOptions, const TPlayHooks& AHooks)
{
    // The inputs and the report's file first: a file that cannot be decoded or written is
    // reported before any window opens.
    std::unique_ptr<sound::TSignalSource> source;
    if (!AOptions.Capture)
        source = AOptions.Input.empty() ? sound::MakeDefaultSignal() : sound::OpenSoundFile(AOptions.Input);
    std::optional<output::TAtomicFile> report;
    if (!AOptions.Report.empty()) {
        std::vector<output::TNamedPath> inputs;
        if (!AOptions.Input.empty())
            inputs.push_back({"FILE", AOptions.Input});
        inputs.push_back({"--module", AOptions.Module});
        output::RequireSeparateFiles(inputs, {{"--report", AOptions.Report}}, nullptr, false);
        report.emplace(AOptions.Report);
    }

    const TSdlSubsystems video(SDL_INIT_VIDEO | SDL_INIT_EVENTS, "no display");
    const TLostDisplayHandler lostDisplay;
    std::unique_ptr<TSoundFeed> feed;
    if (AOptions.Capture)
        feed = std::make_unique<TCaptureFeed>(AHooks.OpenCapture ? AHooks.OpenCapture(AOptions.CaptureSource)
                                                                 : sound::OpenCapture(AOptions.CaptureSource));
    else
        feed = std::make_unique<TPlayback>(std::move(source), AOptions.Seconds);
    TView view = OpenView(AOptions);

    // Declared last, so that the module is finalized and unloaded first of all at the end.
    std::unique_ptr<drive::TFrameRenderer> frames;
    if (AOptions.Wine)
        frames = std::make_unique<drive::TWineRenderer>(
            drive::TWineRendererSetup{AOptions.WineHelper, AOptions.Module, view.Width, view.Height});
    else
        frames = drive::MakeNativeRenderer({AOptions.Module, view.Width, view.Height, {}});

    const double rate = FrameRateOf(AOptions, view.Window.get());
    // Frames are paced here with --fps, and also when the presentation does not wait for the
    // display's refresh after all (some renderers take the vsync flag and ignore it), which
    // would run the loop flat out: seen as presentations coming in quick succession.
    bool paced = AOptions.Fps.has_value();
    int quickPresents = 0;
    TClock::time_point lastShown{};
    const auto period = std::chrono::duration_cast<TClock::duration>(std::chrono::duration<double>(1.0 / rate));
    const std::int64_t secondsLimit =
        AOptions.Seconds ? static_cast<std::int64_t>(std::ceil(*AOptions.Seconds * feed->Rate())) : -1;

    TPlayFigures figures;
    TStatusLine status;
    TAIMPVisualData data{}; // one record for every frame, as a player reuses its buffers
    std::array<float, sound::BlockSize> left{}, right{};
    std::vector<std::uint32_t> settled; // a silent capture's last picture, to see it stop changing
    bool running = true, paused = false, idle = false, fullScreen = false, resized = false;
    double lagSum = 0, lastLag = 0, drawCpu = 0, uploadCpu = 0, presentCpu = 0;

    // Frame slots: slot k is the k-th period after the origin; a slot that passes without a
    // frame shown is a dropped frame. Pauses and idle stretches restart the count.
    TClock::time_point origin{}, nextDue = TClock::now();
    std::int64_t lastSlot = -1;
    bool counting = false;
    const auto resync = [&] {
        counting = false;
        nextDue = TClock::now();
    };

    const auto show = [&] {
        SDL_RenderClear(view.Renderer.get());
        SDL_RenderCopy(view.Renderer.get(), view.Texture.get(), nullptr, nullptr);
        SDL_RenderPresent(view.Renderer.get());
    };
    // One frame from the block at the clock's position; false when nothing was shown because a
    // silent capture has left the picture unchanged for a while (the player is idle then, and
    // the module is not called again until sound comes back).
    std::int64_t frameIndex = 0;
    std::int64_t unchanged = 0; // silent frames in a row whose picture was the one before
    const auto drawFrame = [&](bool AMayIdle) {
        const std::int64_t position = feed->Block(left.data(), right.data());
        const bool silent = AOptions.Capture && AMayIdle && IsSilent(left.data(), right.data());
        if (idle && silent)
            return false;
        idle = false;
        drive::FillVisualData(data, left.data(), right.data());
        const double c0 = ThreadCpuSeconds();
        const std::uint32_t* pixels = frames->Render(frameIndex++, data);
        const double c1 = ThreadCpuSeconds();
        const std::size_t count = static_cast<std::size_t>(view.Width) * static_cast<std::size_t>(view.Height);
        if (silent) {
            if (settled.size() == count && std::equal(settled.begin(), settled.end(), pixels)) {
                // The rings may still move by less than a pixel a frame, or wait for the next
                // capture: only a long run of equal pictures means they have come to rest.
                if (++unchanged >= SettleFrames) {
                    idle = true;
                    return false;
                }
            } else {
                unchanged = 0;
                settled.assign(pixels, pixels + count);
            }
        } else {
            unchanged = 0;
            settled.clear();
        }
        SDL_UpdateTexture(view.Texture.get(), nullptr, pixels, view.Width * 4);
        const double c2 = ThreadCpuSeconds();
        show();
        const double c3 = ThreadCpuSeconds();
        drawCpu += c1 - c0;
        uploadCpu += c2 - c1;
        presentCpu += c3 - c2;
        // The lag of the picture behind the sound: what is heard as the frame is shown, less
        // what it was drawn from.
        lastLag = static_cast<double>(feed->Now() - position) * 1000.0 / feed->Rate();
        lagSum += lastLag;
        figures.MaxOffsetMs = std::max(figures.MaxOffsetMs, lastLag);
        ++figures.FramesDrawn;
        return true;
    };

    const auto resize = [&] {
        resized = false;
        std::int32_t width = 0, height = 0;
        if (SDL_GetRendererOutputSize(view.Renderer.get(), &width, &height) != 0 || width < 1 || height < 1 ||
            (width == view.Width && height == view.Height))
            return;
        // The texture first: when it cannot be made, the module has not heard of the new extents.
        TSdlTexture texture = MakeTexture(view.Renderer.get(), width, height);
        frames->Resize(width, height);
        view.Texture = std::move(texture);
        view.Width = width;
        view.Height = height;
        settled.clear();
        idle = false;
        // A paused picture is drawn once at the new size, from the paused moment.
        if (paused)
            drawFrame(false);
    };

    const auto handle = [&](const SDL_Event& AEvent) {
        switch (AEvent.type) {
        case SDL_QUIT: running = false; break;
        case SDL_KEYDOWN:
            switch (AEvent.key.keysym.sym) {
            case SDLK_q:
            case SDLK_ESCAPE: running = false; break;
            case SDLK_f:
                fullScreen = !fullScreen;
                SDL_SetWindowFullscreen(view.Window.get(), fullScreen ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0);
                break;
            case SDLK_SPACE:
                paused = !paused;
                feed->SetPaused(paused);
                resync();
                break;
            default: break;
            }
            break;
        case SDL_WINDOWEVENT:
            if (AEvent.window.event == SDL_WINDOWEVENT_SIZE_CHANGED)
                resized = true;
            else if (AEvent.window.event == SDL_WINDOWEVENT_CLOSE)
                running = false;
            else if (AEvent.window.event == SDL_WINDOWEVENT_EXPOSED && (paused || idle))
                show();
            break;
        case SDL_MOUSEBUTTONDOWN:
            if (AEvent.button.clicks == 2 && AEvent.button.button == SDL_BUTTON_LEFT) {
                fullScreen = !fullScreen;
                SDL_SetWindowFullscreen(view.Window.get(), fullScreen ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0);
            } else if (AEvent.button.clicks == 1) {
                // From the window's coordinates to the drawing area's pixels, which differ on a
                // display that scales.
                int windowWidth = 0, windowHeight = 0;
                SDL_GetWindowSize(view.Window.get(), &windowWidth, &windowHeight);
                const auto scaled = [](int AAt, int AFrom, std::int32_t ATo) {
                    return AFrom > 0 ? static_cast<std::int32_t>(std::int64_t{AAt} * ATo / AFrom) : AAt;
                };
                frames->Click(scaled(AEvent.button.x, windowWidth, view.Width),
                              scaled(AEvent.button.y, windowHeight, view.Height), ModuleButtonOf(AEvent.button.button));
            }
            break;
        default: break;
        }
    };

    // Whether the sound has ended, or --seconds have passed; common::EToolError when it turned out
    // damaged.
    const auto soundOver = [&] { return feed->Ended() || (secondsLimit >= 0 && feed->Now() >= secondsLimit); };

    // From here Ctrl-C and SIGTERM end the run as closing the window does, with its report.
    const common::TOrderlyEndOnInterrupt orderly;
    const auto start = TClock::now();
    feed->SetPaused(false);
    while (running) {
        SDL_Event event;
        // Waiting: for input while paused or idle (a silent capture is looked at once a frame),
        // for the next frame's time when frames are paced; vsync waits in the presentation.
        if (paused || idle) {
            if (SDL_WaitEventTimeout(&event, paused ? LongestWaitMs
                                                    : std::clamp(static_cast<int>(1000 / rate), 1, LongestWaitMs)))
                handle(event);
        } else if (paced) {
            // Woken in time for the sound's end and for an orderly end, however far off the
            // next frame is.
            for (auto now = TClock::now(); running && now < nextDue && !common::OrderlyEndRequested() && !soundOver();
                 now = TClock::now()) {
                const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(nextDue - now).count();
                if (wait < 1)
                    break;
                if (SDL_WaitEventTimeout(&event, static_cast<int>(std::min<std::int64_t>(wait, LongestWaitMs))))
                    handle(event);
            }
        }
        while (running && SDL_PollEvent(&event))
            handle(event);
        if (!running || common::OrderlyEndRequested())
            break;
        if (resized)
            resize();
        if (paused) {
            status.Update(figures, lastLag, true);
            continue;
        }
        if (soundOver())
            break;

        const bool wasIdle = idle;
        if (!drawFrame(true)) {
            status.Update(figures, lastLag, false);
            continue;
        }
        if (wasIdle)
            resync();
        const auto shown = TClock::now();
        if (!paced) {
            quickPresents = shown - lastShown < period / 2 ? quickPresents + 1 : 0;
            paced = quickPresents >= 10;
            lastShown = shown;
        }
        if (!counting) {
            counting = true;
            origin = shown;
            lastSlot = 0;
        } else {
            const auto slot = static_cast<std::int64_t>(std::llround(SecondsBetween(origin, shown) * rate));
            if (slot > lastSlot + 1)
                figures.FramesDropped += slot - lastSlot - 1;
            lastSlot = std::max(slot, lastSlot + 1);
        }
        nextDue = std::max(nextDue + period, shown);
        if (AHooks.AfterFrame)
            AHooks.AfterFrame(view.Window.get(), figures.FramesDrawn);
        status.Update(figures, lastLag, false);
    }
    feed->SetPaused(true);

    figures.CleanedSamples = feed->CleanedSamples();
    figures.Seconds = SecondsBetween(start, TClock::now());
    figures.CpuSeconds = ProcessCpuSeconds();
    if (figures.FramesDrawn > 0) {
        const double frameCount = static_cast<double>(figures.FramesDrawn);
        figures.MeanOffsetMs = lagSum / frameCount;
        figures.DrawCpuMs = drawCpu * 1000.0 / frameCount;
        figures.UploadCpuMs = uploadCpu * 1000.0 / frameCount;
        figures.PresentCpuMs = presentCpu * 1000.0 / frameCount;
    }
    if (report) {
        const std::string json = ReportJson(figures);
        if (std::fputs(json.c_str(), report->Stream()) < 0)
            output::ThrowWriteError(report->Target());
        report->Commit();
    }
    return figures;
}

} // namespace play
