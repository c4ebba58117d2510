#include "tools/play/PlayOptions.h"

#include "tools/lib/common/Parse.h"
#include "tools/lib/common/ToolError.h"
#include "tools/lib/sound/SignalSource.h"

#include <CLI/CLI.hpp>

#include <cstdlib>
#include <ostream>
#include <string>

namespace play {

namespace {

const char* const HelpFooter = R"(Playing:
  The sound goes to the default sound card through SDL (SDL_AUDIODRIVER chooses
  another driver). Each frame takes, for each channel, the 512 samples that
  start at the current playback position and hands them to the module with
  their peaks, as selvanore-preview does. The position is the audio clock: the
  samples the sound card has consumed, less its output latency (the buffer it
  is playing and the one handed to it), advanced by the time since the last
  hand-over; it never comes from a count of frames, so a slow frame shows a
  later moment rather than falling behind the sound.

Frames:
  Without --fps each frame is shown at the display's refresh (vsync); with
  --fps N frames are paced at N per second. A frame is dropped when its slot
  (one refresh, or 1/N second) passes without a frame shown; while paused, or
  while a silent capture leaves the picture unchanged, no frames are due and
  none count as dropped.
  How frames reach the window (--present, or SELVANORE_PRESENT): "texture"
  uploads each into a texture that SDL's renderer draws, with vsync;
  "surface" copies each into the window's own surface, once, and the player
  paces itself at the refresh rate. "auto", the default, takes the texture
  when the renderer is accelerated and the surface when it is a software one
  (Mesa's llvmpipe, SDL's software renderer, no GPU), where a texture would be
  composited once more on the CPU. The report says which was used.

Keys and mouse:
  space        pause or resume the sound. While paused the picture stands
               still on the last frame and the module is not called (a resize
               while paused draws one frame of the paused moment at the new
               size); the program then waits for events and uses almost no CPU.
  f, double click
               full screen on or off
  click        the module's Click, at the position in the drawing area's pixels,
               with the button 0 (left), 1 (right) or 2 (middle)
  q, Escape, closing the window, Ctrl-C (or SIGTERM)
               end: the visualization and the plug-in are finalized and the
               module is unloaded, as the player does, and the report is
               written. Before the window plays, or a second time, Ctrl-C and
               SIGTERM interrupt the run, as SIGHUP, SIGQUIT and the other
               ending signals always do: nothing is written, the program says
               "interrupted" and exits with 128 + the signal.
  A resize calls the module's Resize with the new extents, after the drawing
  surface has taken them.

Capture (--capture [SOURCE]):
  Draws what the desktop plays, read from the sound server (PulseAudio, or
  PipeWire's PulseAudio service): the default output's monitor, or SOURCE
  (see 'pactl list short sources'). Nothing is played. Each frame takes the
  newest 512 captured samples. While the capture is silent and the picture
  has stopped changing, the module is not called until sound comes back.

Status and report:
  When standard error is a terminal, a status line shows the frames drawn and
  dropped, the lag of the picture behind the sound (the audio clock when a
  frame is shown, less the position it was drawn from) and the CPU use.
  --report FILE writes, at the end, one JSON object: frames_drawn,
  frames_dropped, seconds (of the run), max_av_offset_ms, mean_av_offset_ms,
  cpu_seconds (of the whole process), and the CPU milliseconds per frame of
  this thread in the module's Draw, the upload and the presentation
  (draw_cpu_ms, upload_cpu_ms, present_cpu_ms), and presentation: how the
  frames reached the window, "window surface" or "texture" and the renderer.
)";

const char* const ExitFooter = R"(
Exit status: 0 on success, 2 on bad input (no display, no audio device, no
sound server, no such source, a file that cannot be decoded, a file found
damaged or cut short while it plays, the display lost while playing); the
report is then not written.
)";

} // namespace

