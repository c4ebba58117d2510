#include "graphics/Graphics.h"

#include "graphics/ResourceManager.h"
#include "rtl/SysUtils.h"

#include <atomic>
#include <climits>
#include <cstddef>
#include <type_traits>
#include <utility>

static_assert(sizeof(TPoint) == sizeof(POINT) && offsetof(TPoint, X) == offsetof(POINT, x) &&
              offsetof(TPoint, Y) == offsetof(POINT, y) && std::is_standard_layout_v<TPoint>);
static_assert(sizeof(TRect) == sizeof(RECT) && offsetof(TRect, Left) == offsetof(RECT, left) &&
              offsetof(TRect, Top) == offsetof(RECT, top) && offsetof(TRect, Right) == offsetof(RECT, right) &&
              offsetof(TRect, Bottom) == offsetof(RECT, bottom));

// --- Colours and modes ---

COLORREF ColorToRGB(TColor AColor) noexcept
{
    if ((AColor & 0x80000000u) != 0)
        return static_cast<COLORREF>(GetSysColor(static_cast<int>(AColor & 0xFFu)));
    return static_cast<COLORREF>(AColor);
}

int PenModeToROP2(TPenMode AMode) noexcept
{
    switch (AMode) {
    case TPenMode::pmCopy: return R2_COPYPEN;
    case TPenMode::pmBlack: return R2_BLACK;
    case TPenMode::pmWhite: return R2_WHITE;
    case TPenMode::pmNop: return R2_NOP;
    case TPenMode::pmNot: return R2_NOT;
    case TPenMode::pmNotCopy: return R2_NOTCOPYPEN;
    case TPenMode::pmMergePenNot: return R2_MERGEPENNOT;
    case TPenMode::pmMaskPenNot: return R2_MASKPENNOT;
    case TPenMode::pmMergeNotPen: return R2_MERGENOTPEN;
    case TPenMode::pmMaskNotPen: return R2_MASKNOTPEN;
    case TPenMode::pmMerge: return R2_MERGEPEN;
    case TPenMode::pmNotMerge: return R2_NOTMERGEPEN;
    case TPenMode::pmMask: return R2_MASKPEN;
    case TPenMode::pmNotMask: return R2_NOTMASKPEN;
    case TPenMode::pmXor: return R2_XORPEN;
    case TPenMode::pmNotXor: return R2_NOTXORPEN;
    }
    return R2_COPYPEN;
}

// --- TGraphicsObjectOf ---

template <class TData>
TGraphicsObjectOf<TData>::TGraphicsObjectOf() : FResource(GraphicsModule().Pool<TData>().AllocResource(TData{}))
{}

template <class TData>
TGraphicsObjectOf<TData>::~TGraphicsObjectOf()
{
    Release();
}

template <class TData>
const TData& TGraphicsObjectOf<TData>::Data() const noexcept
{
    return FResource->Data;
}

template <class TData>
const TResource* TGraphicsObjectOf<TData>::Resource() const noexcept
{
    return FResource;
}

template <class TData>
void TGraphicsObjectOf<TData>::ChangeResource(const TData& AData)
{
    TResourceManager<TData>& pool = GraphicsModule().Pool<TData>();
    TLockGuard owner(FOwnerLock);
    TRetiredObjects retired;
    {
        TLockGuard poolLock(pool.Lock());
        TResourceOf<TData>* old = FResource;
        TResourceOf<TData>* fresh = pool.AllocResource(AData);
        if (fresh != old) {
            FResource = fresh;
            try {
                Changed();
            } catch (...) {
                // The object has moved; the old entry must still lose its user.
                pool.Retire(old).Dispose();
                throw;
            }
        }
        retired = pool.Retire(old);
    }
    retired.Dispose();
}

template <class TData>
void TGraphicsObjectOf<TData>::Release() noexcept
{
    // A released object has no entry; letting go again must not touch the pools, which may be
    // gone by then.
    if (TResourceOf<TData>* entry = std::exchange(FResource, nullptr))
        GraphicsModule().Pool<TData>().FreeResource(entry);
}

template class TGraphicsObjectOf<TPenData>;
template class TGraphicsObjectOf<TBrushData>;
template class TGraphicsObjectOf<TFontData>;

