#include "tools/preview/VideoWriter.h"

#include "tools/lib/output/AtomicOutput.h"
#include "tools/lib/common/ToolError.h"
#include "tools/lib/sound/SignalSource.h"

#include "rtl/Math.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace preview {

namespace {

// Owners of FFmpeg's objects, each freed by the library's own function.
struct TCodecContextFree {
    void operator()(AVCodecContext* AContext) const noexcept { avcodec_free_context(&AContext); }
};
struct TFrameFree {
    void operator()(AVFrame* AFrame) const noexcept { av_frame_free(&AFrame); }
};
struct TPacketFree {
    void operator()(AVPacket* APacket) const noexcept { av_packet_free(&APacket); }
};
struct TScaleFree {
    void operator()(SwsContext* AContext) const noexcept { sws_freeContext(AContext); }
};
struct TResampleFree {
    void operator()(SwrContext* AContext) const noexcept { swr_free(&AContext); }
};
struct TFifoFree {
    void operator()(AVAudioFifo* AFifo) const noexcept { av_audio_fifo_free(AFifo); }
};
// The muxer's context; its I/O context is ours and has an owner of its own.
struct TFormatFree {
    void operator()(AVFormatContext* AContext) const noexcept { avformat_free_context(AContext); }
};
// The I/O context and its buffer, which the library may have replaced by one of its own.
struct TIoFree {
    void operator()(AVIOContext* AContext) const noexcept
    {
        av_freep(&AContext->buffer);
        avio_context_free(&AContext);
    }
};
// Options left over after an open: those the codec or muxer did not know.
class TDictionary {
public:
    TDictionary() = default;
    ~TDictionary() { av_dict_free(&FDictionary); }
    TDictionary(const TDictionary&) = delete;
    TDictionary& operator=(const TDictionary&) = delete;

