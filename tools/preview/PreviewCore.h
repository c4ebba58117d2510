// The preview's stand-in for the player's core: it makes strings and keeps the extensions that
// a plug-in registers. It offers no services.
#pragma once

#include "host/apiCore.h"
#include "rtl/ComPtr.h"

#include <atomic>
#include <vector>

namespace preview {

class TPreviewCore final : public IAIMPCore {
public:
    // A new core with one reference, owned by the returned pointer.
    static rtl::TComPtr<TPreviewCore> Make();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID AIID, void** AObject) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // Strings only; the new object carries one reference for the caller.
    HRESULT STDMETHODCALLTYPE MakeObject(REFIID AIID, void** AObject) override;
    HRESULT STDMETHODCALLTYPE GetPath(int32_t APathID, IAIMPString** AValue) override;
    // Adds a reference to AExtension and keeps it until ReleaseExtensions.
    HRESULT STDMETHODCALLTYPE AddExtension(REFIID AServiceIID, IUnknown* AExtension) override;
    HRESULT STDMETHODCALLTYPE RemoveExtension(IUnknown* AExtension) override;
    HRESULT STDMETHODCALLTYPE RegisterService(IUnknown* AService) override;

    // The first extension registered under AServiceIID (a new reference), or empty.
    rtl::TComPtr<IUnknown> FindExtension(REFIID AServiceIID) const;
    // Drops every registered extension, as the player does before it unloads a module.
    void ReleaseExtensions() noexcept;

    // Strings made by any core and not yet destroyed: a leak shows as a count above zero.
    static long LiveStrings() noexcept;

private:
    struct TExtension {
        IID Service;
        rtl::TComPtr<IUnknown> Object;
    };

    TPreviewCore() = default;
    ~TPreviewCore() = default;

    std::atomic<ULONG> FCount{1};
    std::vector<TExtension> FExtensions;
};

} // namespace preview
