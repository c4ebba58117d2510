// Fills the record a player hands to Draw from one frame's block of samples.
#pragma once

#include "host/apiVisuals.h"

namespace drive {

// Writes the block into AData's waveform (row 0 left, row 1 right) and each channel's peak, the
// largest sample magnitude of its row, into Peaks. The spectra and Reserved are left as they
// are: the caller zeroes the record once and reuses it for every frame.
void FillVisualData(TAIMPVisualData& AData, const float* ALeft, const float* ARight) noexcept;

} // namespace drive
