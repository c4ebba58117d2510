#include "tools/preview/NativeRenderer.h"

#include "tools/preview/PreviewError.h"

namespace preview {

TNativeRenderer::TNativeRenderer(const TNativeRendererSetup& ASetup)
    : FSurface(ASetup.Width, ASetup.Height), FHost(ASetup.Module, ASetup.Width, ASetup.Height)
{
    if (!ASetup.TracePath.empty())
        FTrace.emplace(ASetup.TracePath, FSurface.Dc());
}

const std::uint32_t* TNativeRenderer::Render(std::int64_t AFrame, TAIMPVisualData& AData)
{
    if (FTrace)
        FTrace->BeginFrame(AFrame);
    FHost.Draw(FSurface.Dc(), AData);
    GdiFlush();
    return FSurface.Pixels();
}

std::unique_ptr<TNativeRenderer> MakeNativeRenderer(const TNativeRendererSetup& ASetup)
{
    return std::make_unique<TNativeRenderer>(ASetup);
}

} // namespace preview
