#include "tools/preview/SignalSource.h"

#include "tools/preview/PreviewError.h"

#include <sndfile.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <vector>

namespace preview {

namespace {

struct TSndFileCloser {
    void operator()(SNDFILE* AFile) const noexcept { sf_close(AFile); }
};
using TSndFile = std::unique_ptr<SNDFILE, TSndFileCloser>;

// Decodes sequentially and keeps a window of one block, so that memory stays small for a
// long file and every format reads the same way, seekable or not. Frames hop further than a
// block at usual rates; the samples between windows are decoded and dropped.
class TSoundFileSignal final : public TSignalSource {
public:
    TSoundFileSignal(TSndFile AFile, const SF_INFO& AInfo, std::string APath)
        : FFile(std::move(AFile)), FInfo(AInfo), FPath(std::move(APath)),
          FChunk(static_cast<std::size_t>(BlockSize) * static_cast<std::size_t>(AInfo.channels)),
          FLeft(BlockSize), FRight(BlockSize)
    {
    }

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
        const sf_count_t got = sf_readf_float(FFile.get(), FChunk.data(), ACount);
        if (sf_error(FFile.get()) != SF_ERR_NO_ERROR)
            throw EPreviewError("cannot decode input '" + FPath + "': " + sf_strerror(FFile.get()));
        if (got <= 0) {
            FAtEnd = true;
            return 0;
        }
        const int channels = FInfo.channels;
        if (ALeft) {
            for (sf_count_t i = 0; i < got; ++i) {
                const float* frame = FChunk.data() + i * channels;
                ALeft[i] = frame[0];
                ARight[i] = frame[channels > 1 ? 1 : 0];
            }
        }
        return static_cast<int>(got);
    }

    TSndFile FFile;
    SF_INFO FInfo;
    std::string FPath;
    std::vector<float> FChunk;  // interleaved, BlockSize frames of every channel
    std::vector<float> FLeft;   // the window: samples FWindowStart onward
    std::vector<float> FRight;
    std::int64_t FWindowStart = 0;
    int FWindowCount = 0;
    bool FAtEnd = false;
};

} // namespace

std::unique_ptr<TSignalSource> OpenSoundFile(const std::string& APath)
{
    std::error_code error;
    const std::filesystem::path path(APath);
    if (!std::filesystem::exists(path, error))
        throw EPreviewError("cannot open input '" + APath + "': no such file");
    if (std::filesystem::is_directory(path, error))
        throw EPreviewError("cannot open input '" + APath + "': it is a folder");
    if (std::filesystem::is_regular_file(path, error) && std::filesystem::file_size(path, error) == 0)
        throw EPreviewError("input '" + APath + "' is empty");

    SF_INFO info{};
    TSndFile file(sf_open(APath.c_str(), SFM_READ, &info));
    if (!file)
        throw EPreviewError("cannot decode input '" + APath + "': " + sf_strerror(nullptr));
    if (info.channels < 1 || info.samplerate < 1)
        throw EPreviewError("cannot decode input '" + APath + "': no channels or no sample rate");
    if (info.frames <= 0)
        throw EPreviewError("input '" + APath + "' holds no samples");
    // Integer samples become floats in -1..1 (16-bit PCM scaled by 1/32768), as the player's
    // decoders give them.
    sf_command(file.get(), SFC_SET_NORM_FLOAT, nullptr, SF_TRUE);
    return std::make_unique<TSoundFileSignal>(std::move(file), info, APath);
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

} // namespace preview