// --- TPen ---

void TPen::SetColor(TColor AValue)
{
    if (AValue == Color())
        return;
    TPenData data = Data();
    data.Handle = nullptr;
    data.Color = AValue;
    ChangeResource(data);
}

void TPen::SetWidth(std::int32_t AValue)
{
    if (AValue < 0 || AValue == Width())
        return;
    TPenData data = Data();
    data.Handle = nullptr;
    data.Width = AValue;
    ChangeResource(data);
}

void TPen::SetStyle(TPenStyle AValue)
{
    if (AValue == Style())
        return;
    TPenData data = Data();
    data.Handle = nullptr;
    data.Style = AValue;
    ChangeResource(data);
}

void TPen::SetMode(TPenMode AValue)
{
    if (AValue == FMode)
        return;
    // The mode is the pen's own, not the entry's; the owner still has to select the pen again,
    // because the raster operation goes to the context with the selection.
    TLockGuard owner(FOwnerLock);
    FMode = AValue;
    Changed();
}

HPEN TPen::Handle()
{
    return GraphicsModule().Pens.ObjectOf(*FResource, [](const TPenData& AData) {
        LOGPEN pen{};
        pen.lopnStyle = static_cast<UINT>(AData.Style); // psSolid .. psInsideFrame are PS_SOLID .. PS_INSIDEFRAME
        pen.lopnWidth.x = AData.Width;
        pen.lopnWidth.y = 0;
        pen.lopnColor = ColorToRGB(AData.Color);
        return CreatePenIndirect(&pen);
    });
}

// --- TBrush ---

void TBrush::SetColor(TColor AValue)
{
    if (AValue == Color() && Style() != TBrushStyle::bsClear)
        return;
    TBrushData data = Data();
    data.Handle = nullptr;
    data.Color = AValue;
    if (data.Style == TBrushStyle::bsClear)
        data.Style = TBrushStyle::bsSolid;
    // The pattern stays with the old entry, which deletes it if it owns it.
    data.Bitmap = nullptr;
    data.OwnsBitmap = false;
    ChangeResource(data);
}

void TBrush::SetStyle(TBrushStyle AValue)
{
    if (AValue == Style())
        return;
    TBrushData data = Data();
    data.Handle = nullptr;
    data.Style = AValue;
    ChangeResource(data);
}

HBRUSH TBrush::Handle()
{
    return GraphicsModule().Brushes.ObjectOf(*FResource, [](const TBrushData& AData) {
        LOGBRUSH brush{};
        brush.lbStyle = AData.Style == TBrushStyle::bsClear ? BS_HOLLOW : BS_SOLID;
        brush.lbColor = ColorToRGB(AData.Color);
        brush.lbHatch = 0;
        return CreateBrushIndirect(&brush);
    });
}

HBRUSH TBrush::CurrentHandle() const noexcept
{
    return FResource->Object.load(std::memory_order_acquire);
}

// --- TCustomCanvas ---

TCustomCanvas::~TCustomCanvas() = default;

// --- TCanvas ---

TCanvas::TCanvas()
{
    FFont.SetOnChange({&TCanvas::FontChanged, this});
    FFont.SetOwnerLock(&FLock);
    FPen.SetOnChange({&TCanvas::PenChanged, this});
    FPen.SetOwnerLock(&FLock);
    FBrush.SetOnChange({&TCanvas::BrushChanged, this});
    FBrush.SetOwnerLock(&FLock);
}

TCanvas::~TCanvas()
{
    SetHandle(nullptr);
    FFont.Release();
    FPen.Release();
    FBrush.Release();
}

void TCanvas::SetHandle(HDC DC) noexcept
{
    if (DC == FHandle)
        return;
    if (FHandle)
        Detach();
    if (DC) {
        FState = FState | TCanvasStates{TCanvasState::csHandleValid};
        FHandle = DC;
        MoveToEx(FHandle, FPenPos.X, FPenPos.Y, nullptr);
    }
}

