#include "tools/preview/Preview.h"

#include "tools/preview/Outputs.h"
#include "tools/preview/MemoryBudget.h"
#include "tools/lib/drive/NativeRenderer.h"
#include "tools/lib/common/ToolError.h"
#include "tools/lib/common/Progress.h"
#include "tools/lib/sound/SignalSource.h"
#include "tools/lib/drive/VisualData.h"
#include "tools/lib/drive/WineRenderer.h"
#include "tools/lib/output/WriterThread.h"

#include <unistd.h>

#include <array>
#include <csignal>

namespace preview {

namespace {

volatile std::sig_atomic_t StopRequested = 0;

} // namespace

void RequestStop() noexcept
{
    StopRequested = 1;
}

void ClearStopRequest() noexcept
{
    StopRequested = 0;
}

TPreviewNotes RunPreview(const TOptions& AOptions)
{
    CheckMemoryFor(AOptions);
    RequireSeparateOutputs(AOptions);
    const std::unique_ptr<sound::TSignalSource> signal =
        AOptions.Input.empty() ? sound::MakeDefaultSignal() : sound::OpenSoundFile(AOptions.Input);
    const std::int64_t whole = sound::FramesForLength(signal->Length(), signal->Rate(), AOptions.Fps);
    if (!AOptions.Frames && whole > MaxFrames)
        throw common::EToolError("the input lasts more than " + std::to_string(MaxFrames) +
                                 " frames: choose a part with --frames or --seconds");
    std::int64_t count = AOptions.Frames.value_or(whole);
    if (AOptions.Frame) {
        if (*AOptions.Frame >= count)
            throw common::EToolError("--frame " + std::to_string(*AOptions.Frame) + " is past the last frame, " +
                                     std::to_string(count - 1));
        count = *AOptions.Frame + 1; // the frames before it build up the rings it shows
    }
    if (AOptions.OutputKind == TOutputKind::Stream && isatty(STDOUT_FILENO) == 1)
        throw common::EToolError("will not write video frames to a terminal: pipe them into ffmpeg (see --help)");

    std::unique_ptr<drive::TFrameRenderer> renderer;
    drive::TNativeRenderer* native = nullptr; // the renderer, when it is the native one
    if (AOptions.Wine) {
        renderer = std::make_unique<drive::TWineRenderer>(
            drive::TWineRendererSetup{AOptions.WineHelper, AOptions.Module, AOptions.Width, AOptions.Height});
    } else {
        std::unique_ptr<drive::TNativeRenderer> made =
            drive::MakeNativeRenderer({AOptions.Module, AOptions.Width, AOptions.Height, AOptions.Trace});
        native = made.get();
        renderer = std::move(made);
    }
    // Frame n is encoded on the writer thread while frame n + 1 is decoded and drawn here.
    const std::unique_ptr<output::TFrameWriter> writer =
        std::make_unique<output::TWriterThread>(MakeFrameWriter(AOptions), AOptions.Width, AOptions.Height);

    // The cleaned samples are counted over the span the frames cover, the sound a video holds,
    // so that the count does not depend on the output.
    const std::int64_t span = sound::FrameStart(count, signal->Rate(), AOptions.Fps);
    signal->CountCleanedBefore(span);

    // One record and one pair of blocks serve every frame, as a player reuses its buffers.
    TAIMPVisualData data{};
    std::array<float, sound::BlockSize> left{}, right{};
    {
        common::TProgress progress(count, stderr);
        for (std::int64_t frame = 0; frame < count; ++frame) {
            if (StopRequested)
                throw common::EInterrupted();
            signal->ReadBlock(sound::FrameStart(frame, signal->Rate(), AOptions.Fps), left.data(), right.data());
            drive::FillVisualData(data, left.data(), right.data());
            writer->Write(frame, renderer->Render(frame, data));
            progress.Update(frame + 1);
        }
    }
    // The frames' blocks leave out the samples between them at most rates; reading the block at
    // the span's end decodes the rest of the span (a decoding error there still fails the run
    // before anything appears), and the samples after it are not counted.
    signal->ReadBlock(span, left.data(), right.data());
    // Every output is complete and on disk before any of them appears.
    drive::TTraceWriter* const trace = native ? native->Trace() : nullptr;
    writer->Finish();
    if (trace)
        trace->Finish();
    output::CommitTogether({writer->Staged(), trace ? trace->Staged() : nullptr});
    return {signal->CleanedSamples()};
}

} // namespace preview
