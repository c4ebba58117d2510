#include "tools/preview/Outputs.h"

#include "tools/lib/common/ToolError.h"
#include "tools/preview/VideoWriter.h"

#include <vector>

namespace preview {

void RequireSeparateOutputs(const TOptions& AOptions)
{
    std::vector<output::TNamedPath> inputs;
    if (!AOptions.Input.empty())
        inputs.push_back({"--input", AOptions.Input});
    if (!AOptions.Module.empty())
        inputs.push_back({"--module", AOptions.Module});
    if (AOptions.Wine && !AOptions.WineHelper.empty())
        inputs.push_back({"--wine-helper", AOptions.WineHelper});
    std::vector<output::TNamedPath> outputs;
    if (!AOptions.Trace.empty())
        outputs.push_back({"--trace", AOptions.Trace});
    const output::TNamedPath output{"--output", AOptions.Output};
    if (AOptions.OutputKind == TOutputKind::Gif || AOptions.OutputKind == TOutputKind::PngFrame ||
        IsVideo(AOptions.OutputKind))
        outputs.push_back(output);
    output::RequireSeparateFiles(inputs, outputs, AOptions.OutputKind == TOutputKind::PngFolder ? &output : nullptr,
                                 AOptions.OutputKind == TOutputKind::Stream);
}

std::unique_ptr<output::TFrameWriter> MakeFrameWriter(const TOptions& AOptions)
{
    switch (AOptions.OutputKind) {
    case TOutputKind::Gif: return output::MakeGifWriter(AOptions.Output, AOptions.Width, AOptions.Height, AOptions.Fps);
    case TOutputKind::PngFolder: return output::MakePngFolderWriter(AOptions.Output, AOptions.Width, AOptions.Height);
    case TOutputKind::PngFrame:
        return output::MakePngFrameWriter(AOptions.Output, AOptions.Width, AOptions.Height, AOptions.Frame.value_or(0));
    case TOutputKind::Stream: return output::MakePpmStreamWriter(AOptions.Width, AOptions.Height);
    case TOutputKind::Mp4:
    case TOutputKind::WebM:
    case TOutputKind::Mkv: return MakeVideoWriter(AOptions);
    }
    throw common::EToolError("unknown output kind");
}

} // namespace preview
