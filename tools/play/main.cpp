// selvanore-play: a live stand-in player that shows the visualization in a window as the sound
// plays, or as the desktop plays it.
#include "tools/play/PlayOptions.h"
#include "tools/play/Player.h"
#include "tools/lib/common/Interrupt.h"
#include "tools/lib/common/ToolError.h"
#include "tools/lib/common/ProgramPaths.h"
#include "tools/lib/sound/SignalSource.h"

#include <SDL.h>

#include <iostream>
#include <new>

namespace {

void Report(const char* AMessage)
{
    common::ReportOneLine("selvanore-play", AMessage);
}

} // namespace

int main(int argc, char** argv)
{
    common::OccupyStandardDescriptors();
    // A reader of the report that goes away is a write error, reported as one. An ending signal
    // removes what the run wrote (Interrupt.h), except that while the window plays, Ctrl-C and
    // SIGTERM end the run as closing the window does, with its report (Player.cpp). SDL's own
    // handlers, which would only post a quit event, stay out of it.
    common::InstallEndingHandlers("selvanore-play");
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    try {
        const auto options = play::ParsePlayOptions(argc, argv, common::ProgramFiles(), std::cout);
        if (!options)
            return 0;
        const play::TPlayFigures figures = play::RunPlay(*options);
        if (figures.CleanedSamples > 0)
            Report(sound::CleanedSamplesWarning(figures.CleanedSamples, options->Input).c_str());
        return 0;
    } catch (const common::EToolError& error) {
        Report(error.what());
        return common::ExitBadInput;
    } catch (const std::bad_alloc&) {
        Report("out of memory: choose a smaller --size");
        return common::ExitBadInput;
    } catch (const std::exception& error) {
        Report(error.what());
        return 1;
    }
}
