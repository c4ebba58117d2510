// Videos with their sound: an MP4 (H.264 and AAC), a WebM (VP9 and Opus), or a Matroska file
// whose H.264 frames (RGB, lossless) and FLAC sound are lossless.
#pragma once

#include "tools/lib/output/Formats.h"
#include "tools/lib/output/FrameWriter.h"

#include <memory>

namespace output {

// FFmpeg's libraries and the hundred-odd libraries they need take about 190 MiB of address space
// and a noticeable time to load, so the encoders live in a library of their own,
// selvanore-preview-video.so in the program's library folder, loaded only for a video output.
// Only the plain interface of VideoLibrary.h crosses to it.
inline constexpr const char* VideoLibraryName = "selvanore-preview-video.so";

// The writer of ASetup's video (Kind Mp4, WebM or Mkv, with the sound's rate): frame f comes with
// the sound from FrameStart(f) to FrameStart(f + 1), so that the frames 0 to n - 1 hold the
// samples from 0 to FrameStart(n). common::EToolError when the video library cannot be loaded,
// an encoder is missing, or the target cannot be written.
std::unique_ptr<TFrameWriter> MakeVideoWriter(const TWriterSetup& ASetup);

} // namespace output
