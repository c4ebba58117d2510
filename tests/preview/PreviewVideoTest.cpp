// Videos with their sound, read back through FFmpeg's own demuxers and decoders: the container
// and codecs of each format, the frame count, the exact frame rate and the length of both
// tracks, the lossless file's frames against the PNG frames pixel for pixel, the sound against
// the input's samples, identical bytes from two runs, and the promises every output keeps
// (status 2 and one line on bad input, nothing left behind when interrupted).
#include "tests/support/PreviewTestSupport.h"

#include "tools/preview/Options.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <memory>
#include <numeric>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using testing_support::RunPreview;
using testing_support::TRun;
using testing_support::TScratch;

namespace {

namespace fs = std::filesystem;

constexpr int SongRate = 44100;
constexpr std::int64_t SongLength = SongRate / 2; // half a second
constexpr double Pi = 3.141592653589793;

// The song's sample of channel AChannel at time ASeconds, in -1..1: a rising tone on the left,
// another from a different pitch on the right, so that swapped or mixed channels show, and no
// shift of the one matches another part of it (as one of a steady tone's periods would).
double SongAt(int AChannel, double ASeconds)
{
    const double start = AChannel == 0 ? 300.0 : 500.0; // Hz, rising by 800 Hz a second
    return 0.5 * std::sin(2 * Pi * (start + 400.0 * ASeconds) * ASeconds);
}

// The 16-bit value the WAV holds for sample AIndex (as WriteWav rounds it).
int SongSample(int AChannel, std::int64_t AIndex)
{
    return static_cast<int>(std::lround(SongAt(AChannel, static_cast<double>(AIndex) / SongRate) * 32768.0));
}

std::string MakeSong(const TScratch& AScratch)
{
    const std::string path = AScratch / "song.wav";
    testing_support::WriteWav(path, SongRate, 2, SongLength, [](int AChannel, std::int64_t AIndex) {
        return SongAt(AChannel, static_cast<double>(AIndex) / SongRate);
    });
    return path;
}

struct TInputFree {
    void operator()(AVFormatContext* AContext) const noexcept { avformat_close_input(&AContext); }
};
struct TDecoderFree {
    void operator()(AVCodecContext* AContext) const noexcept { avcodec_free_context(&AContext); }
};
struct TFrameFree {
    void operator()(AVFrame* AFrame) const noexcept { av_frame_free(&AFrame); }
};
struct TPacketFree {
    void operator()(AVPacket* APacket) const noexcept { av_packet_free(&APacket); }
};

struct TTrack {
    AVCodecID Codec = AV_CODEC_ID_NONE;
    AVRational FrameRate{0, 1}; // the video's average rate
    int Width = 0, Height = 0;
    int SampleRate = 0, Channels = 0;
    std::vector<std::int64_t> Times;                  // each packet's time in units of 1/fps (video)
    std::int64_t Frames = 0;                          // video frames or sound samples (per channel) decoded
    std::vector<std::vector<std::uint32_t>> Pictures; // 0x00RRGGBB, for an RGB video
    std::array<std::vector<double>, 2> Sound;         // -1..1, for floating-point sound
    std::array<std::vector<std::int32_t>, 2> Whole;   // for integer sound, as decoded
};

struct TVideo {
    std::string Format; // the demuxer's name
    TTrack Video, Audio;
    bool Ok = false;
    std::string Error;
};

// Reads APath as FFmpeg's own tools would: probes it, then decodes every packet of both tracks.
TVideo ReadVideo(const std::string& APath, int AFps)
{
    av_log_set_level(AV_LOG_QUIET);
    TVideo result;
    AVFormatContext* opened = nullptr;
    if (avformat_open_input(&opened, APath.c_str(), nullptr, nullptr) < 0) {
        result.Error = "does not open";
        return result;
    }
    const std::unique_ptr<AVFormatContext, TInputFree> input(opened);
    if (avformat_find_stream_info(input.get(), nullptr) < 0) {
        result.Error = "no stream information";
        return result;
    }
    result.Format = input->iformat->name;
    const int videoIndex = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    const int audioIndex = av_find_best_stream(input.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (videoIndex < 0 || audioIndex < 0 || input->nb_streams != 2) {
        result.Error = "not one video and one sound track";
        return result;
    }
    std::array<std::unique_ptr<AVCodecContext, TDecoderFree>, 2> decoders;
    std::array<TTrack*, 2> tracks{&result.Video, &result.Audio};
    for (const int index : {videoIndex, audioIndex}) {
        const AVCodecParameters* parameters = input->streams[index]->codecpar;
        TTrack& track = *tracks[index == videoIndex ? 0 : 1];
        track.Codec = parameters->codec_id;
        track.Width = parameters->width;
        track.Height = parameters->height;
        track.SampleRate = parameters->sample_rate;
        track.Channels = parameters->ch_layout.nb_channels;
        track.FrameRate = input->streams[index]->avg_frame_rate;
        const AVCodec* codec = avcodec_find_decoder(parameters->codec_id);
        auto& decoder = decoders[index == videoIndex ? 0 : 1];
        decoder.reset(codec ? avcodec_alloc_context3(codec) : nullptr);
        if (!decoder || avcodec_parameters_to_context(decoder.get(), parameters) < 0 ||
            (decoder->thread_count = 1, avcodec_open2(decoder.get(), codec, nullptr)) < 0) {
            result.Error = "no decoder";
            return result;
        }
    }
    const std::unique_ptr<AVPacket, TPacketFree> packet(av_packet_alloc());
    const std::unique_ptr<AVFrame, TFrameFree> frame(av_frame_alloc());
    const auto drain = [&](AVCodecContext* ADecoder, TTrack& ATrack) {
        while (avcodec_receive_frame(ADecoder, frame.get()) >= 0) {
            if (&ATrack == &result.Video) {
                ++ATrack.Frames;
                // RGB, as the lossless video decodes: its planes are green, blue, red.
                if (frame->format == AV_PIX_FMT_GBRP) {
                    std::vector<std::uint32_t> picture;
                    for (int y = 0; y < frame->height; ++y) {
                        const auto at = [&](int APlane, int AX) {
                            return static_cast<std::uint32_t>(frame->data[APlane][y * frame->linesize[APlane] + AX]);
                        };
                        for (int x = 0; x < frame->width; ++x)
                            picture.push_back(at(2, x) << 16 | at(0, x) << 8 | at(1, x));
                    }
                    ATrack.Pictures.push_back(std::move(picture));
                }
            } else {
                ATrack.Frames += frame->nb_samples;
                for (int c = 0; c < 2 && c < frame->ch_layout.nb_channels; ++c) {
                    for (int i = 0; i < frame->nb_samples; ++i) {
                        switch (frame->format) {
                        case AV_SAMPLE_FMT_FLTP:
                            ATrack.Sound[c].push_back(reinterpret_cast<const float*>(frame->extended_data[c])[i]);
                            break;
                        case AV_SAMPLE_FMT_FLT:
                            ATrack.Sound[c].push_back(reinterpret_cast<const float*>(frame->data[0])[2 * i + c]);
                            break;
                        case AV_SAMPLE_FMT_S32:
                            ATrack.Whole[c].push_back(reinterpret_cast<const std::int32_t*>(frame->data[0])[2 * i + c]);
                            break;
                        case AV_SAMPLE_FMT_S32P:
                            ATrack.Whole[c].push_back(
                                reinterpret_cast<const std::int32_t*>(frame->extended_data[c])[i]);
                            break;
                        default: break;
                        }
                    }
                }
            }
            av_frame_unref(frame.get());
        }
    };
    while (av_read_frame(input.get(), packet.get()) >= 0) {
        const bool video = packet->stream_index == videoIndex;
        AVCodecContext* decoder = decoders[video ? 0 : 1].get();
        if (video)
            result.Video.Times.push_back(
                av_rescale_q(packet->pts, input->streams[videoIndex]->time_base, AVRational{1, AFps}));
        avcodec_send_packet(decoder, packet.get());
        av_packet_unref(packet.get());
        drain(decoder, video ? result.Video : result.Audio);
    }
    for (int i = 0; i < 2; ++i) {
        avcodec_send_packet(decoders[i].get(), nullptr);
        drain(decoders[i].get(), *tracks[i]);
    }
    std::sort(result.Video.Times.begin(), result.Video.Times.end());
    result.Ok = true;
    return result;
}

// How well ADecoded follows the song at ARate once shifted by the lag that fits best (within
// AMaxLag samples): the lag, and the RMS error relative to the song's RMS.
struct TFit {
    int Lag = 0;
    double RelativeError = 1;
};

TFit FitToSong(const std::vector<double>& ADecoded, int AChannel, int ARate, std::int64_t ALength, int AMaxLag)
{
    TFit best;
    for (int lag = -AMaxLag; lag <= AMaxLag; ++lag) {
        double error = 0, power = 0;
        // The middle of the track, away from the encoders' ramps at both ends.
        for (std::int64_t i = ALength / 8; i < ALength * 7 / 8; ++i) {
            const std::int64_t at = i + lag;
            if (at < 0 || at >= static_cast<std::int64_t>(ADecoded.size()))
                continue;
            const double expected = SongAt(AChannel, static_cast<double>(i) / ARate);
            error += (ADecoded[static_cast<std::size_t>(at)] - expected) *
                     (ADecoded[static_cast<std::size_t>(at)] - expected);
            power += expected * expected;
        }
        const double relative = power > 0 ? std::sqrt(error / power) : 1;
        if (relative < best.RelativeError)
            best = {lag, relative};
    }
    return best;
}

// The runs that draw need the native module of this build; without it they cannot show
// anything and fail with the reason.
class PreviewVideo : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(testing_support::ModuleUnderTest, nullptr) << "the native module is not part of this build";
        MakeSong(FScratch);
    }

