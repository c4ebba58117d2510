#include "tools/lib/drive/NativeRenderer.h"

#include "tools/lib/common/ToolError.h"

namespace drive {

TNativeRenderer::TNativeRenderer(const TNativeRendererSetup& ASetup)
    : FSurface(std::make_unique<TDibSurface>(ASetup.Width, ASetup.Height)),
      FHost(ASetup.Module, ASetup.Width, ASetup.Height)
{
    if (!ASetup.TracePath.empty())
        FTrace.emplace(ASetup.TracePath, FSurface->Dc());
}

const std::uint32_t* TNativeRenderer::Render(std::int64_t AFrame, TAIMPVisualData& AData)
{
    if (FTrace)
        FTrace->BeginFrame(AFrame);
    FHost.Draw(FSurface->Dc(), AData);
    GdiFlush();
    return FSurface->Pixels();
}

void TNativeRenderer::Resize(std::int32_t AWidth, std::int32_t AHeight)
{
    if (FTrace)
        throw common::EToolError("a traced drawing area cannot be resized");
    // The module holds no object of the context between two Draw calls, so the old surface
    // may go before the module hears of the new one.
    FSurface = std::make_unique<TDibSurface>(AWidth, AHeight);
    FHost.Resize(AWidth, AHeight);
}

void TNativeRenderer::Click(std::int32_t AX, std::int32_t AY, std::int32_t AButton)
{
    FHost.Click(AX, AY, AButton);
}

std::unique_ptr<TNativeRenderer> MakeNativeRenderer(const TNativeRendererSetup& ASetup)
{
    return std::make_unique<TNativeRenderer>(ASetup);
}

} // namespace drive
