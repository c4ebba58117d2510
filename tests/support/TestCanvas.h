// Memory contexts for tests, on the Win32 stand-in and on Windows alike: the one memory context
// (graphics/MemoryContext.h), and a canvas on it that owns the pens and brushes a test selects
// and shows the bitmap as text.
#pragma once

#include "graphics/GdiHandle.h"
#include "graphics/MemoryContext.h"

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace testing_support {

using gdi::PixelOf;
using gdi::TMemoryContext;
using gdi::TRowOrder;

// A memory context with its own DIB section selected; rows are read in screen order whatever
// the order in memory. The pens and brushes it makes stay selected until the canvas goes, which
// then selects the context's first pen and brush back before deleting them.
class TTestCanvas {
public:
    TTestCanvas(int AWidth, int AHeight, TRowOrder AOrder = TRowOrder::TopDown) : FContext(AWidth, AHeight, AOrder) {}

    HDC Dc() const { return FContext.Dc(); }
    int Width() const { return FContext.Width(); }
    int Height() const { return FContext.Height(); }

    std::uint32_t& At(int AX, int AY) const { return FContext.At(AX, AY); }

    void Clear(std::uint32_t AValue) const
    {
        for (int y = 0; y < Height(); ++y)
            for (int x = 0; x < Width(); ++x)
                At(x, y) = AValue;
    }

    // Makes a pen or brush and selects it.
    void UsePen(UINT AStyle, int AWidth, COLORREF AColor)
    {
        const LOGPEN pen{AStyle, {AWidth, 0}, AColor};
        FPens.emplace_back(CreatePenIndirect(&pen));
        Select(FPenSelection, FPens.back().Get());
    }
    void UseBrush(UINT AStyle, COLORREF AColor)
    {
        const LOGBRUSH brush{AStyle, AColor, 0};
        FBrushes.emplace_back(CreateBrushIndirect(&brush));
        Select(FBrushSelection, FBrushes.back().Get());
    }

    // The bitmap as text, one string a row: '.' for AClear, '#' for APen, 'o' for ABrush,
    // 'x' for APen ^ ABrush and '?' for anything else.
    std::vector<std::string> Text(std::uint32_t AClear, std::uint32_t APen, std::uint32_t ABrush = 0xFFFFFFFFu) const
    {
        std::vector<std::string> rows;
        for (int y = 0; y < Height(); ++y) {
            std::string row;
            for (int x = 0; x < Width(); ++x) {
                const std::uint32_t value = At(x, y);
                row += value == AClear                     ? '.'
                       : value == APen                     ? '#'
                       : value == ABrush                   ? 'o'
                       : value == (APen ^ ABrush ^ AClear) ? 'x'
                                                           : '?';
            }
            rows.push_back(row);
        }
        return rows;
    }

private:
    // The first selection of a kind keeps the object to put back; later ones replace only what
    // the canvas itself selected.
    void Select(std::optional<gdi::TSelection>& ASelection, HGDIOBJ AObject)
    {
        if (ASelection)
            SelectObject(Dc(), AObject);
        else
            ASelection.emplace(Dc(), AObject);
    }

    // Destroyed bottom up: the selections are put back, the pens and brushes deleted, then the
    // context.
    TMemoryContext FContext;
    std::vector<gdi::TUniquePen> FPens;
    std::vector<gdi::TUniqueBrush> FBrushes;
    std::optional<gdi::TSelection> FPenSelection;
    std::optional<gdi::TSelection> FBrushSelection;
};

} // namespace testing_support
