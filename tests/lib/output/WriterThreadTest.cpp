// The writer thread between drawing and encoding: frames reach the wrapped writer whole and in
// order, its errors come back to the caller, and the thread ends on every path.
#include "tools/lib/common/ToolError.h"
#include "tools/lib/output/WriterThread.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr std::int32_t Width = 7, Height = 5;
constexpr std::size_t Pixels = Width * Height;

// Frame f's pixel i: distinct in every frame and every place.
std::uint32_t PixelOf(std::int64_t AFrame, std::size_t AIndex)
{
    return static_cast<std::uint32_t>(AFrame * 1000 + static_cast<std::int64_t>(AIndex));
}

// What a fake writer saw, kept by the test beyond the writer's life.
struct TLog {
    std::vector<std::int64_t> Frames;     // in the order Write got them
    std::vector<std::string> Damaged;     // frames whose pixels were not the ones sent
    std::vector<std::thread::id> Threads; // the thread of each Write
    std::thread::id FinishThread;
    bool Finished = false;
    bool Destroyed = false;
};

class TFakeWriter final : public output::TFrameWriter {
public:
    TFakeWriter(TLog& ALog, std::optional<std::int64_t> AFailAt, bool AFailFinish, std::chrono::milliseconds ADelay)
        : FLog(ALog), FFailAt(AFailAt), FFailFinish(AFailFinish), FDelay(ADelay)
    {}
    ~TFakeWriter() override { FLog.Destroyed = true; }

    void Write(std::int64_t AFrame, const std::uint32_t* APixels, const output::TSoundSpan&) override
    {
        std::this_thread::sleep_for(FDelay);
        if (FFailAt && AFrame == *FFailAt)
            throw common::EToolError("cannot write output 'fake': frame " + std::to_string(AFrame));
        FLog.Frames.push_back(AFrame);
        FLog.Threads.push_back(std::this_thread::get_id());
        for (std::size_t i = 0; i < Pixels; ++i)
            if (APixels[i] != PixelOf(AFrame, i)) {
                FLog.Damaged.push_back(std::to_string(AFrame) + " at " + std::to_string(i));
                break;
            }
    }

    void Finish() override
    {
        FLog.FinishThread = std::this_thread::get_id();
        if (FFailFinish)
            throw common::EToolError("cannot write output 'fake': at the end");
        FLog.Finished = true;
    }

    output::TStagedOutput* Staged() noexcept override { return nullptr; }

private:
    TLog& FLog;
    std::optional<std::int64_t> FFailAt;
    bool FFailFinish;
    std::chrono::milliseconds FDelay;
};

// Sends AFrames frames through a writer thread of ABuffers buffers (each frame from a buffer
// that is overwritten right after, as a renderer reuses its own), then finishes; the error
// message that came back, empty when none.
std::string SendFrames(TLog& ALog, int ABuffers, std::int64_t AFrames, std::optional<std::int64_t> AFailAt,
                       bool AFailFinish, std::chrono::milliseconds ADelay)
{
    output::TWriterThread writer(std::make_unique<TFakeWriter>(ALog, AFailAt, AFailFinish, ADelay), Width, Height,
                                 ABuffers);
    std::vector<std::uint32_t> drawn(Pixels);
    try {
        for (std::int64_t frame = 0; frame < AFrames; ++frame) {
            for (std::size_t i = 0; i < Pixels; ++i)
                drawn[i] = PixelOf(frame, i);
            writer.Write(frame, drawn.data(), {});
            std::fill(drawn.begin(), drawn.end(), 0xDEADu);
        }
        writer.Finish();
    } catch (const common::EToolError& error) {
        return error.what();
    }
    return {};
}

std::vector<std::int64_t> Count(std::int64_t AFrom, std::int64_t ATo)
{
    std::vector<std::int64_t> frames;
    for (std::int64_t f = AFrom; f < ATo; ++f)
        frames.push_back(f);
    return frames;
}

TEST(PreviewWriterThread, FramesArriveWholeAndInOrderOnAnotherThreadThenFinishHere)
{
    for (const int buffers : {1, 2, 3}) {
        for (const auto delay : {std::chrono::milliseconds(0), std::chrono::milliseconds(1)}) {
            TLog log;
            EXPECT_EQ(SendFrames(log, buffers, 40, std::nullopt, false, delay), "");
            EXPECT_EQ(log.Frames, Count(0, 40)) << buffers;
            EXPECT_TRUE(log.Damaged.empty()) << log.Damaged.front();
            EXPECT_TRUE(log.Finished);
            EXPECT_TRUE(log.Destroyed);
            EXPECT_EQ(log.FinishThread, std::this_thread::get_id());
            for (const std::thread::id id : log.Threads)
                EXPECT_NE(id, std::this_thread::get_id());
        }
    }
}

struct TFailureCase {
    const char* Name;
    std::optional<std::int64_t> FailAt; // the frame whose Write throws
    bool FailFinish;
    int Buffers;
    int DelayMs;
    const char* Message;
};

// The error reaches the caller with its own message, whether the thread failed before the next
// Write, while the caller waited for a buffer, or at the very end; nothing after the failed
// frame is written, the wrapped writer is not finished, and the thread is joined (the test ends).
TEST(PreviewWriterThread, AFailedWriteEndsTheRunWithItsError)
{
    const TFailureCase cases[] = {
        {"FirstFrame", 0, false, 2, 0, "cannot write output 'fake': frame 0"},
        {"MiddleFrameFastWriter", 5, false, 2, 0, "cannot write output 'fake': frame 5"},
        {"MiddleFrameSlowWriterOneBuffer", 5, false, 1, 2, "cannot write output 'fake': frame 5"},
        {"MiddleFrameSlowWriterThreeBuffers", 5, false, 3, 2, "cannot write output 'fake': frame 5"},
        {"LastFrame", 19, false, 3, 0, "cannot write output 'fake': frame 19"},
        {"Finish", std::nullopt, true, 2, 0, "cannot write output 'fake': at the end"},
    };
    for (const TFailureCase& c : cases) {
        TLog log;
        const auto delay = std::chrono::milliseconds(c.DelayMs);
        EXPECT_EQ(SendFrames(log, c.Buffers, 20, c.FailAt, c.FailFinish, delay), c.Message) << c.Name;
        EXPECT_EQ(log.Frames, Count(0, c.FailAt.value_or(20))) << c.Name;
        EXPECT_FALSE(log.Finished) << c.Name;
        EXPECT_TRUE(log.Destroyed) << c.Name;
    }
}

// Given up early (another error, an interruption), the writer drops what waits, never finishes
// the wrapped writer, and its destructor returns even while the thread is busy.
TEST(PreviewWriterThread, DestroyedWithoutFinishDropsTheQueueAndJoins)
{
    TLog log;
    {
        output::TWriterThread writer(
            std::make_unique<TFakeWriter>(log, std::nullopt, false, std::chrono::milliseconds(100)), Width, Height, 3);
        std::vector<std::uint32_t> drawn(Pixels);
        for (std::int64_t frame = 0; frame < 3; ++frame) {
            for (std::size_t i = 0; i < Pixels; ++i)
                drawn[i] = PixelOf(frame, i);
            writer.Write(frame, drawn.data(), {});
        }
    }
    EXPECT_TRUE(log.Destroyed);
    EXPECT_FALSE(log.Finished);
    EXPECT_LT(log.Frames.size(), 3u); // the frames after the one in progress were dropped
    EXPECT_TRUE(log.Damaged.empty());
}

} // namespace
