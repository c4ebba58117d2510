// The LZW coding of a GIF image's pixels, as GIF89a defines it: variable-length codes of 3 to
// 12 bits, packed from the least significant bit, in sub-blocks of at most 255 bytes.
//
// giflib's own coder finds each string in a hash table, which made it the slowest part of a
// GIF run. This one finds the code of "string + index" in a direct table, one load per pixel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace output {

class TGifLzwCoder {
public:
    // Where the coded bytes go; false when they could not be written, which ends the image.
    using TSink = bool (*)(void* AContext, const std::uint8_t* ABytes, std::size_t ACount);

    // Makes the table once; coding allocates nothing.
    TGifLzwCoder();

    // Writes an image's data to ASink: the minimum code size, the codes of ACount indexes (each
    // below 2^ABits, ABits from 1 to 8) in sub-blocks, and the empty block that ends them.
    // False when the sink failed.
    bool Encode(const std::uint8_t* AIndexes, std::size_t ACount, int ABits, TSink ASink, void* AContext);

private:
    static constexpr int MaxBits = 12;
    static constexpr int MaxCodes = 1 << MaxBits;

    // Appends ACode in the current width; writes the block out when it is full.
    void Put(std::uint32_t ACode);
    bool Flush(bool AFinal);
    void ResetTable(int ARoots) noexcept;

    // The code of "string c + index i" at c * FStride + i; 0 for none (no string gets code 0,
    // which stands for the one-index string of index 0).
    std::vector<std::uint16_t> FNext;
    std::size_t FStride = 0;

    std::uint64_t FBits = 0; // bits not yet in FBlock, lowest first
    int FBitCount = 0;
    int FWidth = 0;          // bits of the next code
    std::uint32_t FFree = 0; // the next code to assign
    std::uint8_t FBlock[256] = {};
    int FBlockLength = 0; // data bytes in FBlock after its length byte
    bool FFailed = false;
    TSink FSink = nullptr;
    void* FContext = nullptr;
};

} // namespace output