    TRun Run(std::vector<std::string> AArgs) const
    {
        AArgs.insert(AArgs.begin(), {"--module", testing_support::ModuleUnderTest});
        return RunPreview(AArgs, FScratch.Path());
    }

    TScratch FScratch;
};

struct TFormatCase {
    const char* Name;
    const char* Output;
    int Fps;
    const char* Demuxer; // a part of the demuxer's name
    const char* DocType; // what the file's first bytes say it is
    AVCodecID VideoCodec;
    AVCodecID AudioCodec;
    int SampleRate; // the sound track's rate
};

class VideoFormat : public PreviewVideo, public ::testing::WithParamInterface<TFormatCase> {};

// 12 frames of the half-second song: the sound covers FrameStart(12) samples of it.
TEST_P(VideoFormat, ReadsBackAsAskedWithTheSoundAndTheSameBytesEachRun)
{
    const TFormatCase& c = GetParam();
    const int frames = 12;
    const std::vector<std::string> args = {
        "--input",  "song.wav", "--size", "64x48", "--fps", std::to_string(c.Fps), "--frames", std::to_string(frames),
        "--output", c.Output};
    const TRun first = Run(args);
    ASSERT_EQ(first.Status, 0) << first.Err;
    const std::string bytes = testing_support::ReadBytes(FScratch / c.Output);
    fs::rename(FScratch / c.Output, FScratch / "first");
    const TRun second = Run(args);
    ASSERT_EQ(second.Status, 0) << second.Err;
    EXPECT_TRUE(bytes == testing_support::ReadBytes(FScratch / c.Output)) << "two runs wrote different bytes";
    EXPECT_NE(bytes.substr(0, 64).find(c.DocType), std::string::npos);
    EXPECT_FALSE(testing_support::HoldsTemporaries(FScratch.Path()));

    const TVideo video = ReadVideo(FScratch / c.Output, c.Fps);
    ASSERT_TRUE(video.Ok) << video.Error;
    EXPECT_NE(video.Format.find(c.Demuxer), std::string::npos) << video.Format;
    EXPECT_EQ(video.Video.Codec, c.VideoCodec);
    EXPECT_EQ(video.Audio.Codec, c.AudioCodec);
    EXPECT_EQ(video.Video.Width, 64);
    EXPECT_EQ(video.Video.Height, 48);
    EXPECT_EQ(video.Video.FrameRate.num, c.Fps);
    EXPECT_EQ(video.Video.FrameRate.den, 1);
    EXPECT_EQ(video.Video.Frames, frames);
    // Frame n is shown at exactly n / fps.
    std::vector<std::int64_t> times(frames);
    std::iota(times.begin(), times.end(), 0);
    EXPECT_EQ(video.Video.Times, times);
    EXPECT_EQ(video.Audio.SampleRate, c.SampleRate);
    EXPECT_EQ(video.Audio.Channels, 2);

    // Both tracks last the frames' span, within one frame.
    const double span = static_cast<double>(frames) / c.Fps;
    EXPECT_NEAR(static_cast<double>(video.Audio.Frames) / c.SampleRate, span, 1.0 / c.Fps);

    const std::int64_t covered = static_cast<std::int64_t>(frames) * SongRate / c.Fps;
    if (c.AudioCodec == AV_CODEC_ID_FLAC) {
        // Lossless: exactly the input's samples over exactly the span the frames cover.
        ASSERT_EQ(video.Audio.Frames, covered);
        for (int channel = 0; channel < 2; ++channel) {
            ASSERT_EQ(video.Audio.Whole[channel].size(), static_cast<std::size_t>(covered));
            std::int64_t differing = 0;
            for (std::int64_t i = 0; i < covered; ++i)
                differing += video.Audio.Whole[channel][static_cast<std::size_t>(i)] != SongSample(channel, i) * 65536;
            EXPECT_EQ(differing, 0) << "channel " << channel;
        }
    } else {
        // Within the codec's loss, each channel its own tone, in step with the pictures.
        const std::int64_t length = covered * c.SampleRate / SongRate;
        for (int channel = 0; channel < 2; ++channel) {
            const TFit fit = FitToSong(video.Audio.Sound[channel], channel, c.SampleRate, length, c.SampleRate / c.Fps);
            std::printf("[ %s ] channel %d: lag %d samples, relative error %.4f\n", c.Name, channel, fit.Lag,
                        fit.RelativeError);
            EXPECT_LT(fit.RelativeError, 0.1) << "channel " << channel << " at lag " << fit.Lag;
            EXPECT_LE(std::abs(fit.Lag), c.SampleRate / c.Fps / 4) << "channel " << channel;
        }
    }
}

