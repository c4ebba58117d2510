// Videos with their sound, through FFmpeg's libraries: an MP4 (H.264 and AAC), a WebM (VP9 and
// Opus), or a Matroska file whose H.264 frames (RGB, lossless) and FLAC sound are lossless.
#pragma once

#include "tools/lib/output/FrameWriter.h"
#include "tools/preview/Options.h"

#include <memory>

namespace preview {

// FFmpeg's libraries and the hundred-odd libraries they need take about 60 MiB of address space
// and a noticeable time to load, so the writer lives in a library of its own,
// selvanore-preview-video.so beside the program, loaded only for a video output.
inline constexpr const char* VideoLibraryName = "selvanore-preview-video.so";

// The writer of AOptions' video output (OutputKind Mp4, WebM or Mkv). It reads the sound itself,
// from AOptions.Input or the built-in signal: for frames 0 to n - 1 the samples from 0 to
// sound::FrameStart(n). common::EToolError when the video library cannot be loaded, an encoder is missing,
// or the target cannot be written.
std::unique_ptr<output::TFrameWriter> MakeVideoWriter(const TOptions& AOptions);

} // namespace preview