    void Set(const char* AKey, const char* AValue) { av_dict_set(&FDictionary, AKey, AValue, 0); }
    AVDictionary** Address() noexcept { return &FDictionary; }

private:
    AVDictionary* FDictionary = nullptr;
};

using TCodecContext = std::unique_ptr<AVCodecContext, TCodecContextFree>;
using TFrame = std::unique_ptr<AVFrame, TFrameFree>;
using TPacket = std::unique_ptr<AVPacket, TPacketFree>;

// FFmpeg reports its errors through its log, which would print them on standard error beside
// the preview's own one-line message. They are kept instead: the last one explains a failure.
std::mutex LogLock;
std::string LastLogLine; // guarded by LogLock

void KeepLastError(void* AObject, int ALevel, const char* AFormat, std::va_list AArgs)
{
    if (ALevel > AV_LOG_ERROR)
        return;
    std::array<char, 512> line{};
    int printPrefix = 0; // no "[context @ address]" prefix
    av_log_format_line2(AObject, ALevel, AFormat, AArgs, line.data(), static_cast<int>(line.size()), &printPrefix);
    std::string text(line.data());
    std::replace(text.begin(), text.end(), '\n', ' ');
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    if (text.empty())
        return;
    const std::lock_guard<std::mutex> lock(LogLock);
    LastLogLine = std::move(text);
}

std::string TakeLastLogLine()
{
    const std::lock_guard<std::mutex> lock(LogLock);
    std::string line = std::move(LastLogLine);
    LastLogLine.clear();
    return line;
}

std::string ErrorText(int AError)
{
    std::array<char, AV_ERROR_MAX_STRING_SIZE> text{};
    av_strerror(AError, text.data(), text.size());
    return text.data();
}

// What each container holds.
struct TVideoFormat {
    const char* Muxer;
    const char* VideoEncoder;
    const char* AudioEncoder;
    AVPixelFormat PixelFormat;
    AVSampleFormat SampleFormat;
    std::int64_t AudioBitRate; // bits per second; 0 for the lossless FLAC
};

// The frames' own pixels, 0x00RRGGBB in memory order B, G, R, 0 on a little-endian machine.
constexpr AVPixelFormat SourcePixels = AV_PIX_FMT_0RGB32;

TVideoFormat FormatOf(TOutputKind AKind)
{
    switch (AKind) {
    case TOutputKind::Mp4: return {"mp4", "libx264", "aac", AV_PIX_FMT_YUV420P, AV_SAMPLE_FMT_FLTP, 192000};
    case TOutputKind::WebM: return {"webm", "libvpx-vp9", "libopus", AV_PIX_FMT_YUV420P, AV_SAMPLE_FMT_FLT, 160000};
    case TOutputKind::Mkv:
        // Lossless H.264 of the frames' own RGB pixels, so that they decode exactly: at
        // 1920x1080 it is several times as fast as FFV1 and its files are smaller. FLAC keeps 24
        // bits of each sample, all of a 16- or 24-bit input's.
        return {"matroska", "libx264rgb", "flac", SourcePixels, AV_SAMPLE_FMT_S32, 0};
    case TOutputKind::Gif:
    case TOutputKind::PngFolder:
    case TOutputKind::PngFrame:
    case TOutputKind::Stream: break;
    }
    throw common::EToolError("not a video output");
}

// The input's own rate when the encoder takes it, otherwise the least higher rate it takes, or
// its highest.
int SampleRateFor(const AVCodec* ACodec, int ARate)
{
    if (!ACodec->supported_samplerates)
        return ARate;
    int above = 0, highest = 0;
    for (const int* rate = ACodec->supported_samplerates; *rate != 0; ++rate) {
        if (*rate == ARate)
            return ARate;
        if (*rate > ARate && (above == 0 || *rate < above))
            above = *rate;
        highest = std::max(highest, *rate);
    }
    return above != 0 ? above : highest;
}

// A sample in -1..1 as FLAC's 24 bits hold it, in the top bits of a 32-bit sample: x times 2^23,
// rounded half to even and kept within -2^23..2^23 - 1, so that +1.0 takes the largest value
// instead of wrapping round to the smallest. A 16- or 24-bit input's samples come out exactly.
std::int32_t ToFlacSample(float ASample) noexcept
{
    const double scaled = std::clamp(static_cast<double>(ASample) * 8388608.0, -8388608.0, 8388607.0);
    return rtl::RoundToInt32(scaled) * 256;
}

class TVideoWriter final : public output::TFrameWriter {
public:
    TVideoWriter(const TOptions& AOptions, const TVideoFormat& AFormat)
        : FFps(AOptions.Fps), FSound(OpenSound(AOptions)), FFile(AOptions.Output)
    {
        av_log_set_callback(&KeepLastError);
        TakeLastLogLine();
        const AVCodec* video = FindEncoder(AFormat.VideoEncoder);
        const AVCodec* audio = FindEncoder(AFormat.AudioEncoder);

        AVFormatContext* muxer = nullptr;
        Check(avformat_alloc_output_context2(&muxer, nullptr, AFormat.Muxer, nullptr), "cannot set up the container");
        FMuxer.reset(muxer);
        // No version strings, creation times or random identifiers: the same run gives the
        // same bytes.
        FMuxer->flags |= AVFMT_FLAG_BITEXACT;
        OpenIo();

        OpenVideo(video, AFormat, AOptions.Width, AOptions.Height);
        OpenAudio(audio, AFormat);

        TDictionary options;
        Check(avformat_write_header(FMuxer.get(), options.Address()), "cannot write the header");
    }

    TVideoWriter(const TVideoWriter&) = delete;
    TVideoWriter& operator=(const TVideoWriter&) = delete;

