// The edge where the player calls into the module: one producer per player interface that this
// module implements, the table of what each slot answers when its operation fails, and
// TImplements, through which a class names the interfaces it implements.
//
// A producer is the interface as the player sees it. Its IUnknown slots go to the object's shared
// count and lookup; every other slot forwards to the object's operation of the same name, in one
// shape: clear the outputs, call, and on an exception return the slot's failure result from the
// table below through Contained, which reports the error. No exception reaches the player, and
// a class changes what the player sees by writing operations, never by touching a slot.
#pragma once

#include "host/apiPlugin.h"
#include "host/apiVisuals.h"
#include "host/apiWrappers.h"
#include "rtl/InterfacedObject.h"

#include <cstdint>
#include <tuple>

// --- Identifiers ---

// The identifier under which an object answers interface I.
template <class I>
struct TInterfaceID;

template <>
struct TInterfaceID<IAIMPPlugin> {
    static constexpr const IID& Value = IID_IAIMPPlugin; // all zero
};

template <>
struct TInterfaceID<IAIMPExtensionEmbeddedVisualization> {
    static constexpr const IID& Value = IID_IAIMPExtensionEmbeddedVisualization;
};

// --- Failure results ---

// What each slot of interface I returns when its operation raises. Slots without a result (and
// IUnknown's, which cannot fail) have no entry: the error is contained and reported all the same.
template <class I>
struct TSlotFailure;

template <>
struct TSlotFailure<IAIMPPlugin> {
    // NOTE: the player reads the text without checking it: a failure gives the empty text,
    // never a null pointer.
    static constexpr const TAIMPChar* GetInfo = AIMP_TEXT("");
    static constexpr DWORD GetCategories = 0; // no category
    static constexpr HRESULT Initialize = E_UNEXPECTED;
};

template <>
struct TSlotFailure<IAIMPExtensionEmbeddedVisualization> {
    static constexpr std::int32_t GetFlags = 0; // asks for no data
    // The player's Width and Height are written only on success, so a failure leaves them as
    // they were.
    static constexpr HRESULT GetMaxDisplaySize = E_UNEXPECTED;
    // S is null after a failure.
    static constexpr HRESULT GetName = E_UNEXPECTED;
    // A null S cannot receive the string; the operation is not called.
    static constexpr HRESULT GetNameWithoutOutput = E_POINTER;
    static constexpr HRESULT Initialize = E_UNEXPECTED;
};

// --- Containment ---

// Calls ACall and returns what it returns; on an exception returns AFailure (Contained).
template <class R, class F>
R ContainSlot(R AFailure, F&& ACall) noexcept
{
    try {
        return ACall();
    } catch (...) {
        return Contained(AFailure);
    }
}

// The same for a slot without a result.
template <class F>
void ContainSlot(F&& ACall) noexcept
{
    try {
        ACall();
    } catch (...) {
        ContainError();
    }
}

// --- Producers ---

// The IUnknown slots of every producer: QueryInterface goes to the object's virtual
// QueryInterface, so that the player reaches the most derived class's lookup; AddRef and Release
// go to the object's one count. D is the class whose operations the other slots call.
template <class D, class I>
class TProduceUnknown : public I {
public:
    // AOwner is borrowed: the producer lives inside it.
    explicit TProduceUnknown(TInterfacedObject& AOwner) noexcept : FOwner(AOwner) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID AIID, void** Obj) noexcept final
    {
        return FOwner.QueryInterface(AIID, Obj);
    }
    ULONG STDMETHODCALLTYPE AddRef() noexcept final { return FOwner.AddRef(); }
    ULONG STDMETHODCALLTYPE Release() noexcept final { return FOwner.Release(); }

protected:
    // The object, fully constructed by the time the player can call a slot.
    D& Owner() const noexcept { return static_cast<D&>(FOwner); }

private:
    TInterfacedObject& FOwner;
};

// The producer of interface I for class D; one specialization per interface.
template <class D, class I>
class TProduce;

// IAIMPPlugin. D has the operations GetInfo(Index) returning the text, GetCategories(),
// Initialize(Core) returning an HRESULT, Finalize() and Notify(ID, Param).
template <class D>
class TProduce<D, IAIMPPlugin> final : public TProduceUnknown<D, IAIMPPlugin> {
    using Failure = TSlotFailure<IAIMPPlugin>;

public:
    using TProduceUnknown<D, IAIMPPlugin>::TProduceUnknown;

