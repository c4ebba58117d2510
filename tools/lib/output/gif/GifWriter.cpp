#include "tools/lib/output/AtomicFile.h"
#include "tools/lib/output/gif/GifWriter.h"
#include "tools/lib/output/gif/GifLzw.h"
#include "tools/lib/common/ToolError.h"

#include <gif_lib.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <vector>

namespace output {

namespace {

// An exact palette of one frame: colours in order of first appearance, found through a small
// open-addressing table that is cleared per frame and never reallocated.
class TPalette {
public:
    static constexpr int MaxColors = 256;

    void Clear() noexcept
    {
        FKeys.fill(Empty);
        FCount = 0;
    }

    // The index of AColor, added when new; -1 once the frame has more than MaxColors colours.
    int IndexOf(std::uint32_t AColor) noexcept
    {
        const std::uint32_t slot = SlotOf(AColor);
        if (FKeys[slot] == AColor)
            return FIndexes[slot];
        if (FCount == MaxColors)
            return -1;
        FKeys[slot] = AColor;
        FIndexes[slot] = static_cast<std::uint8_t>(FCount);
        FColors[static_cast<std::size_t>(FCount)] = AColor;
        return FCount++;
    }

    // The index of AColor; -1 when it is not in the palette.
    int Find(std::uint32_t AColor) const noexcept
    {
        const std::uint32_t slot = SlotOf(AColor);
        return FKeys[slot] == AColor ? FIndexes[slot] : -1;
    }

    int Count() const noexcept { return FCount; }
    std::uint32_t Color(int AIndex) const noexcept { return FColors[static_cast<std::size_t>(AIndex)]; }

private:
    // The slot that holds AColor, or the empty one where it would go.
    std::uint32_t SlotOf(std::uint32_t AColor) const noexcept
    {
        std::uint32_t slot = (AColor * 2654435761u) >> (32 - TableBits);
        while (FKeys[slot] != Empty && FKeys[slot] != AColor)
            slot = (slot + 1) & (TableSize - 1);
        return slot;
    }

    static constexpr int TableBits = 10;
    static constexpr std::uint32_t TableSize = 1u << TableBits;
    static constexpr std::uint32_t Empty = 0xFFFFFFFFu; // no pixel has a top byte set once masked

    std::array<std::uint32_t, TableSize> FKeys{};
    std::array<std::uint8_t, TableSize> FIndexes{};
    std::array<std::uint32_t, MaxColors> FColors{};
    int FCount = 0;
};

class TGifWriter final : public TFrameWriter {
public:
    TGifWriter(const std::string& APath, std::int32_t AWidth, std::int32_t AHeight, std::int32_t AFps)
        : FFile(APath), FWidth(AWidth), FHeight(AHeight), FFps(AFps),
          FIndexes(static_cast<std::size_t>(AWidth) * static_cast<std::size_t>(AHeight)), FPrevious(FIndexes.size())
    {
        int error = 0;
        FGif = EGifOpen(this, &TGifWriter::WriteToFile, &error);
        if (!FGif)
            Fail(error);
        EGifSetGifVersion(FGif, true);
        if (EGifPutScreenDesc(FGif, AWidth, AHeight, 8, 0, nullptr) == GIF_ERROR)
            Fail(FGif->Error);
        // Loop forever: the NETSCAPE2.0 application extension with a loop count of 0.
        static const GifByteType Application[] = {'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0'};
        static const GifByteType Loop[] = {1, 0, 0};
        if (EGifPutExtensionLeader(FGif, APPLICATION_EXT_FUNC_CODE) == GIF_ERROR ||
            EGifPutExtensionBlock(FGif, sizeof Application, Application) == GIF_ERROR ||
            EGifPutExtensionBlock(FGif, sizeof Loop, Loop) == GIF_ERROR || EGifPutExtensionTrailer(FGif) == GIF_ERROR)
            Fail(FGif->Error);
    }

    ~TGifWriter() override
    {
        if (FGif) {
            int error = 0;
            EGifCloseFile(FGif, &error);
        }
    }

