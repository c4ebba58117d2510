#include "tools/lib/sound/SignalSource.h"

#include "tools/lib/common/ToolError.h"

#include <sndfile.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <string_view>
#include <vector>

namespace sound {

namespace {

struct TSndFileCloser {
    void operator()(SNDFILE* AFile) const noexcept { sf_close(AFile); }
};
using TSndFile = std::unique_ptr<SNDFILE, TSndFileCloser>;

// Keeps the MP3 decoder quiet. libsndfile gives no way to reach the switches of its MP3
// decoder (mpg123), which writes notes and errors of its own to standard error on a damaged
// file (and may while libsndfile tries formats on opening any file), breaking the preview's
// one-line messages; what went wrong comes back through sf_error anyway. So standard error
// points at /dev/null while that decoder may run, and back at the original for everything else
// (the progress bar, the messages). The other decoders are silent and run without the two
// system calls a scope costs. Without the null device or a spare descriptor, the decoder is
// left to speak.
class TQuietDecoders {
public:
    TQuietDecoders() : FNull(open("/dev/null", O_WRONLY | O_CLOEXEC)), FSaved(fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3))
    {
        // A /dev/null that something replaced by a plain file would collect the notes instead.
        struct stat status {};
        if (FNull >= 0 && (fstat(FNull, &status) != 0 || !S_ISCHR(status.st_mode))) {
            close(FNull);
            FNull = -1;
        }
    }
    ~TQuietDecoders()
    {
        if (FNull >= 0)
            close(FNull);
        if (FSaved >= 0)
            close(FSaved);
    }
    TQuietDecoders(const TQuietDecoders&) = delete;
    TQuietDecoders& operator=(const TQuietDecoders&) = delete;

    // Standard error goes nowhere for the scope's lifetime; a null owner (borrowed) leaves it.
    class TScope {
    public:
        explicit TScope(const TQuietDecoders* AOwner) : FOwner(AOwner)
        {
            FActive = FOwner && FOwner->FNull >= 0 && FOwner->FSaved >= 0 && std::fflush(stderr) == 0 &&
                      dup2(FOwner->FNull, STDERR_FILENO) >= 0;
        }
        ~TScope()
        {
            if (FActive) {
                std::fflush(stderr);
                dup2(FOwner->FSaved, STDERR_FILENO);
            }
        }
        TScope(const TScope&) = delete;
        TScope& operator=(const TScope&) = delete;

    private:
        const TQuietDecoders* FOwner;
        bool FActive = false;
    };

private:
    int FNull;
    int FSaved; // the original standard error
};

// Formats whose length libsndfile takes from a header or the last page rather than from the
// data: a truncated or damaged file claims a length it does not have (an Ogg file cut short
// claims the largest count there is). Their length is counted by decoding them.
bool LengthIsClaimed(const SF_INFO& AInfo) noexcept
{
    const int container = AInfo.format & SF_FORMAT_TYPEMASK;
    return container == SF_FORMAT_OGG || container == SF_FORMAT_MPEG || AInfo.frames <= 0 ||
           AInfo.frames == SF_COUNT_MAX;
}

// The failure of a read that libsndfile reports after ADecoded samples per channel came whole.
// Its own text ("Error : flac decoder lost sync.") speaks of the decoder's insides; what a user
// can act on is that the file is damaged or cut short, and where. A failure of the system (a
// disk that fails) keeps its reason, which libsndfile gives as "System error : <reason>.".
common::EToolError DecodeFailure(const std::string& APath, SNDFILE* AFile, std::int64_t ADecoded, std::int32_t ARate)
{
    char where[96];
    std::snprintf(where, sizeof where, "%lld samples (%.3f s)", static_cast<long long>(ADecoded),
                  static_cast<double>(ADecoded) / static_cast<double>(ARate));
    if (sf_error(AFile) == SF_ERR_SYSTEM) {
        std::string reason = sf_strerror(AFile);
        constexpr std::string_view Prefix = "System error : ";
        if (reason.starts_with(Prefix))
            reason.erase(0, Prefix.size());
        if (reason.ends_with('.'))
            reason.pop_back();
        return common::EToolError("cannot read input " + common::Quoted(APath) + " after " + where + ": " + reason);
    }
    return common::EToolError("cannot decode input " + common::Quoted(APath) +
                              ": the file is damaged or cut short after " + where);
}

// Decodes sequentially and keeps a window of one block, so that memory stays small for a
// long file and every format reads the same way, seekable or not. Frames hop further than a
// block at usual rates; the samples between windows are decoded and dropped.
class TSoundFileSignal final : public TSignalSource {
public:
    TSoundFileSignal(std::unique_ptr<TQuietDecoders> AQuiet, TSndFile AFile, const SF_INFO& AInfo, std::string APath)
        : FQuiet(std::move(AQuiet)), FFile(std::move(AFile)), FInfo(AInfo), FPath(std::move(APath)),
          FChunk(static_cast<std::size_t>(BlockSize) * static_cast<std::size_t>(AInfo.channels)), FLeft(BlockSize),
          FRight(BlockSize)
    {}