    void Write(std::int64_t AFrame, const std::uint32_t* APixels) override
    {
        Check(av_frame_make_writable(FPicture.get()), "cannot encode the video");
        const std::int32_t width = FVideo->width;
        const int sourceStride = width * 4;
        if (FScale) {
            const auto* source = reinterpret_cast<const std::uint8_t*>(APixels);
            sws_scale(FScale.get(), &source, &sourceStride, 0, FVideo->height, FPicture->data, FPicture->linesize);
        } else {
            for (std::int32_t y = 0; y < FVideo->height; ++y)
                std::memcpy(FPicture->data[0] + static_cast<std::ptrdiff_t>(y) * FPicture->linesize[0],
                            APixels + static_cast<std::ptrdiff_t>(y) * width, static_cast<std::size_t>(sourceStride));
        }
        FPicture->pts = AFrame;
        Encode(FVideo.get(), FPicture.get(), FVideoStream);
        FFrames = AFrame + 1;
        // The sound up to the start of the next frame, so that both tracks grow together.
        FeedSound(sound::FrameStart(FFrames, FSound->Rate(), FFps));
    }

    void Finish() override
    {
        if (!FFinished) {
            FeedSound(sound::FrameStart(FFrames, FSound->Rate(), FFps));
            // What the resampler holds back for its filter.
            for (;;) {
                const int flushed = swr_convert(FResample.get(), FResampled.data(), FResampledCapacity, nullptr, 0);
                Check(flushed, "cannot resample the sound");
                if (flushed == 0)
                    break;
                StoreResampled(flushed);
            }
            EncodeSound(true);
            Encode(FAudio.get(), nullptr, FAudioStream);
            Encode(FVideo.get(), nullptr, FVideoStream);
            Check(av_write_trailer(FMuxer.get()), "cannot complete the file");
            avio_flush(FIo.get());
            if (FWriteError != 0 || FIo->error < 0)
                Check(FIo->error < 0 ? FIo->error : AVERROR(EIO), "cannot complete the file");
            FFinished = true;
        }
        FFile.Finish();
    }

    output::TStagedOutput* Staged() noexcept override { return &FFile; }

private:
    static std::unique_ptr<sound::TSignalSource> OpenSound(const TOptions& AOptions)
    {
        // The frames' reader has the input open already; ParseOptions has made sure that it is a
        // file that can be read twice.
        return AOptions.Input.empty() ? sound::MakeDefaultSignal() : sound::OpenSoundFile(AOptions.Input);
    }

    const AVCodec* FindEncoder(const char* AName)
    {
        const AVCodec* codec = avcodec_find_encoder_by_name(AName);
        if (!codec)
            throw common::EToolError("cannot write output " + common::Quoted(FFile.Target()) + ": this FFmpeg has no " +
                                     AName + " encoder");
        return codec;
    }

    // The muxer writes through our temporary file, so that it stays the atomic output's own.
    void OpenIo()
    {
        constexpr int BufferSize = 1 << 16;
        auto* buffer = static_cast<unsigned char*>(av_malloc(BufferSize));
        if (!buffer)
            throw common::EToolError("cannot write output " + common::Quoted(FFile.Target()) + ": out of memory");
        struct stat status {};
        const bool seekable = fstat(fileno(FFile.Stream()), &status) == 0 && S_ISREG(status.st_mode);
        AVIOContext* io =
            avio_alloc_context(buffer, BufferSize, 1, this, nullptr, &WritePacket, seekable ? &Seek : nullptr);
        if (!io) {
            av_free(buffer);
            throw common::EToolError("cannot write output " + common::Quoted(FFile.Target()) + ": out of memory");
        }
        FIo.reset(io);
        FMuxer->pb = io;
    }

