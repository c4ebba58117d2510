// The window as a player's visualization area, run in the test's own process so that the test
// can resize the window and push input events between frames: what reaches the module, and on
// what surface it draws.
#include "PlayTestSupport.h"
#include "tests/support/PulseServer.h"

#include "tools/play/Player.h"
#include "tools/lib/sound/SignalSource.h"

#include <gtest/gtest.h>

#include <SDL.h>

#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <cstdlib>
#include <filesystem>
#include <cstdio>

namespace {

using namespace testing_support;

// Sets environment variables for its lifetime and puts the old values back.
class TEnvironment {
public:
    TEnvironment(std::initializer_list<std::pair<const char*, std::string>> AValues)
    {
        for (const auto& [name, value] : AValues) {
            const char* old = std::getenv(name);
            FOld.push_back({name, old ? std::optional<std::string>(old) : std::nullopt});
            setenv(name, value.c_str(), 1);
        }
    }
    ~TEnvironment()
    {
        for (const auto& [name, value] : FOld)
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
    }
    TEnvironment(const TEnvironment&) = delete;
    TEnvironment& operator=(const TEnvironment&) = delete;

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> FOld;
};

void PushClick(SDL_Window* AWindow, int AX, int AY, Uint8 AButton, Uint8 AClicks)
{
    SDL_Event event{};
    event.type = SDL_MOUSEBUTTONDOWN;
    event.button.windowID = SDL_GetWindowID(AWindow);
    event.button.button = AButton;
    event.button.state = SDL_PRESSED;
    event.button.clicks = AClicks;
    event.button.x = AX;
    event.button.y = AY;
    SDL_PushEvent(&event);
}

void PushKey(SDL_Keycode AKey)
{
    SDL_Event event{};
    event.type = SDL_KEYDOWN;
    event.key.state = SDL_PRESSED;
    event.key.keysym.sym = AKey;
    SDL_PushEvent(&event);
}

double ProcessCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

void PushQuit()
{
    SDL_Event event{};
    event.type = SDL_QUIT;
    SDL_PushEvent(&event);
}

play::TPlayOptions RecorderOptions()
{
    play::TPlayOptions options;
    options.Module = PLAY_RECORDING_MODULE;
    options.Width = 320;
    options.Height = 240;
    options.Fps = 50;
    return options;
}

TEST(PlayWindow, ResizeAndClickReachTheModuleAndEveryDrawFitsItsSurface)
{
    TScratch scratch;
    const TEnvironment environment{
        {"SDL_VIDEODRIVER", "dummy"}, {"SDL_AUDIODRIVER", "dummy"}, {"SELVANORE_FAKE_LEDGER", scratch / "ledger.txt"}};
    play::TPlayHooks hooks;
    hooks.AfterFrame = [](SDL_Window* AWindow, std::int64_t AFrames) {
        switch (AFrames) {
        case 5: SDL_SetWindowSize(AWindow, 400, 300); break;
        case 8:
            PushClick(AWindow, 40, 30, SDL_BUTTON_LEFT, 1);
            PushClick(AWindow, 7, 8, SDL_BUTTON_RIGHT, 1);
            PushClick(AWindow, 9, 9, SDL_BUTTON_MIDDLE, 1);
            break;
        case 12: SDL_SetWindowSize(AWindow, 200, 150); break;
        case 20: PushKey(SDLK_q); break;
        default: break;
        }
    };
    const play::TPlayFigures figures = play::RunPlay(RecorderOptions(), hooks);
    EXPECT_EQ(figures.FramesDrawn, 20);

    const std::vector<std::string> ledger = ReadLines(scratch / "ledger.txt");
    ASSERT_FALSE(ledger.empty());
    EXPECT_EQ(ledger.front(), "Initialize 320 240");
    // The visualization, then the plug-in, finalized at the end.
    ASSERT_GE(ledger.size(), 2u);
    EXPECT_EQ(ledger[ledger.size() - 2], "Finalize");
    EXPECT_EQ(ledger.back(), "PluginFinalize");

    std::vector<std::string> calls; // everything but the frames
    int draws = 0;
    std::string extents = "320x240";
    for (const std::string& line : ledger) {
        int given[2] = {}, surface[2] = {}, peak = 0;
        if (std::sscanf(line.c_str(), "Draw %dx%d on %dx%d peak %d", &given[0], &given[1], &surface[0], &surface[1],
                        &peak) == 5) {
            ++draws;
            // Drawn on a surface of exactly the extents the module was last given.
            EXPECT_EQ(std::to_string(given[0]) + "x" + std::to_string(given[1]), extents) << line;
            EXPECT_EQ(std::to_string(surface[0]) + "x" + std::to_string(surface[1]), extents) << line;
            continue;
        }
        calls.push_back(line);
        if (line.rfind("Resize ", 0) == 0)
            extents = line.substr(7, line.find(' ', 7) - 7) + "x" + line.substr(line.find(' ', 7) + 1);
    }
    EXPECT_EQ(draws, 20);
    const std::vector<std::string> expected{"Initialize 320 240", "Resize 400 300", "Click 40 30 0", "Click 7 8 1",
                                            "Click 9 9 2",        "Resize 200 150", "Finalize",      "PluginFinalize"};
    EXPECT_EQ(calls, expected);
}

TEST(PlayWindow, PauseStopsTheFramesAndResumeGoesOn)
{
    TScratch scratch;
    const TEnvironment environment{
        {"SDL_VIDEODRIVER", "dummy"}, {"SDL_AUDIODRIVER", "dummy"}, {"SELVANORE_FAKE_LEDGER", scratch / "ledger.txt"}};
    const auto resume = [](Uint32, void*) -> Uint32 {
        PushKey(SDLK_SPACE);
        return 0;
    };
    std::chrono::steady_clock::time_point paused{}, resumed{};
    double pausedCpu = 0, resumedCpu = 0;
    play::TPlayHooks hooks;
    hooks.AfterFrame = [&](SDL_Window*, std::int64_t AFrames) {
        if (AFrames == 5) {
            PushKey(SDLK_SPACE);
            paused = std::chrono::steady_clock::now();
            pausedCpu = ProcessCpuSeconds();
            SDL_AddTimer(600, resume, nullptr);
        } else if (AFrames == 6) {
            resumed = std::chrono::steady_clock::now();
            resumedCpu = ProcessCpuSeconds();
        } else if (AFrames == 10) {
            PushQuit();
        }
    };
    const play::TPlayFigures figures = play::RunPlay(RecorderOptions(), hooks);
    EXPECT_EQ(figures.FramesDrawn, 10);
    // No frame while paused, and none counted as dropped for it.
    EXPECT_GE(std::chrono::duration<double>(resumed - paused).count(), 0.55);
    EXPECT_LE(figures.FramesDropped, 2);
    // What the pause cost, measured (the one frame after it included), never asserted: the
    // README's figure of the idle player.
    const double seconds = std::chrono::duration<double>(resumed - paused).count();
    RecordProperty("paused_cpu_percent", std::to_string(100.0 * (resumedCpu - pausedCpu) / seconds));
}

// What the desktop plays, made up: a tone of 0.5 while Loud, silence otherwise, at 8 kHz of
// wall-clock time.
class TToneCapture final : public sound::TCapture {
public:
    explicit TToneCapture(const std::atomic<bool>& ALoud) : FLoud(ALoud) {}
    std::int32_t Rate() const noexcept override { return 8000; }
    std::int64_t Latest(float* ALeft, float* ARight) override
    {
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - FStart).count();
        const float level = FLoud ? 0.5f : 0.0f;
        for (int i = 0; i < sound::BlockSize; ++i) {
            ALeft[i] = (i % 2 == 0) ? level : -level;
            ARight[i] = ALeft[i];
        }
        return static_cast<std::int64_t>(seconds * Rate());
    }

private:
    const std::atomic<bool>& FLoud;
    std::chrono::steady_clock::time_point FStart = std::chrono::steady_clock::now();
};

