// The tools' player: loads the plug-in library, drives the plug-in and its visualization
// through the sequence the player follows, and hands it each frame's context and record.
#pragma once

#include "host/apiPlugin.h"
#include "host/apiVisuals.h"
#include "rtl/ComPtr.h"
#include "tools/lib/fakeplayer/FakePlayer.h"

#include <cstdint>
#include <memory>
#include <string>

namespace drive {

class TModuleHost {
public:
    // Loads APath and takes the plug-in as far as an initialized visualization of AWidth x
    // AHeight pixels. common::EToolError when the library does not load, has no export, the export
    // fails, or the plug-in registers no visualization or fails a call.
    TModuleHost(const std::string& APath, std::int32_t AWidth, std::int32_t AHeight);
    // The same for a module linked into the program (the browser build), reached through its
    // export AGetHeader; AName names it in the messages. Nothing is loaded or unloaded.
    TModuleHost(TAIMPPluginGetHeaderProc AGetHeader, const std::string& AName, std::int32_t AWidth,
                std::int32_t AHeight);
    // Finalizes the visualization and the plug-in, drops every reference, then unloads.
    ~TModuleHost();
    TModuleHost(const TModuleHost&) = delete;
    TModuleHost& operator=(const TModuleHost&) = delete;

    // One frame: ADC is the player's context (borrowed), AData the frame's record.
    void Draw(HDC ADC, TAIMPVisualData& AData);
    // The player's drawing area changed to AWidth x AHeight pixels.
    void Resize(std::int32_t AWidth, std::int32_t AHeight);
    // A mouse click on the drawing area, in its pixels.
    void Click(std::int32_t AX, std::int32_t AY, std::int32_t AButton);

    const std::string& PluginName() const noexcept { return FPluginName; }
    const std::string& PluginAuthor() const noexcept { return FPluginAuthor; }
    const std::string& VisualName() const noexcept { return FVisualName; }

private:
    struct TLibraryCloser {
        void operator()(void* ALibrary) const noexcept;
    };

    void Start(std::int32_t AWidth, std::int32_t AHeight);
    void Stop() noexcept;

    std::string FPath;
    TAIMPPluginGetHeaderProc FGetHeader = nullptr; // a linked-in module's export, or null
    std::unique_ptr<void, TLibraryCloser> FLibrary;
    std::unique_ptr<fakeplayer::TFakeCore> FCore;
    rtl::TComPtr<IAIMPPlugin> FPlugin;
    rtl::TComPtr<IAIMPExtensionEmbeddedVisualization> FVisual;
    bool FPluginInitialized = false;
    bool FVisualInitialized = false;
    std::string FPluginName;
    std::string FPluginAuthor;
    std::string FVisualName;
};

// UTF-16 code units as UTF-8, unpaired surrogates as U+FFFD.
std::string Utf8Of(const TAIMPChar* AChars, std::size_t ACount);

} // namespace drive
