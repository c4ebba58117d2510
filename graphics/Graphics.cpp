#include "graphics/Graphics.h"

#include "graphics/ResourceManager.h"
#include "rtl/SysUtils.h"

#include <atomic>
#include <climits>
#include <cstddef>
#include <memory>
#include <new>
#include <thread>
#include <type_traits>

static_assert(sizeof(TPoint) == sizeof(POINT) && offsetof(TPoint, X) == offsetof(POINT, x) &&
              offsetof(TPoint, Y) == offsetof(POINT, y) && std::is_standard_layout_v<TPoint>);
static_assert(sizeof(TRect) == sizeof(RECT) && offsetof(TRect, Left) == offsetof(RECT, left) &&
              offsetof(TRect, Top) == offsetof(RECT, top) && offsetof(TRect, Right) == offsetof(RECT, right) &&
              offsetof(TRect, Bottom) == offsetof(RECT, bottom));

namespace {

std::uint64_t Mix(std::uint64_t AHash, std::uint64_t AValue) noexcept
{
    return (AHash ^ AValue) * 0x100000001B3ULL;
}

std::uint64_t HandleBits(const void* AHandle) noexcept
{
    return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(AHandle));
}

constexpr std::uint64_t HashSeed = 0xCBF29CE484222325ULL;

TResourceOf<TPenData>* PenEntry(TResource* AResource) noexcept
{
    return static_cast<TResourceOf<TPenData>*>(AResource);
}

TResourceOf<TBrushData>* BrushEntry(TResource* AResource) noexcept
{
    return static_cast<TResourceOf<TBrushData>*>(AResource);
}

TResourceOf<TFontData>* FontEntry(TResource* AResource) noexcept
{
    return static_cast<TResourceOf<TFontData>*>(AResource);
}

// The unit's objects live in storage of their own with no destructor: they are built by the load
// step (or the first use) and torn down by the unload step alone, never by static destruction,
// whose order depends on the link and the toolchain.
alignas(TGraphicsModule) unsigned char ModuleStorage[sizeof(TGraphicsModule)];
constinit std::atomic<TGraphicsModule*> LoadedModule{nullptr};
// Set while the objects are being built or torn down. Both take microseconds and happen about
// once per process, so a waiting thread merely yields.
constinit std::atomic<bool> ModuleChanging{false};

class TModuleChangeGuard {
public:
    TModuleChangeGuard() noexcept
    {
        while (ModuleChanging.exchange(true, std::memory_order_acquire))
            std::this_thread::yield();
    }
    ~TModuleChangeGuard() { ModuleChanging.store(false, std::memory_order_release); }
    TModuleChangeGuard(const TModuleChangeGuard&) = delete;
    TModuleChangeGuard& operator=(const TModuleChangeGuard&) = delete;
};

TGraphicsModule& LoadModuleObjects() noexcept
{
    const TModuleChangeGuard guard;
    TGraphicsModule* module = LoadedModule.load(std::memory_order_relaxed);
    if (!module) {
        module = ::new (static_cast<void*>(ModuleStorage)) TGraphicsModule;
        LoadedModule.store(module, std::memory_order_release);
    }
    return *module;
}

// Wherever the unit is linked (the module, a test program, a tool), it loads with the program or
// library, so that the stock objects and the pools exist before any surface is made and a
// surface's first calls are its own. Loading is idempotent, so this needs no order with the
// module's start-up, which loads the unit explicitly as well. Nothing here is torn down by static
// destruction: only the unload step does that.
[[maybe_unused]] const bool LoadedWithTheProgram = (LoadGraphicsUnit(), true);

} // namespace

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

// --- Pools ---

std::size_t ResourceHash(const TPenData& AData) noexcept
{
    std::uint64_t h = Mix(HashSeed, HandleBits(AData.Handle));
    h = Mix(h, AData.Color);
    h = Mix(h, static_cast<std::uint32_t>(AData.Width));
    h = Mix(h, static_cast<std::uint64_t>(AData.Style));
    return static_cast<std::size_t>(h);
}

std::size_t ResourceHash(const TBrushData& AData) noexcept
{
    std::uint64_t h = Mix(HashSeed, HandleBits(AData.Handle));
    h = Mix(h, AData.Color);
    h = Mix(h, HandleBits(AData.Bitmap));
    h = Mix(h, static_cast<std::uint64_t>(AData.Style));
    h = Mix(h, AData.OwnsBitmap ? 1u : 0u);
    return static_cast<std::size_t>(h);
}

std::size_t ResourceHash(const TFontData& AData) noexcept
{
    std::uint64_t h = Mix(HashSeed, HandleBits(AData.Handle));
    h = Mix(h, static_cast<std::uint32_t>(AData.Height));
    h = Mix(h, static_cast<std::uint64_t>(AData.Pitch));
    h = Mix(h, AData.Style);
    h = Mix(h, AData.Charset);
    return static_cast<std::size_t>(h);
}

TGraphicsModule::TGraphicsModule() noexcept
    : StockPen(static_cast<HPEN>(GetStockObject(BLACK_PEN))),
      StockBrush(static_cast<HBRUSH>(GetStockObject(NULL_BRUSH))),
      StockFont(static_cast<HFONT>(GetStockObject(SYSTEM_FONT)))
{
}