TEST(PlayWindow, ASilentCaptureComesToRestAndSoundWakesItUp)
{
    TScratch scratch;
    const TEnvironment environment{{"SDL_VIDEODRIVER", "dummy"}, {"SELVANORE_FAKE_LEDGER", scratch / "ledger.txt"}};
    static std::atomic<bool> loud{true};
    loud = true;
    play::TPlayOptions options = RecorderOptions();
    options.Capture = true;
    options.Fps = 100;
    std::chrono::steady_clock::time_point quiet{}, woken{};
    play::TPlayHooks hooks;
    hooks.OpenCapture = [](const std::string&) { return std::make_unique<TToneCapture>(loud); };
    hooks.AfterFrame = [&](SDL_Window*, std::int64_t AFrames) {
        if (AFrames == 10) {
            loud = false;
            quiet = std::chrono::steady_clock::now();
            SDL_AddTimer(
                1500,
                [](Uint32, void*) -> Uint32 {
                    loud = true;
                    return 0;
                },
                nullptr);
        } else if (AFrames == 71) {
            woken = std::chrono::steady_clock::now();
        } else if (AFrames == 80) {
            PushQuit();
        }
    };
    const play::TPlayFigures figures = play::RunPlay(options, hooks);
    EXPECT_EQ(figures.FramesDrawn, 80);

    // The tone's peaks reach the module; once the silent pictures have stayed the same for a
    // while, the module is not called until the tone comes back.
    int loudDraws = 0, silentDraws = 0;
    for (const std::string& line : ReadLines(scratch / "ledger.txt")) {
        if (line.rfind("Draw ", 0) != 0)
            continue;
        if (line.ends_with(" peak 500"))
            ++loudDraws;
        else if (line.ends_with(" peak 0"))
            ++silentDraws;
        else
            ADD_FAILURE() << line;
    }
    EXPECT_EQ(loudDraws, 20);
    EXPECT_EQ(silentDraws, 61);
    // The tone came back 1.5 s after the silence began: the rest lasted until then.
    EXPECT_GE(std::chrono::duration<double>(woken - quiet).count(), 1.4);
    // Resting is not dropping.
    EXPECT_LE(figures.FramesDropped, 5);
}

