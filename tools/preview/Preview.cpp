// The preview's pipeline, built by RunPreview below; every part talks only to the next one.
//
//   source ──► frame sound ──► module (renderer) ──► writer thread ──► writer ──► commit
//                   │                                      ▲
//                   └──────── the sound each frame adds ───┘
//
// - Source (sound::TSignalSource): the input file, pipe or FIFO decoded by libsndfile, or the
//   built-in signal. It is opened once and read once, from the start, in increasing order;
//   every sample it decodes is cleaned (NaN to 0, clipped to full scale) and counted within the
//   frames' span, whatever the output.
// - Frame sound (sound::TFrameSound): for frame f, the 512 samples from FrameStart(f) that the
//   module is shown, and for an output with a sound track the span the frame adds,
//   FrameStart(f) to FrameStart(f + 1), read ahead of the next frame's block. The spans of
//   frames 0 to n - 1 join up into the samples 0 to FrameStart(n): the sound a video holds.
// - Renderer (drive::TFrameRenderer): the module loaded natively (with its trace) or the real
//   DLL under Wine through its helper; one record and one pair of blocks serve every frame.
// - Writer thread (output::TWriterThread): copies the frame and its sound into one of
//   output::QueuedFrames buffers made at the start and encodes on a thread of its own, so that
//   frame n is encoded while frame n + 1 is decoded and drawn; its writer's error ends the run
//   from the next frame.
// - Writer (output::TFrameWriter, made by output::MakeFrameWriter from the table of formats):
//   opened with what it writes (output::TWriterSetup: path, kind, size, rate, the sound's
//   rate); GIF, PNG, PPM or a video, whose encoders live in the video library.
// - Commit (output::CommitTogether): every output, the trace included, is finished and synced
//   under a temporary name, and all appear together at the end, or none does.
#include "tools/preview/Preview.h"

#include "tools/lib/common/Progress.h"
#include "tools/lib/common/ToolError.h"
#include "tools/lib/drive/NativeRenderer.h"
#include "tools/lib/drive/VisualData.h"
#include "tools/lib/drive/WineRenderer.h"
#include "tools/lib/output/Formats.h"
#include "tools/lib/output/WriterThread.h"
#include "tools/lib/sound/FrameSound.h"
#include "tools/lib/sound/SignalSource.h"
#include "tools/preview/MemoryBudget.h"
#include "tools/preview/Outputs.h"

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
    CheckMemoryFor({AOptions.Width, AOptions.Height, AOptions.OutputKind, AOptions.Wine}, AOptions.SizeText);
    RequireSeparateOutputs(RunFilesOf(AOptions), {"--output", AOptions.Output}, AOptions.OutputKind);
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
    const output::TWriterSetup setup = WriterSetupOf(AOptions, signal->Rate());
    const bool withSound = setup.Sound.Rate > 0;
    const std::unique_ptr<output::TFrameWriter> writer = std::make_unique<output::TWriterThread>(
        output::MakeFrameWriter(setup), setup.Width, setup.Height, output::QueuedFrames,
        withSound ? output::LongestSoundSpan(setup.Sound.Rate, setup.Fps) : 0);

    // The cleaned samples are counted over the span the frames cover, the sound a video holds,
    // so that the count does not depend on the output.
    const std::int64_t span = sound::FrameStart(count, signal->Rate(), AOptions.Fps);
    signal->CountCleanedBefore(span);

    // One record and one pair of blocks serve every frame, as a player reuses its buffers.
    TAIMPVisualData data{};
    sound::TFrameSound frames(*signal, AOptions.Fps, withSound ? sound::TSpans::Kept : sound::TSpans::None);
    {
        common::TProgress progress(count, stderr);
        for (std::int64_t frame = 0; frame < count; ++frame) {
            if (StopRequested)
                throw common::EInterrupted();
            frames.Read(frame);
            drive::FillVisualData(data, frames.Left(), frames.Right());
            writer->Write(frame, renderer->Render(frame, data),
                          {frames.SpanStart(), frames.SpanCount(), frames.SpanLeft(), frames.SpanRight()});
            progress.Update(frame + 1);
        }
    }
    // The frames' blocks leave out the samples between them at most rates; reading the block at
    // the span's end decodes the rest of the span (a decoding error there still fails the run
    // before anything appears), and the samples after it are not counted.
    std::array<float, sound::BlockSize> left{}, right{};
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