const TFormatCase FormatCases[] = {
    {"Mp4", "song.mp4", 30, "mp4", "ftyp", AV_CODEC_ID_H264, AV_CODEC_ID_AAC, 44100},
    // Opus runs at 48 kHz only: the one format whose sound is resampled.
    {"WebM", "song.webm", 25, "webm", "webm", AV_CODEC_ID_VP9, AV_CODEC_ID_OPUS, 48000},
    {"Mkv", "song.mkv", 24, "matroska", "matroska", AV_CODEC_ID_H264, AV_CODEC_ID_FLAC, 44100},
};

INSTANTIATE_TEST_SUITE_P(Preview, VideoFormat, ::testing::ValuesIn(FormatCases),
                         [](const ::testing::TestParamInfo<TFormatCase>& AInfo) { return AInfo.param.Name; });

// Float and double files may hold samples that are out of range or not numbers. Every video
// holds them cleaned (NaN as 0, the rest clipped to full scale), the run's status is 0, and its
// one line is a warning that counts the cleaned samples of the frames' span.
struct TUncleanCase {
    const char* Name;
    testing_support::TUnclean Kind;
    int Format; // SF_FORMAT_FLOAT or SF_FORMAT_DOUBLE
    int Channels;
    const char* Output;
};

class UncleanSound : public PreviewVideo, public ::testing::WithParamInterface<TUncleanCase> {};

