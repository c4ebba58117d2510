#include "tools/lib/drive/DrawingArea.h"

namespace drive {

TDrawingArea::TDrawingArea(const std::string& AModule, std::int32_t AWidth, std::int32_t AHeight)
    : FSurface(std::make_unique<TDibSurface>(AWidth, AHeight)), FHost(AModule, AWidth, AHeight)
{}

TDrawingArea::TDrawingArea(TAIMPPluginGetHeaderProc AGetHeader, const std::string& AName, std::int32_t AWidth,
                           std::int32_t AHeight)
    : FSurface(std::make_unique<TDibSurface>(AWidth, AHeight)), FHost(AGetHeader, AName, AWidth, AHeight)
{}

const std::uint32_t* TDrawingArea::Draw(TAIMPVisualData& AData)
{
    FHost.Draw(FSurface->Dc(), AData);
    // GDI may batch the module's drawing (Wine's does): the pixels are read only after it.
    GdiFlush();
    return FSurface->Pixels();
}

void TDrawingArea::Resize(std::int32_t AWidth, std::int32_t AHeight)
{
    // The module holds no object of the context between two Draw calls, so the old surface
    // may go before the module hears of the new one.
    FSurface = std::make_unique<TDibSurface>(AWidth, AHeight);
    FHost.Resize(AWidth, AHeight);
}

void TDrawingArea::Click(std::int32_t AX, std::int32_t AY, std::int32_t AButton)
{
    FHost.Click(AX, AY, AButton);
}

} // namespace drive
