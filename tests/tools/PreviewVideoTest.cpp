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

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <memory>
#include <numeric>

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
    ASSERT_EQ(mkfifo((FScratch / "pipe.wav").c_str(), 0600), 0);
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
    {"PipeInput", {"--input", "pipe.wav", "--output", "x.mkv"}, "regular file"},
    {"MissingFolder", {"--input", "song.wav", "--size", "16x16", "--output", "no/such/x.mp4"}, "cannot write output"},
};

INSTANTIATE_TEST_SUITE_P(Preview, BadVideo, ::testing::ValuesIn(BadVideos),
                         [](const ::testing::TestParamInfo<TBadVideo>& AInfo) { return AInfo.param.Name; });

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
            EXPECT_TRUE(
                testing_support::WaitUntil([&] { return testing_support::HoldsTemporaries(FScratch.Path()); }, 20));
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
