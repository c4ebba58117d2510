// Encoding on a thread of its own, so that decoding and drawing frame n + 1 overlap the
// encoding of frame n.
//
// TWriterThread wraps any TFrameWriter. Write copies the frame into one of a few buffers made
// at the start and hands it to the thread, which passes the frames to the wrapped writer in
// order; Write waits only when every buffer still waits to be encoded. An error of the wrapped
// writer ends the thread and is thrown again by the next Write or by Finish, on the caller's
// thread, so a failing output still ends the run at once with its own message. Finish waits
// until every frame is encoded and then finishes the wrapped writer on the caller's thread,
// where the commit follows. Destroyed early (an error elsewhere, an interruption), it drops the
// frames not yet encoded and joins the thread: the wrapped writer then leaves nothing behind as
// it always does.
#pragma once

#include "tools/lib/output/FrameWriter.h"

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace output {

// Frames that may wait between drawing and encoding: enough to even out frames that take
// longer than others on either side, few enough to keep the memory small.
inline constexpr int QueuedFrames = 2;

class TWriterThread final : public TFrameWriter {
public:
    // AWriter takes frames of AWidth x AHeight pixels; ABuffers (at least 1) frames may wait.
    TWriterThread(std::unique_ptr<TFrameWriter> AWriter, std::int32_t AWidth, std::int32_t AHeight,
                  int ABuffers = QueuedFrames);
    ~TWriterThread() override;
    TWriterThread(const TWriterThread&) = delete;
    TWriterThread& operator=(const TWriterThread&) = delete;

    void Write(std::int64_t AFrame, const std::uint32_t* APixels) override;
    void Finish() override;
    TStagedOutput* Staged() noexcept override { return FWriter->Staged(); }

private:
    struct TBuffer {
        std::int64_t Frame = 0;
        std::vector<std::uint32_t> Pixels;
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