    // Each frame after the first is drawn over the one before it ("do not dispose"), and only
    // the rectangle that holds every changed pixel is written. Inside it, a pixel that did not
    // change is transparent (index 0) or its own colour, whichever keeps the run of equal
    // indexes that the LZW coder compresses. Composed as a viewer composes them, the frames are
    // exactly the drawn ones, but for a frame of more than 256 colours (see MapToCube).
    void Write(std::int64_t AFrame, const std::uint32_t* APixels, const TSoundSpan&) override
    {
        TRectangle area{0, 0, FWidth, FHeight};
        bool transparent = false;
        if (FHasPrevious) {
            area = ChangedArea(APixels);
            transparent = true;
        }
        bool exact = true;
        if (transparent && !MapChanges(APixels, area))
            transparent = false; // more colours changed than fit beside the transparent index
        if (!transparent)
            exact = MapAll(APixels, area);

        // The colour table's size is a power of two from 2 to 256.
        int bits = 1;
        while ((1 << bits) < FColorCount)
            ++bits;

        GraphicsControlBlock control{};
        control.DisposalMode = DISPOSE_DO_NOT;
        control.UserInputFlag = false;
        control.DelayTime = GifDelayOf(AFrame, FFps);
        control.TransparentColor = transparent ? TransparentIndex : NO_TRANSPARENT_COLOR;
        GifByteType extension[4];
        const std::size_t length = EGifGCBToExtension(&control, extension);
        if (EGifPutExtension(FGif, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(length), extension) == GIF_ERROR)
            Fail(FGif->Error);

        // The image descriptor and its local colour table, then the coded indexes. giflib writes
        // nothing of its own between its calls, so the image goes straight to the file.
        std::array<std::uint8_t, 10 + 3 * 256> head{};
        const auto put16 = [&](std::size_t AAt, std::int32_t AValue) {
            head[AAt] = static_cast<std::uint8_t>(AValue);
            head[AAt + 1] = static_cast<std::uint8_t>(AValue >> 8);
        };
        head[0] = 0x2C;
        put16(1, area.Left);
        put16(3, area.Top);
        put16(5, area.Width);
        put16(7, area.Height);
        head[9] = static_cast<std::uint8_t>(0x80 | (bits - 1)); // a local table, not interlaced
        for (int i = 0; i < FColorCount; ++i) {
            const std::uint32_t color = exact ? FPalette.Color(i) : CubeColor(i);
            const std::size_t at = 10 + 3 * static_cast<std::size_t>(i);
            head[at] = static_cast<std::uint8_t>(color >> 16);
            head[at + 1] = static_cast<std::uint8_t>(color >> 8);
            head[at + 2] = static_cast<std::uint8_t>(color);
        }
        const std::size_t headLength = 10 + 3 * (std::size_t{1} << bits);
        const std::size_t count = static_cast<std::size_t>(area.Width) * static_cast<std::size_t>(area.Height);
        if (!PutBytes(this, head.data(), headLength) || !FCoder.Encode(FIndexes.data(), count, bits, &PutBytes, this))
            Fail(E_GIF_ERR_WRITE_FAILED);

        // What a viewer shows now. A frame mapped onto the cube is not exactly the drawn one, so
        // the next frame is written whole.
        FHasPrevious = exact;
        if (exact) {
            const std::size_t first = static_cast<std::size_t>(area.Top) * static_cast<std::size_t>(FWidth);
            const std::size_t rows = static_cast<std::size_t>(area.Height) * static_cast<std::size_t>(FWidth);
            std::copy_n(APixels + first, rows, FPrevious.data() + first);
        }
    }

    void Finish() override
    {
        if (FGif) {
            int error = 0;
            GifFileType* gif = FGif;
            FGif = nullptr;
            if (EGifCloseFile(gif, &error) == GIF_ERROR)
                Fail(error);
        }
        FFile.Finish();
    }

    TStagedOutput* Staged() noexcept override { return &FFile; }

private:
    struct TRectangle {
        std::int32_t Left, Top, Width, Height;
    };

