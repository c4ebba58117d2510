#include "tools/preview/FrameWriter.h"

#include "tools/preview/PreviewError.h"

namespace preview {

std::unique_ptr<TFrameWriter> MakeFrameWriter(const TOptions& AOptions)
{
    switch (AOptions.OutputKind) {
    case TOutputKind::Gif:
        return MakeGifWriter(AOptions.Output, AOptions.Width, AOptions.Height, AOptions.Fps);
    case TOutputKind::PngFolder:
        return MakePngFolderWriter(AOptions.Output, AOptions.Width, AOptions.Height);
    case TOutputKind::PngFrame:
        return MakePngFrameWriter(AOptions.Output, AOptions.Width, AOptions.Height, AOptions.Frame.value_or(0));
    case TOutputKind::Stream:
        return MakePpmStreamWriter(AOptions.Width, AOptions.Height);
    }
    throw EPreviewError("unknown output kind");
}

} // namespace preview
