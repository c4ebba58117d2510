// The reusable plug-in base class: turns the player's IAIMPPlugin calls into virtual operations
// and holds the player's core from Initialize to Finalize.
#pragma once

#include "host/apiPlugin.h"
#include "host/apiWrappers.h"

#include <cstdint>
#include <memory>

class TAIMPCustomPlugin : public TInterfacedObjectEx {
public:
    // A NUL-terminated text owned by the module, never null.
    virtual const TAIMPChar* GetInfo(std::int32_t Index) = 0;
    virtual DWORD GetCategories() = 0;
    // Holds Core (adds a reference, replacing any core held before).
    virtual HRESULT Initialize(IAIMPCore* Core);
    // Releases the held core; the registered extensions stay with the player.
    virtual void Finalize();
    virtual void Notify(INT_PTR ID, INT_PTR Param);

    // A new wrapper of the player's configuration service; the caller owns it.
    std::unique_ptr<TAIMPServiceConfig> ServiceGetConfig();

    // The interface the player holds; borrowed, valid as long as the object.
    IAIMPPlugin* Interface() noexcept { return &FSlots; }

protected:
    TAIMPCustomPlugin() = default;
    ~TAIMPCustomPlugin() override = default;
    bool GetInterface(REFIID AIID, void** Obj) noexcept override;

private:
    // The player's view of the object. Slots 0 to 2 go to the shared count and lookup, slots 3
    // to 7 to the virtual operations; every slot contains what its operation raises.
    class TSlots final : public IAIMPPlugin {
    public:
        explicit TSlots(TAIMPCustomPlugin& AOwner) : FOwner(AOwner) {}
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID AIID, void** Obj) noexcept override;
        ULONG STDMETHODCALLTYPE AddRef() noexcept override;
        ULONG STDMETHODCALLTYPE Release() noexcept override;
        const TAIMPChar* STDMETHODCALLTYPE GetInfo(int32_t Index) noexcept override;
        DWORD STDMETHODCALLTYPE GetCategories() noexcept override;
        HRESULT STDMETHODCALLTYPE Initialize(IAIMPCore* Core) noexcept override;
        void STDMETHODCALLTYPE Finalize() noexcept override;
        void STDMETHODCALLTYPE Notify(INT_PTR ID, INT_PTR Param) noexcept override;

    private:
        TAIMPCustomPlugin& FOwner;
    };

    TSlots FSlots{*this};
};
