// selvanore-preview: a stand-in player that plays a sound to the visualization module and writes
// the frames it draws.
#include "tools/lib/common/Interrupt.h"
#include "tools/preview/Options.h"
#include "tools/preview/Preview.h"
#include "tools/lib/common/ToolError.h"
#include "tools/lib/common/ProgramPaths.h"
#include "tools/lib/sound/SignalSource.h"

#include <iostream>
#include <new>

namespace {

void Report(const char* AMessage)
{
    common::ReportOneLine("selvanore-preview", AMessage);
}

} // namespace

int main(int argc, char** argv)
{
    // Before anything is opened: no file of ours may take a closed standard descriptor.
    common::OccupyStandardDescriptors();
    // A reader that goes away (ffmpeg stopping early) and a file-size limit are then write
    // errors, reported as one; an ending signal removes what the run wrote (Interrupt.h).
    common::InstallEndingHandlers("selvanore-preview");
    try {
        const auto options = preview::ParseOptions(argc, argv, common::ProgramFiles(), std::cout);
        if (!options)
            return 0;
        const preview::TPreviewNotes notes = preview::RunPreview(*options);
        if (notes.CleanedSamples > 0)
            Report(sound::CleanedSamplesWarning(notes.CleanedSamples, options->Input).c_str());
        return 0;
    } catch (const common::EInterrupted& error) {
        Report(error.what());
        return common::ExitInterrupted;
    } catch (const common::EToolError& error) {
        Report(error.what());
        return common::ExitBadInput;
    } catch (const std::bad_alloc&) {
        // What the estimate up front missed; the outputs are gone with the unwinding.
        Report("out of memory: choose a smaller --size (see --help)");
        return common::ExitBadInput;
    } catch (const std::exception& error) {
        Report(error.what());
        return 1;
    }
}
