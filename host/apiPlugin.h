// The plug-in interface that the player drives, as this module implements it.
#pragma once

#include "host/apiCore.h"

// IAIMPPlugin is answered under the all-zero identifier.
inline constexpr IID IID_IAIMPPlugin = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

// Categories reported by GetCategories.
inline constexpr DWORD AIMP_PLUGIN_CATEGORY_VISUALS = 4;

// Indexes of GetInfo.
inline constexpr int32_t AIMP_PLUGIN_INFO_NAME = 0;
inline constexpr int32_t AIMP_PLUGIN_INFO_AUTHOR = 1;

// Slots 3 to 7.
struct IAIMPPlugin : public IUnknown {
    // A NUL-terminated UTF-16 text owned by the module; never null.
    virtual const TAIMPChar* STDMETHODCALLTYPE GetInfo(int32_t Index) = 0; // 3
    virtual DWORD STDMETHODCALLTYPE GetCategories() = 0;                   // 4
    virtual HRESULT STDMETHODCALLTYPE Initialize(IAIMPCore* Core) = 0;     // 5
    virtual void STDMETHODCALLTYPE Finalize() = 0;                         // 6
    virtual void STDMETHODCALLTYPE Notify(INT_PTR ID, INT_PTR Param) = 0;  // 7

protected:
    ~IAIMPPlugin() = default;
};

// The signature of the module's one export.
using TAIMPPluginGetHeaderProc = HRESULT(WINAPI*)(IAIMPPlugin** Header);
