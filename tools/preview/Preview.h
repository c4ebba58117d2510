// One run of the preview: the signal is cut into frame blocks, drawn by the module and written.
#pragma once

#include "tools/preview/Options.h"

namespace preview {

// Plays AOptions' input to the module and writes every frame; EPreviewError on bad input, with
// nothing left behind.
void RunPreview(const TOptions& AOptions);

// Asks a running preview to stop before its next frame, with EPreviewInterrupted; safe to call
// from a signal handler.
void RequestStop() noexcept;
// Withdraws a stop request; for tests that run several previews in one process.
void ClearStopRequest() noexcept;

} // namespace preview
