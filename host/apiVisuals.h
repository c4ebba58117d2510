// The embedded visualization interface and the analysed audio block handed to Draw.
#pragma once

#include "host/apiObjects.h"

#include <cstddef>

// {41494D50-4578-7445-6D62-645669730000}
inline constexpr IID IID_IAIMPExtensionEmbeddedVisualization = {
    0x41494D50, 0x4578, 0x7445, {0x6D, 0x62, 0x64, 0x56, 0x69, 0x73, 0, 0}};
// {41494D50-5372-7656-6973-75616C000000}: the service under which visualizations register.
inline constexpr IID IID_VisualizationService = {0x41494D50, 0x5372, 0x7656, {0x69, 0x73, 0x75, 0x61, 0x6C, 0, 0, 0}};

inline constexpr int AIMP_VISUAL_WAVEFORM_SIZE = 512;
inline constexpr int AIMP_VISUAL_SPECTRUM_SIZE = 256;
inline constexpr int AIMP_VISUAL_LOG_SPECTRUM_SIZE = 128;

// One block of analysed audio, 8716 bytes. Channel 0 is left, channel 1 right.
struct TAIMPVisualData {
    float Peaks[2];
    float Spectrum[3][AIMP_VISUAL_SPECTRUM_SIZE];
    float Waveform[2][AIMP_VISUAL_WAVEFORM_SIZE];
    int32_t Reserved;
    float LogarithmicSpectrum[3][AIMP_VISUAL_LOG_SPECTRUM_SIZE];
};
using PAIMPVisualData = TAIMPVisualData*;

// The player reads and writes this record byte for byte; a drift in layout must not build.
static_assert(sizeof(TAIMPVisualData) == 8716);
static_assert(offsetof(TAIMPVisualData, Peaks) == 0);
static_assert(offsetof(TAIMPVisualData, Spectrum) == 8);
static_assert(offsetof(TAIMPVisualData, Waveform) == 3080);
static_assert(offsetof(TAIMPVisualData, Waveform[1]) == 5128);
static_assert(offsetof(TAIMPVisualData, Reserved) == 7176);
static_assert(offsetof(TAIMPVisualData, LogarithmicSpectrum) == 7180);

// Flags of GetFlags.
inline constexpr int32_t AIMP_VISUAL_FLAGS_RQD_DATA_WAVE = 1;

// Slots 3 to 10.
struct IAIMPExtensionEmbeddedVisualization : public IUnknown {
    virtual int32_t STDMETHODCALLTYPE GetFlags() = 0;                                         // 3
    virtual HRESULT STDMETHODCALLTYPE GetMaxDisplaySize(int32_t* Width, int32_t* Height) = 0; // 4
    // On success S holds a new string with one reference for the caller.
    virtual HRESULT STDMETHODCALLTYPE GetName(IAIMPString** S) = 0;                  // 5
    virtual HRESULT STDMETHODCALLTYPE Initialize(int32_t Width, int32_t Height) = 0; // 6
    virtual void STDMETHODCALLTYPE Finalize() = 0;                                   // 7
    virtual void STDMETHODCALLTYPE Click(int32_t X, int32_t Y, int32_t Button) = 0;  // 8
    virtual void STDMETHODCALLTYPE Draw(HDC DC, PAIMPVisualData Data) = 0;           // 9
    virtual void STDMETHODCALLTYPE Resize(int32_t NewWidth, int32_t NewHeight) = 0;  // 10

protected:
    ~IAIMPExtensionEmbeddedVisualization() = default;
};
