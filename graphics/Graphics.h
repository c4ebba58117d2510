// The drawing surface: TCanvas with its pen, brush and font, turning fill, ellipse and polyline
// requests into calls on an attached device context.
//
// Selection is lazy: setting an attribute never touches the context; the first drawing
// operation that needs the pen or brush selects it, and it stays selected until an attribute
// changes or the context is detached. Pens, brushes and fonts of one thread with equal
// attributes share one entry of a module-wide pool and one GDI object, made when a drawing
// operation first selects it and deleted, after deselection, when its last user lets go.
#pragma once

#include <windows.h>

#include "graphics/ACL.Graphics.h"
#include "graphics/GraphicsData.h"
#include "graphics/Locks.h"
#include "rtl/SysUtils.h" // rtl::EInvalidOperation, raised by drawing without a context

#include <cstdint>
#include <initializer_list>
#include <span>

// A point of the device context's logical coordinates; laid out as POINT.
struct TPoint {
    std::int32_t X;
    std::int32_t Y;
};

// A rectangle from Left and Top up to, but not including, Right and Bottom; laid out as RECT.
struct TRect {
    std::int32_t Left, Top, Right, Bottom;
};

// How the pen's colour combines with the pixels under it; each mode is one of GDI's binary
// raster operations (pmCopy is R2_COPYPEN).
enum class TPenMode : std::uint8_t {
    pmCopy,
    pmBlack,
    pmWhite,
    pmNop,
    pmNot,
    pmNotCopy,
    pmMergePenNot,
    pmMaskPenNot,
    pmMergeNotPen,
    pmMaskNotPen,
    pmMerge,
    pmNotMerge,
    pmMask,
    pmNotMask,
    pmXor,
    pmNotXor
};

// The R2_ raster operation GDI receives for a pen mode.
int PenModeToROP2(TPenMode AMode) noexcept;

// A colour value for GDI: a value with the top bit set names a system colour and becomes
// GetSysColor(its low byte); every other value passes unchanged.
COLORREF ColorToRGB(TColor AColor) noexcept;

struct TResource;
template <class TData>
struct TResourceOf;

// An event with one subscriber: a plain function and the object it works for. Firing an empty
// event does nothing.
template <class TSender>
class TNotifyEvent {
public:
    using TCode = void (*)(void* AData, TSender& ASender);

    constexpr TNotifyEvent() noexcept = default;
    constexpr TNotifyEvent(TCode ACode, void* AData) noexcept : FCode(ACode), FData(AData) {}

    explicit operator bool() const noexcept { return FCode != nullptr; }
    void operator()(TSender& ASender) const
    {
        if (FCode)
            FCode(FData, ASender);
    }

private:
    TCode FCode = nullptr;
    void* FData = nullptr;
};

// The base of pens, brushes and fonts: the owner's notification and the owner's lock (null for
// an object without an owner).
class TGraphicsObject {
public:
    TGraphicsObject(const TGraphicsObject&) = delete;
    TGraphicsObject& operator=(const TGraphicsObject&) = delete;

    // Fired after an attribute change that moved the object to another entry.
    void SetOnChange(TNotifyEvent<TGraphicsObject> AEvent) noexcept { FOnChange = AEvent; }
    // Borrowed: the lock must outlive the object. Attribute changes take it before the pool's.
    void SetOwnerLock(TCriticalSection* ALock) noexcept { FOwnerLock = ALock; }

protected:
    TGraphicsObject() noexcept = default;
    ~TGraphicsObject() = default;

    void Changed() { FOnChange(*this); }

    TNotifyEvent<TGraphicsObject> FOnChange;
    TCriticalSection* FOwnerLock = nullptr;
};

