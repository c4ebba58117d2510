// The gdi32 and user32 subsets: one handle table of pens, brushes, fonts, bitmaps and memory
// contexts, the state of each context, the recorder, and the primitives drawn through Raster.
#include <win32_standin.h>
#include <windows.h>

#include "Lock.h"
#include "Raster.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

namespace {

using standin::PixelOf;
using standin::PixelOp;

enum class Kind : std::uint8_t { Free, Pen, Brush, Font, Bitmap, Palette, Dc };

// A bitmap's pixels are owned by the bitmap; the stock bitmap is one pixel of its own.
struct BitmapData {
    std::int32_t Width = 0;
    std::int32_t Height = 0; // rows, always positive
    bool TopDown = true;
    bool Monochrome = false; // the stock bitmap, reported as Windows' 1 bpp one
    std::unique_ptr<std::uint32_t[]> Bits;
    HDC SelectedIn = nullptr; // a bitmap is selected in one context at most
};

// What drawing needs of a context's selection; see DrawStateOf.
struct DrawState {
    bool Valid = false;
    bool HasSurface = false;
    standin::Surface Surface;
    standin::DrawStyle Style;
};

struct DcData {
    HGDIOBJ Pen = nullptr;
    HGDIOBJ Brush = nullptr;
    HGDIOBJ Font = nullptr;
    HGDIOBJ Bitmap = nullptr;
    int Rop2 = R2_COPYPEN;
    COLORREF BkColor = RGB(255, 255, 255);
    int BkMode = OPAQUE;
    POINT Position{0, 0};
    DrawState Drawing; // invalid after any change of Pen, Brush, Bitmap or Rop2
};

struct Entry {
    Kind Type = Kind::Free;
    bool Stock = false;
    std::uint16_t Generation = 1;
    std::uint32_t Selections = 0; // contexts in which the object is selected
    std::uint32_t NextFree = 0;
    LOGPEN Pen{};
    LOGBRUSH Brush{};
    BitmapData Bitmap;
    DcData Dc;
};

// Handles are (generation << 16) | slot: never null, never a small integer (FillRect reads
// those as system colours), and a handle of a deleted object stops matching its slot as soon
// as the slot is reused. Nothing behind a handle is reached without a lookup in the table.
constexpr std::uint32_t MaxSlots = 0xFFFF;

std::uint32_t HandleBits(const void* AHandle)
{
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(AHandle));
}

class ObjectTable {
public:
    ObjectTable()
    {
        FEntries.reserve(1024);
        FEntries.emplace_back(); // slot 0 is never handed out
        const auto pen = [this](int AIndex, UINT AStyle, COLORREF AColor) {
            Entry entry;
            entry.Type = Kind::Pen;
            // GDI reports the stock null pen one pixel wide, the others zero wide.
            entry.Pen = LOGPEN{AStyle, {AStyle == PS_NULL ? 1 : 0, 0}, AColor};
            FStock[AIndex] = AddStock(std::move(entry));
        };
        const auto brush = [this](int AIndex, UINT AStyle, COLORREF AColor) {
            Entry entry;
            entry.Type = Kind::Brush;
            entry.Brush = LOGBRUSH{AStyle, AColor, 0};
            FStock[AIndex] = AddStock(std::move(entry));
        };
        const auto simple = [this](int AIndex, Kind AType) {
            Entry entry;
            entry.Type = AType;
            FStock[AIndex] = AddStock(std::move(entry));
        };
        brush(WHITE_BRUSH, BS_SOLID, RGB(255, 255, 255));
        brush(LTGRAY_BRUSH, BS_SOLID, RGB(192, 192, 192));
        brush(GRAY_BRUSH, BS_SOLID, RGB(128, 128, 128));
        brush(DKGRAY_BRUSH, BS_SOLID, RGB(64, 64, 64));
        brush(BLACK_BRUSH, BS_SOLID, RGB(0, 0, 0));
        brush(NULL_BRUSH, BS_NULL, RGB(0, 0, 0));
        pen(WHITE_PEN, PS_SOLID, RGB(255, 255, 255));
        pen(BLACK_PEN, PS_SOLID, RGB(0, 0, 0));
        pen(NULL_PEN, PS_NULL, RGB(0, 0, 0));
        for (int font : {OEM_FIXED_FONT, ANSI_FIXED_FONT, ANSI_VAR_FONT, SYSTEM_FONT, DEVICE_DEFAULT_FONT,
                         SYSTEM_FIXED_FONT, DEFAULT_GUI_FONT})
            simple(font, Kind::Font);
        simple(DEFAULT_PALETTE, Kind::Palette);
        brush(DC_BRUSH, BS_SOLID, RGB(255, 255, 255));
        pen(DC_PEN, PS_SOLID, RGB(0, 0, 0));

        Entry bitmap;
        bitmap.Type = Kind::Bitmap;
        bitmap.Bitmap.Width = 1;
        bitmap.Bitmap.Height = 1;
        bitmap.Bitmap.Monochrome = true;
        bitmap.Bitmap.Bits = std::make_unique<std::uint32_t[]>(1);
        FStockBitmap = AddStock(std::move(bitmap));
        FStock[DefaultBitmapIndex] = FStockBitmap;
    }

