// The names of the numbered PNG frames in a folder: "frame-000000.png" on.
#pragma once

#include <cstdint>

namespace output {

// Writes "frame-" and AFrame in at least six digits and ".png" to AOut (room for 32 bytes) with
// its terminating zero; returns the length. Safe inside a signal handler.
int FormatFrameName(std::int64_t AFrame, char* AOut) noexcept;

} // namespace output
