// The live player: a window that shows the module's frames as the sound plays, and passes the
// window's resizes and clicks on to the module as the player does.
#pragma once

#include "tools/lib/sound/Capture.h"
#include "tools/play/PlayOptions.h"

#include <SDL.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace play {

// What a run measured; also what --report writes.
struct TPlayFigures {
    std::int64_t FramesDrawn = 0;
    std::int64_t FramesDropped = 0;
    double Seconds = 0;     // wall-clock seconds from the first frame to the end
    double MaxOffsetMs = 0; // the lag of the picture behind the sound, largest and mean
    double MeanOffsetMs = 0;
    double CpuSeconds = 0;    // user and system time of the whole process
    double DrawCpuMs = 0;     // per frame drawn, this thread's CPU time in the module's Draw,
    double UploadCpuMs = 0;   // the copy into the texture,
    double PresentCpuMs = 0;  // and the presentation
    std::string Presentation; // how the frames reached the window (TPresentation::Name)
    // Samples of the sound that were beyond full scale or not numbers (TSoundFeed's count);
    // not part of the report.
    std::int64_t CleanedSamples = 0;
};

// Test hooks: called on the frames' thread after each frame is shown (with the window and the
// count of frames drawn), so that a test can resize the window or push input events.
struct TPlayHooks {
    std::function<void(SDL_Window* AWindow, std::int64_t AFramesDrawn)> AfterFrame;
    // In place of sound::OpenCapture, for --capture.
    std::function<std::unique_ptr<sound::TCapture>(const std::string& ASource)> OpenCapture;
};

// Runs the player until the sound ends, --seconds pass or the user ends it; common::EToolError with a
// one-line message for bad input (no display, no audio device, an undecodable file, no sound
// server, no such source). Writes --report when asked.
TPlayFigures RunPlay(const TPlayOptions& AOptions, const TPlayHooks& AHooks = {});

} // namespace play
