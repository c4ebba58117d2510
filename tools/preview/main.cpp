// selvanore-preview: a stand-in player that plays a sound to the visualization module and writes
// the frames it draws.
#include "tools/lib/common/ProgramMain.h"
#include "tools/lib/common/ProgramPaths.h"
#include "tools/lib/common/ToolError.h"
#include "tools/lib/sound/SignalSource.h"
#include "tools/preview/Options.h"
#include "tools/preview/Preview.h"

#include <iostream>

namespace {

// A reader that goes away (ffmpeg stopping early) and a file-size limit are write errors,
// reported as one; an ending signal removes what the run wrote (RunProgram).
int Run(int ACount, char** AArguments)
{
    const auto options = preview::ParseOptions(ACount, AArguments, common::ProgramFiles(), std::cout);
    if (!options)
        return 0;
    const preview::TPreviewNotes notes = preview::RunPreview(*options);
    if (notes.CleanedSamples > 0)
        common::ReportOneLine(sound::CleanedSamplesWarning(notes.CleanedSamples, options->Input).c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    // An out-of-memory is what the estimate up front missed.
    return common::RunProgram({"selvanore-preview", "out of memory: choose a smaller --size (see --help)"}, argc, argv,
                              Run);
}
