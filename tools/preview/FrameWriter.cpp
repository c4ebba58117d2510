#include "tools/preview/FrameWriter.h"

#include "tools/preview/PreviewError.h"
#include "tools/preview/VideoWriter.h"

#include <vector>

namespace preview {

void RequireSeparateOutputs(const TOptions& AOptions)
{
    std::vector<TNamedPath> inputs;
    if (!AOptions.Input.empty())
        inputs.push_back({"--input", AOptions.Input});
    if (!AOptions.Module.empty())
        inputs.push_back({"--module", AOptions.Module});
    if (AOptions.Wine && !AOptions.WineHelper.empty())
        inputs.push_back({"--wine-helper", AOptions.WineHelper});
    std::vector<TNamedPath> outputs;
    if (!AOptions.Trace.empty())
        outputs.push_back({"--trace", AOptions.Trace});
    const TNamedPath output{"--output", AOptions.Output};
    if (AOptions.OutputKind == TOutputKind::Gif || AOptions.OutputKind == TOutputKind::PngFrame ||
        IsVideo(AOptions.OutputKind))
        outputs.push_back(output);
    RequireSeparateFiles(inputs, outputs, AOptions.OutputKind == TOutputKind::PngFolder ? &output : nullptr,
                         AOptions.OutputKind == TOutputKind::Stream);
}

std::unique_ptr<TFrameWriter> MakeFrameWriter(const TOptions& AOptions)
{
    switch (AOptions.OutputKind) {
    case TOutputKind::Gif: return MakeGifWriter(AOptions.Output, AOptions.Width, AOptions.Height, AOptions.Fps);
    case TOutputKind::PngFolder: return MakePngFolderWriter(AOptions.Output, AOptions.Width, AOptions.Height);
    case TOutputKind::PngFrame:
        return MakePngFrameWriter(AOptions.Output, AOptions.Width, AOptions.Height, AOptions.Frame.value_or(0));
    case TOutputKind::Stream: return MakePpmStreamWriter(AOptions.Width, AOptions.Height);
    case TOutputKind::Mp4:
    case TOutputKind::WebM:
    case TOutputKind::Mkv: return MakeVideoWriter(AOptions);
    }
    throw EPreviewError("unknown output kind");
}

} // namespace preview
