// TInterfacedObject: the runtime's standard reference-counted object, and Make, the one way to
// create an object that the player holds through counted references.
#pragma once

#include "rtl/ComPtr.h"

#include <windows.h>
#include <unknwn.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <new>
#include <type_traits>
#include <utility>

// Creates a counted object and returns the caller's reference on it (takes no reference of its
// own; the result owns one). The count is 1 while T's constructor runs, so that references taken
// and dropped by the constructor cannot free the half-built object; that construction reference
// is then the caller's. The count of the result is 1 plus the references its constructor handed
// out. Hand the object to the player with `Make<T>().Detach()`, which passes that one reference on.
template <class T, class... A>
[[nodiscard]] rtl::TComPtr<T> Make(A&&... Args);

class TInterfacedObject : public IUnknown {
public:
    TInterfacedObject(const TInterfacedObject&) = delete;
    TInterfacedObject& operator=(const TInterfacedObject&) = delete;

    // Adds a reference to the interface asked for; a null Obj gives E_POINTER, an identifier no
    // class of the chain declares gives E_NOINTERFACE with *Obj null.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID AIID, void** Obj) noexcept override;
    // Both return the count that their own atomic operation produced.
    ULONG STDMETHODCALLTYPE AddRef() noexcept override;
    // The Release that brings the count to 0 destroys the object.
    ULONG STDMETHODCALLTYPE Release() noexcept override;

    std::int32_t RefCount() const noexcept { return FRefCount.load(std::memory_order_acquire); }

protected:
    TInterfacedObject() noexcept = default;
    virtual ~TInterfacedObject() = default;
    // Reachable from the destructors of descendants, which release through it; allocation
    // itself stays with Make.
    static void operator delete(void* APointer) noexcept { ::operator delete(APointer); }

    // The interface lookup chain, most derived class first: a class answers its own interfaces
    // (writing the interface pointer into *Obj without taking a reference) and otherwise calls
    // its base's. This class answers IID_IUnknown; the classes the player holds get their part
    // from the interface list in their head (TImplements, host/apiSlots.h). Obj is never null.
    virtual bool GetInterface(REFIID AIID, void** Obj) noexcept;

private:
    template <class T, class... A>
    friend rtl::TComPtr<T> Make(A&&...);

    // Only Make allocates such objects, so that the construction count rule holds everywhere and
    // a direct `new` of a descendant does not compile. This is the one refusal: descendants may
    // keep their constructors public and need no friend of their own.
    static void* operator new(std::size_t ASize) { return ::operator new(ASize); }

    // 1 from allocation (the construction reference, which Make hands to its caller); then the
    // number of interface references held.
    std::atomic<std::int32_t> FRefCount{1};
};

template <class T, class... A>
rtl::TComPtr<T> Make(A&&... Args)
{
    static_assert(std::is_base_of_v<TInterfacedObject, T>, "Make creates counted objects only");
    return rtl::TComPtr<T>::Attach(new T(std::forward<A>(Args)...));
}
