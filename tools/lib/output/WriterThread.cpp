#include "tools/lib/output/WriterThread.h"

#include "tools/lib/common/Interrupt.h"
#include "tools/lib/common/ToolError.h"

#include <algorithm>
#include <system_error>

namespace output {

TWriterThread::TWriterThread(std::unique_ptr<TFrameWriter> AWriter, std::int32_t AWidth, std::int32_t AHeight,
                             int ABuffers, std::int32_t ALongestSpan)
    : FWriter(std::move(AWriter)), FBuffers(static_cast<std::size_t>(std::max(ABuffers, 1)))
{
    const std::size_t pixels = static_cast<std::size_t>(AWidth) * static_cast<std::size_t>(AHeight);
    const std::size_t samples = static_cast<std::size_t>(std::max(ALongestSpan, 0));
    for (TBuffer& buffer : FBuffers) {
        buffer.Pixels.resize(pixels);
        buffer.Left.resize(samples);
        buffer.Right.resize(samples);
    }
    try {
        FThread = std::thread(&TWriterThread::Run, this);
    } catch (const std::system_error& error) {
        throw common::EToolError(std::string("cannot start the thread that writes the output: ") + error.what());
    }
}

TWriterThread::~TWriterThread()
{
    Stop(false);
}

void TWriterThread::Write(std::int64_t AFrame, const std::uint32_t* APixels, const TSoundSpan& ASound)
{
    if (ASound.Count < 0 || static_cast<std::size_t>(ASound.Count) > FBuffers.front().Left.size())
        throw common::EToolError("a frame's sound is longer than the writer thread holds");
    std::size_t slot = 0;
    {
        std::unique_lock lock(FLock);
        FFreed.wait(lock, [this] { return FCount < FBuffers.size() || FEnded; });
        RethrowFailure();
        if (FEnded)
            throw common::EToolError("a frame came after the output was finished");
        slot = (FFirst + FCount) % FBuffers.size();
    }
    // Only this thread queues frames, so the slot after the queued ones stays free while it is
    // filled; the writer thread reads only queued slots.
    TBuffer& buffer = FBuffers[slot];
    buffer.Frame = AFrame;
    std::copy_n(APixels, buffer.Pixels.size(), buffer.Pixels.data());
    buffer.SoundStart = ASound.Start;
    buffer.SoundCount = ASound.Count;
    if (ASound.Count > 0) {
        std::copy_n(ASound.Left, ASound.Count, buffer.Left.data());
        std::copy_n(ASound.Right, ASound.Count, buffer.Right.data());
    }
    {
        const std::lock_guard lock(FLock);
        ++FCount;
    }
    FQueued.notify_one();
}

void TWriterThread::Finish()
{
    Stop(true);
    {
        const std::lock_guard lock(FLock);
        RethrowFailure();
    }
    FWriter->Finish();
}

void TWriterThread::RethrowFailure() const
{
    if (FFailure)
        std::rethrow_exception(FFailure);
}

void TWriterThread::Stop(bool ADrain) noexcept
{
    {
        const std::lock_guard lock(FLock);
        if (ADrain)
            FDrainAndStop = true;
        else
            FAbandon = true;
    }
    FQueued.notify_one();
    if (FThread.joinable())
        FThread.join();
}

void TWriterThread::Run() noexcept
{
    // The ending signals go to the thread that draws: their handler then never runs while this
    // thread is inside a held scope of its own (see Interrupt.h).
    common::BlockEndingSignalsInThisThread();
    for (;;) {
        std::size_t slot = 0;
        {
            std::unique_lock lock(FLock);
            FQueued.wait(lock, [this] { return FAbandon || FCount > 0 || FDrainAndStop; });
            if (FAbandon || FCount == 0)
                break;
            slot = FFirst;
        }
        bool failed = false;
        try {
            const TBuffer& buffer = FBuffers[slot];
            FWriter->Write(buffer.Frame, buffer.Pixels.data(),
                           {buffer.SoundStart, buffer.SoundCount, buffer.Left.data(), buffer.Right.data()});
        } catch (...) {
            const std::lock_guard lock(FLock);
            FFailure = std::current_exception();
            failed = true;
        }
        if (failed)
            break;
        {
            const std::lock_guard lock(FLock);
            FFirst = (FFirst + 1) % FBuffers.size();
            --FCount;
        }
        FFreed.notify_one();
    }
    {
        const std::lock_guard lock(FLock);
        FEnded = true;
    }
    FFreed.notify_all();
}

} // namespace output