    // The least rectangle that holds every pixel that differs from the previous frame; one
    // pixel in the corner when none does (the frame still needs an image for its delay).
    TRectangle ChangedArea(const std::uint32_t* APixels) const noexcept
    {
        const auto width = static_cast<std::size_t>(FWidth);
        std::int32_t top = -1, bottom = -1, left = FWidth, right = -1;
        for (std::int32_t y = 0; y < FHeight; ++y) {
            const std::uint32_t* now = APixels + static_cast<std::size_t>(y) * width;
            const std::uint32_t* before = FPrevious.data() + static_cast<std::size_t>(y) * width;
            if (std::memcmp(now, before, width * sizeof *now) == 0)
                continue;
            if (top < 0)
                top = y;
            bottom = y;
            // Eight pixels at a time where they all agree, then one by one.
            const auto differ8 = [&](std::int32_t AFrom) {
                std::uint32_t difference = 0;
                for (std::int32_t k = 0; k < 8; ++k)
                    difference |= now[AFrom + k] ^ before[AFrom + k];
                return difference != 0;
            };
            std::int32_t x = 0;
            while (x + 8 <= left && !differ8(x))
                x += 8;
            while (x < left && now[x] == before[x])
                ++x;
            left = std::min(left, x);
            x = FWidth - 1;
            while (x - 8 >= right && !differ8(x - 7))
                x -= 8;
            while (x > right && now[x] == before[x])
                --x;
            right = std::max(right, x);
        }
        if (top < 0)
            return {0, 0, 1, 1};
        return {left, top, right - left + 1, bottom - top + 1};
    }

    // Indexes of AArea from the exact colours of the changed pixels, from index 1; false when
    // they are more than 255. A pixel that did not change may show either the transparent index
    // or its own colour when that is in the palette already: it takes the one that continues the
    // run before it, and its own colour when neither does, so that transparent pixels rarely
    // break a run of one colour (the runs are what the LZW coder lives on). The palette is
    // looked at only where the colour changes along a row.
    bool MapChanges(const std::uint32_t* APixels, const TRectangle& AArea) noexcept
    {
        FPalette.Clear();
        if (FPalette.IndexOf(TransparentKey) != TransparentIndex)
            return false;
        GifByteType* out = FIndexes.data();
        // The colour and index written last.
        std::uint32_t lastColor = TransparentKey;
        GifByteType lastIndex = TransparentIndex;
        const auto width = static_cast<std::size_t>(FWidth);
        for (std::int32_t y = AArea.Top; y < AArea.Top + AArea.Height; ++y) {
            const std::uint32_t* now = APixels + static_cast<std::size_t>(y) * width + AArea.Left;
            const std::uint32_t* before = FPrevious.data() + static_cast<std::size_t>(y) * width + AArea.Left;
            for (std::int32_t x = 0; x < AArea.Width; ++x) {
                const std::uint32_t color = now[x] & 0x00FFFFFFu;
                if (color == lastColor) {
                    *out++ = lastIndex;
                    continue;
                }
                if (now[x] == before[x]) {
                    if (lastIndex != TransparentIndex) {
                        const int index = FPalette.Find(color);
                        lastIndex = index < 0 ? TransparentIndex : static_cast<GifByteType>(index);
                        lastColor = index < 0 ? TransparentKey : color;
                    }
                    *out++ = lastIndex;
                    continue;
                }
                const int index = FPalette.IndexOf(color);
                if (index < 0)
                    return false;
                lastColor = color;
                lastIndex = static_cast<GifByteType>(index);
                *out++ = lastIndex;
            }
        }
        FColorCount = FPalette.Count();
        return true;
    }

    // Indexes of every pixel of AArea: exact colours when they are at most 256 (true), the cube
    // otherwise.
    bool MapAll(const std::uint32_t* APixels, const TRectangle& AArea) noexcept
    {
        FPalette.Clear();
        GifByteType* out = FIndexes.data();
        std::uint32_t lastColor = 0xFFFFFFFFu;
        GifByteType lastIndex = 0;
        for (std::int32_t y = AArea.Top; y < AArea.Top + AArea.Height; ++y) {
            const std::uint32_t* now = APixels + static_cast<std::size_t>(y) * static_cast<std::size_t>(FWidth);
            for (std::int32_t x = AArea.Left; x < AArea.Left + AArea.Width; ++x) {
                const std::uint32_t color = now[x] & 0x00FFFFFFu;
                if (color != lastColor) {
                    const int index = FPalette.IndexOf(color);
                    if (index < 0) {
                        MapToCube(APixels, AArea);
                        return false;
                    }
                    lastColor = color;
                    lastIndex = static_cast<GifByteType>(index);
                }
                *out++ = lastIndex;
            }
        }
        FColorCount = FPalette.Count();
        return true;
    }

    // The transparent index is the palette's first entry; its key is no colour of a pixel.
    static constexpr GifByteType TransparentIndex = 0;
    static constexpr std::uint32_t TransparentKey = 0x01000000u;

