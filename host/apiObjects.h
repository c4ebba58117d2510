// The player's string and configuration interfaces, as this module sees them.
//
// NOTE: the player reaches these through COM vtables, so every declaration keeps its slot
// order exactly: slots 0 to 2 are IUnknown's, each interface's own slots follow in the order
// written, and no interface declares a destructor or any other virtual function.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <cstdint>

// {41494D50-5374-7269-6E67-000000000000}
inline constexpr IID IID_IAIMPString = {0x41494D50, 0x5374, 0x7269, {0x6E, 0x67, 0, 0, 0, 0, 0, 0}};
// {41494D50-436F-6E66-6967-000000000000}
inline constexpr IID IID_IAIMPConfig = {0x41494D50, 0x436F, 0x6E66, {0x69, 0x67, 0, 0, 0, 0, 0, 0}};
// {41494D50-5372-7643-6667-000000000000}
inline constexpr IID IID_IAIMPServiceConfig = {0x41494D50, 0x5372, 0x7643, {0x66, 0x67, 0, 0, 0, 0, 0, 0}};

// A UTF-16 code unit as the player exchanges it.
using TAIMPChar = WCHAR;

// A UTF-16 literal of TAIMPChar: WCHAR is wchar_t under Windows and char16_t on the stand-in.
#ifdef _WIN32
#define AIMP_TEXT(s) L##s
#else
#define AIMP_TEXT(s) u##s
#endif

// A player string: UTF-16 code units with a count, no terminator guaranteed.
// Slots 3 to 22. This module calls only GetChars, GetCharCount and SetChars.
struct IAIMPString : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetChar(int32_t Index, TAIMPChar* Char) = 0;              // 3
    virtual TAIMPChar* STDMETHODCALLTYPE GetChars() = 0;                                        // 4
    virtual int32_t STDMETHODCALLTYPE GetCharCount() = 0;                                       // 5
    virtual int32_t STDMETHODCALLTYPE GetHashCode() = 0;                                        // 6
    virtual HRESULT STDMETHODCALLTYPE SetChar(int32_t Index, TAIMPChar Char) = 0;               // 7
    virtual HRESULT STDMETHODCALLTYPE SetChars(const TAIMPChar* Chars, int32_t CharsCount) = 0; // 8
    virtual HRESULT STDMETHODCALLTYPE Add(IAIMPString* S) = 0;                                  // 9
    virtual HRESULT STDMETHODCALLTYPE Add2(const TAIMPChar* Chars, int32_t CharsCount) = 0;     // 10
    virtual HRESULT STDMETHODCALLTYPE ChangeCase(int32_t Mode) = 0;                             // 11
    virtual HRESULT STDMETHODCALLTYPE Clone(IAIMPString** S) = 0;                               // 12
    virtual HRESULT STDMETHODCALLTYPE Compare(IAIMPString* S, int32_t* CompareResult,
                                              BOOL IgnoreCase) = 0; // 13
    virtual HRESULT STDMETHODCALLTYPE Compare2(const TAIMPChar* Chars, int32_t CharsCount, int32_t* CompareResult,
                                               BOOL IgnoreCase) = 0;            // 14
    virtual HRESULT STDMETHODCALLTYPE Delete(int32_t Index, int32_t Count) = 0; // 15
    virtual HRESULT STDMETHODCALLTYPE Find(IAIMPString* S, int32_t* Index, int32_t Flags,
                                           int32_t StartFromIndex) = 0; // 16
    virtual HRESULT STDMETHODCALLTYPE Find2(const TAIMPChar* Chars, int32_t CharsCount, int32_t* Index, int32_t Flags,
                                            int32_t StartFromIndex) = 0;         // 17
    virtual HRESULT STDMETHODCALLTYPE Insert(int32_t Index, IAIMPString* S) = 0; // 18
    virtual HRESULT STDMETHODCALLTYPE Insert2(int32_t Index, const TAIMPChar* Chars,
                                              int32_t CharsCount) = 0; // 19
    virtual HRESULT STDMETHODCALLTYPE Replace(IAIMPString* OldPattern, IAIMPString* NewPattern,
                                              int32_t Flags) = 0; // 20
    virtual HRESULT STDMETHODCALLTYPE Replace2(const TAIMPChar* OldPatternChars, int32_t OldPatternCount,
                                               const TAIMPChar* NewPatternChars, int32_t NewPatternCount,
                                               int32_t Flags) = 0;                                  // 21
    virtual HRESULT STDMETHODCALLTYPE SubString(int32_t Index, int32_t Count, IAIMPString** S) = 0; // 22

protected:
    ~IAIMPString() = default;
};

// Case modes of IAIMPString::ChangeCase and flags of Find and Replace.
inline constexpr int32_t AIMP_STRING_CASE_LOWER = 1;
inline constexpr int32_t AIMP_STRING_CASE_UPPER = 2;
inline constexpr int32_t AIMP_STRING_FIND_IGNORECASE = 1;

// Settings under text key paths. Slots 3 to 13; after a failed get the out value is not read.
struct IAIMPConfig : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE DeleteValue(IAIMPString* KeyPath) = 0;                         // 3
    virtual HRESULT STDMETHODCALLTYPE GetFloatValue(IAIMPString* KeyPath, double* Value) = 0;        // 4
    virtual HRESULT STDMETHODCALLTYPE GetInt32Value(IAIMPString* KeyPath, int32_t* Value) = 0;       // 5
    virtual HRESULT STDMETHODCALLTYPE GetInt64Value(IAIMPString* KeyPath, int64_t* Value) = 0;       // 6
    virtual HRESULT STDMETHODCALLTYPE GetStreamValue(IAIMPString* KeyPath, IUnknown** Value) = 0;    // 7
    virtual HRESULT STDMETHODCALLTYPE GetStringValue(IAIMPString* KeyPath, IAIMPString** Value) = 0; // 8
    virtual HRESULT STDMETHODCALLTYPE SetFloatValue(IAIMPString* KeyPath, double Value) = 0;         // 9
    virtual HRESULT STDMETHODCALLTYPE SetInt32Value(IAIMPString* KeyPath, int32_t Value) = 0;        // 10
    virtual HRESULT STDMETHODCALLTYPE SetInt64Value(IAIMPString* KeyPath, int64_t Value) = 0;        // 11
    virtual HRESULT STDMETHODCALLTYPE SetStreamValue(IAIMPString* KeyPath, IUnknown* Value) = 0;     // 12
    virtual HRESULT STDMETHODCALLTYPE SetStringValue(IAIMPString* KeyPath, IAIMPString* Value) = 0;  // 13

protected:
    ~IAIMPConfig() = default;
};

// The player's configuration service: the configuration plus slot 14.
struct IAIMPServiceConfig : public IAIMPConfig {
    virtual HRESULT STDMETHODCALLTYPE FlushCache() = 0; // 14

protected:
    ~IAIMPServiceConfig() = default;
};
