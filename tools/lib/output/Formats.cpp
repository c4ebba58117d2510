#include "tools/lib/output/Formats.h"

#include "tools/lib/output/FrameWriter.h"
#include "tools/lib/output/gif/GifWriter.h"
#include "tools/lib/output/png/PngWriter.h"
#include "tools/lib/output/ppm/PpmStreamWriter.h"
#include "tools/lib/output/video/VideoWriter.h"

#include <array>

namespace output {

namespace {

// A video: the converted frame and the encoder's own frames (reference, look-ahead, threads), as
// measured in the peak resident memory of 240-frame runs at 1920x1080 less a GIF's: about 105
// bytes a pixel for H.264, 80 for lossless H.264, 140 for VP9. The largest, with room, serves all.
constexpr std::uint64_t VideoBytesPerPixel = 160;
// A video also loads FFmpeg's libraries and theirs, after the memory check: the least
// address-space limit under which an 8x8 video succeeds lies 187 MiB above a GIF's. Counted in
// full against every limit, which overstates the memory they take by their pages that are never
// touched.
constexpr std::uint64_t VideoLibraryBytes = std::uint64_t{192} << 20;

std::unique_ptr<TFrameWriter> MakeGif(const TWriterSetup& ASetup)
{
    return MakeGifWriter(ASetup.Path, ASetup.Width, ASetup.Height, ASetup.Fps);
}

std::unique_ptr<TFrameWriter> MakePngFrame(const TWriterSetup& ASetup)
{
    return MakePngFrameWriter(ASetup.Path, ASetup.Width, ASetup.Height, ASetup.Frame);
}

std::unique_ptr<TFrameWriter> MakePngFolder(const TWriterSetup& ASetup)
{
    return MakePngFolderWriter(ASetup.Path, ASetup.Width, ASetup.Height);
}

std::unique_ptr<TFrameWriter> MakeStream(const TWriterSetup& ASetup)
{
    return MakePpmStreamWriter(ASetup.Width, ASetup.Height);
}

// In the order that messages list them. PNG frames are written a row at a time: nothing per
// pixel beyond the surface.
constexpr std::array Formats = {
    TOutputFormat{.Kind = TOutputKind::Gif,
                  .Ending = ".gif",
                  .Named = "NAME.gif",
                  .Usage = "NAME.gif",
                  .Help = "an animated GIF, looping; its palette is exact whenever a\n"
                          "frame has at most 256 colours (the rings use 63)",
                  .Target = TTarget::File,
                  .BytesPerPixel = 1 + 4, // the palette indexes, the previous frame
                  .MaxFps = 50,           // its delays are whole hundredths; players stretch those below 2
                  .Make = &MakeGif},
    TOutputFormat{.Kind = TOutputKind::Mp4,
                  .Ending = ".mp4",
                  .Named = "NAME.mp4",
                  .Usage = "NAME.mp4",
                  .Help = "H.264 video and AAC sound (an even --size)",
                  .Target = TTarget::File,
                  .BytesPerPixel = VideoBytesPerPixel,
                  .LibraryBytes = VideoLibraryBytes,
                  .Sound = THasSound::Yes,
                  .Size = TSizeRule::Even,
                  .Make = &MakeVideoWriter},
    TOutputFormat{.Kind = TOutputKind::WebM,
                  .Ending = ".webm",
                  .Named = "NAME.webm",
                  .Usage = "NAME.webm",
                  .Help = "VP9 video and Opus sound (an even --size)",
                  .Target = TTarget::File,
                  .BytesPerPixel = VideoBytesPerPixel,
                  .LibraryBytes = VideoLibraryBytes,
                  .Sound = THasSound::Yes,
                  .Size = TSizeRule::Even,
                  .Make = &MakeVideoWriter},
    TOutputFormat{.Kind = TOutputKind::Mkv,
                  .Ending = ".mkv",
                  .Named = "NAME.mkv",
                  .Usage = "NAME.mkv",
                  .Help = "lossless H.264 (RGB) video and FLAC sound: every frame decodes\n"
                          "to exactly the pixels of the PNG frames",
                  .Target = TTarget::File,
                  .BytesPerPixel = VideoBytesPerPixel,
                  .LibraryBytes = VideoLibraryBytes,
                  .Sound = THasSound::Yes,
                  .Make = &MakeVideoWriter},
    TOutputFormat{.Kind = TOutputKind::PngFrame,
                  .Ending = ".png",
                  .Named = "NAME.png with --frame",
                  .Usage = "NAME.png --frame N",
                  .Help = "the one frame N, counted from 0",
                  .Target = TTarget::File,
                  .Frames = TFrames::One,
                  .Make = &MakePngFrame},
    TOutputFormat{.Kind = TOutputKind::PngFolder,
                  .Ending = nullptr,
                  .Named = "a folder",
                  .Usage = "FOLDER",
                  .Help = "numbered PNG frames, frame-000000.png, ... (a folder that\n"
                          "exists, a path ending in '/', or a name without extension)",
                  .Target = TTarget::Folder,
                  .Make = &MakePngFolder},
    TOutputFormat{.Kind = TOutputKind::Stream,
                  .Ending = "-",
                  .Named = "- for standard output",
                  .Usage = "-",
                  .Help = "PPM frames on standard output, for an encoder of your own",
                  .Target = TTarget::Stream,
                  .BytesPerPixel = 3, // the frame's PPM image
                  .Make = &MakeStream},
};

} // namespace

std::span<const TOutputFormat> OutputFormats() noexcept
{
    return Formats;
}

const TOutputFormat& FormatOf(TOutputKind AKind) noexcept
{
    for (const TOutputFormat& format : Formats)
        if (format.Kind == AKind)
            return format;
    return Formats.front(); // every kind has its row
}

std::unique_ptr<TFrameWriter> MakeFrameWriter(const TWriterSetup& ASetup)
{
    return FormatOf(ASetup.Kind).Make(ASetup);
}

} // namespace output
