// PNG frames: a folder of numbered frames that replaces the one there, or one chosen frame.
#pragma once

#include "tools/lib/output/FrameWriter.h"

#include <cstdint>
#include <memory>
#include <string>

namespace output {

std::unique_ptr<TFrameWriter> MakePngFolderWriter(const std::string& APath, std::int32_t AWidth, std::int32_t AHeight);
std::unique_ptr<TFrameWriter> MakePngFrameWriter(const std::string& APath, std::int32_t AWidth, std::int32_t AHeight,
                                                 std::int64_t AFrame);

} // namespace output