    // A frame of more than 256 colours (not one of the rings') is mapped onto a fixed cube of
    // 6 x 7 x 6 levels, the most that fits.
    static constexpr int CubeRed = 6, CubeGreen = 7, CubeBlue = 6;

    void MapToCube(const std::uint32_t* APixels, const TRectangle& AArea) noexcept
    {
        FColorCount = CubeRed * CubeGreen * CubeBlue;
        const auto level = [](std::uint32_t AValue, int ALevels) {
            return static_cast<int>((AValue & 0xFF) * static_cast<std::uint32_t>(ALevels - 1) + 127) / 255;
        };
        GifByteType* out = FIndexes.data();
        for (std::int32_t y = AArea.Top; y < AArea.Top + AArea.Height; ++y) {
            const std::uint32_t* now = APixels + static_cast<std::size_t>(y) * static_cast<std::size_t>(FWidth);
            for (std::int32_t x = AArea.Left; x < AArea.Left + AArea.Width; ++x) {
                const std::uint32_t p = now[x];
                const int index =
                    (level(p >> 16, CubeRed) * CubeGreen + level(p >> 8, CubeGreen)) * CubeBlue + level(p, CubeBlue);
                *out++ = static_cast<GifByteType>(index);
            }
        }
    }

    static std::uint32_t CubeColor(int AIndex)
    {
        const auto value = [](int ALevel, int ALevels) {
            return static_cast<std::uint32_t>(ALevel * 255 / (ALevels - 1));
        };
        const int blue = AIndex % CubeBlue;
        const int green = AIndex / CubeBlue % CubeGreen;
        const int red = AIndex / CubeBlue / CubeGreen;
        return value(red, CubeRed) << 16 | value(green, CubeGreen) << 8 | value(blue, CubeBlue);
    }

    static int WriteToFile(GifFileType* AGif, const GifByteType* ABytes, int ACount)
    {
        auto* self = static_cast<TGifWriter*>(AGif->UserData);
        return self->PutBytes(self, ABytes, static_cast<std::size_t>(ACount)) ? ACount : 0;
    }

    static bool PutBytes(void* ASelf, const std::uint8_t* ABytes, std::size_t ACount)
    {
        auto* self = static_cast<TGifWriter*>(ASelf);
        errno = 0;
        const std::size_t written = std::fwrite(ABytes, 1, ACount, self->FFile.Stream());
        if (written != ACount && self->FWriteError == 0)
            self->FWriteError = errno != 0 ? errno : EIO;
        return written == ACount;
    }

    // The system's reason when a write failed (a full disk, a file-size limit), giflib's
    // otherwise.
    [[noreturn]] void Fail(int AError)
    {
        if (FWriteError != 0) {
            errno = FWriteError;
            ThrowWriteError(FFile.Target());
        }
        const char* text = GifErrorString(AError);
        throw common::EToolError("cannot write output " + common::Quoted(FFile.Target()) + ": " +
                                 (text ? text : "GIF error"));
    }

    TAtomicFile FFile;
    std::int32_t FWidth;
    std::int32_t FHeight;
    std::int32_t FFps;
    GifFileType* FGif = nullptr;
    std::vector<GifByteType> FIndexes;    // the written rectangle's, row after row
    std::vector<std::uint32_t> FPrevious; // the frame a viewer shows, as drawn
    bool FHasPrevious = false;            // false: the next frame is written whole
    TPalette FPalette;
    TGifLzwCoder FCoder;
    int FColorCount = 0;
    int FWriteError = 0; // errno of the first failed write
};

} // namespace

std::int32_t GifDelayOf(std::int64_t AFrame, std::int32_t AFps) noexcept
{
    // Frame n is shown from round(100 n / fps) hundredths of a second, halves rounded up.
    const auto start = [&](std::int64_t AIndex) { return (200 * AIndex + AFps) / (2 * AFps); };
    return static_cast<std::int32_t>(start(AFrame + 1) - start(AFrame));
}

std::unique_ptr<TFrameWriter> MakeGifWriter(const std::string& APath, std::int32_t AWidth, std::int32_t AHeight,
                                            std::int32_t AFps)
{
    return std::make_unique<TGifWriter>(APath, AWidth, AHeight, AFps);
}

} // namespace output