std::optional<TPlayOptions> ParsePlayOptions(int AArgc, const char* const* AArgv,
                                             const common::TProgramFiles& ADefaults, std::ostream& AHelpOut)
{
    TPlayOptions options;
    options.WineHelper = ADefaults.WineHelper;
    // Numbers are taken as text and converted here, so that a message quotes what was typed.
    std::string size = "640x480";
    std::string fps;
    std::string seconds;
    const char* const presentVariable = std::getenv("SELVANORE_PRESENT");
    std::string present = presentVariable && *presentVariable ? presentVariable : "auto";

    CLI::App app("Plays a sound, or captures what the desktop plays, and shows the Selvanore visualization "
                 "live in a window, as the player drives it.",
                 common::ProgramName());
    app.footer(std::string(HelpFooter) + "\n" + sound::RateLimitsHelp() + ExitFooter);
    app.get_formatter()->column_width(30);
    app.add_option("FILE", options.Input,
                   "Audio file to play (- for standard input), any format libsndfile reads (default: built-in signal)");
    auto* captureOption = app.add_option("--capture", options.CaptureSource,
                                         "Draw what the desktop plays: the default output's monitor, or SOURCE")
                              ->expected(0, 1)
                              ->type_name("[SOURCE]");
    auto* moduleOption = app.add_option("--module", options.Module,
                                        "The plug-in library to load (default: " + ADefaults.Module +
                                            ", or with --wine " + ADefaults.WineModule + ")");
    app.add_option("--size", size, "The window's first drawing area, WIDTHxHEIGHT in pixels")->capture_default_str();
    app.add_option("--fps", fps, "Frames per second (default: the display's refresh rate, with vsync)");
    app.add_option("--seconds", seconds, "Stop after this many seconds of sound (default: the end of FILE)");
    app.add_option("--report", options.Report, "Write the run's figures to this file as JSON at the end");
    app.add_option("--present", present,
                   "How frames reach the window: auto, texture or surface (default: SELVANORE_PRESENT, else auto)")
        ->type_name("HOW");
    app.add_flag("--wine", options.Wine, "Draw with the real Selvanore.dll on Wine's GDI");
    app.add_option("--wine-helper", options.WineHelper, "The cross-built helper that runs under Wine")
        ->capture_default_str();

    try {
        app.parse(AArgc, AArgv);
    } catch (const CLI::CallForHelp&) {
        common::WriteHelp(AHelpOut, app.help());
        return std::nullopt;
    } catch (const CLI::ParseError& error) {
        throw common::EToolError(error.what());
    }

    options.Capture = captureOption->count() > 0;
    if (options.Capture && !options.Input.empty())
        throw common::EToolError("--capture draws what the desktop plays: leave out FILE " +
                                 common::Quoted(options.Input));
    common::ParseSize(size, options.Width, options.Height);
    if (!fps.empty() || app.count("--fps") > 0)
        options.Fps = static_cast<std::int32_t>(
            common::ParseWhole("--fps", fps, 1, common::MaxFps, "from 1 to " + std::to_string(common::MaxFps)));
    if (app.count("--seconds") > 0) {
        // A week of sound is more than anyone watches; past it the sample counts would lose
        // their precision as doubles long before they overflow.
        constexpr int Week = 7 * 24 * 3600;
        const std::string rule = "must be a positive number of seconds up to " + std::to_string(Week) + " (a week)";
        const double value = common::ParseReal("--seconds", seconds, rule);
        if (!(value > 0) || value > Week)
            throw common::EToolError("--seconds " + rule + ", not " + common::Quoted(seconds));
        options.Seconds = value;
    }
    const std::optional<TPresentationChoice> choice = PresentationChoiceOf(present);
    if (!choice)
        throw common::EToolError(std::string(app.count("--present") > 0 ? "--present" : "SELVANORE_PRESENT") +
                                 " must be auto, texture or surface, not " + common::Quoted(present));
    options.Present = *choice;
    if (app.count("--report") > 0 && options.Report.empty())
        throw common::EToolError("--report must name a file");
    if (moduleOption->count() == 0)
        options.Module = options.Wine ? ADefaults.WineModule : ADefaults.Module;
    if (options.Module.empty())
        throw common::EToolError("no module to load: give --module PATH");
    return options;
}

} // namespace play