    void OpenVideo(const AVCodec* ACodec, const TVideoFormat& AFormat, std::int32_t AWidth, std::int32_t AHeight)
    {
        FVideo.reset(avcodec_alloc_context3(ACodec));
        if (!FVideo)
            Check(AVERROR(ENOMEM), "cannot set up the video encoder");
        FVideo->width = AWidth;
        FVideo->height = AHeight;
        FVideo->pix_fmt = AFormat.PixelFormat;
        FVideo->time_base = AVRational{1, FFps};
        FVideo->framerate = AVRational{FFps, 1};
        FVideo->sample_aspect_ratio = AVRational{1, 1};
        // One thread and bit-exact settings: the same frames always give the same bytes.
        FVideo->thread_count = 1;
        FVideo->flags |= AV_CODEC_FLAG_BITEXACT;
        if (FMuxer->oformat->flags & AVFMT_GLOBALHEADER)
            FVideo->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        TDictionary options;
        if (AFormat.PixelFormat == AV_PIX_FMT_YUV420P) {
            // The frames are full-range RGB; the video is limited-range BT.709 YUV, as players
            // expect of HD video, and says so.
            FVideo->colorspace = AVCOL_SPC_BT709;
            FVideo->color_primaries = AVCOL_PRI_BT709;
            FVideo->color_trc = AVCOL_TRC_BT709;
            FVideo->color_range = AVCOL_RANGE_MPEG;
        }
        if (std::strcmp(ACodec->name, "libx264") == 0 || std::strcmp(ACodec->name, "libx264rgb") == 0) {
            // Fast enough for real time at 1920x1080; the rings' sharp edges on black keep well at
            // this quality. The lossless video quantizes nothing (QP 0).
            options.Set("preset", "veryfast");
            options.Set(std::strcmp(ACodec->name, "libx264") == 0 ? "crf" : "qp",
                        std::strcmp(ACodec->name, "libx264") == 0 ? "20" : "0");
            // x264 keeps its output repeatable across frame threads (unless told otherwise), so a
            // fixed count of two, whatever the machine has, gives the same bytes everywhere.
            FVideo->thread_count = 2;
        } else if (std::strcmp(ACodec->name, "libvpx-vp9") == 0) {
            // Constant quality at the real-time speed; row threads would tie the bytes to the
            // thread count.
            FVideo->bit_rate = 0;
            options.Set("deadline", "realtime");
            options.Set("cpu-used", "8");
            options.Set("crf", "32");
            options.Set("row-mt", "0");
        }
        Check(avcodec_open2(FVideo.get(), ACodec, options.Address()), "cannot open the video encoder");
        FVideoStream = NewStream(FVideo.get());
        FVideoStream->avg_frame_rate = FVideo->framerate;
        FVideoStream->r_frame_rate = FVideo->framerate;

        FPicture.reset(av_frame_alloc());
        if (!FPicture)
            Check(AVERROR(ENOMEM), "cannot set up the video encoder");
        FPicture->format = FVideo->pix_fmt;
        FPicture->width = AWidth;
        FPicture->height = AHeight;
        Check(av_frame_get_buffer(FPicture.get(), 0), "cannot set up the video encoder");
        if (AFormat.PixelFormat != SourcePixels) {
            FScale.reset(sws_getContext(AWidth, AHeight, SourcePixels, AWidth, AHeight, AFormat.PixelFormat,
                                        SWS_BILINEAR | SWS_ACCURATE_RND | SWS_BITEXACT, nullptr, nullptr, nullptr));
            if (!FScale)
                Check(AVERROR(ENOMEM), "cannot set up the colour conversion");
            sws_setColorspaceDetails(FScale.get(), sws_getCoefficients(SWS_CS_DEFAULT), 1,
                                     sws_getCoefficients(SWS_CS_ITU709), 0, 0, 1 << 16, 1 << 16);
        }
    }

