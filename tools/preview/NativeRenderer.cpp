#include "tools/preview/NativeRenderer.h"

#include "tools/preview/PreviewError.h"

namespace preview {

TDibSurface::TDibSurface(std::int32_t AWidth, std::int32_t AHeight)
{
    FDc = CreateCompatibleDC(nullptr);
    if (!FDc)
        throw EPreviewError("cannot create a drawing context");
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = AWidth;
    info.bmiHeader.biHeight = -AHeight; // top-down: row 0 first in memory
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    FBitmap = CreateDIBSection(FDc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!FBitmap || !bits) {
        if (FBitmap)
            DeleteObject(FBitmap);
        DeleteDC(FDc);
        throw EPreviewError("cannot create a " + std::to_string(AWidth) + "x" + std::to_string(AHeight) +
                            " drawing surface");
    }
    FBits = static_cast<std::uint32_t*>(bits);
    FOldBitmap = SelectObject(FDc, FBitmap);
}

TDibSurface::~TDibSurface()
{
    SelectObject(FDc, FOldBitmap);
    DeleteObject(FBitmap);
    DeleteDC(FDc);
}

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

void TNativeRenderer::CommitTrace()
{
    if (FTrace)
        FTrace->Commit();
}

std::unique_ptr<TNativeRenderer> MakeNativeRenderer(const TNativeRendererSetup& ASetup)
{
    return std::make_unique<TNativeRenderer>(ASetup);
}

} // namespace preview
