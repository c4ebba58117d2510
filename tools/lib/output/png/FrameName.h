// The names of the numbered PNG frames in a folder: "frame-000000.png" on.
#pragma once

#include <cstdint>
#include <string_view>

namespace output {

// Writes "frame-" and AFrame in at least six digits and ".png" to AOut (room for 32 bytes) with
// its terminating zero; returns the length. Safe inside a signal handler.
int FormatFrameName(std::int64_t AFrame, char* AOut) noexcept;

// Whether AName is such a name: "frame-" and six or more digits and ".png". A folder that holds
// anything else is no folder of the PNG writer's.
bool IsFrameName(std::string_view AName) noexcept;

} // namespace output
