// The parsing of the programs' command lines: numbers and sizes, each refused with a message that
// quotes what was typed, and the help written whole.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>

namespace common {

// Bounds past which a request is taken for a mistake rather than a wish.
inline constexpr std::int32_t MaxExtent = 8192; // pixels a side
inline constexpr std::int32_t MaxFps = 1000;

// Writes AHelp to AOut whole; EToolError "cannot write the help: ..." when it does not arrive.
void WriteHelp(std::ostream& AOut, const std::string& AHelp);

// A whole decimal number in AMin..AMax, with an optional sign; otherwise EToolError saying
// "AOption must be a whole number ARange" and quoting AText as typed. Leading zeros are
// decimal too: 010 is ten.
std::int64_t ParseWhole(const std::string& AOption, const std::string& AText, std::int64_t AMin, std::int64_t AMax,
                        const std::string& ARange);
// A decimal or scientific number, "2.5" or "1e-3"; otherwise EToolError "AOption ARule"
// quoting AText.
double ParseReal(const std::string& AOption, const std::string& AText, const std::string& ARule);
// "640x480" into its two extents; EToolError unless both are whole numbers in 1..MaxExtent.
void ParseSize(const std::string& AText, std::int32_t& AWidth, std::int32_t& AHeight);

} // namespace common
