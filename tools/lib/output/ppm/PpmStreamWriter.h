// PPM frames on standard output, for an encoder of the user's own.
#pragma once

#include "tools/lib/output/FrameWriter.h"

#include <cstdint>
#include <memory>

namespace output {

std::unique_ptr<TFrameWriter> MakePpmStreamWriter(std::int32_t AWidth, std::int32_t AHeight);

} // namespace output
