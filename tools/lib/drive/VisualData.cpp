#include "tools/lib/drive/VisualData.h"

#include <algorithm>
#include <cmath>

namespace drive {

namespace {

float PeakOf(const float* ASamples) noexcept
{
    float peak = 0;
    for (int i = 0; i < AIMP_VISUAL_WAVEFORM_SIZE; ++i)
        peak = std::max(peak, std::fabs(ASamples[i]));
    return peak;
}

} // namespace

void FillVisualData(TAIMPVisualData& AData, const float* ALeft, const float* ARight) noexcept
{
    std::copy(ALeft, ALeft + AIMP_VISUAL_WAVEFORM_SIZE, AData.Waveform[0]);
    std::copy(ARight, ARight + AIMP_VISUAL_WAVEFORM_SIZE, AData.Waveform[1]);
    AData.Peaks[0] = PeakOf(ALeft);
    AData.Peaks[1] = PeakOf(ARight);
}

} // namespace drive
