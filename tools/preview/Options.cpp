#include "tools/preview/Options.h"

#include "tools/preview/MemoryBudget.h"
#include "tools/lib/common/ToolError.h"
#include "tools/lib/sound/SignalSource.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <ostream>
#include <span>
#include <string_view>

namespace preview {

namespace {

const char* const HelpFooter = R"(Timing:
  Frame n takes, for each channel, the 512 samples that start at sample
  floor(n * rate / fps); samples past the end of the input are 0. Channel 0 is
  the left (or only) channel, channel 1 the right one (or the mono channel
  again). The whole input is drawn unless --frames or --seconds says otherwise.
  Each frame's record carries the waveform and the two channels' peaks (largest
  magnitude of the block); the spectra are left at zero.

Outputs (chosen by the ending of --output):
%OUTPUTS%
  For example, ffmpeg makes an MP4 with the sound of the stream:
    selvanore-preview --input song.wav --output - |
      ffmpeg -f image2pipe -framerate 30 -c:v ppm -i - -i song.wav \
             -map 0:v -map 1:a -c:v libx264 -pix_fmt yuv420p -c:a aac \
             -shortest song.mp4
    (give ffmpeg's -framerate the same value as --fps)

A video holds the sound its frames cover (of --input or the built-in signal),
at exactly --fps frames per second, and the same run gives the same bytes. It
is made in one step by FFmpeg's libraries (libavformat, libavcodec with
libx264, libvpx and libopus, libswscale, libswresample), which Debian builds
under the GNU GPL. The input is read once, for the frames and the sound alike,
so it may be a pipe or a FIFO as well as a file, for example
    cat song.wav | selvanore-preview --input - --output song.mp4

With --wine the frames are drawn by the real DLL on Wine's GDI, through a small
helper of the Windows cross build that runs under Wine; decoding and encoding
stay here. Wine's program is WINELOADER when set, else wine or wine64 on PATH,
else /usr/lib/wine/wine64 (Debian's wine64 package); WINEPREFIX chooses the
prefix as usual.

Without --input the preview plays a built-in signal of 8 seconds: a chord,
beats, a sweep and a moment of silence.

Exit status: 0 on success, 2 on bad input (nothing is left half-written).
)";

// The outputs' lines of --help, from the table of formats: each format's usage, and what it is
// beside it.
std::string OutputsHelp()
{
    std::string text;
    for (const output::TOutputFormat& format : output::OutputFormats()) {
        std::string usage = format.Usage;
        usage.resize(std::max<std::size_t>(usage.size() + 2, 20), ' ');
        std::string_view help = format.Help;
        for (bool first = true; !help.empty(); first = false) {
            const std::size_t end = std::min(help.find('\n'), help.size());
            text += "  " + (first ? usage : std::string(20, ' ')) + std::string(help.substr(0, end)) + "\n";
            help.remove_prefix(std::min(end + 1, help.size()));
        }
    }
    text.pop_back();
    return text;
}

std::string HelpFooterText()
{
    std::string footer = HelpFooter;
    const std::string mark = "%OUTPUTS%";
    return footer.replace(footer.find(mark), mark.size(), OutputsHelp());
}

// The outputs as the option's line names them.
std::string OutputNames()
{
    std::string named;
    const std::span<const output::TOutputFormat> formats = output::OutputFormats();
    for (std::size_t i = 0; i < formats.size(); ++i)
        named += std::string(i == 0 ? "" : i + 1 == formats.size() ? ", or " : ", ") + formats[i].Named;
    return named;
}

// AFrames / AFps seconds, rounded down to a thousandth, without trailing zeros: the longest
// --seconds that keeps within AFrames.
std::string SecondsText(std::int64_t AFrames, std::int32_t AFps)
{
    const std::int64_t thousandths = AFrames * 1000 / AFps;
    std::string text = std::to_string(thousandths / 1000);
    if (const std::int64_t fraction = thousandths % 1000; fraction != 0) {
        std::string digits = std::to_string(1000 + fraction).substr(1);
        while (digits.back() == '0')
            digits.pop_back();
        text += "." + digits;
    }
    return text;
}

bool EndsWithNoCase(const std::string& AText, const std::string& AEnding)
{
    if (AText.size() < AEnding.size())
        return false;
    for (std::size_t i = 0; i < AEnding.size(); ++i) {
        const auto c = static_cast<unsigned char>(AText[AText.size() - AEnding.size() + i]);
        if (std::tolower(c) != AEnding[i])
            return false;
    }
    return true;
}

} // namespace

TOutputKind OutputKindOf(const std::string& APath)
{
    if (APath.empty())
        throw common::EToolError("--output must not be empty");
    const output::TOutputFormat* folder = nullptr;
    for (const output::TOutputFormat& format : output::OutputFormats()) {
        if (!format.Ending)
            folder = &format;
        else if (format.Ending == std::string_view("-") ? APath == "-" : EndsWithNoCase(APath, format.Ending))
            return format.Kind;
    }
    std::error_code error;
    const std::filesystem::path path(APath);
    if (folder && (APath.back() == '/' || std::filesystem::is_directory(path, error) || !path.has_extension()))
        return folder->Kind;
    throw common::EToolError("cannot tell the format of --output " + common::Quoted(APath) + ": use " + OutputNames());
}

std::optional<TOptions> ParseOptions(int AArgc, const char* const* AArgv, const common::TProgramFiles& ADefaults,
                                     std::ostream& AHelpOut)
{
    TOptions options;
    options.WineHelper = ADefaults.WineHelper;
    // Numbers are taken as text and converted here, so that a message quotes what was typed.
    std::string size = "640x480";
    std::string fps = std::to_string(options.Fps);
    std::string frames;
    std::string seconds;
    std::string frame;

    CLI::App app("Plays a sound to the Selvanore visualization, as the player would, and writes the frames.",
                 common::ProgramName());
    app.footer(HelpFooterText() + "\n" + sound::RateLimitsHelp() + "\n" + MemoryHelpText());
    app.get_formatter()->column_width(30);
    auto* inputOption = app.add_option("--input", options.Input,
                                       "Audio file, pipe or FIFO to play (- for standard input), any format libsndfile "
                                       "reads (default: built-in signal)");
    auto* moduleOption = app.add_option("--module", options.Module,
                                        "The plug-in library to load (default: " + ADefaults.Module +
                                            ", or with --wine " + ADefaults.WineModule + ")");
    auto* sizeOption = app.add_option("--size", size, "Drawing area, WIDTHxHEIGHT in pixels (memory: see below)")
                           ->capture_default_str();
    app.add_option("--fps", fps,
                   "Frames per second (at most " + std::to_string(output::FormatOf(TOutputKind::Gif).MaxFps) +
                       " for a GIF)")
        ->capture_default_str();
    auto* framesOption = app.add_option("--frames", frames, "Number of frames to draw (default: the whole input)");
    auto* secondsOption = app.add_option("--seconds", seconds, "Seconds of input to draw (default: the whole input)");
    framesOption->excludes(secondsOption);
    auto* frameOption = app.add_option("--frame", frame, "With a .png output: the frame to write, from 0");
    app.add_option("--output", options.Output, OutputNames())->capture_default_str();
    app.add_option("--trace", options.Trace, "Write every drawing call the module makes to this file");
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

    if (inputOption->count() > 0 && options.Input.empty())
        throw common::EToolError("--input must name a file (leave it out for the built-in signal)");
    common::ParseSize(size, options.Width, options.Height);
    if (sizeOption->count() > 0)
        options.SizeText = size;
    options.Fps = static_cast<std::int32_t>(
        common::ParseWhole("--fps", fps, 1, common::MaxFps, "from 1 to " + std::to_string(common::MaxFps)));

    if (framesOption->count() > 0)
        options.Frames = common::ParseWhole("--frames", frames, 1, MaxFrames, "from 1 to " + std::to_string(MaxFrames));
    if (secondsOption->count() > 0) {
        const std::string rule = "must be a positive number of seconds up to " + SecondsText(MaxFrames, options.Fps) +
                                 " (" + std::to_string(MaxFrames) + " frames at " + std::to_string(options.Fps) +
                                 " per second)";
        const double value = common::ParseReal("--seconds", seconds, rule);
        // The frames that start within the first S seconds; the small allowance keeps 8 s at
        // 30 fps at 240 frames despite binary fractions.
        const double count = std::ceil(value * options.Fps - 1e-9);
        if (!(value > 0) || !(count >= 1) || count > static_cast<double>(MaxFrames))
            throw common::EToolError("--seconds " + rule + ", not " + common::Quoted(seconds));
        options.Frames = static_cast<std::int64_t>(count);
    }

    options.OutputKind = OutputKindOf(options.Output);
    const output::TOutputFormat& format = output::FormatOf(options.OutputKind);
    if (format.MaxFps != 0 && options.Fps > format.MaxFps)
        throw common::EToolError("--fps " + common::Quoted(fps) + " is too fast for a GIF, which shows at most " +
                                 std::to_string(format.MaxFps) +
                                 " frames per second (its delays are in hundredths of a second): use --fps " +
                                 std::to_string(format.MaxFps) + " or less, or write PNG frames or the stream");
    // 4:2:0 video stores the colours at half the width and height.
    if (format.Size == output::TSizeRule::Even && (options.Width % 2 != 0 || options.Height % 2 != 0))
        throw common::EToolError("--size " + size +
                                 " has an odd side, and an .mp4 or .webm video needs an even width "
                                 "and height (it stores colours at half size): choose an even --size, or write .mkv");
    if (frameOption->count() > 0) {
        if (format.Frames != output::TFrames::One)
            throw common::EToolError("--frame needs an --output ending in .png");
        // Frame N needs the N frames before it drawn, and a run draws at most MaxFrames.
        options.Frame =
            common::ParseWhole("--frame", frame, 0, MaxFrames - 1, "from 0 to " + std::to_string(MaxFrames - 1));
    } else if (format.Frames == output::TFrames::One) {
        throw common::EToolError("an --output ending in .png holds one frame: say which with --frame N");
    }
    if (moduleOption->count() == 0)
        options.Module = options.Wine ? ADefaults.WineModule : ADefaults.Module;
    if (options.Module.empty())
        throw common::EToolError("no module to load: give --module PATH");
    if (options.Wine && !options.Trace.empty())
        throw common::EToolError("--trace needs the native module: under Wine the calls go to Wine's GDI");
    return options;
}

} // namespace preview
