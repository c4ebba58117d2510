// selvanore-preview: a stand-in player that plays a sound to the visualization module and writes
// the frames it draws.
#include "tools/preview/Interrupt.h"
#include "tools/preview/Options.h"
#include "tools/preview/Preview.h"
#include "tools/preview/PreviewError.h"
#include "tools/preview/ProgramPaths.h"
#include "tools/preview/SignalSource.h"

#include <iostream>
#include <new>

namespace {

void Report(const char* AMessage)
{
    preview::ReportOneLine("selvanore-preview", AMessage);
}

} // namespace

int main(int argc, char** argv)
{
    // Before anything is opened: no file of ours may take a closed standard descriptor.
    preview::OccupyStandardDescriptors();
    // A reader that goes away (ffmpeg stopping early) and a file-size limit are then write
    // errors, reported as one; an ending signal removes what the run wrote (Interrupt.h).
    preview::InstallEndingHandlers("selvanore-preview");
    try {
        const auto options = preview::ParseOptions(argc, argv, preview::ProgramDefaults(), std::cout);
        if (!options)
            return 0;
        const preview::TPreviewNotes notes = preview::RunPreview(*options);
        if (notes.CleanedSamples > 0)
            Report(preview::CleanedSamplesWarning(notes.CleanedSamples, options->Input).c_str());
        return 0;
    } catch (const preview::EPreviewInterrupted& error) {
        Report(error.what());
        return preview::ExitInterrupted;
    } catch (const preview::EPreviewError& error) {
        Report(error.what());
        return preview::ExitBadInput;
    } catch (const std::bad_alloc&) {
        // What the estimate up front missed; the outputs are gone with the unwinding.
        Report("out of memory: choose a smaller --size (see --help)");
        return preview::ExitBadInput;
    } catch (const std::exception& error) {
        Report(error.what());
        return 1;
    }
}