TEST_P(UncleanSound, IsCleanedInEveryContainerWithOneWarning)
{
    const TUncleanCase& c = GetParam();
    constexpr int Rate = 48000; // taken by every encoder, so that nothing is resampled
    constexpr int Fps = 25, Frames = 12;
    constexpr std::int64_t Length = Rate / 2, Covered = std::int64_t{Frames} * Rate / Fps;
    const auto stored = [&](int AChannel, std::int64_t AIndex) {
        return testing_support::UncleanSample(c.Kind, Rate, AChannel, AIndex);
    };
    testing_support::WriteSound(FScratch / "bad.wav", SF_FORMAT_WAV | c.Format, Rate, c.Channels, Length, stored);
    std::int64_t cleaned = 0; // of the two channels read, over the frames' span
    for (std::int64_t i = 0; i < Covered; ++i)
        for (int channel = 0; channel < 2; ++channel)
            cleaned += testing_support::NeedsCleaning(stored(channel, i));

    const TRun run = Run({"--input", "bad.wav", "--size", "64x48", "--fps", std::to_string(Fps), "--frames",
                          std::to_string(Frames), "--output", c.Output});
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Err, "selvanore-preview: " + testing_support::CleanedWarning(cleaned, "bad.wav") + "\n");

    const TVideo video = ReadVideo(FScratch / c.Output, Fps);
    ASSERT_TRUE(video.Ok) << video.Error;
    ASSERT_EQ(video.Audio.SampleRate, Rate);
    for (int channel = 0; channel < 2; ++channel) {
        SCOPED_TRACE("channel " + std::to_string(channel));
        if (video.Audio.Codec == AV_CODEC_ID_FLAC) {
            // Exactly the cleaned samples, at 24 bits: +1.0 is the largest value, not the least.
            const auto& whole = video.Audio.Whole[channel];
            ASSERT_EQ(whole.size(), static_cast<std::size_t>(Covered));
            std::int64_t differing = 0, first = -1;
            for (std::int64_t i = 0; i < Covered; ++i) {
                const double scaled =
                    static_cast<double>(testing_support::CleanedSample(stored(channel, i))) * 8388608.0;
                const auto expected =
                    static_cast<std::int32_t>(std::clamp(std::nearbyint(scaled), -8388608.0, 8388607.0)) * 256;
                if (whole[static_cast<std::size_t>(i)] != expected && differing++ == 0)
                    first = i;
            }
            EXPECT_EQ(differing, 0) << "first at sample " << first << ": " << whole[static_cast<std::size_t>(first)];
        } else {
            // Within the codec's loss: finite, near full scale at most, and following the cleaned
            // samples over the middle of the span. AAC's first frame rings far beyond a step from
            // silence to full scale (to 1.9 here), so the bound holds from its second frame on;
            // samples that were not clipped would be beyond it throughout (3.0 and more).
            const auto& sound = video.Audio.Sound[channel];
            constexpr std::size_t FirstFrame = 1024;
            ASSERT_GE(sound.size(), static_cast<std::size_t>(Covered));
            EXPECT_TRUE(std::all_of(sound.begin(), sound.end(), [](double s) { return std::isfinite(s); }));
            EXPECT_TRUE(
                std::all_of(sound.begin() + FirstFrame, sound.end(), [](double s) { return std::abs(s) < 1.5; }));
            double best = 1;
            for (int lag = -Rate / Fps / 4; lag <= Rate / Fps / 4; ++lag) {
                double error = 0, power = 0;
                for (std::int64_t i = Covered / 8; i < Covered * 7 / 8; ++i) {
                    const double expected = testing_support::CleanedSample(stored(channel, i));
                    const double got = sound[static_cast<std::size_t>(i + lag)];
                    error += (got - expected) * (got - expected);
                    power += expected * expected;
                }
                best = std::min(best, std::sqrt(error / power));
            }
            EXPECT_LT(best, 0.25);
        }
    }
}