TGraphicsModule& GraphicsModule() noexcept
{
    if (TGraphicsModule* module = LoadedModule.load(std::memory_order_acquire))
        return *module;
    return LoadModuleObjects();
}

void LoadGraphicsUnit() noexcept
{
    LoadModuleObjects();
}

void UnloadGraphicsUnit() noexcept
{
    const TModuleChangeGuard guard;
    if (TGraphicsModule* module = LoadedModule.exchange(nullptr, std::memory_order_acq_rel))
        std::destroy_at(module);
}

// --- TGraphicsObject ---

template <class TData>
void TGraphicsObject::ChangeResource(TResourceManager<TData>& APool, const TData& AData)
{
    using TEntry = typename TResourceManager<TData>::TEntry;
    TLockGuard owner(FOwnerLock);
    TRetiredObjects retired;
    {
        TLockGuard pool(APool.Lock());
        auto* old = static_cast<TEntry*>(FResource);
        TEntry* fresh = APool.AllocResource(AData);
        if (fresh != old) {
            FResource = fresh;
            try {
                Changed();
            } catch (...) {
                // The object has moved; the old entry must still lose its user.
                APool.Retire(old).Dispose();
                throw;
            }
        }
        retired = APool.Retire(old);
    }
    retired.Dispose();
}

template <class TData>
void TGraphicsObject::FreeResource(TResourceManager<TData>& APool) noexcept
{
    auto* entry = static_cast<typename TResourceManager<TData>::TEntry*>(FResource);
    FResource = nullptr;
    APool.FreeResource(entry);
}

// --- TPen ---

TPen::TPen()
{
    FResource = GraphicsModule().Pens.AllocResource(TPenData{});
}

TPen::~TPen()
{
    Release();
}

void TPen::Release() noexcept
{
    FreeResource(GraphicsModule().Pens);
}

const TPenData& TPen::Data() const noexcept
{
    return PenEntry(FResource)->Data;
}

void TPen::SetColor(TColor AValue)
{
    if (AValue == Color())
        return;
    TPenData data = Data();
    data.Handle = nullptr;
    data.Color = AValue;
    ChangeResource(GraphicsModule().Pens, data);
}

void TPen::SetWidth(std::int32_t AValue)
{
    if (AValue < 0 || AValue == Width())
        return;
    TPenData data = Data();
    data.Handle = nullptr;
    data.Width = AValue;
    ChangeResource(GraphicsModule().Pens, data);
}

void TPen::SetStyle(TPenStyle AValue)
{
    if (AValue == Style())
        return;
    TPenData data = Data();
    data.Handle = nullptr;
    data.Style = AValue;
    ChangeResource(GraphicsModule().Pens, data);
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
    return static_cast<HPEN>(GraphicsModule().Pens.ObjectOf(*PenEntry(FResource), [](const TPenData& AData) {
        LOGPEN pen{};
        pen.lopnStyle = static_cast<UINT>(AData.Style);  // psSolid .. psInsideFrame are PS_SOLID .. PS_INSIDEFRAME
        pen.lopnWidth.x = AData.Width;
        pen.lopnWidth.y = 0;
        pen.lopnColor = ColorToRGB(AData.Color);
        return static_cast<HGDIOBJ>(CreatePenIndirect(&pen));
    }));
}

// --- TBrush ---

TBrush::TBrush()
{
    FResource = GraphicsModule().Brushes.AllocResource(TBrushData{});
}

TBrush::~TBrush()
{
    Release();
}

void TBrush::Release() noexcept
{
    FreeResource(GraphicsModule().Brushes);
}

const TBrushData& TBrush::Data() const noexcept
{
    return BrushEntry(FResource)->Data;
}

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
    ChangeResource(GraphicsModule().Brushes, data);
}

void TBrush::SetStyle(TBrushStyle AValue)
{
    if (AValue == Style())
        return;
    TBrushData data = Data();
    data.Handle = nullptr;
    data.Style = AValue;
    ChangeResource(GraphicsModule().Brushes, data);
}

HBRUSH TBrush::Handle()
{
    return static_cast<HBRUSH>(
        GraphicsModule().Brushes.ObjectOf(*BrushEntry(FResource), [](const TBrushData& AData) {
            LOGBRUSH brush{};
            brush.lbStyle = AData.Style == TBrushStyle::bsClear ? BS_HOLLOW : BS_SOLID;
            brush.lbColor = ColorToRGB(AData.Color);
            brush.lbHatch = 0;
            return static_cast<HGDIOBJ>(CreateBrushIndirect(&brush));
        }));
}

HBRUSH TBrush::CurrentHandle() const noexcept
{
    return static_cast<HBRUSH>(BrushEntry(FResource)->Object.load(std::memory_order_acquire));
}

// --- TFont ---

TFont::TFont()
{
    FResource = GraphicsModule().Fonts.AllocResource(TFontData{});
}

TFont::~TFont()
{
    Release();
}

void TFont::Release() noexcept
{
    FreeResource(GraphicsModule().Fonts);
}

const TFontData& TFont::Data() const noexcept
{
    return FontEntry(FResource)->Data;
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
