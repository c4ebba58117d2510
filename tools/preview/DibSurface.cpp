#include "tools/preview/DibSurface.h"

#include "tools/preview/PreviewError.h"

#include <string>

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

} // namespace preview
