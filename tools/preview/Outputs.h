// The outputs that the preview's command line asks for, as the small records the output library
// takes.
#pragma once

#include "tools/lib/output/SeparateFiles.h"
#include "tools/lib/output/Formats.h"
#include "tools/preview/Options.h"

#include <vector>

namespace preview {

// The files a run reads and writes besides --output, named as the command line names them.
struct TRunFiles {
    std::vector<output::TNamedPath> Inputs;  // --input, --module, --wine-helper
    std::vector<output::TNamedPath> Outputs; // --trace
};

TRunFiles RunFilesOf(const TOptions& AOptions);

// What AOptions' writer writes; the sound's rate, known once the input is open, is ASoundRate
// for a format with sound.
output::TWriterSetup WriterSetupOf(const TOptions& AOptions, std::int32_t ASoundRate);

// common::EToolError when AFiles and AOutput (of AKind) make an output that is an input or
// another output, or an output inside the PNG folder the run replaces (see RequireSeparateFiles).
void RequireSeparateOutputs(const TRunFiles& AFiles, const output::TNamedPath& AOutput, output::TOutputKind AKind);

} // namespace preview
