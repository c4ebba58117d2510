// An animated GIF, looping, each frame the rectangle that changed since the one before.
#pragma once

#include "tools/lib/output/FrameWriter.h"

#include <cstdint>
#include <memory>
#include <string>

namespace output {

std::unique_ptr<TFrameWriter> MakeGifWriter(const std::string& APath, std::int32_t AWidth, std::int32_t AHeight,
                                            std::int32_t AFps);

// The GIF delay of frame AFrame in hundredths of a second: the rounded times of consecutive
// frames differ by it, so the animation keeps to AFps over its whole length.
std::int32_t GifDelayOf(std::int64_t AFrame, std::int32_t AFps) noexcept;

} // namespace output
