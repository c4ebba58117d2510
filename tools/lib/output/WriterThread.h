// Encoding on a thread of its own, so that decoding and drawing frame n + 1 overlap the
// encoding of frame n.
//
// TWriterThread wraps any TFrameWriter. Write copies the frame and the sound it adds into one of
// a few buffers made at the start and hands it to the thread, which passes the frames to the wrapped writer in
// order; Write waits only when every buffer still waits to be encoded. An error of the wrapped
// writer ends the thread and is thrown again by the next Write or by Finish, on the caller's
// thread, so a failing output still ends the run at once with its own message. Finish waits
// until every frame is encoded and then finishes the wrapped writer on the caller's thread,
// where the commit follows. Destroyed early (an error elsewhere, an interruption), it drops the
// frames not yet encoded and joins the thread: the wrapped writer then leaves nothing behind as
// it always does.
#pragma once

#include "tools/lib/output/Formats.h"
#include "tools/lib/output/FrameWriter.h"

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace output {

class TWriterThread final : public TFrameWriter {
public:
    // AWriter takes frames of AWidth x AHeight pixels, each with at most ALongestSpan samples of
    // sound (0 for a writer without sound, see LongestSoundSpan); ABuffers (at least 1) frames
    // may wait.
    TWriterThread(std::unique_ptr<TFrameWriter> AWriter, std::int32_t AWidth, std::int32_t AHeight,
                  int ABuffers = QueuedFrames, std::int32_t ALongestSpan = 0);
    ~TWriterThread() override;
    TWriterThread(const TWriterThread&) = delete;
    TWriterThread& operator=(const TWriterThread&) = delete;

    // common::EToolError when ASound is longer than the longest span the thread was made for.
    void Write(std::int64_t AFrame, const std::uint32_t* APixels, const TSoundSpan& ASound) override;
    void Finish() override;
    TStagedOutput* Staged() noexcept override { return FWriter->Staged(); }

private:
    struct TBuffer {
        std::int64_t Frame = 0;
        std::vector<std::uint32_t> Pixels;
        std::int64_t SoundStart = 0;
        std::int32_t SoundCount = 0;
        std::vector<float> Left, Right; // the longest span's room, filled to SoundCount
    };

    void Run() noexcept;
    // Stops the thread (after the queued frames when ADrain, at once otherwise) and joins it.
    void Stop(bool ADrain) noexcept;
    // Throws the wrapped writer's error, if it failed. Called with FLock held.
    void RethrowFailure() const;

    std::unique_ptr<TFrameWriter> FWriter;
    std::vector<TBuffer> FBuffers;
    std::mutex FLock;
    std::condition_variable FQueued; // a frame was queued, or the thread is to stop
    std::condition_variable FFreed;  // a buffer was encoded, or the thread ended
    std::size_t FFirst = 0;          // the oldest queued buffer
    std::size_t FCount = 0;          // buffers queued, FFirst and those after it, wrapping around
    bool FDrainAndStop = false;
    bool FAbandon = false;
    bool FEnded = false;         // the thread left its loop
    std::exception_ptr FFailure; // the wrapped writer's error
    std::thread FThread;         // last: started once everything above is made
};

} // namespace output
