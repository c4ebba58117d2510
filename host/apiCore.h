// The player's core, as this module sees it.
#pragma once

#include "host/apiObjects.h"

// {41494D50-436F-7265-0000-000000000000}
inline constexpr IID IID_IAIMPCore = {0x41494D50, 0x436F, 0x7265, {0, 0, 0, 0, 0, 0, 0, 0}};

// Slots 3 to 7. Services are reached through QueryInterface on the core itself.
// This module calls only QueryInterface, MakeObject and AddExtension.
struct IAIMPCore : public IUnknown {
    // On success Obj holds a new object with one reference for the caller.
    virtual HRESULT STDMETHODCALLTYPE MakeObject(REFIID IID, void** Obj) = 0;           // 3
    virtual HRESULT STDMETHODCALLTYPE GetPath(int32_t PathID, IAIMPString** Value) = 0; // 4
    // The player takes its own reference on Extension.
    virtual HRESULT STDMETHODCALLTYPE AddExtension(REFIID ServiceIID, IUnknown* Extension) = 0; // 5
    virtual HRESULT STDMETHODCALLTYPE RemoveExtension(IUnknown* Extension) = 0;                 // 6
    virtual HRESULT STDMETHODCALLTYPE RegisterService(IUnknown* Service) = 0;                   // 7

protected:
    ~IAIMPCore() = default;
};