    const TAIMPChar* STDMETHODCALLTYPE GetInfo(int32_t Index) noexcept override
    {
        return ContainSlot(Failure::GetInfo, [&] { return this->Owner().GetInfo(Index); });
    }
    DWORD STDMETHODCALLTYPE GetCategories() noexcept override
    {
        return ContainSlot(Failure::GetCategories, [&] { return this->Owner().GetCategories(); });
    }
    HRESULT STDMETHODCALLTYPE Initialize(IAIMPCore* Core) noexcept override
    {
        return ContainSlot(Failure::Initialize, [&] { return this->Owner().Initialize(Core); });
    }
    void STDMETHODCALLTYPE Finalize() noexcept override
    {
        ContainSlot([&] { this->Owner().Finalize(); });
    }
    void STDMETHODCALLTYPE Notify(INT_PTR ID, INT_PTR Param) noexcept override
    {
        ContainSlot([&] { this->Owner().Notify(ID, Param); });
    }
};

// IAIMPExtensionEmbeddedVisualization. D has the operations GetFlags(), GetMaxDisplaySize(Width&,
// Height&) returning an HRESULT, GetName() returning the string as an rtl::TComPtr,
// Initialize(Width, Height) returning an HRESULT, Finalize(), Click(X, Y, Button), Draw(DC, Data)
// and Resize(NewWidth, NewHeight).
template <class D>
class TProduce<D, IAIMPExtensionEmbeddedVisualization> final
    : public TProduceUnknown<D, IAIMPExtensionEmbeddedVisualization> {
    using Failure = TSlotFailure<IAIMPExtensionEmbeddedVisualization>;

public:
    using TProduceUnknown<D, IAIMPExtensionEmbeddedVisualization>::TProduceUnknown;

    int32_t STDMETHODCALLTYPE GetFlags() noexcept override
    {
        return ContainSlot(Failure::GetFlags, [&] { return this->Owner().GetFlags(); });
    }
    HRESULT STDMETHODCALLTYPE GetMaxDisplaySize(int32_t* Width, int32_t* Height) noexcept override
    {
        // NOTE: these outputs are not cleared: the player keeps its values unless the operation
        // succeeds, and only then are both written.
        return ContainSlot(Failure::GetMaxDisplaySize, [&] {
            std::int32_t width = 0, height = 0;
            const HRESULT result = this->Owner().GetMaxDisplaySize(width, height);
            if (SUCCEEDED(result) && Width && Height) {
                *Width = width;
                *Height = height;
            }
            return result;
        });
    }
    HRESULT STDMETHODCALLTYPE GetName(IAIMPString** S) noexcept override
    {
        if (!S)
            return Failure::GetNameWithoutOutput;
        *S = nullptr;
        // On success S takes over the one reference that the operation handed out.
        return ContainSlot(Failure::GetName, [&] {
            *S = this->Owner().GetName().Detach();
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE Initialize(int32_t Width, int32_t Height) noexcept override
    {
        return ContainSlot(Failure::Initialize, [&] { return this->Owner().Initialize(Width, Height); });
    }
    void STDMETHODCALLTYPE Finalize() noexcept override
    {
        ContainSlot([&] { this->Owner().Finalize(); });
    }
    void STDMETHODCALLTYPE Click(int32_t X, int32_t Y, int32_t Button) noexcept override
    {
        ContainSlot([&] { this->Owner().Click(X, Y, Button); });
    }
    void STDMETHODCALLTYPE Draw(HDC DC, PAIMPVisualData Data) noexcept override
    {
        // A failed frame has already detached the context; the next frame starts afresh.
        ContainSlot([&] { this->Owner().Draw(DC, Data); });
    }
    void STDMETHODCALLTYPE Resize(int32_t NewWidth, int32_t NewHeight) noexcept override
    {
        ContainSlot([&] { this->Owner().Resize(NewWidth, NewHeight); });
    }
};

// --- The interface list ---

// The head of a counted class D: `class D : public TImplements<D, Base, I...>` makes D a Base
// (TInterfacedObject or TInterfacedObjectEx) that implements the player interfaces I..., each
// through its producer. QueryInterface answers each I under its identifier with that producer,
// then asks Base (which answers IUnknown with the object itself): lookup runs from the most
// derived class to the base, and every interface shares Base's one count.
template <class D, class Base, class... I>
class TImplements : public Base {
    static_assert(sizeof...(I) > 0, "a class implements at least one interface of its own");

public:
    // Interface J of the object (the first one listed by default); borrowed, no reference added,
    // valid as long as the object.
    template <class J = std::tuple_element_t<0, std::tuple<I...>>>
    J* Interface() noexcept
    {
        return &std::get<TProduce<D, J>>(FSlots);
    }

protected:
    TImplements() noexcept = default;
    ~TImplements() override = default;

    bool GetInterface(REFIID AIID, void** Obj) noexcept override
    {
        return (Answer<I>(AIID, Obj) || ...) || Base::GetInterface(AIID, Obj);
    }

private:
    template <class J>
    bool Answer(REFIID AIID, void** Obj) noexcept
    {
        if (AIID != TInterfaceID<J>::Value)
            return false;
        *Obj = Interface<J>();
        return true;
    }

    template <class>
    TInterfacedObject& Self() noexcept
    {
        return *this;
    }

    std::tuple<TProduce<D, I>...> FSlots{Self<I>()...};
};
