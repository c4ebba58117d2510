// Libraries that look like plug-ins to a loader but are not usable ones, one per way of failing,
// chosen by FAKE_MODULE_KIND when the library is built:
//   1  no AIMPPluginGetHeader export at all
//   2  the export fails with E_UNEXPECTED and a null slot
//   3  a plug-in whose Initialize registers no visualization
#include "host/apiPlugin.h"

#include <atomic>

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

#if FAKE_MODULE_KIND == 1

FAKE_EXPORT int NotAPlugin()
{
    return 0;
}

#elif FAKE_MODULE_KIND == 2

FAKE_EXPORT HRESULT WINAPI AIMPPluginGetHeader(IAIMPPlugin** Header)
{
    if (Header)
        *Header = nullptr;
    return E_UNEXPECTED;
}

#elif FAKE_MODULE_KIND == 3

namespace {

class TSilentPlugin final : public IAIMPPlugin {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID AIID, void** AObject) override
    {
        if (!AObject)
            return E_POINTER;
        *AObject = nullptr;
        if (AIID != IID_IUnknown && AIID != IID_IAIMPPlugin)
            return E_NOINTERFACE;
        *AObject = static_cast<IAIMPPlugin*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++FCount; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG count = --FCount;
        if (count == 0)
            delete this;
        return count;
    }
    const TAIMPChar* STDMETHODCALLTYPE GetInfo(int32_t) override { return AIMP_TEXT("Silent"); }
    DWORD STDMETHODCALLTYPE GetCategories() override { return AIMP_PLUGIN_CATEGORY_VISUALS; }
    HRESULT STDMETHODCALLTYPE Initialize(IAIMPCore*) override { return S_OK; }
    void STDMETHODCALLTYPE Finalize() override {}
    void STDMETHODCALLTYPE Notify(INT_PTR, INT_PTR) override {}

private:
    ~TSilentPlugin() = default;
    std::atomic<ULONG> FCount{1};
};

} // namespace

FAKE_EXPORT HRESULT WINAPI AIMPPluginGetHeader(IAIMPPlugin** Header)
{
    *Header = new TSilentPlugin();
    return S_OK;
}

#endif