void TCanvas::Detach() noexcept
{
    const TCanvasStates selected{TCanvasState::csPenValid, TCanvasState::csBrushValid, TCanvasState::csFontValid};
    if (!(FState & selected).Empty()) {
        const TGraphicsModule& module = GraphicsModule();
        SelectObject(FHandle, module.StockPen);
        SelectObject(FHandle, module.StockBrush);
        SelectObject(FHandle, module.StockFont);
        FState = FState - selected;
    }
    // A context that cannot tell its position leaves the remembered one as it was.
    POINT position{FPenPos.X, FPenPos.Y};
    GetCurrentPositionEx(FHandle, &position);
    FPenPos = TPoint{position.x, position.y};
    FHandle = nullptr;
    FState = FState - TCanvasStates{TCanvasState::csHandleValid};
}

void TCanvas::RequiredState(TCanvasStates ANeeded)
{
    const TCanvasStates missing = ANeeded - FState;
    if (missing.Empty())
        return;
    if (missing.Contains(TCanvasState::csHandleValid))
        rtl::Raise(rtl::EInvalidOperation("Canvas does not allow drawing"));
    if (missing.Contains(TCanvasState::csPenValid)) {
        SelectObject(FHandle, FPen.Handle());
        SetROP2(FHandle, PenModeToROP2(FPen.Mode()));
    }
    if (missing.Contains(TCanvasState::csBrushValid)) {
        const HBRUSH brush = FBrush.Handle();
        UnrealizeObject(brush);
        SelectObject(FHandle, brush);
        const COLORREF color = ColorToRGB(FBrush.Color());
        if (FBrush.Style() == TBrushStyle::bsSolid) {
            SetBkColor(FHandle, color);
            SetBkMode(FHandle, OPAQUE);
        } else {
            SetBkColor(FHandle, ~color);
            SetBkMode(FHandle, TRANSPARENT);
        }
    }
    FState = FState | missing;
}

void TCanvas::FillRect(const TRect& Rect)
{
    Changing();
    RequiredState({TCanvasState::csHandleValid, TCanvasState::csBrushValid});
    const RECT rect{Rect.Left, Rect.Top, Rect.Right, Rect.Bottom};
    // The brush that preparation selected; it is the entry's, so this makes nothing.
    ::FillRect(FHandle, &rect, FBrush.CurrentHandle());
    Changed();
}

void TCanvas::Ellipse(std::int32_t X1, std::int32_t Y1, std::int32_t X2, std::int32_t Y2)
{
    Changing();
    RequiredState({TCanvasState::csHandleValid, TCanvasState::csPenValid, TCanvasState::csBrushValid});
    ::Ellipse(FHandle, X1, Y1, X2, Y2);
    Changed();
}

void TCanvas::Polyline(std::span<const TPoint> Points)
{
    Changing();
    RequiredState({TCanvasState::csHandleValid, TCanvasState::csPenValid, TCanvasState::csBrushValid});
    // GDI counts points in an int; a longer array draws its first INT_MAX points.
    const int count = Points.size() > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(Points.size());
    // TPoint is laid out as POINT (checked above), so the array goes to GDI as it is.
    ::Polyline(FHandle, reinterpret_cast<const POINT*>(Points.data()), count);
    Changed();
}

void TCanvas::PenChanged(void* ACanvas, TGraphicsObject&) noexcept
{
    auto* canvas = static_cast<TCanvas*>(ACanvas);
    if (canvas->FState.Contains(TCanvasState::csPenValid)) {
        canvas->FState = canvas->FState - TCanvasStates{TCanvasState::csPenValid};
        SelectObject(canvas->FHandle, GraphicsModule().StockPen);
    }
}

void TCanvas::BrushChanged(void* ACanvas, TGraphicsObject&) noexcept
{
    auto* canvas = static_cast<TCanvas*>(ACanvas);
    if (canvas->FState.Contains(TCanvasState::csBrushValid)) {
        canvas->FState = canvas->FState - TCanvasStates{TCanvasState::csBrushValid};
        SelectObject(canvas->FHandle, GraphicsModule().StockBrush);
    }
}

void TCanvas::FontChanged(void* ACanvas, TGraphicsObject&) noexcept
{
    auto* canvas = static_cast<TCanvas*>(ACanvas);
    if (canvas->FState.Contains(TCanvasState::csFontValid)) {
        canvas->FState = canvas->FState - TCanvasStates{TCanvasState::csFontValid};
        SelectObject(canvas->FHandle, GraphicsModule().StockFont);
    }
}
