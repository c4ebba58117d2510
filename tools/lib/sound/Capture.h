// What the desktop is playing, captured through the sound server (PulseAudio, or PipeWire's
// PulseAudio service): the default output's monitor or a named source, as two channels of floats.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace sound {

class TCapture {
public:
    // Stops capturing and disconnects from the sound server.
    virtual ~TCapture() = default;

    // Samples per second per channel of what Latest delivers; always positive.
    virtual std::int32_t Rate() const noexcept = 0;

    // Copies the newest sound::BlockSize samples per channel into ALeft and ARight, oldest
    // first, with zeros where nothing has been captured yet, and returns how many samples per
    // channel have been captured since the start. Never blocks for the sound server. Throws
    // common::EToolError with a one-line message when the stream has broken off.
    virtual std::int64_t Latest(float* ALeft, float* ARight) = 0;
};

// Connects to the sound server and starts capturing ASource, or the default output's monitor
// when ASource is empty. Throws common::EToolError with a one-line message when there is
// no sound server or no such source.
std::unique_ptr<TCapture> OpenCapture(const std::string& ASource);

} // namespace sound
