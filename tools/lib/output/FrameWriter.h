// Where finished frames go: an animated GIF, numbered PNGs, one PNG, or a stream of PPM frames.
#pragma once

#include "tools/lib/output/AtomicOutput.h"

#include <cstdint>
#include <memory>

namespace output {

class TFrameWriter {
public:
    virtual ~TFrameWriter() = default;

    // Takes frame AFrame: Height rows of Width pixels, top row first, each 0x00RRGGBB (the top
    // byte is ignored). Frames come in order, from 0. In a run, Write is called on the writer
    // thread (TWriterThread) and everything else on the main thread, never at the same time.
    virtual void Write(std::int64_t AFrame, const std::uint32_t* APixels) = 0;
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

std::unique_ptr<TFrameWriter> MakeGifWriter(const std::string& APath, std::int32_t AWidth, std::int32_t AHeight,
                                            std::int32_t AFps);
std::unique_ptr<TFrameWriter> MakePngFolderWriter(const std::string& APath, std::int32_t AWidth, std::int32_t AHeight);
std::unique_ptr<TFrameWriter> MakePngFrameWriter(const std::string& APath, std::int32_t AWidth, std::int32_t AHeight,
                                                 std::int64_t AFrame);
std::unique_ptr<TFrameWriter> MakePpmStreamWriter(std::int32_t AWidth, std::int32_t AHeight);

// The GIF delay of frame AFrame in hundredths of a second: the rounded times of consecutive
// frames differ by it, so the animation keeps to AFps over its whole length.
std::int32_t GifDelayOf(std::int64_t AFrame, std::int32_t AFps) noexcept;

} // namespace output