std::vector<TUncleanCase> UncleanCases()
{
    using testing_support::TUnclean;
    std::vector<TUncleanCase> cases;
    for (const auto& [ending, output] :
         {std::pair{"Mkv", "bad.mkv"}, std::pair{"Mp4", "bad.mp4"}, std::pair{"WebM", "bad.webm"}}) {
        (void)ending;
        cases.push_back({"Infinity", TUnclean::Infinity, SF_FORMAT_FLOAT, 2, output});
        cases.push_back({"NotANumber", TUnclean::NotANumber, SF_FORMAT_FLOAT, 2, output});
        cases.push_back({"BeyondDouble", TUnclean::Beyond, SF_FORMAT_DOUBLE, 2, output});
        cases.push_back({"Mix", TUnclean::Mix, SF_FORMAT_FLOAT, 2, output});
        // The third channel is NaN throughout: it is not read, and not counted.
        cases.push_back({"MixDoubleThreeChannels", TUnclean::Mix, SF_FORMAT_DOUBLE, 3, output});
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Preview, UncleanSound, ::testing::ValuesIn(UncleanCases()),
                         [](const ::testing::TestParamInfo<TUncleanCase>& AInfo) {
                             std::string name = AInfo.param.Output;
                             return std::string(AInfo.param.Name) + "_" + name.substr(name.find('.') + 1);
                         });

// Both tracks start at 0 in every container, and the sound's first sample plays at 0: the
// first frame's time, and the first decoded sound's, once the decoder has dropped the encoder's
// priming. A WebM states Opus's priming (312 samples at 48 kHz) as the track's codec delay, and
// FFmpeg's demuxer counts the priming in the sound track's start, as -0.007 s.
TEST_F(PreviewVideo, BothTracksStartAtZero)
{
    const struct {
        const char* Output;
        std::int64_t SoundStartMs; // the demuxer's start time of the sound, with the priming
    } cases[] = {{"start.mkv", 0}, {"start.mp4", 0}, {"start.webm", -7}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Output);
        const TRun run = Run({"--input", "song.wav", "--size", "64x48", "--frames", "9", "--output", c.Output});
        ASSERT_EQ(run.Status, 0) << run.Err;
        av_log_set_level(AV_LOG_QUIET);
        AVFormatContext* opened = nullptr;
        ASSERT_GE(avformat_open_input(&opened, (FScratch / c.Output).c_str(), nullptr, nullptr), 0);
        const std::unique_ptr<AVFormatContext, TInputFree> input(opened);
        ASSERT_GE(avformat_find_stream_info(input.get(), nullptr), 0);
        const int videoIndex = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        const int audioIndex = av_find_best_stream(input.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
        ASSERT_GE(videoIndex, 0);
        ASSERT_GE(audioIndex, 0);
        const AVStream* videoStream = input->streams[videoIndex];
        const AVStream* audioStream = input->streams[audioIndex];
        EXPECT_EQ(videoStream->start_time, 0);
        EXPECT_EQ(av_rescale_q(audioStream->start_time, audioStream->time_base, AVRational{1, 1000}), c.SoundStartMs);

        // The first decoded frame of each track.
        const AVCodec* codec = avcodec_find_decoder(audioStream->codecpar->codec_id);
        const std::unique_ptr<AVCodecContext, TDecoderFree> decoder(avcodec_alloc_context3(codec));
        ASSERT_GE(avcodec_parameters_to_context(decoder.get(), audioStream->codecpar), 0);
        decoder->pkt_timebase = audioStream->time_base;
        ASSERT_GE(avcodec_open2(decoder.get(), codec, nullptr), 0);
        const std::unique_ptr<AVPacket, TPacketFree> packet(av_packet_alloc());
        const std::unique_ptr<AVFrame, TFrameFree> frame(av_frame_alloc());
        std::int64_t firstVideo = AV_NOPTS_VALUE, firstSound = AV_NOPTS_VALUE;
        while ((firstVideo == AV_NOPTS_VALUE || firstSound == AV_NOPTS_VALUE) &&
               av_read_frame(input.get(), packet.get()) >= 0) {
            if (packet->stream_index == videoIndex && firstVideo == AV_NOPTS_VALUE)
                firstVideo = packet->pts;
            if (packet->stream_index == audioIndex && firstSound == AV_NOPTS_VALUE &&
                avcodec_send_packet(decoder.get(), packet.get()) >= 0 &&
                avcodec_receive_frame(decoder.get(), frame.get()) >= 0)
                firstSound = frame->best_effort_timestamp;
            av_packet_unref(packet.get());
        }
        EXPECT_EQ(firstVideo, 0);
        EXPECT_EQ(firstSound, 0);
    }
}

// The lossless video holds the PNG frames exactly, at a size no 4:2:0 format could take.
TEST_F(PreviewVideo, MkvFramesEqualThePngFrames)
{
    const int frames = 10;
    const std::vector<std::string> common = {"--input", "song.wav", "--size",
                                             "45x33",   "--frames", std::to_string(frames)};
    std::vector<std::string> args = common;
    args.insert(args.end(), {"--output", "song.mkv"});
    const TRun video = Run(args);
    ASSERT_EQ(video.Status, 0) << video.Err;
    args = common;
    args.insert(args.end(), {"--output", "frames/"});
    const TRun png = Run(args);
    ASSERT_EQ(png.Status, 0) << png.Err;

    const TVideo read = ReadVideo(FScratch / "song.mkv", 30);
    ASSERT_TRUE(read.Ok) << read.Error;
    ASSERT_EQ(read.Video.Pictures.size(), static_cast<std::size_t>(frames));
    bool drawn = false; // not all black: the comparison sees the rings
    for (int i = 0; i < frames; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "frames/frame-%06d.png", i);
        const testing_support::TImage image = testing_support::ReadPng(FScratch / name);
        ASSERT_EQ(image.Width, 45);
        EXPECT_TRUE(read.Video.Pictures[static_cast<std::size_t>(i)] == image.Pixels) << "frame " << i;
        drawn = drawn || std::any_of(image.Pixels.begin(), image.Pixels.end(), [](std::uint32_t p) { return p != 0; });
    }
    EXPECT_TRUE(drawn);
}

