#include "tools/preview/Options.h"

#include "tools/preview/PreviewError.h"

#include <CLI/CLI.hpp>

#include <cctype>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <ostream>

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
  NAME.gif            an animated GIF, looping; its palette is exact whenever a
                      frame has at most 256 colours (the rings use 63)
  FOLDER              numbered PNG frames, frame-000000.png, ... (a folder that
                      exists, a path ending in '/', or a name without extension)
  NAME.png --frame N  the one frame N, counted from 0
  -                   PPM frames on standard output, for ffmpeg. For an MP4 with
                      the sound:
    selvanore-preview --input song.wav --output - |
      ffmpeg -f image2pipe -framerate 30 -c:v ppm -i - -i song.wav \
             -map 0:v -map 1:a -c:v libx264 -pix_fmt yuv420p -c:a aac \
             -shortest song.mp4
    (give ffmpeg's -framerate the same value as --fps)

With --wine the frames are drawn by the real DLL on Wine's GDI, through a small
helper of the Windows cross build that runs under Wine; decoding and encoding
stay here.

Without --input the preview plays a built-in signal of 8 seconds: a chord,
beats, a sweep and a moment of silence.

Exit status: 0 on success, 2 on bad input (nothing is left half-written).
)";

// "640x480" into its two extents; EPreviewError unless both are whole numbers in 1..MaxExtent.
void ParseSize(const std::string& AText, std::int32_t& AWidth, std::int32_t& AHeight)
{
    const auto fail = [&] {
        throw EPreviewError("--size must be WIDTHxHEIGHT with each side from 1 to " + std::to_string(MaxExtent) +
                            " pixels, not '" + AText + "'");
    };
    const std::size_t cross = AText.find_first_of("xX");
    if (cross == std::string::npos)
        fail();
    const auto parseSide = [&](std::size_t ABegin, std::size_t AEnd) {
        std::int64_t value = 0;
        const char* first = AText.data() + ABegin;
        const char* last = AText.data() + AEnd;
        if (first == last || !std::isdigit(static_cast<unsigned char>(*first)))
            fail();
        const auto [end, error] = std::from_chars(first, last, value);
        if (error != std::errc() || end != last || value < 1 || value > MaxExtent)
            fail();
        return static_cast<std::int32_t>(value);
    };
    AWidth = parseSide(0, cross);
    AHeight = parseSide(cross + 1, AText.size());
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
        throw EPreviewError("--output must not be empty");
    if (APath == "-")
        return TOutputKind::Stream;
    if (EndsWithNoCase(APath, ".gif"))
        return TOutputKind::Gif;
    if (EndsWithNoCase(APath, ".png"))
        return TOutputKind::PngFrame;
    std::error_code error;
    const std::filesystem::path path(APath);
    if (APath.back() == '/' || std::filesystem::is_directory(path, error) || !path.has_extension())
        return TOutputKind::PngFolder;
    throw EPreviewError("cannot tell the format of --output '" + APath +
                        "': use NAME.gif, NAME.png with --frame, a folder, or - for standard output");
}

std::optional<TOptions> ParseOptions(int AArgc, const char* const* AArgv, const TDefaults& ADefaults,
                                     std::ostream& AHelpOut)
{
    TOptions options;
    options.WineHelper = ADefaults.WineHelper;
    std::string size = "640x480";
    std::int64_t fps = options.Fps;
    std::int64_t frames = 0;
    double seconds = 0;
    std::int64_t frame = 0;

    CLI::App app("Plays a sound to the Selvanore visualization, as the player would, and writes the frames.",
                 "selvanore-preview");
    app.footer(HelpFooter);
    app.get_formatter()->column_width(30);
    app.add_option("--input", options.Input, "Audio file to play, any format libsndfile reads (default: built-in signal)");
    auto* moduleOption = app.add_option("--module", options.Module, "The plug-in library to load (default: " +
                                        ADefaults.Module + ", or with --wine " + ADefaults.WineModule + ")");
    app.add_option("--size", size, "Drawing area, WIDTHxHEIGHT in pixels")->capture_default_str();
    app.add_option("--fps", fps, "Frames per second")->capture_default_str();
    auto* framesOption = app.add_option("--frames", frames, "Number of frames to draw (default: the whole input)");
    auto* secondsOption = app.add_option("--seconds", seconds, "Seconds of input to draw (default: the whole input)");
    framesOption->excludes(secondsOption);
    auto* frameOption = app.add_option("--frame", frame, "With a .png output: the frame to write, from 0");
    app.add_option("--output", options.Output, "NAME.gif, a folder, NAME.png with --frame, or -")->capture_default_str();
    app.add_option("--trace", options.Trace, "Write every drawing call the module makes to this file");
    app.add_flag("--wine", options.Wine, "Draw with the real Selvanore.dll on Wine's GDI");
    app.add_option("--wine-helper", options.WineHelper, "The cross-built helper that runs under Wine")
        ->capture_default_str();

    try {
        app.parse(AArgc, AArgv);
    } catch (const CLI::CallForHelp&) {
        AHelpOut << app.help();
        return std::nullopt;
    } catch (const CLI::ParseError& error) {
        throw EPreviewError(error.what());
    }

    ParseSize(size, options.Width, options.Height);
    if (fps < 1 || fps > MaxFps)
        throw EPreviewError("--fps must be from 1 to " + std::to_string(MaxFps) + ", not " + std::to_string(fps));
    options.Fps = static_cast<std::int32_t>(fps);

    if (framesOption->count() > 0) {
        if (frames < 1 || frames > MaxFrames)
            throw EPreviewError("--frames must be from 1 to " + std::to_string(MaxFrames) + ", not " +
                                std::to_string(frames));
        options.Frames = frames;
    }
    if (secondsOption->count() > 0) {
        // The frames that start within the first S seconds; the small allowance keeps 8 s at
        // 30 fps at 240 frames despite binary fractions.
        const double count = std::ceil(seconds * options.Fps - 1e-9);
        if (!(seconds > 0) || !(count >= 1) || count > static_cast<double>(MaxFrames))
            throw EPreviewError("--seconds must be positive and give at most " + std::to_string(MaxFrames) +
                                " frames, not '" + std::to_string(seconds) + "'");
        options.Frames = static_cast<std::int64_t>(count);
    }

    options.OutputKind = OutputKindOf(options.Output);
    if (frameOption->count() > 0) {
        if (options.OutputKind != TOutputKind::PngFrame)
            throw EPreviewError("--frame needs an --output ending in .png");
        if (frame < 0)
            throw EPreviewError("--frame must not be negative, not " + std::to_string(frame));
        options.Frame = frame;
    } else if (options.OutputKind == TOutputKind::PngFrame) {
        throw EPreviewError("an --output ending in .png holds one frame: say which with --frame N");
    }
    if (moduleOption->count() == 0)
        options.Module = options.Wine ? ADefaults.WineModule : ADefaults.Module;
    if (options.Module.empty())
        throw EPreviewError("no module to load: give --module PATH");
    if (options.Wine && !options.Trace.empty())
        throw EPreviewError("--trace needs the native module: under Wine the calls go to Wine's GDI");
    return options;
}

} // namespace preview
