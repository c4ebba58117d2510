// A plug-in whose visualization writes each call the player makes to the file that the
// SELVANORE_FAKE_LEDGER variable names, one line each:
//   Initialize <width> <height>
//   Draw <extents last given> on <the context's bitmap, width x height> peak <left peak x 1000>
//   Resize <width> <height>
//   Click <x> <y> <button>
//   Finalize
//   PluginFinalize
// so that a test sees what reached the module and whether every frame was drawn on a surface of
// the extents the module was last told.
#include "host/apiCore.h"
#include "host/apiObjects.h"
#include "host/apiPlugin.h"
#include "host/apiVisuals.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

void Note(const char* AFormat, int A = 0, int B = 0, int C = 0, int D = 0, int E = 0)
{
    const char* path = std::getenv("SELVANORE_FAKE_LEDGER");
    if (!path)
        return;
    if (std::FILE* file = std::fopen(path, "a")) {
        std::fprintf(file, AFormat, A, B, C, D, E);
        std::fputc('\n', file);
        std::fclose(file);
    }
}

template <class TInterface>
class TCounted : public TInterface {
public:
    ULONG STDMETHODCALLTYPE AddRef() override { return ++FCount; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG count = --FCount;
        if (count == 0)
            delete this;
        return count;
    }

protected:
    virtual ~TCounted() = default;
    HRESULT Answer(REFIID AIID, REFIID AOwn, void** AObject)
    {
        if (!AObject)
            return E_POINTER;
        *AObject = nullptr;
        if (AIID != IID_IUnknown && AIID != AOwn)
            return E_NOINTERFACE;
        *AObject = static_cast<TInterface*>(this);
        AddRef();
        return S_OK;
    }

private:
    std::atomic<ULONG> FCount{1};
};

class TRecordingVisual final : public TCounted<IAIMPExtensionEmbeddedVisualization> {
public:
    explicit TRecordingVisual(IAIMPCore* ACore) : FCore(ACore) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID AIID, void** AObject) override
    {
        return Answer(AIID, IID_IAIMPExtensionEmbeddedVisualization, AObject);
    }
    int32_t STDMETHODCALLTYPE GetFlags() override { return AIMP_VISUAL_FLAGS_RQD_DATA_WAVE; }
    HRESULT STDMETHODCALLTYPE GetMaxDisplaySize(int32_t* AWidth, int32_t* AHeight) override
    {
        *AWidth = 0;
        *AHeight = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetName(IAIMPString** AName) override
    {
        const HRESULT made = FCore->MakeObject(IID_IAIMPString, reinterpret_cast<void**>(AName));
        if (FAILED(made))
            return made;
        return (*AName)->SetChars(AIMP_TEXT("Recorder"), 8);
    }
    HRESULT STDMETHODCALLTYPE Initialize(int32_t AWidth, int32_t AHeight) override
    {
        FWidth = AWidth;
        FHeight = AHeight;
        Note("Initialize %d %d", AWidth, AHeight);
        return S_OK;
    }
    void STDMETHODCALLTYPE Finalize() override { Note("Finalize"); }
    void STDMETHODCALLTYPE Click(int32_t AX, int32_t AY, int32_t AButton) override
    {
        Note("Click %d %d %d", AX, AY, AButton);
    }
    void STDMETHODCALLTYPE Draw(HDC ADC, PAIMPVisualData AData) override
    {
        BITMAP bitmap{};
        GetObject(GetCurrentObject(ADC, OBJ_BITMAP), sizeof bitmap, &bitmap);
        Note("Draw %dx%d on %dx%d peak %d", FWidth, FHeight, bitmap.bmWidth, bitmap.bmHeight,
             static_cast<int>(AData->Peaks[0] * 1000.0f + 0.5f));
    }
    void STDMETHODCALLTYPE Resize(int32_t AWidth, int32_t AHeight) override
    {
        FWidth = AWidth;
        FHeight = AHeight;
        Note("Resize %d %d", AWidth, AHeight);
    }

private:
    IAIMPCore* FCore; // borrowed: the core outlives its extensions
    int FWidth = 0;
    int FHeight = 0;
};

class TRecordingPlugin final : public TCounted<IAIMPPlugin> {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID AIID, void** AObject) override
    {
        return Answer(AIID, IID_IAIMPPlugin, AObject);
    }
    const TAIMPChar* STDMETHODCALLTYPE GetInfo(int32_t) override { return AIMP_TEXT("Recorder"); }
    DWORD STDMETHODCALLTYPE GetCategories() override { return AIMP_PLUGIN_CATEGORY_VISUALS; }
    HRESULT STDMETHODCALLTYPE Initialize(IAIMPCore* ACore) override
    {
        auto* visual = new TRecordingVisual(ACore);
        const HRESULT added = ACore->AddExtension(IID_VisualizationService, visual);
        visual->Release(); // the core holds its own reference
        return added;
    }
    void STDMETHODCALLTYPE Finalize() override { Note("PluginFinalize"); }
    void STDMETHODCALLTYPE Notify(INT_PTR, INT_PTR) override {}
};

} // namespace

FAKE_EXPORT HRESULT WINAPI AIMPPluginGetHeader(IAIMPPlugin** Header)
{
    *Header = new TRecordingPlugin();
    return S_OK;
}
