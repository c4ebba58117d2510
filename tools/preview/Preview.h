// One run of the preview: the signal is cut into frame blocks, drawn by the module and written.
#pragma once

#include "tools/preview/Options.h"

#include <cstdint>

namespace preview {

// What a run that succeeded has to tell its user besides its outputs.
struct TPreviewNotes {
    // The input's samples within the frames' span that were beyond full scale or not numbers,
    // and were cleaned (see sound::CleanSample); the same whichever outputs are written.
    std::int64_t CleanedSamples = 0;
};

// Plays AOptions' input to the module and writes every frame; common::EToolError on bad input, with
// nothing left behind.
TPreviewNotes RunPreview(const TOptions& AOptions);

// Asks a running preview to stop before its next frame, with common::EInterrupted; safe to call
// from a signal handler.
void RequestStop() noexcept;
// Withdraws a stop request; for tests that run several previews in one process.
void ClearStopRequest() noexcept;

} // namespace preview