    standin::Lock Mutex;
    std::size_t Live = 0;
    std::atomic<std::size_t> RefusedDeletes{0};

    // The entry of a live object, or null for a null, unknown or deleted handle.
    Entry* Find(const void* AHandle)
    {
        const std::uintptr_t value = reinterpret_cast<std::uintptr_t>(AHandle);
        if (value > 0xFFFFFFFFu)
            return nullptr;
        const std::uint32_t slot = value & 0xFFFFu;
        if (slot == 0 || slot >= FEntries.size())
            return nullptr;
        Entry& entry = FEntries[slot];
        if (entry.Type == Kind::Free || entry.Generation != (value >> 16))
            return nullptr;
        return &entry;
    }

    Entry* Find(const void* AHandle, Kind AType)
    {
        Entry* entry = Find(AHandle);
        return entry != nullptr && entry->Type == AType ? entry : nullptr;
    }

    // Stores a new object; null when the table is full.
    HGDIOBJ Add(Entry&& AEntry)
    {
        std::uint32_t slot = FFirstFree;
        if (slot != 0) {
            FFirstFree = FEntries[slot].NextFree;
        } else {
            if (FEntries.size() > MaxSlots - 1)
                return nullptr;
            slot = static_cast<std::uint32_t>(FEntries.size());
            FEntries.emplace_back();
        }
        Entry& entry = FEntries[slot];
        const std::uint16_t generation = entry.Generation;
        entry = std::move(AEntry);
        entry.Generation = generation;
        entry.NextFree = 0;
        if (!entry.Stock)
            ++Live;
        return HandleOf(slot);
    }

    void Remove(HGDIOBJ AHandle)
    {
        const std::uint32_t slot = HandleBits(AHandle) & 0xFFFFu;
        Entry& entry = FEntries[slot];
        std::uint16_t generation = static_cast<std::uint16_t>(entry.Generation + 1);
        if (generation == 0)
            generation = 1;
        entry = Entry();
        entry.Generation = generation;
        entry.NextFree = FFirstFree;
        FFirstFree = slot;
        --Live;
    }

    HGDIOBJ Stock(int AIndex) const
    {
        return AIndex >= 0 && AIndex < static_cast<int>(std::size(FStock)) ? FStock[AIndex] : nullptr;
    }
    HGDIOBJ StockBitmap() const { return FStockBitmap; }

private:
    HGDIOBJ HandleOf(std::uint32_t ASlot) const
    {
        const std::uintptr_t value = (static_cast<std::uintptr_t>(FEntries[ASlot].Generation) << 16) | ASlot;
        return reinterpret_cast<HGDIOBJ>(value);
    }

    HGDIOBJ AddStock(Entry&& AEntry)
    {
        AEntry.Stock = true;
        return Add(std::move(AEntry));
    }

    std::vector<Entry> FEntries;
    std::uint32_t FFirstFree = 0;
    // GetStockObject's index one past DC_PEN is the default bitmap, as in GDI.
    static constexpr int DefaultBitmapIndex = DC_PEN + 1;
    HGDIOBJ FStock[DefaultBitmapIndex + 1] = {};
    HGDIOBJ FStockBitmap = nullptr;
};

// NOTE: the table is never destroyed. Modules may delete their objects from their own static
// destructors, which can run after ours at process exit.
// Inlined: every call starts here, and past the first only the guard's test is left.
inline __attribute__((always_inline)) ObjectTable& Table()
{
    static ObjectTable* const table = new ObjectTable();
    return *table;
}

std::atomic<STANDIN_RECORDER> GRecorder{nullptr};
std::atomic<void*> GRecorderUser{nullptr};
std::atomic<bool> GRasterizing{true};

template <class T>
std::int32_t AsResult(T AValue)
{
    if constexpr (std::is_pointer_v<T>)
        return static_cast<std::int32_t>(HandleBits(AValue));
    else
        return static_cast<std::int32_t>(AValue);
}

