// Owners of GDI handles: one small move-only owner per kind of handle, each freeing its handle
// the one way that kind is freed, and a guard that selects an object into a context and puts
// the previous one back. Header-only; builds against the Win32 stand-in and the Windows headers
// alike, so the module, the tools, the tests and the benchmarks can all hold their handles here.
//
// Order matters to GDI: an object still selected into a context is not deleted (the stand-in
// counts such a refused delete). Declare the owner of an object before the guard that selects
// it, so that the guard, destroyed first, deselects it before the owner deletes it.
#pragma once

#include <windows.h>

#include <utility>

namespace gdi {

// How each kind of handle is freed.
struct TDeleteObject {
    void operator()(HGDIOBJ AHandle) const noexcept { DeleteObject(AHandle); }
};
struct TDeleteDC {
    void operator()(HDC AHandle) const noexcept { DeleteDC(AHandle); }
};

// Owns one handle of type THandle (null for none) and frees it with TFree.
template <class THandle, class TFree>
class TUniqueHandle {
public:
    TUniqueHandle() noexcept = default;
    explicit TUniqueHandle(THandle AHandle) noexcept : FHandle(AHandle) {}
    TUniqueHandle(TUniqueHandle&& AOther) noexcept : FHandle(AOther.Release()) {}
    TUniqueHandle& operator=(TUniqueHandle&& AOther) noexcept
    {
        if (this != &AOther)
            Reset(AOther.Release());
        return *this;
    }
    TUniqueHandle(const TUniqueHandle&) = delete;
    TUniqueHandle& operator=(const TUniqueHandle&) = delete;
    ~TUniqueHandle() { Reset(); }

    THandle Get() const noexcept { return FHandle; }
    explicit operator bool() const noexcept { return FHandle != nullptr; }

    // Frees the handle held, if any, and takes AHandle instead.
    void Reset(THandle AHandle = nullptr) noexcept
    {
        const THandle old = std::exchange(FHandle, AHandle);
        if (old != nullptr)
            TFree{}(old);
    }
    // Gives up ownership without freeing: the caller frees the handle returned.
    [[nodiscard]] THandle Release() noexcept { return std::exchange(FHandle, nullptr); }

private:
    THandle FHandle = nullptr;
};

using TUniquePen = TUniqueHandle<HPEN, TDeleteObject>;
using TUniqueBrush = TUniqueHandle<HBRUSH, TDeleteObject>;
using TUniqueFont = TUniqueHandle<HFONT, TDeleteObject>;
using TUniqueBitmap = TUniqueHandle<HBITMAP, TDeleteObject>;
// A context made by CreateCompatibleDC; a context got from a window is released, not deleted,
// and has no owner here.
using TUniqueDC = TUniqueHandle<HDC, TDeleteDC>;

// Selects an object into a context for the guard's lifetime and then selects back the object
// it replaced. A failed selection leaves nothing to put back.
class TSelection {
public:
    TSelection() noexcept = default;
    TSelection(HDC ADc, HGDIOBJ AObject) noexcept : FDc(ADc), FPrevious(SelectObject(ADc, AObject)) {}
    TSelection(TSelection&& AOther) noexcept
        : FDc(std::exchange(AOther.FDc, nullptr)), FPrevious(std::exchange(AOther.FPrevious, nullptr))
    {}
    TSelection& operator=(TSelection&& AOther) noexcept
    {
        if (this != &AOther) {
            Restore();
            FDc = std::exchange(AOther.FDc, nullptr);
            FPrevious = std::exchange(AOther.FPrevious, nullptr);
        }
        return *this;
    }
    TSelection(const TSelection&) = delete;
    TSelection& operator=(const TSelection&) = delete;
    ~TSelection() { Restore(); }

    // The object the selection replaced; null if it failed.
    HGDIOBJ Previous() const noexcept { return FPrevious; }

    // Selects the replaced object back now; the guard then does nothing more.
    void Restore() noexcept
    {
        if (FDc != nullptr && FPrevious != nullptr)
            SelectObject(FDc, FPrevious);
        FDc = nullptr;
        FPrevious = nullptr;
    }

private:
    HDC FDc = nullptr;
    HGDIOBJ FPrevious = nullptr;
};

} // namespace gdi
