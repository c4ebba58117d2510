// The reusable plug-in base class: turns the player's IAIMPPlugin calls into virtual operations
// and holds the player's core from Initialize to Finalize.
#pragma once

#include "host/apiPlugin.h"
#include "host/apiSlots.h"
#include "host/apiWrappers.h"

#include <cstdint>
#include <memory>

// The player reaches the operations below through the IAIMPPlugin producer (host/apiSlots.h),
// which contains whatever they raise; a derived class changes what the player sees by overriding
// them.
class TAIMPCustomPlugin : public TImplements<TAIMPCustomPlugin, TInterfacedObjectEx, IAIMPPlugin> {
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

protected:
    TAIMPCustomPlugin() = default;
    ~TAIMPCustomPlugin() override = default;
};
