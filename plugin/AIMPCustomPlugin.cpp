#include "plugin/AIMPCustomPlugin.h"

HRESULT TAIMPCustomPlugin::Initialize(IAIMPCore* Core)
{
    TAIMPAPIWrappers::Initialize(Core);
    return S_OK;
}

void TAIMPCustomPlugin::Finalize()
{
    TAIMPAPIWrappers::Finalize();
}

void TAIMPCustomPlugin::Notify(INT_PTR, INT_PTR) {}

std::unique_ptr<TAIMPServiceConfig> TAIMPCustomPlugin::ServiceGetConfig()
{
    return std::make_unique<TAIMPServiceConfig>();
}

bool TAIMPCustomPlugin::GetInterface(REFIID AIID, void** Obj) noexcept
{
    if (AIID == IID_IAIMPPlugin) {
        *Obj = static_cast<IAIMPPlugin*>(&FSlots);
        return true;
    }
    return TInterfacedObjectEx::GetInterface(AIID, Obj);
}

HRESULT TAIMPCustomPlugin::TSlots::QueryInterface(REFIID AIID, void** Obj) noexcept
{
    return FOwner.QueryInterface(AIID, Obj);
}

ULONG TAIMPCustomPlugin::TSlots::AddRef() noexcept
{
    return FOwner.AddRef();
}

ULONG TAIMPCustomPlugin::TSlots::Release() noexcept
{
    return FOwner.Release();
}

const TAIMPChar* TAIMPCustomPlugin::TSlots::GetInfo(int32_t Index) noexcept
{
    try {
        return FOwner.GetInfo(Index);
    } catch (...) {
        // NOTE: the player reads the text without checking it, so a failure gives the empty text.
        return AIMP_TEXT("");
    }
}

DWORD TAIMPCustomPlugin::TSlots::GetCategories() noexcept
{
    try {
        return FOwner.GetCategories();
    } catch (...) {
        return 0;
    }
}

HRESULT TAIMPCustomPlugin::TSlots::Initialize(IAIMPCore* Core) noexcept
{
    try {
        return FOwner.Initialize(Core);
    } catch (...) {
        return ToHResult();
    }
}

void TAIMPCustomPlugin::TSlots::Finalize() noexcept
{
    try {
        FOwner.Finalize();
    } catch (...) {
        ToHResult();
    }
}

void TAIMPCustomPlugin::TSlots::Notify(INT_PTR ID, INT_PTR Param) noexcept
{
    try {
        FOwner.Notify(ID, Param);
    } catch (...) {
        ToHResult();
    }
}