// Without --input the built-in signal is the sound; the video ends with the frames asked for.
TEST_F(PreviewVideo, BuiltInSignalGivesTheSoundOfTheFramesSpan)
{
    const TRun run = Run({"--size", "32x24", "--frames", "15", "--output", "signal.mkv"});
    ASSERT_EQ(run.Status, 0) << run.Err;
    const TVideo video = ReadVideo(FScratch / "signal.mkv", 30);
    ASSERT_TRUE(video.Ok) << video.Error;
    EXPECT_EQ(video.Video.Frames, 15);
    EXPECT_EQ(video.Audio.Frames, 15 * 44100 / 30);
    const auto& left = video.Audio.Whole[0];
    EXPECT_TRUE(std::any_of(left.begin(), left.end(), [](std::int32_t s) { return s != 0; })) << "silent sound track";
}

struct TBadVideo {
    const char* Name;
    std::vector<std::string> Args;
    const char* Message; // a part of the one line expected
};

class BadVideo : public PreviewVideo, public ::testing::WithParamInterface<TBadVideo> {};

TEST_P(BadVideo, EndsWithStatusTwoOneLineAndNothingLeftBehind)
{
    const testing_support::TTree before = testing_support::LookAt(FScratch.Path());
    const TRun run = Run(GetParam().Args);
    EXPECT_EQ(run.Status, 2) << run.Err;
    EXPECT_TRUE(testing_support::IsOneLineError(run.Err)) << "[" << run.Err << "]";
    EXPECT_NE(run.Err.find(GetParam().Message), std::string::npos) << run.Err;
    EXPECT_EQ(testing_support::DifferencesBetween(before, testing_support::LookAt(FScratch.Path())),
              std::vector<std::string>{});
}

