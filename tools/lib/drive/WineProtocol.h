// The road of frames between the preview and its helper under Wine, over the helper's standard
// input and output; both ends are x86-64 and little-endian.
//
//   helper -> preview, once:   TWineHello, then MessageLength bytes of message (empty when ready)
//   preview -> helper, a call:  one TWineCommand, then for Draw one TAIMPVisualData record
//                               (8716 bytes)
//   helper -> preview, a Draw:  Width x Height pixels of 4 bytes, top row first, 0x00RRGGBB, at
//                               the extents of the last Resize (or of the start)
//   Resize and Click are answered with nothing
//   the end:                    the preview closes the helper's input; the helper finalizes the
//                               plug-in and exits with 0
#pragma once

#include <cstdint>

namespace drive {

struct TWineHello {
    char Magic[4];              // "SLVW"
    std::int32_t Status;        // 0: ready to draw; otherwise the module could not be started
    std::int32_t MessageLength; // bytes of the one-line message that follows
};
static_assert(sizeof(TWineHello) == 12);

inline constexpr char WineMagic[4] = {'S', 'L', 'V', 'W'};

enum class TWineCall : std::int32_t {
    Draw = 0,   // a record follows
    Resize = 1, // A, B: the new width and height, each at least 1
    Click = 2,  // A, B: the position; C: the button
};

struct TWineCommand {
    TWineCall Call;
    std::int32_t A;
    std::int32_t B;
    std::int32_t C;
};
static_assert(sizeof(TWineCommand) == 16);

} // namespace drive