    std::int32_t Rate() const override { return FInfo.samplerate; }
    std::int64_t Length() const override { return FInfo.frames; }

    void ReadBlock(std::int64_t AStart, float* ALeft, float* ARight) override
    {
        if (AStart < FWindowStart)
            throw std::logic_error("blocks must be read in increasing order");
        const std::int64_t drop = std::min<std::int64_t>(AStart - FWindowStart, FWindowCount);
        std::copy(FLeft.begin() + drop, FLeft.begin() + FWindowCount, FLeft.begin());
        std::copy(FRight.begin() + drop, FRight.begin() + FWindowCount, FRight.begin());
        FWindowCount -= static_cast<int>(drop);
        // Samples between the old window's end and AStart are decoded and dropped.
        std::int64_t skip = AStart - FWindowStart - drop;
        while (skip > 0 && !FAtEnd)
            skip -= Decode(static_cast<int>(std::min<std::int64_t>(skip, BlockSize)), nullptr, nullptr);
        FWindowStart = AStart;
        while (FWindowCount < BlockSize && !FAtEnd)
            FWindowCount += Decode(BlockSize - FWindowCount, FLeft.data() + FWindowCount, FRight.data() + FWindowCount);

        std::fill(std::copy(FLeft.begin(), FLeft.begin() + FWindowCount, ALeft), ALeft + BlockSize, 0.0f);
        std::fill(std::copy(FRight.begin(), FRight.begin() + FWindowCount, ARight), ARight + BlockSize, 0.0f);
    }

private:
    // Decodes up to ACount samples per channel into ALeft and ARight (or drops them when they
    // are null) and returns how many came.
    int Decode(int ACount, float* ALeft, float* ARight)
    {
        sf_count_t got = 0;
        {
            const TQuietDecoders::TScope quiet(FQuiet.get());
            got = sf_readf_float(FFile.get(), FChunk.data(), ACount);
        }
        if (sf_error(FFile.get()) != SF_ERR_NO_ERROR)
            throw DecodeFailure(FPath, FFile.get(), FDecoded, FInfo.samplerate);
        if (got <= 0) {
            FAtEnd = true;
            return 0;
        }
        // Dropped samples are cleaned as well, so that the count covers every position.
        const int channels = FInfo.channels;
        for (sf_count_t i = 0; i < got; ++i) {
            float* frame = FChunk.data() + i * channels;
            const std::int64_t position = FDecoded + i;
            Clean(frame[0], position);
            if (channels > 1)
                Clean(frame[1], position);
            if (ALeft) {
                ALeft[i] = frame[0];
                ARight[i] = frame[channels > 1 ? 1 : 0];
            }
        }
        FDecoded += got;
        return static_cast<int>(got);
    }

    std::unique_ptr<TQuietDecoders> FQuiet; // for an MP3: silences every decoding call; else null
    TSndFile FFile;
    SF_INFO FInfo;
    std::string FPath;
    std::vector<float> FChunk; // interleaved, BlockSize frames of every channel
    std::vector<float> FLeft;  // the window: samples FWindowStart onward
    std::vector<float> FRight;
    std::int64_t FWindowStart = 0;
    int FWindowCount = 0;
    std::int64_t FDecoded = 0; // samples per channel decoded: the position of the next one
    bool FAtEnd = false;
};

} // namespace

std::string InputFileOf(const std::string& APath)
{
    return APath == "-" ? std::string("/dev/stdin") : APath;
}

