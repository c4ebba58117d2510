#include "tools/lib/fakeplayer/FakePlayer.h"

#include <algorithm>

namespace fakeplayer {

TFakeCore::TFakeCore(TLastRelease AOnLastRelease)
    : TFakeCounted(std::make_shared<TLedger>()), FConfig(FLedger), FOnLastRelease(AOnLastRelease)
{}

TFakeCore::~TFakeCore()
{
    ReleaseExtensions();
}

void TFakeCore::ReleaseExtensions() noexcept
{
    // Taken out first: a release may destroy an object whose destructor calls back.
    std::vector<TExtension> extensions = std::move(FExtensions);
    FExtensions.clear();
    for (const TExtension& extension : extensions)
        FExtensionReleaseCounts.push_back(extension.Extension->Release());
}

void TFakeCore::DropOwnReference() noexcept
{
    DropUncounted();
}

void TFakeCore::LastReleased() noexcept
{
    if (FOnLastRelease == TLastRelease::ReleaseExtensions)
        ReleaseExtensions();
}

IAIMPString* TFakeCore::NewString(const TText& AText)
{
    return TFakeString::Make(FLedger, AText);
}

HRESULT TFakeCore::QueryInterface(REFIID AIID, void** Obj)
{
    if (!Obj)
        return E_POINTER;
    *Obj = nullptr;
    if (AnswerIdentity(AIID, Obj, {IID_IUnknown, IID_IAIMPCore}))
        return S_OK;
    // Anything else is a service request.
    TCall call;
    call.Kind = TCallKind::QueryService;
    call.ID = AIID;
    call.Result = E_NOINTERFACE;
    if ((AIID == IID_IAIMPServiceConfig || AIID == IID_IAIMPConfig) && !FLedger->Faults.ConfigMissing)
        call.Result = FConfig.QueryInterface(AIID, Obj);
    FLedger->Calls.push_back(call);
    return call.Result;
}

HRESULT TFakeCore::MakeObject(REFIID AIID, void** Obj)
{
    TCall call;
    call.Kind = TCallKind::MakeObject;
    call.ID = AIID;
    if (!Obj) {
        call.Result = E_POINTER;
    } else {
        *Obj = nullptr;
        call.Result = FLedger->Faults.MakeObject.For(FLedger->NextCall(TCallKind::MakeObject));
        if (SUCCEEDED(call.Result)) {
            if (AIID != IID_IAIMPString)
                call.Result = E_NOINTERFACE;
            else if (!FLedger->Faults.MakeObjectHandsNull)
                *Obj = static_cast<IAIMPString*>(TFakeString::Make(FLedger));
        }
    }
    FLedger->Calls.push_back(call);
    return call.Result;
}

HRESULT TFakeCore::GetPath(int32_t, IAIMPString** Value)
{
    if (!Value)
        return E_POINTER;
    *Value = nullptr;
    return E_NOTIMPL;
}

HRESULT TFakeCore::AddExtension(REFIID ServiceIID, IUnknown* Extension)
{
    TCall call;
    call.Kind = TCallKind::AddExtension;
    call.ID = ServiceIID;
    if (!Extension) {
        call.Result = E_POINTER;
    } else {
        call.Result = FLedger->Faults.AddExtension.For(FLedger->NextCall(TCallKind::AddExtension));
        if (SUCCEEDED(call.Result)) {
            Extension->AddRef();
            FExtensions.push_back({ServiceIID, Extension});
        }
    }
    FLedger->Calls.push_back(call);
    return call.Result;
}

HRESULT TFakeCore::RemoveExtension(IUnknown* Extension)
{
    TCall call;
    call.Kind = TCallKind::RemoveExtension;
    const auto found = std::find_if(FExtensions.begin(), FExtensions.end(),
                                    [Extension](const TExtension& E) { return E.Extension == Extension; });
    if (!Extension || found == FExtensions.end()) {
        call.Result = E_INVALIDARG;
    } else {
        call.ID = found->ServiceIID;
        FExtensions.erase(found);
        call.Result = S_OK;
    }
    FLedger->Calls.push_back(call);
    if (SUCCEEDED(call.Result))
        Extension->Release();
    return call.Result;
}

HRESULT TFakeCore::RegisterService(IUnknown*)
{
    return E_NOTIMPL;
}

} // namespace fakeplayer
