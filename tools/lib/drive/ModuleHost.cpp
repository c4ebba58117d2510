#include "tools/lib/drive/ModuleHost.h"

#include "tools/lib/common/ToolError.h"

#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace drive {

namespace {

std::string HexOf(HRESULT AResult)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(AResult));
    return text;
}

std::size_t LengthOf(const TAIMPChar* AText)
{
    std::size_t length = 0;
    while (AText[length] != 0)
        ++length;
    return length;
}

} // namespace

std::string Utf8Of(const TAIMPChar* AChars, std::size_t ACount)
{
    std::string text;
    for (std::size_t i = 0; i < ACount; ++i) {
        std::uint32_t code = static_cast<std::uint16_t>(AChars[i]);
        if (code >= 0xD800 && code <= 0xDBFF && i + 1 < ACount) {
            const std::uint32_t low = static_cast<std::uint16_t>(AChars[i + 1]);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        if (code >= 0xD800 && code <= 0xDFFF)
            code = 0xFFFD;
        if (code < 0x80) {
            text += static_cast<char>(code);
        } else if (code < 0x800) {
            text += static_cast<char>(0xC0 | (code >> 6));
            text += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            text += static_cast<char>(0xE0 | (code >> 12));
            text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            text += static_cast<char>(0xF0 | (code >> 18));
            text += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return text;
}

namespace {

// The platform's loader: LoadLibrary under Windows (and Wine), dlopen elsewhere.
#ifdef _WIN32
void* LoadModule(const std::string& APath, std::string& AError)
{
    HMODULE module = LoadLibraryA(APath.c_str());
    if (!module)
        AError = "error " + std::to_string(GetLastError());
    return reinterpret_cast<void*>(module);
}

void* FindExport(void* AModule, const char* AName)
{
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(AModule), AName));
}

void UnloadModule(void* AModule)
{
    FreeLibrary(static_cast<HMODULE>(AModule));
}
#else
void* LoadModule(const std::string& APath, std::string& AError)
{
    // A bare name would be searched for on the library path; the user means the file here.
    const std::string path = APath.find('/') == std::string::npos ? "./" + APath : APath;
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        const char* reason = dlerror();
        AError = reason ? reason : "unknown error";
        // The loader starts its text with the path, which the message already shows quoted.
        if (AError.rfind(path + ": ", 0) == 0)
            AError.erase(0, path.size() + 2);
    }
    return module;
}

void* FindExport(void* AModule, const char* AName)
{
    return dlsym(AModule, AName);
}

void UnloadModule(void* AModule)
{
    dlclose(AModule);
}
#endif

} // namespace

void TModuleHost::TLibraryCloser::operator()(void* ALibrary) const noexcept
{
    UnloadModule(ALibrary);
}

TModuleHost::TModuleHost(const std::string& APath, std::int32_t AWidth, std::int32_t AHeight) : FPath(APath)
{
    try {
        Start(AWidth, AHeight);
    } catch (...) {
        Stop();
        throw;
    }
}

TModuleHost::TModuleHost(TAIMPPluginGetHeaderProc AGetHeader, const std::string& AName, std::int32_t AWidth,
                         std::int32_t AHeight)
    : FPath(AName), FGetHeader(AGetHeader)
{
    try {
        Start(AWidth, AHeight);
    } catch (...) {
        Stop();
        throw;
    }
}

TModuleHost::~TModuleHost()
{
    Stop();
}

