// TComPtr: one counted reference on a COM interface, held for its whole lifetime.
#pragma once

#include <utility>

namespace rtl {

template <class T>
class TComPtr {
public:
    TComPtr() noexcept = default;
    TComPtr(std::nullptr_t) noexcept {}

    // Adds a reference to APointer (borrowed from the caller).
    explicit TComPtr(T* APointer) noexcept : FPointer(APointer)
    {
        if (FPointer)
            FPointer->AddRef();
    }

    TComPtr(const TComPtr& AOther) noexcept : TComPtr(AOther.FPointer) {}
    TComPtr(TComPtr&& AOther) noexcept : FPointer(std::exchange(AOther.FPointer, nullptr)) {}

    TComPtr& operator=(const TComPtr& AOther) noexcept
    {
        TComPtr(AOther).Swap(*this);
        return *this;
    }
    TComPtr& operator=(TComPtr&& AOther) noexcept
    {
        TComPtr(std::move(AOther)).Swap(*this);
        return *this;
    }
    TComPtr& operator=(std::nullptr_t) noexcept
    {
        Reset();
        return *this;
    }

    ~TComPtr() { Reset(); }

    // Takes ownership of a reference the caller already holds on APointer.
    static TComPtr Attach(T* APointer) noexcept
    {
        TComPtr result;
        result.FPointer = APointer;
        return result;
    }

    // Hands the held reference to the caller, leaving this empty.
    [[nodiscard]] T* Detach() noexcept { return std::exchange(FPointer, nullptr); }

    // Releases the held reference and returns the slot for an out parameter to fill.
    T** Put() noexcept
    {
        Reset();
        return &FPointer;
    }
    void** PutVoid() noexcept { return reinterpret_cast<void**>(Put()); }

    void Reset() noexcept
    {
        if (T* old = std::exchange(FPointer, nullptr))
            old->Release();
    }

    void Swap(TComPtr& AOther) noexcept { std::swap(FPointer, AOther.FPointer); }

    T* Get() const noexcept { return FPointer; }
    T* operator->() const noexcept { return FPointer; }
    explicit operator bool() const noexcept { return FPointer != nullptr; }

private:
    T* FPointer = nullptr;
};

} // namespace rtl
