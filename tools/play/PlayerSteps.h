// The steps of the live player's loop that need no window, each on its own so that a test can
// drive it with times, pictures and events of its own: the pacing of frames, the slots that
// count dropped ones, the idleness of a silent capture, what an event asks for, and the report.
// TPlayer (Player.cpp) strings them together around the window and the sound.
#pragma once

#include "tools/play/Player.h"

#include <SDL.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace output {
class TAtomicFile;
}

namespace play {

using TClock = std::chrono::steady_clock;

// The longest wait for events, in milliseconds: the loop looks at the sound's end and at an
// orderly end asked by a signal (which sends no event) at least this often, whatever the frame
// rate, and while paused.
inline constexpr int LongestWaitMs = 50;

// Silent frames in a row with the same picture after which a capture is taken to be at rest.
inline constexpr std::int64_t SettleFrames = 60;

double SecondsBetween(TClock::time_point AFrom, TClock::time_point ATo) noexcept;

// ---- Pacing ----

enum class TPacedBy {
    Presentation, // the presentation waits for the display's refresh (vsync)
    Player        // --fps: the loop waits for each frame's time itself
};
// Why nothing is drawn for now.
enum class TResting { Paused, Idle };

// When the next frame is due, at ARate frames per second. Frames are paced here with --fps, and
// also when the presentation does not wait for the display's refresh after all (some renderers
// take the vsync flag and ignore it), which would run the loop flat out: seen as ten
// presentations in a row less than half a period apart.
class TFramePacing {
public:
    TFramePacing(double ARate, TPacedBy APacedBy, TClock::time_point ANow) noexcept;

    double Rate() const noexcept { return FRate; }
    // Whether the loop waits for each frame's time itself.
    bool Paced() const noexcept { return FPaced; }
    // How long to wait for events at ANow before the next frame, in whole milliseconds: 0 when
    // it is due (less than a millisecond away), else at most LongestWaitMs.
    int WaitMs(TClock::time_point ANow) const noexcept;
    // How long to wait for events while nothing is drawn: LongestWaitMs while paused; one period
    // (1 to LongestWaitMs) while idle, since a silent capture is looked at once a frame.
    int RestingWaitMs(TResting AResting) const noexcept;
    // A frame was shown at AShown: the next one is due a period after the one before, or at
    // once when the loop has fallen behind.
    void Shown(TClock::time_point AShown) noexcept;
    // After a pause or an idle stretch: the next frame is due at ANow.
    void Resync(TClock::time_point ANow) noexcept;

private:
    double FRate;
    TClock::duration FPeriod;
    bool FPaced;
    int FQuickPresents = 0;
    TClock::time_point FLastShown{};
    TClock::time_point FNextDue;
};

// ---- Slots ----

// Frame slots at ARate frames per second: slot k is the k-th period after the origin, the first
// frame shown after a restart; a slot that passes without a frame shown is a dropped frame.
class TFrameSlots {
public:
    explicit TFrameSlots(double ARate) noexcept : FRate(ARate) {}

    // A frame was shown at AShown, in the slot nearest to it; returns the slots that passed
    // without one since the frame before. A frame in a slot already taken takes the next.
    std::int64_t Shown(TClock::time_point AShown) noexcept;
    // Pauses and idle stretches restart the count.
    void Restart() noexcept { FCounting = false; }

private:
    double FRate;
    bool FCounting = false;
    TClock::time_point FOrigin{};
    std::int64_t FLastSlot = -1;
};

// ---- Idleness ----

enum class TBlockSound {
    Sounding,
    Silent // a silent block of a capture, after which the player may come to rest
};

// A silent capture at rest: once its picture has stayed the same for SettleFrames silent frames
// in a row, the player is idle, and the module is not called again until sound comes back.
class TIdleness {
public:
    bool Idle() const noexcept { return FIdle; }
    // Before a block is drawn: whether to pass it by, the player being idle and the block
    // silent. Any other block ends the idleness.
    bool PassesBy(TBlockSound ABlock) noexcept;
    // After a block is drawn, its picture APixels of ACount pixels: whether to show it. False
    // when the picture has come to rest (the player is idle from then on). Allocates only when
    // a silent picture follows one of other extents or a sounding one.
    bool Shows(const std::uint32_t* APixels, std::size_t ACount, TBlockSound ABlock);
    // The drawing area changed extents: awake, and the picture is new.
    void Wake() noexcept;

private:
    bool FIdle = false;
    std::int64_t FUnchanged = 0;         // silent frames in a row whose picture was the one before
    std::vector<std::uint32_t> FSettled; // the last silent picture, to see it stop changing
};

// ---- Events ----

enum class TPlayAction { None, Quit, ToggleFullScreen, TogglePause, Resized, Exposed, Click };

// What an event asks of the player. For a click, where in the window's coordinates and which of
// the module's buttons.
struct TPlayEvent {
    TPlayAction Action = TPlayAction::None;
    int X = 0;
    int Y = 0;
    std::int32_t Button = 0;
};

// Q, Escape, closing the window and SDL's quit end the run; F and a double left click toggle
// full screen; Space pauses and resumes; a single click of any button goes to the module.
TPlayEvent EventOf(const SDL_Event& AEvent) noexcept;

// The module's button numbers: 0 left, 1 right, 2 middle, then the extra buttons.
std::int32_t ModuleButtonOf(Uint8 AButton) noexcept;

// AAt of a window AFrom units wide in the drawing area's pixels, ATo wide, which differ on a
// display that scales; AAt itself when the window's size is not known (AFrom 0).
std::int32_t ScaledToArea(int AAt, int AFrom, std::int32_t ATo) noexcept;

// ---- The report ----

// This thread's CPU seconds for one frame, in the module's Draw, the copy into the texture and
// the presentation.
struct TFrameCosts {
    double Draw = 0;
    double Upload = 0;
    double Present = 0;
};

// The run's figures as its frames are shown and dropped.
class TFrameTally {
public:
    // A frame was shown, its picture ALagMs behind the sound.
    void Drawn(const TFrameCosts& ACosts, double ALagMs) noexcept;
    void Dropped(std::int64_t ACount) noexcept { FFigures.FramesDropped += ACount; }

    // The figures so far, for the status line: frames and the largest lag.
    const TPlayFigures& Figures() const noexcept { return FFigures; }
    double LastLagMs() const noexcept { return FLastLagMs; }
    // The run's figures at its end, means per frame drawn (0 without one) and the run's
    // ASeconds, ACpuSeconds of the whole process and ACleanedSamples added.
    TPlayFigures Finish(double ASeconds, double ACpuSeconds, std::int64_t ACleanedSamples) const noexcept;

private:
    TPlayFigures FFigures;
    double FLastLagMs = 0;
    double FLagSum = 0;
    TFrameCosts FCostSums;
};

// The figures as the report's one JSON object, with its newline.
std::string ReportJson(const TPlayFigures& AFigures);

// Writes ReportJson(AFigures) to AReport and commits it; common::EToolError when it cannot be
// written.
void WriteReport(output::TAtomicFile& AReport, const TPlayFigures& AFigures);

} // namespace play