// One call as the recorder sees it. Without a recorder every member is a test of one pointer.
// What the record needs of the context is taken under the call's own lock (Snapshot); the
// recorder is called after the lock is released, so that it may call the API itself.
class CallRecord {
public:
    CallRecord(const char* AFunction, HDC ADc, HGDIOBJ AObject = nullptr)
        : FRecorder(GRecorder.load(std::memory_order_acquire))
    {
        if (FRecorder == nullptr)
            return;
        FUser = GRecorderUser.load(std::memory_order_acquire);
        FCall = STANDIN_CALL{};
        FCall.Function = AFunction;
        FCall.Dc = ADc;
        FCall.Object = AObject;
    }

    // The pen and brush selected in the call's context before the call changes anything; the
    // table's lock is held and ADc is the context's entry, or null when there is none.
    void Snapshot(ObjectTable& ATable, const Entry* ADc)
    {
        if (FRecorder == nullptr || ADc == nullptr)
            return;
        FCall.Pen = ADc->Dc.Pen;
        FCall.Brush = ADc->Dc.Brush;
        if (const Entry* pen = ATable.Find(ADc->Dc.Pen, Kind::Pen))
            FCall.PenData = pen->Pen;
        if (const Entry* brush = ATable.Find(ADc->Dc.Brush, Kind::Brush))
            FCall.BrushData = brush->Brush;
    }

    // The same for a call that does not take the lock at once.
    void SnapshotNow()
    {
        if (FRecorder == nullptr || FCall.Dc == nullptr)
            return;
        ObjectTable& table = Table();
        std::lock_guard lock(table.Mutex);
        Snapshot(table, table.Find(FCall.Dc, Kind::Dc));
    }

    CallRecord(const CallRecord&) = delete;
    CallRecord& operator=(const CallRecord&) = delete;

    CallRecord& Arg(std::int32_t AValue)
    {
        if (FRecorder != nullptr && FCall.ArgCount < 4)
            FCall.Args[FCall.ArgCount++] = AValue;
        return *this;
    }
    CallRecord& Points(const POINT* APoints)
    {
        if (FRecorder != nullptr)
            FCall.Points = APoints;
        return *this;
    }

    // Reports the call with its result and hands the result back; a Create call's or
    // GetStockObject's handle becomes the record's object.
    template <class T>
    T Finish(T AResult, bool AResultIsObject = false)
    {
        if (FRecorder == nullptr)
            return AResult;
        if constexpr (std::is_pointer_v<T>) {
            if (AResultIsObject)
                FCall.Object = AResult;
        }
        FCall.Result = AsResult(AResult);
        FRecorder(&FCall, FUser);
        return AResult;
    }

private:
    STANDIN_RECORDER FRecorder;
    void* FUser = nullptr;
    STANDIN_CALL FCall; // written only with a recorder, which every call pays for otherwise
};

// ACall(table) with the table locked.
template <class Call>
auto Locked(Call&& ACall)
{
    ObjectTable& table = Table();
    std::lock_guard lock(table.Mutex);
    return ACall(table);
}

// ACall(table, context) with the table locked: the context's entry is looked up once, and is
// null when ADc is no live context; the record takes its snapshot under the same lock.
template <class Call>
auto OnContext(CallRecord& ARecord, HDC ADc, Call&& ACall)
{
    ObjectTable& table = Table();
    std::lock_guard lock(table.Mutex);
    Entry* dc = table.Find(ADc, Kind::Dc);
    ARecord.Snapshot(table, dc);
    return ACall(table, dc);
}

// What drawing on a context takes from its selected pen, brush, bitmap and raster operation,
// kept with the context until one of them changes. The objects are immutable while selected
// (a selected object is never deleted), so this is all that can go stale.
__attribute__((noinline)) void RebuildDrawState(ObjectTable& ATable, Entry& ADc)
{
    DrawState& state = ADc.Dc.Drawing;
    state = DrawState{};
    if (const Entry* bitmap = ATable.Find(ADc.Dc.Bitmap, Kind::Bitmap);
        bitmap != nullptr && bitmap->Bitmap.Bits != nullptr) {
        state.HasSurface = true;
        state.Surface.Bits = bitmap->Bitmap.Bits.get();
        state.Surface.Width = bitmap->Bitmap.Width;
        state.Surface.Height = bitmap->Bitmap.Height;
        state.Surface.TopDown = bitmap->Bitmap.TopDown;
    }
    if (const Entry* pen = ATable.Find(ADc.Dc.Pen, Kind::Pen); pen != nullptr && pen->Pen.lopnStyle != PS_NULL) {
        state.Style.HasPen = true;
        state.Style.Pen = PixelOp::Make(ADc.Dc.Rop2, pen->Pen.lopnColor);
        state.Style.PenWidth = pen->Pen.lopnWidth.x;
        state.Style.InsideFrame = pen->Pen.lopnStyle == PS_INSIDEFRAME;
    }
    if (const Entry* brush = ATable.Find(ADc.Dc.Brush, Kind::Brush);
        brush != nullptr && brush->Brush.lbStyle != BS_NULL) {
        state.Style.HasBrush = true;
        state.Style.Brush = PixelOp::Make(ADc.Dc.Rop2, brush->Brush.lbColor);
    }
    state.Valid = true;
}