    void OpenAudio(const AVCodec* ACodec, const TVideoFormat& AFormat)
    {
        FAudio.reset(avcodec_alloc_context3(ACodec));
        if (!FAudio)
            Check(AVERROR(ENOMEM), "cannot set up the sound encoder");
        const int rate = SampleRateFor(ACodec, FSound->Rate());
        FWholeSamples = AFormat.SampleFormat == AV_SAMPLE_FMT_S32;
        FAudio->sample_rate = rate;
        FAudio->sample_fmt = AFormat.SampleFormat;
        if (AFormat.SampleFormat == AV_SAMPLE_FMT_S32)
            FAudio->bits_per_raw_sample = 24;
        av_channel_layout_default(&FAudio->ch_layout, 2);
        FAudio->bit_rate = AFormat.AudioBitRate;
        FAudio->time_base = AVRational{1, rate};
        FAudio->thread_count = 1;
        FAudio->flags |= AV_CODEC_FLAG_BITEXACT;
        if (FMuxer->oformat->flags & AVFMT_GLOBALHEADER)
            FAudio->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        Check(avcodec_open2(FAudio.get(), ACodec, nullptr), "cannot open the sound encoder");
        FAudioStream = NewStream(FAudio.get());
        // The encoder's first packets hold its priming samples (Opus's pre-skip), which the
        // decoder drops, so the sound's first sample plays at 0. An MP4 takes the priming's
        // negative timestamps and hides them with an edit list. Matroska states the priming as
        // the track's codec delay instead, which a reader subtracts from every block's time:
        // the first block is stored at 0 and its timestamps start there. Negative ones would
        // make the muxer shift every track by the delay, the video's first frame too.
        if (std::strcmp(AFormat.Muxer, "webm") == 0 || std::strcmp(AFormat.Muxer, "matroska") == 0)
            FSoundTimeOffset = FAudio->initial_padding;
        // Encoders without a fixed frame take the sound in blocks of this many samples.
        FAudioFrameSize = FAudio->frame_size > 0 ? FAudio->frame_size : 4096;
        FSmallLastFrame = (ACodec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME) != 0 || FAudio->frame_size <= 0;

        // Resampled only when the encoder does not take the input's rate; otherwise the samples
        // are only converted to the encoder's format. FLAC's integers are made here, exactly
        // (FFmpeg's own conversion wraps +1.0 round to the most negative value).
        SwrContext* resample = nullptr;
        AVChannelLayout stereo{};
        av_channel_layout_default(&stereo, 2);
        Check(swr_alloc_set_opts2(&resample, &FAudio->ch_layout, FAudio->sample_fmt, rate, &stereo,
                                  FWholeSamples ? AV_SAMPLE_FMT_S32P : AV_SAMPLE_FMT_FLTP, FSound->Rate(), 0, nullptr),
              "cannot set up the resampler");
        FResample.reset(resample);
        Check(swr_init(FResample.get()), "cannot set up the resampler");

        FFifo.reset(av_audio_fifo_alloc(FAudio->sample_fmt, 2, FAudioFrameSize * 2));
        FSoundFrame.reset(av_frame_alloc());
        FPacket.reset(av_packet_alloc());
        if (!FFifo || !FSoundFrame || !FPacket)
            Check(AVERROR(ENOMEM), "cannot set up the sound encoder");
        // Room for a block's samples after resampling, and for what the resampler holds back.
        FResampledCapacity = static_cast<int>(swr_get_out_samples(FResample.get(), sound::BlockSize)) + 256;
        const int bytes = av_get_bytes_per_sample(FAudio->sample_fmt);
        const bool planar = av_sample_fmt_is_planar(FAudio->sample_fmt) != 0;
        const std::size_t plane =
            static_cast<std::size_t>(FResampledCapacity) * static_cast<std::size_t>(bytes) * (planar ? 1 : 2);
        for (std::size_t channel = 0; channel < (planar ? 2u : 1u); ++channel)
            FResampledPlanes[channel].assign(plane, 0);
        FResampled = {FResampledPlanes[0].data(), FResampledPlanes[1].data()};
    }

    AVStream* NewStream(const AVCodecContext* AEncoder)
    {
        AVStream* stream = avformat_new_stream(FMuxer.get(), nullptr);
        if (!stream)
            Check(AVERROR(ENOMEM), "cannot set up the container");
        Check(avcodec_parameters_from_context(stream->codecpar, AEncoder), "cannot set up the container");
        stream->time_base = AEncoder->time_base;
        return stream;
    }

