#include "tools/lib/output/gif/GifLzw.h"

#include <algorithm>

namespace output {

TGifLzwCoder::TGifLzwCoder() : FNext(static_cast<std::size_t>(MaxCodes) * 256) {}

void TGifLzwCoder::ResetTable(int ARoots) noexcept
{
    // The strings of one index are the only ones before the clear and end codes.
    std::fill_n(FNext.begin(), static_cast<std::size_t>(ARoots) * FStride, std::uint16_t{0});
}

bool TGifLzwCoder::Flush(bool AFinal)
{
    if (AFinal && FBitCount > 0) {
        FBlock[1 + FBlockLength++] = static_cast<std::uint8_t>(FBits);
        FBits = 0;
        FBitCount = 0;
    }
    if (FBlockLength > 0 && !FFailed) {
        FBlock[0] = static_cast<std::uint8_t>(FBlockLength);
        FFailed = !FSink(FContext, FBlock, static_cast<std::size_t>(FBlockLength) + 1);
    }
    FBlockLength = 0;
    return !FFailed;
}

void TGifLzwCoder::Put(std::uint32_t ACode)
{
    FBits |= static_cast<std::uint64_t>(ACode) << FBitCount;
    FBitCount += FWidth;
    while (FBitCount >= 8) {
        FBlock[1 + FBlockLength++] = static_cast<std::uint8_t>(FBits);
        FBits >>= 8;
        FBitCount -= 8;
        if (FBlockLength == 255)
            Flush(false);
    }
}

bool TGifLzwCoder::Encode(const std::uint8_t* AIndexes, std::size_t ACount, int ABits, TSink ASink, void* AContext)
{
    FSink = ASink;
    FContext = AContext;
    FFailed = false;
    FBits = 0;
    FBitCount = 0;
    FBlockLength = 0;

    // Codes start one bit wider than the indexes, and GIF wants at least 2 bits of indexes.
    const int minimum = std::max(ABits, 2);
    const std::uint8_t sizeByte = static_cast<std::uint8_t>(minimum);
    if (!FSink(FContext, &sizeByte, 1))
        return false;
    const std::uint32_t clear = 1u << minimum;
    const std::uint32_t end = clear + 1;
    FStride = clear;
    ResetTable(static_cast<int>(clear));
    FFree = end + 1;
    FWidth = minimum + 1;
    Put(clear);

    // After each code the width grows once the next code to assign no longer fits in it; the
    // decoder, which assigns its codes one code later, widens at the same point.
    const auto putCode = [this](std::uint32_t ACode) {
        Put(ACode);
        if (FWidth < MaxBits && FFree >= (1u << FWidth))
            ++FWidth;
    };
    if (ACount > 0) {
        // Locals, so that the stores of the coded bytes do not make the compiler load these
        // again for every index.
        std::uint16_t* const next = FNext.data();
        const std::size_t stride = FStride;
        std::uint32_t prefix = AIndexes[0];
        for (std::size_t i = 1; i < ACount; ++i) {
            const std::uint32_t index = AIndexes[i];
            const std::size_t slot = prefix * stride + index;
            if (const std::uint16_t code = next[slot]; code != 0) {
                prefix = code;
                continue;
            }
            putCode(prefix);
            if (FFree < MaxCodes) {
                next[slot] = static_cast<std::uint16_t>(FFree);
                std::fill_n(next + FFree * stride, stride, std::uint16_t{0});
                ++FFree;
            } else {
                // The table is full: start afresh, as a decoder does on the clear code.
                Put(clear);
                ResetTable(static_cast<int>(clear));
                FFree = end + 1;
                FWidth = minimum + 1;
            }
            prefix = index;
        }
        putCode(prefix);
    }
    Put(end);
    Flush(true);
    const std::uint8_t terminator = 0;
    if (!FFailed)
        FFailed = !FSink(FContext, &terminator, 1);
    FSink = nullptr;
    FContext = nullptr;
    return !FFailed;
}

} // namespace output