void TModuleHost::Start(std::int32_t AWidth, std::int32_t AHeight)
{
    const auto notPlugin = [&](const std::string& AReason) {
        throw common::EToolError("module " + common::Quoted(FPath) + " is not a plug-in: " + AReason);
    };

    TAIMPPluginGetHeaderProc getHeader = FGetHeader;
    if (!getHeader) {
        std::string reason;
        FLibrary.reset(LoadModule(FPath, reason));
        if (!FLibrary)
            throw common::EToolError("cannot load module " + common::Quoted(FPath) + ": " + reason);
        getHeader = reinterpret_cast<TAIMPPluginGetHeaderProc>(FindExport(FLibrary.get(), "AIMPPluginGetHeader"));
    }
    if (!getHeader)
        notPlugin("it has no AIMPPluginGetHeader export");

    const HRESULT header = getHeader(FPlugin.Put());
    if (FAILED(header)) {
        // A failing export owes the caller nothing; whatever it left in the slot is not ours
        // to release.
        (void)FPlugin.Detach();
        notPlugin("AIMPPluginGetHeader failed (" + HexOf(header) + ")");
    }
    if (!FPlugin)
        notPlugin("AIMPPluginGetHeader gave no plug-in");

    const TAIMPChar* name = FPlugin->GetInfo(AIMP_PLUGIN_INFO_NAME);
    if (!name)
        notPlugin("it gives no name");
    FPluginName = Utf8Of(name, LengthOf(name));
    const TAIMPChar* author = FPlugin->GetInfo(AIMP_PLUGIN_INFO_AUTHOR);
    if (!author)
        notPlugin("it gives no author");
    FPluginAuthor = Utf8Of(author, LengthOf(author));
    if ((FPlugin->GetCategories() & AIMP_PLUGIN_CATEGORY_VISUALS) == 0)
        notPlugin("it is not a visualization");

    FCore = std::make_unique<fakeplayer::TFakeCore>();
    const HRESULT initialized = FPlugin->Initialize(FCore.get());
    if (FAILED(initialized))
        notPlugin("Initialize failed (" + HexOf(initialized) + ")");
    FPluginInitialized = true;

    IUnknown* extension = nullptr; // borrowed from the core, which holds it
    for (const fakeplayer::TExtension& registered : FCore->Extensions())
        if (registered.ServiceIID == IID_VisualizationService && registered.Extension) {
            extension = registered.Extension;
            break;
        }
    if (!extension)
        notPlugin("it registered no visualization");
    const HRESULT queried = extension->QueryInterface(IID_IAIMPExtensionEmbeddedVisualization, FVisual.PutVoid());
    if (FAILED(queried) || !FVisual)
        notPlugin("its visualization is not an embedded one (" + HexOf(FAILED(queried) ? queried : E_POINTER) + ")");

    rtl::TComPtr<IAIMPString> visualName;
    const HRESULT named = FVisual->GetName(visualName.Put());
    if (FAILED(named) || !visualName)
        notPlugin("the visualization's GetName failed (" + HexOf(FAILED(named) ? named : E_POINTER) + ")");
    const int32_t count = visualName->GetCharCount();
    const TAIMPChar* chars = visualName->GetChars();
    if (count > 0 && chars)
        FVisualName = Utf8Of(chars, static_cast<std::size_t>(count));
    visualName.Reset();
    // The flags say which parts of the record the visualization reads; the preview fills the
    // waveform and peaks whatever they say.
    (void)FVisual->GetFlags();

    const HRESULT started = FVisual->Initialize(AWidth, AHeight);
    if (FAILED(started))
        notPlugin("the visualization's Initialize failed (" + HexOf(started) + ")");
    FVisualInitialized = true;
}

void TModuleHost::Stop() noexcept
{
    if (FVisual && FVisualInitialized)
        FVisual->Finalize();
    FVisualInitialized = false;
    FVisual.Reset();
    if (FPlugin && FPluginInitialized)
        FPlugin->Finalize();
    FPluginInitialized = false;
    // The player drops the registrations, then the plug-in; nothing of the module may be
    // referenced once the library is unloaded.
    if (FCore)
        FCore->ReleaseExtensions();
    FPlugin.Reset();
    FCore.reset();
    FLibrary.reset();
}

void TModuleHost::Draw(HDC ADC, TAIMPVisualData& AData)
{
    FVisual->Draw(ADC, &AData);
}

void TModuleHost::Resize(std::int32_t AWidth, std::int32_t AHeight)
{
    FVisual->Resize(AWidth, AHeight);
}

void TModuleHost::Click(std::int32_t AX, std::int32_t AY, std::int32_t AButton)
{
    FVisual->Click(AX, AY, AButton);
}

} // namespace drive