const TBadVideo BadVideos[] = {
    {"OddWidthMp4", {"--size", "65x48", "--output", "x.mp4"}, "even width and height"},
    {"OddHeightWebm", {"--size", "64x47", "--output", "x.webm"}, "even width and height"},
    {"UnknownEnding", {"--output", "x.avi"}, "NAME.mkv"},
    {"MissingFolder", {"--input", "song.wav", "--size", "16x16", "--output", "no/such/x.mp4"}, "cannot write output"},
};

INSTANTIATE_TEST_SUITE_P(Preview, BadVideo, ::testing::ValuesIn(BadVideos),
                         [](const ::testing::TestParamInfo<TBadVideo>& AInfo) { return AInfo.param.Name; });

// The input is read once, for the frames and the sound alike: a video from a FIFO, which gives
// its data only once, holds the same bytes as the video of the file, at a rate whose frames
// overlap (120 fps) and at one whose frames leave gaps (30 fps).
// The input read from a FIFO, named as --input or given as standard input ("-").
TEST_F(PreviewVideo, FromAFifoWritesTheBytesOfTheFile)
{
    const std::string song = testing_support::ReadBytes(FScratch / "song.wav");
    ASSERT_EQ(mkfifo((FScratch / "pipe.wav").c_str(), 0600), 0);
    for (const bool standardInput : {false, true}) {
        for (const char* fps : {"30", "120"}) {
            for (const char* output : {"a.mp4", "a.webm", "a.mkv"}) {
                SCOPED_TRACE(std::string(output) + " at " + fps + (standardInput ? " from standard input" : ""));
                const std::vector<std::string> common = {"--size", "32x24", "--fps", fps, "--output", output};
                std::vector<std::string> args = {"--input", "song.wav"};
                args.insert(args.end(), common.begin(), common.end());
                const TRun file = Run(args);
                ASSERT_EQ(file.Status, 0) << file.Err;
                const std::string bytes = testing_support::ReadBytes(FScratch / output);
                fs::remove(FScratch / output);

                testing_support::TChildSetup setup;
                setup.Args = {"--module", testing_support::ModuleUnderTest, "--input",
                              standardInput ? "-" : "pipe.wav"};
                setup.Args.insert(setup.Args.end(), common.begin(), common.end());
                if (standardInput) {
                    // The shell opens the FIFO as the preview's standard input.
                    setup.Program = "/bin/sh";
                    setup.Args.insert(setup.Args.begin(), {"-c", "exec \"$0\" \"$@\" < pipe.wav", PREVIEW_PROGRAM});
                }
                setup.WorkingDir = FScratch.Path();
                testing_support::TEnded ended;
                {
                    testing_support::TRunningPreview run(setup);
                    // The FIFO opens for writing once the preview has opened it for reading.
                    int fifo = -1;
                    EXPECT_TRUE(testing_support::WaitUntil(
                        [&] { return (fifo = open((FScratch / "pipe.wav").c_str(), O_WRONLY | O_NONBLOCK)) >= 0; },
                        20));
                    if (fifo >= 0) {
                        fcntl(fifo, F_SETFL, 0);
                        EXPECT_EQ(write(fifo, song.data(), song.size()), static_cast<ssize_t>(song.size()));
                        close(fifo);
                    }
                    ended = run.Wait(60);
                }
                ASSERT_EQ(ended.Status, 0) << ended.Err;
                EXPECT_TRUE(bytes == testing_support::ReadBytes(FScratch / output)) << "the FIFO gave other bytes";
                fs::remove(FScratch / output);
            }
        }
    }
}