    // Reads the sound from FFed up to AEnd (samples at the input's rate) into the resampler and
    // encodes every whole block it gives.
    void FeedSound(std::int64_t AEnd)
    {
        while (FFed < AEnd) {
            if (FBlockUsed == sound::BlockSize) {
                FSound->ReadBlock(FBlockStart + sound::BlockSize, FLeft.data(), FRight.data());
                FBlockStart += sound::BlockSize;
                FBlockUsed = 0;
                if (FWholeSamples) {
                    std::transform(FLeft.begin(), FLeft.end(), FLeftWhole.begin(), ToFlacSample);
                    std::transform(FRight.begin(), FRight.end(), FRightWhole.begin(), ToFlacSample);
                }
            }
            const int count = static_cast<int>(std::min<std::int64_t>(AEnd - FFed, sound::BlockSize - FBlockUsed));
            const auto at = [&](const auto& ASamples) {
                return reinterpret_cast<const std::uint8_t*>(ASamples.data() + FBlockUsed);
            };
            std::array<const std::uint8_t*, 2> input =
                FWholeSamples ? std::array{at(FLeftWhole), at(FRightWhole)} : std::array{at(FLeft), at(FRight)};
            const int converted =
                swr_convert(FResample.get(), FResampled.data(), FResampledCapacity, input.data(), count);
            Check(converted, "cannot resample the sound");
            StoreResampled(converted);
            FBlockUsed += count;
            FFed += count;
            EncodeSound(false);
        }
    }

    void StoreResampled(int ACount)
    {
        if (ACount > 0 &&
            av_audio_fifo_write(FFifo.get(), reinterpret_cast<void**>(FResampled.data()), ACount) < ACount)
            Check(AVERROR(ENOMEM), "cannot encode the sound");
    }

    // Encodes the whole frames of sound waiting in the FIFO, and with ALast the rest as well.
    void EncodeSound(bool ALast)
    {
        for (;;) {
            const int waiting = av_audio_fifo_size(FFifo.get());
            if (waiting == 0 || (waiting < FAudioFrameSize && !ALast))
                return;
            const int count = std::min(waiting, FAudioFrameSize);
            const int size = FSmallLastFrame ? count : FAudioFrameSize;
            av_frame_unref(FSoundFrame.get());
            FSoundFrame->format = FAudio->sample_fmt;
            FSoundFrame->sample_rate = FAudio->sample_rate;
            FSoundFrame->nb_samples = size;
            Check(av_channel_layout_copy(&FSoundFrame->ch_layout, &FAudio->ch_layout), "cannot encode the sound");
            Check(av_frame_get_buffer(FSoundFrame.get(), 0), "cannot encode the sound");
            if (size > count)
                av_samples_set_silence(FSoundFrame->extended_data, count, size - count, 2, FAudio->sample_fmt);
            if (av_audio_fifo_read(FFifo.get(), reinterpret_cast<void**>(FSoundFrame->extended_data), count) < count)
                Check(AVERROR(EIO), "cannot encode the sound");
            FSoundFrame->pts = FSoundSamples + FSoundTimeOffset;
            FSoundSamples += size;
            Encode(FAudio.get(), FSoundFrame.get(), FAudioStream);
        }
    }

    // Sends AFrame (null: the end) to AEncoder and hands every packet it gives to the muxer.
    void Encode(AVCodecContext* AEncoder, const AVFrame* AFrame, AVStream* AStream)
    {
        const bool video = AEncoder == FVideo.get();
        const char* what = video ? "cannot encode the video" : "cannot encode the sound";
        Check(avcodec_send_frame(AEncoder, AFrame), what);
        for (;;) {
            const int received = avcodec_receive_packet(AEncoder, FPacket.get());
            if (received == AVERROR(EAGAIN) || received == AVERROR_EOF)
                return;
            Check(received, what);
            av_packet_rescale_ts(FPacket.get(), AEncoder->time_base, AStream->time_base);
            FPacket->stream_index = AStream->index;
            // The muxer takes the packet's data and leaves it empty.
            Check(av_interleaved_write_frame(FMuxer.get(), FPacket.get()), "cannot write the file");
        }
    }

