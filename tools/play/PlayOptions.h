// selvanore-play's command line: what to play or capture, how to draw it and what to report.
#pragma once

#include "tools/lib/common/ProgramPaths.h"
#include "tools/play/Presentation.h"

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>

namespace play {

struct TPlayOptions {
    std::string Input;         // empty: the built-in signal (or nothing, with --capture)
    bool Capture = false;      // draw what the desktop plays instead of playing a file
    std::string CaptureSource; // with Capture: the sound server's source; empty: the default output's monitor
    std::string Module;        // the plug-in library to load
    std::int32_t Width = 640;  // the window's first extents, in pixels
    std::int32_t Height = 480;
    std::optional<std::int32_t> Fps; // paced frames per second; none: one frame per display refresh, with vsync
    std::optional<double> Seconds;   // stop after this much sound; none: at the end of the input
    std::string Report;              // empty: no report
    bool Wine = false;               // draw with the real DLL under Wine
    std::string WineHelper;
    // How frames reach the window: --present, else SELVANORE_PRESENT, else the player's choice.
    TPresentationChoice Present = TPresentationChoice::Automatic;
};

// Parses and checks the command line. Returns nothing when the run ends at once (--help, written
// to AHelpOut); throws common::EToolError with a one-line message for a bad argument.
std::optional<TPlayOptions> ParsePlayOptions(int AArgc, const char* const* AArgv,
                                             const common::TProgramFiles& ADefaults, std::ostream& AHelpOut);

} // namespace play