// A run stopped half-way leaves no trace of its video.
TEST_F(PreviewVideo, InterruptedRunLeavesNothing)
{
    for (const char* output : {"long.mp4", "long.webm", "long.mkv"}) {
        SCOPED_TRACE(output);
        const testing_support::TTree before = testing_support::LookAt(FScratch.Path());
        testing_support::TChildSetup setup;
        setup.Args = {"--module", testing_support::ModuleUnderTest, "--size", "320x240", "--output", output};
        setup.WorkingDir = FScratch.Path();
        testing_support::TEnded ended;
        {
            testing_support::TRunningPreview run(setup);
            EXPECT_TRUE(testing_support::WaitUntil(
                [&] { return testing_support::WritesUnder(run.Pid(), FScratch.Path()); }, 20));
            usleep(100000);
            run.Signal(SIGINT);
            ended = run.Wait(20);
        }
        EXPECT_EQ(ended.Status, 128 + SIGINT) << ended.Err;
        EXPECT_EQ(ended.Err, "selvanore-preview: interrupted\n");
        EXPECT_EQ(testing_support::DifferencesBetween(before, testing_support::LookAt(FScratch.Path())),
                  std::vector<std::string>{});
    }
}

// AddressSanitizer reserves terabytes of address space at start-up, so these runs are built
// only without it.
#if !defined(__SANITIZE_ADDRESS__)
// FFmpeg's libraries are loaded after the check of the memory limits: the check counts them, so
// a video that would not load is refused up front with the one-line message, where a GIF of the
// same size still runs.
TEST_F(PreviewVideo, AddressSpaceLimitCountsTheLibraries)
{
    testing_support::TRunSetup setup;
    setup.LimitedResource = RLIMIT_AS;
    setup.LimitBytes = std::uint64_t{160} << 20;
    for (const char* output : {"small.gif", "small.mp4", "small.webm", "small.mkv"}) {
        const TRun run = testing_support::RunPreviewWith(
            setup, {"--module", testing_support::ModuleUnderTest, "--size", "8x8", "--frames", "2", "--output", output},
            FScratch.Path());
        if (std::string(output) == "small.gif") {
            EXPECT_EQ(run.Status, 0) << run.Err;
            continue;
        }
        EXPECT_EQ(run.Status, 2) << output << ": " << run.Err;
        EXPECT_TRUE(testing_support::IsOneLineError(run.Err)) << run.Err;
        EXPECT_NE(run.Err.find("its address-space limit (ulimit -v)"), std::string::npos) << run.Err;
        EXPECT_FALSE(fs::exists(FScratch / output));
    }
}
#endif

TEST(PreviewVideoOptions, EndingsChooseTheVideoKinds)
{
    using preview::TOutputKind;
    const struct {
        const char* Path;
        TOutputKind Kind;
    } cases[] = {{"a.mp4", TOutputKind::Mp4},   {"A.MP4", TOutputKind::Mp4}, {"a.webm", TOutputKind::WebM},
                 {"a.WebM", TOutputKind::WebM}, {"a.mkv", TOutputKind::Mkv}, {"dir/a.Mkv", TOutputKind::Mkv}};
    for (const auto& c : cases)
        EXPECT_EQ(preview::OutputKindOf(c.Path), c.Kind) << c.Path;
}

TEST(PreviewVideoHelp, NamesTheCodecsAndTheirLicence)
{
    TScratch scratch;
    const TRun result = RunPreview({"--help"}, scratch.Path());
    EXPECT_EQ(result.Status, 0);
    for (const char* part : {"NAME.mp4", "H.264", "AAC", "NAME.webm", "VP9", "Opus", "NAME.mkv", "lossless H.264",
                             "FLAC", "GNU GPL", "video, which also loads"})
        EXPECT_NE(result.Out.find(part), std::string::npos) << part;
}

} // namespace