// A graphics object of one kind: a share in one entry of the kind's pool, whose record is TData.
// Made on the entry for TData's defaults (no GDI call); destroyed, it lets go of its entry.
template <class TData>
class TGraphicsObjectOf : public TGraphicsObject {
public:
    // The attributes of the entry the object shares.
    const TData& Data() const noexcept;
    // The pool entry this object shares (borrowed; for tests and diagnostics).
    const TResource* Resource() const noexcept;

protected:
    TGraphicsObjectOf();
    ~TGraphicsObjectOf();

    // Moves the object to the entry for AData: owner lock, then pool lock; the owner is told
    // before the old entry is let go, so a selected object is deselected before it can be deleted.
    void ChangeResource(const TData& AData);
    // Lets go of the entry, if any; deletes its GDI object when this was the last user.
    void Release() noexcept;

    TResourceOf<TData>* FResource;

private:
    friend class TCanvas; // releases its objects in its own order
};

// The three kinds are compiled once, in graphics/Graphics.cpp, the one place where the surface
// sees the pools.
extern template class TGraphicsObjectOf<TPenData>;
extern template class TGraphicsObjectOf<TBrushData>;
extern template class TGraphicsObjectOf<TFontData>;

class TPen : public TGraphicsObjectOf<TPenData> {
public:
    // Black, 1 pixel, solid, pmCopy; shares the default entry, makes no GDI call.
    TPen() = default;

    TColor Color() const noexcept { return Data().Color; }
    void SetColor(TColor AValue);
    std::int32_t Width() const noexcept { return Data().Width; }
    // A negative width is ignored.
    void SetWidth(std::int32_t AValue);
    TPenStyle Style() const noexcept { return Data().Style; }
    void SetStyle(TPenStyle AValue);
    TPenMode Mode() const noexcept { return FMode; }
    void SetMode(TPenMode AValue);

    // The entry's GDI pen, made now if it has none (borrowed: the entry owns it). Null when GDI
    // refused to make it; the next call tries again.
    HPEN Handle();

private:
    TPenMode FMode = TPenMode::pmCopy;
};

class TBrush : public TGraphicsObjectOf<TBrushData> {
public:
    // White, solid; shares the default entry, makes no GDI call.
    TBrush() = default;

    TColor Color() const noexcept { return Data().Color; }
    // Also turns a clear brush solid and drops a pattern bitmap.
    void SetColor(TColor AValue);
    TBrushStyle Style() const noexcept { return Data().Style; }
    void SetStyle(TBrushStyle AValue);

    // The entry's GDI brush, made now if it has none (borrowed: the entry owns it).
    HBRUSH Handle();

private:
    friend class TCanvas;
    // The entry's GDI brush as it is, without making one.
    HBRUSH CurrentHandle() const noexcept;
};

// The surface's font; it shares the default entry and no operation changes it.
class TFont : public TGraphicsObjectOf<TFontData> {
public:
    TFont() = default;
};

// Which parts of the surface are in force: a context is attached, and the surface's font, pen
// and brush are selected into it.
enum class TCanvasState : std::uint8_t { csHandleValid, csFontValid, csPenValid, csBrushValid };

class TCanvasStates {
public:
    constexpr TCanvasStates() noexcept = default;
    constexpr TCanvasStates(std::initializer_list<TCanvasState> AStates) noexcept
    {
        for (TCanvasState s : AStates)
            FBits = static_cast<std::uint8_t>(FBits | Bit(s));
    }

    constexpr bool Contains(TCanvasState AState) const noexcept { return (FBits & Bit(AState)) != 0; }
    constexpr bool Empty() const noexcept { return FBits == 0; }
    constexpr TCanvasStates operator&(TCanvasStates AOther) const noexcept
    {
        return FromBits(static_cast<std::uint8_t>(FBits & AOther.FBits));
    }
    constexpr TCanvasStates operator|(TCanvasStates AOther) const noexcept
    {
        return FromBits(static_cast<std::uint8_t>(FBits | AOther.FBits));
    }
    constexpr TCanvasStates operator-(TCanvasStates AOther) const noexcept
    {
        return FromBits(static_cast<std::uint8_t>(FBits & ~AOther.FBits));
    }
    constexpr bool operator==(const TCanvasStates&) const noexcept = default;

private:
    static constexpr std::uint8_t Bit(TCanvasState AState) noexcept
    {
        return static_cast<std::uint8_t>(1u << static_cast<unsigned>(AState));
    }
    static constexpr TCanvasStates FromBits(std::uint8_t ABits) noexcept
    {
        TCanvasStates result;
        result.FBits = ABits;
        return result;
    }

