// The preview's command line: what to play, how to draw it and where the frames go.
#pragma once

#include "tools/lib/common/Parse.h"
#include "tools/lib/common/ProgramPaths.h"
#include "tools/lib/output/Formats.h"

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>

namespace preview {

// Where the frames go, chosen by the ending of --output (the table of output/Formats.h).
using output::TOutputKind;

// Bounds past which a request is taken for a mistake rather than a wish. (A format's fastest
// rate, such as a GIF's 50, is in its row of the table.)
inline constexpr std::int64_t MaxFrames = 10000000; // about 92 hours at 30 frames per second

struct TOptions {
    std::string Input;  // empty: the built-in signal
    std::string Module; // the plug-in library to load
    std::int32_t Width = 640;
    std::int32_t Height = 480;
    std::string SizeText; // --size as typed, for messages; empty when not given
    std::int32_t Fps = 30;
    std::optional<std::int64_t> Frames; // from --frames, or --seconds converted at Fps
    std::optional<std::int64_t> Frame;  // the one frame a .png output holds, counted from 0
    std::string Output = "selvanore.gif";
    TOutputKind OutputKind = TOutputKind::Gif;
    std::string Trace; // empty: no trace
    bool Wine = false; // draw with the real DLL under Wine
    std::string WineHelper;
};

// Parses and checks the command line; ADefaults name what is loaded without --module. Returns
// nothing when the run ends at once (--help, written to AHelpOut); throws common::EToolError with a
// one-line message for a bad argument, or when the help cannot be written whole. Messages quote
// each value as it was typed.
std::optional<TOptions> ParseOptions(int AArgc, const char* const* AArgv, const common::TProgramFiles& ADefaults,
                                     std::ostream& AHelpOut);

// The output kind that APath names, or common::EToolError when it names none.
TOutputKind OutputKindOf(const std::string& APath);

} // namespace preview
