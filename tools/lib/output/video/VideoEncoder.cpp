#include "tools/lib/output/video/VideoEncoder.h"

#include "rtl/Math.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace output::video {

namespace {

// The sound goes to the resampler in pieces that end at whole multiples of this many samples
// from sample 0 (and at the end of each frame's span): the blocks in which it has always been
// read, which keeps the resampler's output, and so the bytes, what they were.
constexpr int SoundPiece = 512;

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

const AVCodec* FindEncoder(const char* AName)
{
    const AVCodec* codec = avcodec_find_encoder_by_name(AName);
    if (!codec)
        throw EVideoFailure(std::string("this FFmpeg has no ") + AName + " encoder");
    return codec;
}

} // namespace

TVideoEncoder::TVideoEncoder(const SelvanoreVideoSetup& ASetup, const TContainer& AContainer)
    : FFps(ASetup.Fps), FMuxer(AContainer.Muxer, ASetup.File)
{
    const AVCodec* video = FindEncoder(AContainer.VideoEncoder);
    const AVCodec* audio = FindEncoder(AContainer.AudioEncoder);
    OpenVideo(video, AContainer, ASetup.Width, ASetup.Height);
    OpenAudio(audio, AContainer, ASetup.SoundRate);
    FMuxer.WriteHeader();
}

void TVideoEncoder::Write(std::int64_t AFrame, const std::uint32_t* APixels, std::int64_t ASoundStart,
                          std::int32_t ACount, const float* ALeft, const float* ARight)
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
    // The sound up to the start of the next frame, so that both tracks grow together.
    FeedSound(ASoundStart, ACount, ALeft, ARight);
}

void TVideoEncoder::Finish()
{
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
    FMuxer.Finish();
}

void TVideoEncoder::OpenVideo(const AVCodec* ACodec, const TContainer& AContainer, std::int32_t AWidth,
                              std::int32_t AHeight)
{
    FVideo.reset(avcodec_alloc_context3(ACodec));
    if (!FVideo)
        Check(AVERROR(ENOMEM), "cannot set up the video encoder");
    FVideo->width = AWidth;
    FVideo->height = AHeight;
    FVideo->pix_fmt = AContainer.PixelFormat;
    FVideo->time_base = AVRational{1, FFps};
    FVideo->framerate = AVRational{FFps, 1};
    FVideo->sample_aspect_ratio = AVRational{1, 1};
    // One thread and bit-exact settings: the same frames always give the same bytes.
    FVideo->thread_count = 1;
    FVideo->flags |= AV_CODEC_FLAG_BITEXACT;
    if (FMuxer.GlobalHeader())
        FVideo->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (AContainer.PixelFormat == AV_PIX_FMT_YUV420P) {
        // The frames are full-range RGB; the video is limited-range BT.709 YUV, as players
        // expect of HD video, and says so.
        FVideo->colorspace = AVCOL_SPC_BT709;
        FVideo->color_primaries = AVCOL_PRI_BT709;
        FVideo->color_trc = AVCOL_TRC_BT709;
        FVideo->color_range = AVCOL_RANGE_MPEG;
    }
    TDictionary options;
    AContainer.TuneVideo(*FVideo, options);
    Check(avcodec_open2(FVideo.get(), ACodec, options.Address()), "cannot open the video encoder");
    FVideoStream = FMuxer.NewStream(*FVideo);
    FVideoStream->avg_frame_rate = FVideo->framerate;
    FVideoStream->r_frame_rate = FVideo->framerate;

    FPicture.reset(av_frame_alloc());
    if (!FPicture)
        Check(AVERROR(ENOMEM), "cannot set up the video encoder");
    FPicture->format = FVideo->pix_fmt;
    FPicture->width = AWidth;
    FPicture->height = AHeight;
    Check(av_frame_get_buffer(FPicture.get(), 0), "cannot set up the video encoder");
    if (AContainer.PixelFormat != SourcePixels) {
        FScale.reset(sws_getContext(AWidth, AHeight, SourcePixels, AWidth, AHeight, AContainer.PixelFormat,
                                    SWS_BILINEAR | SWS_ACCURATE_RND | SWS_BITEXACT, nullptr, nullptr, nullptr));
        if (!FScale)
            Check(AVERROR(ENOMEM), "cannot set up the colour conversion");
        sws_setColorspaceDetails(FScale.get(), sws_getCoefficients(SWS_CS_DEFAULT), 1,
                                 sws_getCoefficients(SWS_CS_ITU709), 0, 0, 1 << 16, 1 << 16);
    }
}

