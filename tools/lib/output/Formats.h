// The output formats, in one table: what a path's ending names, what each format needs in
// memory, whether it holds the sound, and the writer that makes it. A new format is a folder of
// its own beside gif/, png/, ppm/ and video/, a kind below and a row of the table in Formats.cpp;
// the command line, the memory budget and the run read everything else from the row.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace output {

class TFrameWriter;

// Frames that may wait between drawing and encoding (TWriterThread): enough to even out frames
// that take longer than others on either side, few enough to keep the memory small.
inline constexpr int QueuedFrames = 2;

enum class TOutputKind {
    Gif,       // "*.gif": one animated GIF
    PngFolder, // a folder (existing, ending in '/', or a name without an extension): numbered PNGs
    PngFrame,  // "*.png" with a frame number: that one frame
    Stream,    // "-": PPM frames on standard output, for ffmpeg's image2pipe
    Mp4,       // "*.mp4": H.264 video with AAC sound
    WebM,      // "*.webm": VP9 video with Opus sound
    Mkv,       // "*.mkv": lossless H.264 video of the RGB pixels with FLAC sound
};

// The sound a writer takes: two channels of floats in -1..1, AFrame's span at a time.
struct TSoundFormat {
    std::int32_t Rate = 0; // samples per second per channel; 0 for a writer without sound
};

// What a writer writes: opened with this, it receives the frames and the sound they cover.
struct TWriterSetup {
    std::string Path; // the output; "-" for standard output
    TOutputKind Kind = TOutputKind::Gif;
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    std::int32_t Fps = 0;
    std::int64_t Frame = 0; // the one frame a PngFrame output holds, counted from 0
    TSoundFormat Sound;
};

// What the run's checks need to know of the output's place.
enum class TTarget {
    File,   // one file, which appears whole at the commit
    Folder, // a folder of files that replaces the one there
    Stream, // standard output, written as it goes
};

enum class THasSound { No, Yes };   // the writer takes the sound (a TSoundFormat with a rate)
enum class TSizeRule { Any, Even }; // Even: stores colours at half the width and height (4:2:0)
enum class TFrames { All, One };    // One: holds one chosen frame (TWriterSetup::Frame)

struct TOutputFormat {
    TOutputKind Kind = TOutputKind::Gif;
    // The ending that names it, matched without regard to case ("-": the whole path is "-");
    // null for the folder, which a path without a known ending names.
    const char* Ending = nullptr;
    const char* Named = ""; // how a message names it to a user: "NAME.gif", "a folder"
    const char* Usage = ""; // how --help shows it: "NAME.gif", "FOLDER", "NAME.png --frame N"
    // What --help says of it, in lines of at most 57 characters separated by '\n'.
    const char* Help = "";
    TTarget Target = TTarget::File;
    // The writer's own buffers per pixel of the drawing area, beside the surface and the frames
    // that wait for the writer thread.
    std::uint64_t BytesPerPixel = 0;
    // Libraries loaded only for this format, in bytes of address space.
    std::uint64_t LibraryBytes = 0;
    THasSound Sound = THasSound::No;
    TSizeRule Size = TSizeRule::Any;
    TFrames Frames = TFrames::All;
    std::int32_t MaxFps = 0; // the fastest rate it can hold; 0 for any
    // Opens the writer, its target created (common::EToolError when it cannot be written).
    std::unique_ptr<TFrameWriter> (*Make)(const TWriterSetup& ASetup) = nullptr;
};

// Every format, in the order that messages list them.
std::span<const TOutputFormat> OutputFormats() noexcept;
// The row of AKind.
const TOutputFormat& FormatOf(TOutputKind AKind) noexcept;

// The writer that ASetup asks for, its target opened (common::EToolError when it cannot be
// written).
std::unique_ptr<TFrameWriter> MakeFrameWriter(const TWriterSetup& ASetup);

// The longest span of sound one frame adds at ARate and AFps: ceil(ARate / AFps) samples.
constexpr std::int32_t LongestSoundSpan(std::int32_t ARate, std::int32_t AFps) noexcept
{
    return AFps > 0 ? (ARate + AFps - 1) / AFps : 0;
}

} // namespace output
