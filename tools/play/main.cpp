// selvanore-play: a live stand-in player that shows the visualization in a window as the sound
// plays, or as the desktop plays it.
#include "tools/lib/common/ProgramMain.h"
#include "tools/lib/common/ProgramPaths.h"
#include "tools/lib/common/ToolError.h"
#include "tools/lib/sound/SignalSource.h"
#include "tools/play/PlayOptions.h"
#include "tools/play/Player.h"

#include <SDL.h>

#include <iostream>

namespace {

// A reader of the report that goes away is a write error, reported as one. An ending signal
// removes what the run wrote (RunProgram), except that while the window plays, Ctrl-C and
// SIGTERM end the run as closing the window does, with its report (Player.cpp).
int Run(int ACount, char** AArguments)
{
    // SDL's own handlers of those signals, which would only post a quit event, stay out of it.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    const auto options = play::ParsePlayOptions(ACount, AArguments, common::ProgramFiles(), std::cout);
    if (!options)
        return 0;
    const play::TPlayFigures figures = play::RunPlay(*options);
    if (figures.CleanedSamples > 0)
        common::ReportOneLine(sound::CleanedSamplesWarning(figures.CleanedSamples, options->Input).c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    return common::RunProgram({"selvanore-play", "out of memory: choose a smaller --size"}, argc, argv, Run);
}
