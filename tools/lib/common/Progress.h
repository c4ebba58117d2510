// The progress bar on standard error: frames done of the total, frames per second and the time
// left. Shown only when standard error is a terminal; the wall clock it reads affects nothing
// but this display.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>

namespace common {

class TProgress {
public:
    // Shows progress on AStream when it is a terminal; otherwise stays quiet.
    TProgress(std::int64_t ATotal, std::FILE* AStream);
    // Ends the bar's line.
    ~TProgress();
    TProgress(const TProgress&) = delete;
    TProgress& operator=(const TProgress&) = delete;

    // ADone frames are finished; redraws at most ten times a second, and always at the end.
    void Update(std::int64_t ADone);

private:
    using TClock = std::chrono::steady_clock;

    std::int64_t FTotal;
    std::FILE* FStream;
    bool FShown;
    TClock::time_point FStart;
    TClock::time_point FLastDrawn;
};

} // namespace common
