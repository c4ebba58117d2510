// The outputs that the preview's command line asks for.
#pragma once

#include "tools/lib/output/FrameWriter.h"
#include "tools/preview/Options.h"

#include <memory>

namespace preview {

// common::EToolError when AOptions name an output that is an input or another output, or an output
// inside the PNG folder the run replaces (see RequireSeparateFiles).
void RequireSeparateOutputs(const TOptions& AOptions);

// The writer that AOptions' output asks for, its target opened (common::EToolError when it cannot
// be written).
std::unique_ptr<output::TFrameWriter> MakeFrameWriter(const TOptions& AOptions);

} // namespace preview
