#include "rtl/InterfacedObject.h"

#include "rtl/Math.h"

HRESULT TInterfacedObject::QueryInterface(REFIID AIID, void** Obj) noexcept
{
    if (!Obj)
        return E_POINTER;
    *Obj = nullptr;
    if (!GetInterface(AIID, Obj)) {
        *Obj = nullptr;
        return E_NOINTERFACE;
    }
    // Every interface of the object shares the one count.
    AddRef();
    return S_OK;
}

ULONG TInterfacedObject::AddRef() noexcept
{
    // The atomic counter wraps like the player's 32-bit counts; the result is computed the same way.
    return static_cast<ULONG>(rtl::WrapAdd(FRefCount.fetch_add(1, std::memory_order_relaxed), 1));
}

ULONG TInterfacedObject::Release() noexcept
{
    const std::int32_t count = rtl::WrapSub(FRefCount.fetch_sub(1, std::memory_order_acq_rel), 1);
    if (count == 0)
        delete this;
    return static_cast<ULONG>(count);
}

bool TInterfacedObject::GetInterface(REFIID AIID, void** Obj) noexcept
{
    if (AIID == IID_IUnknown) {
        *Obj = static_cast<IUnknown*>(this);
        return true;
    }
    return false;
}