    std::uint8_t FBits = 0;
};

// The abstract surface: its lock and its change events. Every drawing operation fires
// OnChanging at its start and OnChange at its end.
class TCustomCanvas {
public:
    virtual ~TCustomCanvas();
    TCustomCanvas(const TCustomCanvas&) = delete;
    TCustomCanvas& operator=(const TCustomCanvas&) = delete;

    // The ellipse inscribed in the box with corners (X1, Y1) and (X2, Y2), outlined with the pen
    // and filled with the brush.
    virtual void Ellipse(std::int32_t X1, std::int32_t Y1, std::int32_t X2, std::int32_t Y2) = 0;
    // Fills Rect, as given, with the brush; the pen is not used.
    virtual void FillRect(const TRect& Rect) = 0;
    // Joins each point to the next with the pen; the figure stays open and is not filled.
    virtual void Polyline(std::span<const TPoint> Points) = 0;

    void SetOnChange(TNotifyEvent<TCustomCanvas> AEvent) noexcept { FOnChange = AEvent; }
    void SetOnChanging(TNotifyEvent<TCustomCanvas> AEvent) noexcept { FOnChanging = AEvent; }

protected:
    TCustomCanvas() noexcept = default;

    void Changing() { FOnChanging(*this); }
    void Changed() { FOnChange(*this); }

    // The surface's lock; its pen, brush and font take it as their owner lock.
    TCriticalSection FLock;
    TNotifyEvent<TCustomCanvas> FOnChange;
    TNotifyEvent<TCustomCanvas> FOnChanging;
};

class TCanvas : public TCustomCanvas {
public:
    // Detached, nothing selected, pen position (0, 0); no GDI call.
    TCanvas();
    // Detaches if needed, then lets go of the font, the pen and the brush, in that order.
    ~TCanvas() override;

    // The attached context, or null.
    HDC Handle() const noexcept { return FHandle; }
    // Attaches DC (borrowed for as long as it stays attached), detaching any other context
    // first; null detaches. Attaching the attached context again does nothing. Detaching leaves
    // the stock black pen, null brush and system font selected in the context.
    void SetHandle(HDC DC) noexcept;

    TPen& Pen() noexcept { return FPen; }
    TBrush& Brush() noexcept { return FBrush; }
    TFont& Font() noexcept { return FFont; }
    TCanvasStates State() const noexcept { return FState; }
    // The context's current position, kept while detached and restored at the next attach.
    TPoint PenPos() const noexcept { return FPenPos; }

    // Each raises rtl::EInvalidOperation "Canvas does not allow drawing", before any GDI call,
    // when no context is attached.
    void Ellipse(std::int32_t X1, std::int32_t Y1, std::int32_t X2, std::int32_t Y2) override;
    void FillRect(const TRect& Rect) override;
    void Polyline(std::span<const TPoint> Points) override;

private:
    // Selects what ANeeded names and the state lacks.
    void RequiredState(TCanvasStates ANeeded);
    void Detach() noexcept;

    static void PenChanged(void* ACanvas, TGraphicsObject& ASender) noexcept;
    static void BrushChanged(void* ACanvas, TGraphicsObject& ASender) noexcept;
    static void FontChanged(void* ACanvas, TGraphicsObject& ASender) noexcept;

    HDC FHandle = nullptr;
    TCanvasStates FState;
    TFont FFont;
    TPen FPen;
    TBrush FBrush;
    TPoint FPenPos{0, 0};
};
