// Videos with their sound, through FFmpeg's libraries: an MP4 (H.264 and AAC), a WebM (VP9 and
// Opus), or a Matroska file whose FFV1 frames and FLAC sound are lossless.
#pragma once

#include "tools/preview/FrameWriter.h"
#include "tools/preview/Options.h"

#include <memory>

namespace preview {

// The writer of AOptions' video output (OutputKind Mp4, WebM or Mkv). It reads the sound itself,
// from AOptions.Input or the built-in signal: for frames 0 to n - 1 the samples from 0 to
// FrameStart(n). EPreviewError when an encoder is missing, the input is no regular file (it is
// read a second time for the sound), or the target cannot be written.
std::unique_ptr<TFrameWriter> MakeVideoWriter(const TOptions& AOptions);

} // namespace preview