inline const DrawState& DrawStateOf(ObjectTable& ATable, Entry& ADc)
{
    if (!ADc.Dc.Drawing.Valid)
        RebuildDrawState(ATable, ADc);
    return ADc.Dc.Drawing;
}

// The surface to draw on, or null when nothing is selected to draw on or rasterizing is off.
const standin::Surface* SurfaceToDraw(const DrawState& AState)
{
    return AState.HasSurface && GRasterizing.load(std::memory_order_relaxed) ? &AState.Surface : nullptr;
}

void Unselect(ObjectTable& ATable, HGDIOBJ AObject)
{
    if (Entry* entry = ATable.Find(AObject); entry != nullptr && entry->Selections > 0)
        --entry->Selections;
}

// GetSysColor's values: the default scheme of the reference GDI the pixels are checked against.
constexpr COLORREF SysColors[] = {
    0x00ffffff, 0x00956f25, 0x00fa9632, 0x00808080, 0x00ffffff, 0x00ffffff, 0x009e9e9e, 0x00000000,
    0x00000000, 0x00000000, 0x00ffffff, 0x00ffffff, 0x00808080, 0x00fa9630, 0x00ffffff, 0x00f5f5f5,
    0x00a6a6a6, 0x00a6a6a6, 0x00000000, 0x00c8c8c8, 0x00ffffff, 0x006a6a6a, 0x00e3e3e3, 0x00000000,
    0x00ffffff, 0x00ffffff, 0x00e0e0e0, 0x00fa9632, 0x00808080, 0x00fa9630, 0x00ffffff,
};

} // namespace

