#include "tools/lib/drive/NativeRenderer.h"

#include "tools/lib/common/ToolError.h"

namespace drive {

TNativeRenderer::TNativeRenderer(const TNativeRendererSetup& ASetup) : FArea(ASetup.Module, ASetup.Width, ASetup.Height)
{
    if (!ASetup.TracePath.empty())
        FTrace.emplace(ASetup.TracePath, FArea.Dc());
}

const std::uint32_t* TNativeRenderer::Render(std::int64_t AFrame, TAIMPVisualData& AData)
{
    if (FTrace)
        FTrace->BeginFrame(AFrame);
    return FArea.Draw(AData);
}

void TNativeRenderer::Resize(std::int32_t AWidth, std::int32_t AHeight)
{
    if (FTrace)
        throw common::EToolError("a traced drawing area cannot be resized");
    FArea.Resize(AWidth, AHeight);
}

void TNativeRenderer::Click(std::int32_t AX, std::int32_t AY, std::int32_t AButton)
{
    FArea.Click(AX, AY, AButton);
}

std::unique_ptr<TNativeRenderer> MakeNativeRenderer(const TNativeRendererSetup& ASetup)
{
    return std::make_unique<TNativeRenderer>(ASetup);
}

} // namespace drive