std::unique_ptr<TSignalSource> OpenSoundFile(const std::string& APath)
{
    const std::string path = InputFileOf(APath);
    // Why a path cannot be read, which libsndfile does not tell: a name too long, a loop of
    // links or no permission are not a missing file. Only a plain file is opened to find out:
    // opening a pipe or a FIFO and closing it again would take its data from the decoder.
    const auto openError = [&](int AError) {
        return common::EToolError("cannot open input " + common::Quoted(path) + ": " +
                                  (AError == ENOENT ? "no such file" : std::strerror(AError)));
    };
    struct stat status {};
    if (stat(path.c_str(), &status) != 0)
        throw openError(errno);
    if (S_ISDIR(status.st_mode))
        throw common::EToolError("cannot open input " + common::Quoted(path) + ": it is a folder");
    if (S_ISREG(status.st_mode)) {
        if (status.st_size == 0)
            throw common::EToolError("input " + common::Quoted(path) + " is empty");
        const int probe = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (probe < 0)
            throw openError(errno);
        close(probe);
    }

    auto quiet = std::make_unique<TQuietDecoders>();
    const auto openFile = [&](SF_INFO& AInfo) {
        const TQuietDecoders::TScope scope(quiet.get());
        return TSndFile(sf_open(path.c_str(), SFM_READ, &AInfo));
    };
    const auto decodeError = [&](const char* AText) {
        return common::EToolError("cannot decode input " + common::Quoted(path) + ": " + AText);
    };
    SF_INFO info{};
    TSndFile file = openFile(info);
    if (!file)
        throw decodeError(sf_strerror(nullptr));
    if (info.channels < 1 || info.samplerate < 1)
        throw decodeError("no channels or no sample rate");
    // Before any counting pass: a rate the sound card or an encoder cannot take is refused at
    // once, however long the file.
    if (info.samplerate < MinRate || info.samplerate > MaxRate)
        throw common::EToolError("input " + common::Quoted(path) + " is sampled at " + std::to_string(info.samplerate) +
                                 " Hz: the rate must be from " + std::to_string(MinRate) + " to " +
                                 std::to_string(MaxRate) + " Hz");
    // Only the MP3 decoder speaks; the others decode without the guard.
    if ((info.format & SF_FORMAT_TYPEMASK) != SF_FORMAT_MPEG)
        quiet.reset();
    if (LengthIsClaimed(info) && S_ISREG(status.st_mode)) {
        // Count what decodes, then start again from the top: libsndfile's seeking in these
        // formats goes by the same pages that misled the count. A pipe cannot be read twice;
        // its claimed length stands (a run with --frames or --seconds does not need it).
        std::vector<float> chunk(static_cast<std::size_t>(BlockSize) * static_cast<std::size_t>(info.channels));
        sf_count_t length = 0;
        for (;;) {
            sf_count_t got = 0;
            {
                const TQuietDecoders::TScope scope(quiet.get());
                got = sf_readf_float(file.get(), chunk.data(), BlockSize);
            }
            if (sf_error(file.get()) != SF_ERR_NO_ERROR)
                throw DecodeFailure(path, file.get(), length, info.samplerate);
            if (got <= 0)
                break;
            length += got;
        }
        {
            const TQuietDecoders::TScope scope(quiet.get());
            file.reset();
        }
        SF_INFO again{};
        file = openFile(again);
        if (!file)
            throw decodeError(sf_strerror(nullptr));
        info.frames = length;
    }
    if (info.frames <= 0)
        throw common::EToolError("input " + common::Quoted(path) + " holds no samples");
    // Integer samples become floats in -1..1 (16-bit PCM scaled by 1/32768), as the player's
    // decoders give them.
    sf_command(file.get(), SFC_SET_NORM_FLOAT, nullptr, SF_TRUE);
    return std::make_unique<TSoundFileSignal>(std::move(quiet), std::move(file), info, path);
}

std::string RateLimitsHelp()
{
    return "Input:\n  A sound file may be sampled at " + std::to_string(MinRate) + " to " + std::to_string(MaxRate) +
           " Hz (what sound cards,\n  the sound server and the video encoders take); other rates are refused.\n";
}

void TSignalSource::Clean(float& ASample, std::int64_t APosition) noexcept
{
    if (CleanSample(ASample) && APosition < FCountedEnd)
        ++FCleaned;
}

bool CleanSample(float& ASample) noexcept
{
    if (std::isnan(ASample)) {
        ASample = 0.0f;
        return true;
    }
    if (ASample > 1.0f || ASample < -1.0f) {
        ASample = ASample > 0.0f ? 1.0f : -1.0f;
        return true;
    }
    return false;
}

std::string CleanedSamplesWarning(std::int64_t ACount, const std::string& ANamed)
{
    const bool one = ACount == 1;
    return "warning: " + std::to_string(ACount) + (one ? " sample" : " samples") +
           (ANamed.empty() ? std::string() : " of " + common::Quoted(ANamed)) +
           (one ? " was beyond full scale or not a number" : " were beyond full scale or not numbers") +
           ": clipped to full scale, NaN to 0";
}

std::int64_t FramesForLength(std::int64_t ALength, std::int32_t ARate, std::int32_t AFps)
{
    if (ALength <= 0)
        return 0;
    // ceil(ALength x AFps / ARate); the bound keeps the product inside 64 bits.
    if (ALength > INT64_MAX / AFps - ARate)
        return INT64_MAX;
    return (ALength * AFps + ARate - 1) / ARate;
}

} // namespace sound