extern "C" {

void StandInSetRecorder(STANDIN_RECORDER Recorder, void* User)
{
    GRecorder.store(nullptr, std::memory_order_release);
    GRecorderUser.store(User, std::memory_order_release);
    GRecorder.store(Recorder, std::memory_order_release);
}

size_t StandInLiveObjectCount(void)
{
    ObjectTable& table = Table();
    std::lock_guard lock(table.Mutex);
    return table.Live;
}

size_t StandInRefusedDeleteCount(void)
{
    return Table().RefusedDeletes.load();
}

void StandInSetRasterizing(BOOL On)
{
    GRasterizing.store(On != FALSE, std::memory_order_relaxed);
}

HGDIOBJ WINAPI GetStockObject(int i)
{
    CallRecord record("GetStockObject", nullptr);
    record.Arg(i);
    return record.Finish(Table().Stock(i), true);
}

HGDIOBJ WINAPI SelectObject(HDC hdc, HGDIOBJ h)
{
    CallRecord record("SelectObject", hdc, h);
    const auto select = [&](ObjectTable& table, Entry* dc) -> HGDIOBJ {
        Entry* object = table.Find(h);
        if (dc == nullptr || object == nullptr)
            return nullptr;
        HGDIOBJ* slot = nullptr;
        switch (object->Type) {
        case Kind::Pen: slot = &dc->Dc.Pen; break;
        case Kind::Brush: slot = &dc->Dc.Brush; break;
        case Kind::Font: slot = &dc->Dc.Font; break;
        case Kind::Bitmap:
            // A bitmap lives in one memory context at a time; the stock one in any number.
            if (!object->Stock && object->Bitmap.SelectedIn != nullptr && object->Bitmap.SelectedIn != hdc)
                return nullptr;
            slot = &dc->Dc.Bitmap;
            break;
        default: return nullptr; // palettes and contexts are not selected this way
        }
        HGDIOBJ previous = *slot;
        if (previous == h)
            return previous;
        if (object->Type == Kind::Bitmap) {
            if (Entry* old = table.Find(previous, Kind::Bitmap))
                old->Bitmap.SelectedIn = nullptr;
            if (!object->Stock)
                object->Bitmap.SelectedIn = hdc;
        }
        Unselect(table, previous);
        ++object->Selections;
        *slot = h;
        if (slot != &dc->Dc.Font)
            dc->Dc.Drawing.Valid = false;
        return previous;
    };
    return record.Finish(OnContext(record, hdc, select));
}

HGDIOBJ WINAPI GetCurrentObject(HDC hdc, UINT type)
{
    CallRecord record("GetCurrentObject", hdc);
    record.Arg(static_cast<std::int32_t>(type));
    const auto current = [&](ObjectTable& table, const Entry* dc) -> HGDIOBJ {
        if (dc == nullptr)
            return nullptr;
        switch (type) {
        case OBJ_PEN: return dc->Dc.Pen;
        case OBJ_BRUSH: return dc->Dc.Brush;
        case OBJ_FONT: return dc->Dc.Font;
        case OBJ_BITMAP: return dc->Dc.Bitmap;
        case OBJ_PAL: return table.Stock(DEFAULT_PALETTE);
        default: return nullptr;
        }
    };
    return record.Finish(OnContext(record, hdc, current));
}

BOOL WINAPI DeleteObject(HGDIOBJ ho)
{
    CallRecord record("DeleteObject", nullptr, ho);
    const auto remove = [&](ObjectTable& table) -> BOOL {
        Entry* object = table.Find(ho);
        if (object == nullptr || object->Type == Kind::Dc)
            return FALSE;
        if (object->Stock)
            return TRUE;
        // NOTE: Windows defers deleting a selected object; here it is refused and counted, so
        // that a test sees any deletion of an object that is still selected.
        if (object->Selections > 0) {
            table.RefusedDeletes.fetch_add(1);
            return FALSE;
        }
        table.Remove(ho);
        return TRUE;
    };
    return record.Finish(Locked(remove));
}

DWORD WINAPI GetObjectType(HGDIOBJ h)
{
    CallRecord record("GetObjectType", nullptr, h);
    const auto type = [&](ObjectTable& table) -> DWORD {
        const Entry* object = table.Find(h);
        if (object == nullptr)
            return 0;
        switch (object->Type) {
        case Kind::Pen: return OBJ_PEN;
        case Kind::Brush: return OBJ_BRUSH;
        case Kind::Font: return OBJ_FONT;
        case Kind::Bitmap: return OBJ_BITMAP;
        case Kind::Palette: return OBJ_PAL;
        case Kind::Dc: return OBJ_MEMDC;
        case Kind::Free: break;
        }
        return 0;
    };
    return record.Finish(Locked(type));
}

int WINAPI GetObjectW(HANDLE h, int c, LPVOID pv)
{
    CallRecord record("GetObjectW", nullptr, h);
    record.Arg(c);
    const auto get = [&](ObjectTable& table) -> int {
        const Entry* object = table.Find(h);
        if (object == nullptr)
            return 0;
        switch (object->Type) {
        case Kind::Pen:
            // A pen is copied whole or not at all.
            if (pv == nullptr)
                return sizeof(LOGPEN);
            if (c < static_cast<int>(sizeof(LOGPEN)))
                return 0;
            std::memcpy(pv, &object->Pen, sizeof(LOGPEN));
            return sizeof(LOGPEN);
        case Kind::Brush: {
            // A brush is copied as far as the buffer goes.
            if (pv == nullptr)
                return sizeof(LOGBRUSH);
            const int count = c < 0 ? 0 : (c > static_cast<int>(sizeof(LOGBRUSH)) ? sizeof(LOGBRUSH) : c);
            std::memcpy(pv, &object->Brush, static_cast<std::size_t>(count));
            return count;
        }
        case Kind::Bitmap: {
            if (pv == nullptr)
                return sizeof(BITMAP);
            if (c < static_cast<int>(sizeof(BITMAP)))
                return 0;
            const BitmapData& data = object->Bitmap;
            BITMAP bitmap{};
            bitmap.bmWidth = data.Width;
            bitmap.bmHeight = data.Height;
            bitmap.bmPlanes = 1;
            if (data.Monochrome) {
                bitmap.bmWidthBytes = 2;
                bitmap.bmBitsPixel = 1;
            } else {
                bitmap.bmWidthBytes = data.Width * 4;
                bitmap.bmBitsPixel = 32;
                bitmap.bmBits = data.Bits.get();
            }
            std::memcpy(pv, &bitmap, sizeof(BITMAP));
            return sizeof(BITMAP);
        }
        default: return 0;
        }
    };
    return record.Finish(Locked(get));
}

BOOL WINAPI UnrealizeObject(HGDIOBJ h)
{
    CallRecord record("UnrealizeObject", nullptr, h);
    const auto unrealize = [&](ObjectTable& table) -> BOOL {
        const Entry* object = table.Find(h);
        return object != nullptr && object->Type != Kind::Dc ? TRUE : FALSE;
    };
    return record.Finish(Locked(unrealize));
}

HPEN WINAPI CreatePenIndirect(const LOGPEN* plpen)
{
    CallRecord record("CreatePenIndirect", nullptr);
    if (plpen != nullptr)
        record.Arg(static_cast<std::int32_t>(plpen->lopnStyle))
            .Arg(plpen->lopnWidth.x)
            .Arg(static_cast<std::int32_t>(plpen->lopnColor));
    const auto create = [&]() -> HPEN {
        if (plpen == nullptr)
            return nullptr;
        ObjectTable& table = Table();
        std::lock_guard lock(table.Mutex);
        // As in GDI: every null pen is the stock one, a style this call does not know is solid,
        // and the width is the magnitude of its x part.
        if (plpen->lopnStyle == PS_NULL)
            return static_cast<HPEN>(table.Stock(NULL_PEN));
        Entry entry;
        entry.Type = Kind::Pen;
        entry.Pen.lopnStyle = plpen->lopnStyle > PS_INSIDEFRAME ? PS_SOLID : plpen->lopnStyle;
        const std::int64_t width = plpen->lopnWidth.x;
        entry.Pen.lopnWidth.x = static_cast<LONG>(std::min<std::int64_t>(width < 0 ? -width : width, INT32_MAX));
        entry.Pen.lopnColor = plpen->lopnColor;
        return static_cast<HPEN>(table.Add(std::move(entry)));
    };
    return record.Finish(create(), true);
}

HBRUSH WINAPI CreateBrushIndirect(const LOGBRUSH* plbrush)
{
    CallRecord record("CreateBrushIndirect", nullptr);
    if (plbrush != nullptr)
        record.Arg(static_cast<std::int32_t>(plbrush->lbStyle))
            .Arg(static_cast<std::int32_t>(plbrush->lbColor))
            .Arg(static_cast<std::int32_t>(plbrush->lbHatch));
    const auto create = [&]() -> HBRUSH {
        if (plbrush == nullptr || plbrush->lbStyle > BS_HATCHED)
            return nullptr;
        ObjectTable& table = Table();
        std::lock_guard lock(table.Mutex);
        // As in GDI, every hollow brush is the stock one.
        if (plbrush->lbStyle == BS_NULL)
            return static_cast<HBRUSH>(table.Stock(NULL_BRUSH));
        Entry entry;
        entry.Type = Kind::Brush;
        entry.Brush = *plbrush;
        return static_cast<HBRUSH>(table.Add(std::move(entry)));
    };
    return record.Finish(create(), true);
}

int WINAPI SetROP2(HDC hdc, int rop2)
{
    CallRecord record("SetROP2", hdc);
    record.Arg(rop2);
    const auto set = [&](ObjectTable&, Entry* dc) -> int {
        if (dc == nullptr || rop2 < R2_BLACK || rop2 > R2_WHITE)
            return 0;
        const int previous = dc->Dc.Rop2;
        if (rop2 != previous) {
            dc->Dc.Rop2 = rop2;
            dc->Dc.Drawing.Valid = false;
        }
        return previous;
    };
    return record.Finish(OnContext(record, hdc, set));
}

int WINAPI GetROP2(HDC hdc)
{
    CallRecord record("GetROP2", hdc);
    const auto get = [&](ObjectTable&, const Entry* dc) -> int { return dc != nullptr ? dc->Dc.Rop2 : 0; };
    return record.Finish(OnContext(record, hdc, get));
}

COLORREF WINAPI SetBkColor(HDC hdc, COLORREF color)
{
    CallRecord record("SetBkColor", hdc);
    record.Arg(static_cast<std::int32_t>(color));
    const auto set = [&](ObjectTable&, Entry* dc) -> COLORREF {
        if (dc == nullptr)
            return CLR_INVALID;
        const COLORREF previous = dc->Dc.BkColor;
        dc->Dc.BkColor = color;
        return previous;
    };
    return record.Finish(OnContext(record, hdc, set));
}

COLORREF WINAPI GetBkColor(HDC hdc)
{
    CallRecord record("GetBkColor", hdc);
    const auto get = [&](ObjectTable&, const Entry* dc) -> COLORREF {
        return dc != nullptr ? dc->Dc.BkColor : CLR_INVALID;
    };
    return record.Finish(OnContext(record, hdc, get));
}

int WINAPI SetBkMode(HDC hdc, int mode)
{
    CallRecord record("SetBkMode", hdc);
    record.Arg(mode);
    const auto set = [&](ObjectTable&, Entry* dc) -> int {
        if (dc == nullptr || (mode != TRANSPARENT && mode != OPAQUE))
            return 0;
        const int previous = dc->Dc.BkMode;
        dc->Dc.BkMode = mode;
        return previous;
    };
    return record.Finish(OnContext(record, hdc, set));
}

int WINAPI GetBkMode(HDC hdc)
{
    CallRecord record("GetBkMode", hdc);
    const auto get = [&](ObjectTable&, const Entry* dc) -> int { return dc != nullptr ? dc->Dc.BkMode : 0; };
    return record.Finish(OnContext(record, hdc, get));
}

BOOL WINAPI MoveToEx(HDC hdc, int x, int y, LPPOINT lppt)
{
    CallRecord record("MoveToEx", hdc);
    record.Arg(x).Arg(y);
    const auto move = [&](ObjectTable&, Entry* dc) -> BOOL {
        if (dc == nullptr)
            return FALSE;
        if (lppt != nullptr)
            *lppt = dc->Dc.Position;
        dc->Dc.Position = POINT{x, y};
        return TRUE;
    };
    return record.Finish(OnContext(record, hdc, move));
}

BOOL WINAPI GetCurrentPositionEx(HDC hdc, LPPOINT lppt)
{
    CallRecord record("GetCurrentPositionEx", hdc);
    const auto get = [&](ObjectTable&, const Entry* dc) -> BOOL {
        if (dc == nullptr || lppt == nullptr)
            return FALSE;
        *lppt = dc->Dc.Position;
        return TRUE;
    };
    return record.Finish(OnContext(record, hdc, get));
}

BOOL WINAPI Ellipse(HDC hdc, int left, int top, int right, int bottom)
{
    CallRecord record("Ellipse", hdc);
    record.Arg(left).Arg(top).Arg(right).Arg(bottom);
    const auto draw = [&](ObjectTable& table, Entry* dc) -> BOOL {
        if (dc == nullptr)
            return FALSE;
        const DrawState& state = DrawStateOf(table, *dc);
        if (const standin::Surface* surface = SurfaceToDraw(state))
            standin::DrawEllipse(*surface, left, top, right, bottom, state.Style);
        return TRUE;
    };
    return record.Finish(OnContext(record, hdc, draw));
}

BOOL WINAPI Polyline(HDC hdc, const POINT* apt, int cpt)
{
    CallRecord record("Polyline", hdc);
    record.Arg(cpt).Points(apt);
    const auto draw = [&](ObjectTable& table, Entry* dc) -> BOOL {
        if (dc == nullptr || apt == nullptr || cpt < 2)
            return FALSE;
        const DrawState& state = DrawStateOf(table, *dc);
        if (const standin::Surface* surface = SurfaceToDraw(state); surface != nullptr && state.Style.HasPen)
            standin::DrawPolyline(*surface, apt, cpt, state.Style.Pen);
        return TRUE;
    };
    return record.Finish(OnContext(record, hdc, draw));
}

HDC WINAPI CreateCompatibleDC(HDC hdc)
{
    CallRecord record("CreateCompatibleDC", hdc);
    const auto create = [&](ObjectTable& table, const Entry* dc) -> HDC {
        if (hdc != nullptr && dc == nullptr)
            return nullptr;
        // A new memory context holds the stock pen, brush, font and one-pixel bitmap.
        Entry entry;
        entry.Type = Kind::Dc;
        entry.Dc.Pen = table.Stock(BLACK_PEN);
        entry.Dc.Brush = table.Stock(WHITE_BRUSH);
        entry.Dc.Font = table.Stock(SYSTEM_FONT);
        entry.Dc.Bitmap = table.StockBitmap();
        HGDIOBJ handle = table.Add(std::move(entry));
        if (handle == nullptr)
            return nullptr;
        for (HGDIOBJ object :
             {table.Stock(BLACK_PEN), table.Stock(WHITE_BRUSH), table.Stock(SYSTEM_FONT), table.StockBitmap()})
            ++table.Find(object)->Selections;
        return static_cast<HDC>(handle);
    };
    return record.Finish(OnContext(record, hdc, create), true);
}

BOOL WINAPI DeleteDC(HDC hdc)
{
    CallRecord record("DeleteDC", hdc);
    const auto remove = [&](ObjectTable& table, Entry* dc) -> BOOL {
        if (dc == nullptr)
            return FALSE;
        const DcData state = dc->Dc;
        if (Entry* bitmap = table.Find(state.Bitmap, Kind::Bitmap); bitmap != nullptr && !bitmap->Stock)
            bitmap->Bitmap.SelectedIn = nullptr;
        for (HGDIOBJ object : {state.Pen, state.Brush, state.Font, state.Bitmap})
            Unselect(table, object);
        table.Remove(hdc);
        return TRUE;
    };
    return record.Finish(OnContext(record, hdc, remove));
}

HBITMAP WINAPI CreateDIBSection(HDC hdc, const BITMAPINFO* pbmi, UINT usage, void** ppvBits, HANDLE hSection,
                                DWORD offset)
{
    CallRecord record("CreateDIBSection", hdc);
    if (pbmi != nullptr)
        record.Arg(pbmi->bmiHeader.biWidth).Arg(pbmi->bmiHeader.biHeight).Arg(pbmi->bmiHeader.biBitCount);
    record.Arg(static_cast<std::int32_t>(usage));
    record.SnapshotNow();
    const auto create = [&]() -> HBITMAP {
        if (ppvBits != nullptr)
            *ppvBits = nullptr;
        // Only what drawing here needs: 32 bits per pixel, uncompressed, memory of our own.
        if (pbmi == nullptr || hSection != nullptr || offset != 0 || usage != DIB_RGB_COLORS)
            return nullptr;
        const BITMAPINFOHEADER& header = pbmi->bmiHeader;
        if (header.biSize < sizeof(BITMAPINFOHEADER) || header.biPlanes != 1 || header.biBitCount != 32 ||
            header.biCompression != BI_RGB || header.biWidth <= 0 || header.biHeight == 0 ||
            header.biHeight == INT32_MIN)
            return nullptr;
        const std::int64_t rows = header.biHeight < 0 ? -static_cast<std::int64_t>(header.biHeight) : header.biHeight;
        const std::int64_t pixels = rows * header.biWidth;
        if (pixels > (std::int64_t{1} << 29)) // 2 GiB of pixels at most
            return nullptr;
        std::unique_ptr<std::uint32_t[]> bits(new (std::nothrow) std::uint32_t[static_cast<std::size_t>(pixels)]());
        if (bits == nullptr)
            return nullptr;
        Entry entry;
        entry.Type = Kind::Bitmap;
        entry.Bitmap.Width = header.biWidth;
        entry.Bitmap.Height = static_cast<std::int32_t>(rows);
        entry.Bitmap.TopDown = header.biHeight < 0;
        void* memory = bits.get();
        entry.Bitmap.Bits = std::move(bits);
        ObjectTable& table = Table();
        std::lock_guard lock(table.Mutex);
        HBITMAP handle = static_cast<HBITMAP>(table.Add(std::move(entry)));
        if (handle != nullptr && ppvBits != nullptr)
            *ppvBits = memory;
        return handle;
    };
    return record.Finish(create(), true);
}

BOOL WINAPI GdiFlush(void)
{
    CallRecord record("GdiFlush", nullptr);
    return record.Finish(TRUE); // drawing is never batched here
}

int WINAPI FillRect(HDC hDC, const RECT* lprc, HBRUSH hbr)
{
    CallRecord record("FillRect", hDC, hbr);
    if (lprc != nullptr)
        record.Arg(lprc->left).Arg(lprc->top).Arg(lprc->right).Arg(lprc->bottom);
    const auto fill = [&](ObjectTable& table, Entry* dc) -> int {
        if (dc == nullptr || lprc == nullptr)
            return 0;
        // As in user32, a brush handle of 1 to 31 stands for the system colour one below it.
        // The fill copies the brush: the context's raster operation does not apply.
        COLORREF color = 0;
        const std::uintptr_t value = reinterpret_cast<std::uintptr_t>(hbr);
        if (value >= 1 && value <= std::size(SysColors)) {
            color = SysColors[value - 1];
        } else {
            const Entry* brush = table.Find(hbr, Kind::Brush);
            if (brush == nullptr)
                return 0;
            if (brush->Brush.lbStyle == BS_NULL)
                return 1;
            color = brush->Brush.lbColor;
        }
        if (const standin::Surface* surface = SurfaceToDraw(DrawStateOf(table, *dc)))
            standin::FillRectangle(*surface, *lprc, PixelOp::Make(R2_COPYPEN, color));
        return 1;
    };
    return record.Finish(OnContext(record, hDC, fill));
}

DWORD WINAPI GetSysColor(int nIndex)
{
    CallRecord record("GetSysColor", nullptr);
    record.Arg(nIndex);
    const DWORD color = nIndex >= 0 && nIndex < static_cast<int>(std::size(SysColors)) ? SysColors[nIndex] : 0;
    return record.Finish(color);
}

} // extern "C"