    // Throws the failure that AResult reports, if it is one: the system's reason when a write
    // failed (a full disk, a file-size limit), FFmpeg's otherwise.
    void Check(int AResult, const char* AWhat)
    {
        if (AResult >= 0)
            return;
        if (FWriteError != 0) {
            errno = FWriteError;
            output::ThrowWriteError(FFile.Target());
        }
        const std::string logged = TakeLastLogLine();
        throw common::EToolError("cannot write output " + common::Quoted(FFile.Target()) + ": " + AWhat + ": " +
                                 (logged.empty() ? ErrorText(AResult) : logged));
    }

    static int WritePacket(void* AOpaque, std::uint8_t* ABytes, int ACount)
    {
        auto* self = static_cast<TVideoWriter*>(AOpaque);
        if (self->FWriteError != 0)
            return AVERROR(self->FWriteError);
        errno = 0;
        if (std::fwrite(ABytes, 1, static_cast<std::size_t>(ACount), self->FFile.Stream()) !=
            static_cast<std::size_t>(ACount)) {
            self->FWriteError = errno != 0 ? errno : EIO;
            return AVERROR(self->FWriteError);
        }
        return ACount;
    }

    static std::int64_t Seek(void* AOpaque, std::int64_t AOffset, int AWhence)
    {
        auto* self = static_cast<TVideoWriter*>(AOpaque);
        std::FILE* file = self->FFile.Stream();
        if (AWhence & AVSEEK_SIZE) {
            struct stat status {};
            if (std::fflush(file) != 0 || fstat(fileno(file), &status) != 0)
                return AVERROR(errno);
            return status.st_size;
        }
        if (fseeko(file, AOffset, AWhence & ~AVSEEK_FORCE) != 0)
            return AVERROR(errno);
        return ftello(file);
    }

    std::int32_t FFps;
    std::unique_ptr<sound::TSignalSource> FSound;
    output::TAtomicFile FFile;
    int FWriteError = 0; // errno of the first failed write

    std::unique_ptr<AVIOContext, TIoFree> FIo;
    std::unique_ptr<AVFormatContext, TFormatFree> FMuxer;
    TCodecContext FVideo;
    TCodecContext FAudio;
    AVStream* FVideoStream = nullptr; // owned by FMuxer
    AVStream* FAudioStream = nullptr;
    TFrame FPicture;
    std::unique_ptr<SwsContext, TScaleFree> FScale; // null when the encoder takes the frames' pixels
    TFrame FSoundFrame;
    TPacket FPacket;
    std::unique_ptr<SwrContext, TResampleFree> FResample;
    std::unique_ptr<AVAudioFifo, TFifoFree> FFifo;
    std::array<std::vector<std::uint8_t>, 2> FResampledPlanes;
    std::array<std::uint8_t*, 2> FResampled{};
    int FResampledCapacity = 0; // samples per channel
    int FAudioFrameSize = 0;
    bool FWholeSamples = false;        // the encoder takes integers (FLAC), made by ToFlacSample
    std::int64_t FSoundTimeOffset = 0; // added to the sound's timestamps, at the encoder's rate
    bool FSmallLastFrame = true;
    bool FFinished = false;

    // The input's sound, read block by block from sample 0.
    std::array<float, sound::BlockSize> FLeft{}, FRight{};
    std::array<std::int32_t, sound::BlockSize> FLeftWhole{}, FRightWhole{}; // the same, for FLAC
    std::int64_t FBlockStart = -sound::BlockSize; // the first sample of the block in FLeft and FRight
    int FBlockUsed = sound::BlockSize;            // samples of that block already fed
    std::int64_t FFed = 0;                        // samples fed to the resampler
    std::int64_t FSoundSamples = 0;               // samples sent to the encoder, at its rate
    std::int64_t FFrames = 0;
};

} // namespace

} // namespace preview

// The entry that MakeVideoWriter looks up in this library: the writer of AOptions' video, or the
// common::EToolError that explains why there is none.
extern "C" __attribute__((visibility("default"))) void
SelvanoreMakeVideoWriter(const preview::TOptions* AOptions, std::unique_ptr<output::TFrameWriter>* AWriter)
{
    *AWriter = std::make_unique<preview::TVideoWriter>(*AOptions, preview::FormatOf(AOptions->OutputKind));
}
