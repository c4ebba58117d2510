// Where finished frames go, with the sound they cover: an animated GIF, numbered PNGs, one PNG,
// a stream of PPM frames, or a video with its sound track. Formats.h lists them.
#pragma once

#include "tools/lib/output/Commit.h"

#include <cstdint>
#include <memory>

namespace output {

// The sound that one frame adds to the track: Count samples of each channel from sample Start,
// two channels of floats within full scale at the writer's sound rate (TSoundFormat). For frames
// 0 to n - 1 the spans join up, in order, into the samples 0 to FrameStart(n): the span of frame
// f runs from FrameStart(f) to FrameStart(f + 1). Borrowed for the call. Empty (Count 0) for a
// writer without sound.
struct TSoundSpan {
    std::int64_t Start = 0;
    std::int32_t Count = 0;
    const float* Left = nullptr;
    const float* Right = nullptr;
};

class TFrameWriter {
public:
    virtual ~TFrameWriter() = default;

    // Takes frame AFrame: Height rows of Width pixels, top row first, each 0x00RRGGBB (the top
    // byte is ignored), and the sound it adds, which a writer without sound ignores. Frames come
    // in order, from 0. In a run, Write is called on the writer thread (TWriterThread) and
    // everything else on the main thread, never at the same time.
    virtual void Write(std::int64_t AFrame, const std::uint32_t* APixels, const TSoundSpan& ASound) = 0;
    // Completes the output under its temporary name, synced to disk; common::EToolError when it
    // cannot. Destroyed without a commit, a writer leaves nothing behind.
    virtual void Finish() = 0;
    // What CommitTogether moves into place once every output of the run is finished (borrowed);
    // null for standard output, which is written as it goes.
    virtual TStagedOutput* Staged() noexcept = 0;

    // Finish, then the commit of this output alone.
    void Commit()
    {
        Finish();
        CommitTogether({Staged()});
    }
};

} // namespace output