TEST(PlayWindow, CaptureDrawsWhatTheSoundServerPlays)
{
    // A sound server of the test's own with a null output; the player captures its monitor.
    TPulseServer server;
    TScratch scratch;
    const TEnvironment environment{
        {"SDL_VIDEODRIVER", "dummy"}, {"SDL_AUDIODRIVER", "dummy"}, {"SELVANORE_FAKE_LEDGER", scratch / "ledger.txt"}};
    play::TPlayOptions options = RecorderOptions();
    options.Capture = true;

    // Nothing plays for the first 3 s (the null output takes about 2 s to start delivering),
    // then a tone of peak 0.6 for 2 s; half a second after it the run ends. The thread also
    // ends the run when the tone cannot be played, so a failure never hangs the test.
    std::string toneError;
    std::thread tone([&] {
        std::this_thread::sleep_for(std::chrono::seconds(3));
        try {
            PlayTone({440.0, 0.6, 660.0, 0.6}, 44100, 2.0);
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
        } catch (const std::exception& AError) {
            toneError = AError.what();
        }
        PushQuit();
    });
    play::TPlayFigures figures;
    std::string runError;
    try {
        figures = play::RunPlay(options);
    } catch (const std::exception& AError) {
        runError = AError.what();
    }
    tone.join();
    ASSERT_EQ(runError, "");
    ASSERT_EQ(toneError, "");
    EXPECT_GT(figures.FramesDrawn, 0);

    // Silence while nothing plays, then the tone's level; the module sees nothing else.
    int silentBefore = 0, loud = 0;
    for (const std::string& line : ReadLines(scratch / "ledger.txt")) {
        if (line.rfind("Draw ", 0) != 0)
            continue;
        const int peak = std::stoi(line.substr(line.rfind(' ') + 1));
        if (peak == 0 && loud == 0)
            ++silentBefore;
        else if (peak >= 590)
            ++loud;
        // Any level is at most the tone's: a block that straddles its start or end holds part
        // of it, and silence follows it.
        EXPECT_LE(peak, 601) << line;
    }
    EXPECT_GT(silentBefore, 10);
    // 2 s of tone at 50 frames a second, give or take the server's pace on a busy machine.
    EXPECT_GT(loud, 40);
}

// Without the Windows build this run is not made; the build registers it disabled.
#ifdef PLAY_WINE_MODULE
TEST(PlayWindow, TheRealDllUnderWineTakesResizesAndClicks)
{
    std::error_code error;
    if (!std::filesystem::is_regular_file(PLAY_WINE_MODULE, error) ||
        !std::filesystem::is_regular_file(PLAY_WINE_HELPER, error))
        FAIL() << "cannot run: the Windows cross build is not there: " << PLAY_WINE_HELPER
               << " (scripts/test builds it)";
    const TEnvironment environment{{"SDL_VIDEODRIVER", "dummy"}, {"SDL_AUDIODRIVER", "dummy"}};
    play::TPlayOptions options = RecorderOptions();
    options.Wine = true;
    options.Module = PLAY_WINE_MODULE;
    options.WineHelper = PLAY_WINE_HELPER;
    play::TPlayHooks hooks;
    // Each call goes down the helper's pipe; a frame of other extents than the helper's would
    // leave the pipe out of step, and the run would fail or hang.
    hooks.AfterFrame = [](SDL_Window* AWindow, std::int64_t AFrames) {
        if (AFrames == 3)
            SDL_SetWindowSize(AWindow, 200, 100);
        else if (AFrames == 5)
            PushClick(AWindow, 10, 10, SDL_BUTTON_LEFT, 1);
        else if (AFrames == 7)
            SDL_SetWindowSize(AWindow, 333, 251);
        else if (AFrames == 12)
            PushQuit();
    };
    EXPECT_EQ(play::RunPlay(options, hooks).FramesDrawn, 12);
}
#endif

#ifdef PREVIEW_MODULE
TEST(PlayWindow, TheModuleTakesResizesWhileDrawing)
{
    // The real module, resized every few frames to extents large and small: each frame is drawn
    // on the new surface (AddressSanitizer sees any write past it).
    const TEnvironment environment{{"SDL_VIDEODRIVER", "dummy"}, {"SDL_AUDIODRIVER", "dummy"}};
    play::TPlayOptions options = RecorderOptions();
    options.Module = PREVIEW_MODULE;
    options.Fps = 100;
    play::TPlayHooks hooks;
    hooks.AfterFrame = [](SDL_Window* AWindow, std::int64_t AFrames) {
        static const int Sizes[][2] = {{64, 48}, {500, 20}, {1, 1}, {17, 333}, {640, 480}};
        if (AFrames % 3 == 0)
            SDL_SetWindowSize(AWindow, Sizes[(AFrames / 3) % 5][0], Sizes[(AFrames / 3) % 5][1]);
        if (AFrames == 40)
            PushQuit();
    };
    EXPECT_EQ(play::RunPlay(options, hooks).FramesDrawn, 40);
}
#endif

} // namespace