void TVideoEncoder::OpenAudio(const AVCodec* ACodec, const TContainer& AContainer, std::int32_t ASoundRate)
{
    FAudio.reset(avcodec_alloc_context3(ACodec));
    if (!FAudio)
        Check(AVERROR(ENOMEM), "cannot set up the sound encoder");
    const int rate = SampleRateFor(ACodec, ASoundRate);
    FWholeSamples = AContainer.SampleFormat == AV_SAMPLE_FMT_S32;
    FAudio->sample_rate = rate;
    FAudio->sample_fmt = AContainer.SampleFormat;
    if (AContainer.SampleFormat == AV_SAMPLE_FMT_S32)
        FAudio->bits_per_raw_sample = 24;
    av_channel_layout_default(&FAudio->ch_layout, 2);
    FAudio->bit_rate = AContainer.AudioBitRate;
    FAudio->time_base = AVRational{1, rate};
    FAudio->thread_count = 1;
    FAudio->flags |= AV_CODEC_FLAG_BITEXACT;
    if (FMuxer.GlobalHeader())
        FAudio->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    Check(avcodec_open2(FAudio.get(), ACodec, nullptr), "cannot open the sound encoder");
    FAudioStream = FMuxer.NewStream(*FAudio);
    // The encoder's first packets hold its priming samples (Opus's pre-skip), which the
    // decoder drops, so the sound's first sample plays at 0. An MP4 takes the priming's
    // negative timestamps and hides them with an edit list. Matroska states the priming as
    // the track's codec delay instead, which a reader subtracts from every block's time:
    // the first block is stored at 0 and its timestamps start there. Negative ones would
    // make the muxer shift every track by the delay, the video's first frame too.
    if (AContainer.DelayInTrack)
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
                              FWholeSamples ? AV_SAMPLE_FMT_S32P : AV_SAMPLE_FMT_FLTP, ASoundRate, 0, nullptr),
          "cannot set up the resampler");
    FResample.reset(resample);
    Check(swr_init(FResample.get()), "cannot set up the resampler");

    FFifo.reset(av_audio_fifo_alloc(FAudio->sample_fmt, 2, FAudioFrameSize * 2));
    FSoundFrame.reset(av_frame_alloc());
    FPacket.reset(av_packet_alloc());
    if (!FFifo || !FSoundFrame || !FPacket)
        Check(AVERROR(ENOMEM), "cannot set up the sound encoder");
    // Room for a piece's samples after resampling, and for what the resampler holds back.
    FResampledCapacity = static_cast<int>(swr_get_out_samples(FResample.get(), SoundPiece)) + 256;
    const int bytes = av_get_bytes_per_sample(FAudio->sample_fmt);
    const bool planar = av_sample_fmt_is_planar(FAudio->sample_fmt) != 0;
    const std::size_t plane =
        static_cast<std::size_t>(FResampledCapacity) * static_cast<std::size_t>(bytes) * (planar ? 1 : 2);
    for (std::size_t channel = 0; channel < (planar ? 2u : 1u); ++channel)
        FResampledPlanes[channel].assign(plane, 0);
    FResampled = {FResampledPlanes[0].data(), FResampledPlanes[1].data()};
    if (FWholeSamples) {
        FLeftWhole.assign(SoundPiece, 0);
        FRightWhole.assign(SoundPiece, 0);
    }
}

// Feeds the span's samples into the resampler and encodes every whole block it gives.
void TVideoEncoder::FeedSound(std::int64_t AStart, std::int32_t ACount, const float* ALeft, const float* ARight)
{
    if (AStart != FFed)
        throw EVideoFailure("cannot encode the sound: its spans do not join up");
    for (std::int32_t done = 0; done < ACount;) {
        const int count = std::min(ACount - done, SoundPiece - static_cast<int>(FFed % SoundPiece));
        std::array<const std::uint8_t*, 2> input{};
        if (FWholeSamples) {
            std::transform(ALeft + done, ALeft + done + count, FLeftWhole.begin(), ToFlacSample);
            std::transform(ARight + done, ARight + done + count, FRightWhole.begin(), ToFlacSample);
            input = {reinterpret_cast<const std::uint8_t*>(FLeftWhole.data()),
                     reinterpret_cast<const std::uint8_t*>(FRightWhole.data())};
        } else {
            input = {reinterpret_cast<const std::uint8_t*>(ALeft + done),
                     reinterpret_cast<const std::uint8_t*>(ARight + done)};
        }
        const int converted = swr_convert(FResample.get(), FResampled.data(), FResampledCapacity, input.data(), count);
        Check(converted, "cannot resample the sound");
        StoreResampled(converted);
        done += count;
        FFed += count;
        EncodeSound(false);
    }
}

void TVideoEncoder::StoreResampled(int ACount)
{
    if (ACount > 0 && av_audio_fifo_write(FFifo.get(), reinterpret_cast<void**>(FResampled.data()), ACount) < ACount)
        Check(AVERROR(ENOMEM), "cannot encode the sound");
}

// Encodes the whole frames of sound waiting in the FIFO, and with ALast the rest as well.
void TVideoEncoder::EncodeSound(bool ALast)
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
void TVideoEncoder::Encode(AVCodecContext* AEncoder, const AVFrame* AFrame, const AVStream* AStream)
{
    const char* what = AEncoder == FVideo.get() ? "cannot encode the video" : "cannot encode the sound";
    Check(avcodec_send_frame(AEncoder, AFrame), what);
    for (;;) {
        const int received = avcodec_receive_packet(AEncoder, FPacket.get());
        if (received == AVERROR(EAGAIN) || received == AVERROR_EOF)
            return;
        Check(received, what);
        FMuxer.WritePacket(*FPacket, *AEncoder, *AStream);
    }
}

} // namespace output::video
