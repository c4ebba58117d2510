// Placeholder until the sound server's capture is written.
#include "tools/play/Capture.h"

#include "tools/preview/PreviewError.h"

namespace play {

std::unique_ptr<TCapture> OpenCapture(const std::string& /*ASource*/)
{
    throw preview::EPreviewError("--capture is not available in this build");
}

} // namespace play
