#include "tools/preview/PreviewCore.h"

#include <algorithm>
#include <new>
#include <vector>

namespace preview {

namespace {

std::atomic<long> LiveStringCount{0};

// A player string: UTF-16 code units with a count, kept with a terminator after them so that
// GetChars may be read as a C string too. The preview needs only what a plug-in uses to hand
// out texts; the editing slots answer E_NOTIMPL.
class TPreviewString final : public IAIMPString {
public:
    TPreviewString() { ++LiveStringCount; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID AIID, void** AObject) override
    {
        if (!AObject)
            return E_POINTER;
        *AObject = nullptr;
        if (AIID != IID_IUnknown && AIID != IID_IAIMPString)
            return E_NOINTERFACE;
        *AObject = static_cast<IAIMPString*>(this);
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

    HRESULT STDMETHODCALLTYPE GetChar(int32_t AIndex, TAIMPChar* AChar) override
    {
        if (!AChar || AIndex < 0 || AIndex >= GetCharCount())
            return E_INVALIDARG;
        *AChar = FChars[static_cast<std::size_t>(AIndex)];
        return S_OK;
    }
    TAIMPChar* STDMETHODCALLTYPE GetChars() override { return FChars.data(); }
    int32_t STDMETHODCALLTYPE GetCharCount() override { return static_cast<int32_t>(FChars.size() - 1); }
    int32_t STDMETHODCALLTYPE GetHashCode() override { return 0; }
    HRESULT STDMETHODCALLTYPE SetChar(int32_t AIndex, TAIMPChar AChar) override
    {
        if (AIndex < 0 || AIndex >= GetCharCount())
            return E_INVALIDARG;
        FChars[static_cast<std::size_t>(AIndex)] = AChar;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetChars(const TAIMPChar* AChars, int32_t ACount) override
    {
        if (ACount < 0 || (ACount > 0 && !AChars))
            return E_INVALIDARG;
        try {
            std::vector<TAIMPChar> chars(AChars, AChars + ACount);
            chars.push_back(0);
            FChars.swap(chars);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Add(IAIMPString*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Add2(const TAIMPChar*, int32_t) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ChangeCase(int32_t) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Clone(IAIMPString** AString) override
    {
        if (AString)
            *AString = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Compare(IAIMPString*, int32_t*, BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Compare2(const TAIMPChar*, int32_t, int32_t*, BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Delete(int32_t, int32_t) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Find(IAIMPString*, int32_t*, int32_t, int32_t) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Find2(const TAIMPChar*, int32_t, int32_t*, int32_t, int32_t) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Insert(int32_t, IAIMPString*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Insert2(int32_t, const TAIMPChar*, int32_t) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Replace(IAIMPString*, IAIMPString*, int32_t) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Replace2(const TAIMPChar*, int32_t, const TAIMPChar*, int32_t, int32_t) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SubString(int32_t, int32_t, IAIMPString** AString) override
    {
        if (AString)
            *AString = nullptr;
        return E_NOTIMPL;
    }

private:
    ~TPreviewString() { --LiveStringCount; }

    std::atomic<ULONG> FCount{1};
    std::vector<TAIMPChar> FChars{0};
};

} // namespace

rtl::TComPtr<TPreviewCore> TPreviewCore::Make()
{
    return rtl::TComPtr<TPreviewCore>::Attach(new TPreviewCore());
}

HRESULT STDMETHODCALLTYPE TPreviewCore::QueryInterface(REFIID AIID, void** AObject)
{
    if (!AObject)
        return E_POINTER;
    *AObject = nullptr;
    if (AIID != IID_IUnknown && AIID != IID_IAIMPCore)
        return E_NOINTERFACE;
    *AObject = static_cast<IAIMPCore*>(this);
    AddRef();
    return S_OK;
}

ULONG STDMETHODCALLTYPE TPreviewCore::AddRef()
{
    return ++FCount;
}

ULONG STDMETHODCALLTYPE TPreviewCore::Release()
{
    const ULONG count = --FCount;
    if (count == 0)
        delete this;
    return count;
}

HRESULT STDMETHODCALLTYPE TPreviewCore::MakeObject(REFIID AIID, void** AObject)
{
    if (!AObject)
        return E_POINTER;
    *AObject = nullptr;
    if (AIID != IID_IAIMPString)
        return E_NOINTERFACE;
    auto* string = new (std::nothrow) TPreviewString();
    if (!string)
        return E_OUTOFMEMORY;
    *AObject = static_cast<IAIMPString*>(string);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TPreviewCore::GetPath(int32_t, IAIMPString** AValue)
{
    if (AValue)
        *AValue = nullptr;
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE TPreviewCore::AddExtension(REFIID AServiceIID, IUnknown* AExtension)
{
    if (!AExtension)
        return E_INVALIDARG;
    try {
        FExtensions.push_back({AServiceIID, rtl::TComPtr<IUnknown>(AExtension)});
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TPreviewCore::RemoveExtension(IUnknown* AExtension)
{
    const auto found = std::find_if(FExtensions.begin(), FExtensions.end(),
                                    [&](const TExtension& AEntry) { return AEntry.Object.Get() == AExtension; });
    if (found == FExtensions.end())
        return E_INVALIDARG;
    FExtensions.erase(found);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TPreviewCore::RegisterService(IUnknown*)
{
    return E_NOTIMPL;
}

rtl::TComPtr<IUnknown> TPreviewCore::FindExtension(REFIID AServiceIID) const
{
    for (const TExtension& entry : FExtensions)
        if (entry.Service == AServiceIID)
            return entry.Object;
    return nullptr;
}

void TPreviewCore::ReleaseExtensions() noexcept
{
    // Moved out first: releasing may re-enter the core, and must not meet a half-cleared list.
    std::vector<TExtension> extensions;
    extensions.swap(FExtensions);
}

long TPreviewCore::LiveStrings() noexcept
{
    return LiveStringCount.load();
}

} // namespace preview
