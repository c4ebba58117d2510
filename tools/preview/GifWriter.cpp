#include "tools/preview/AtomicOutput.h"
#include "tools/preview/FrameWriter.h"
#include "tools/preview/PreviewError.h"

#include <gif_lib.h>

#include <array>
#include <cerrno>
#include <vector>

namespace preview {

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
        std::uint32_t slot = (AColor * 2654435761u) >> (32 - TableBits);
        while (FKeys[slot] != Empty) {
            if (FKeys[slot] == AColor)
                return FIndexes[slot];
            slot = (slot + 1) & (TableSize - 1);
        }
        if (FCount == MaxColors)
            return -1;
        FKeys[slot] = AColor;
        FIndexes[slot] = static_cast<std::uint8_t>(FCount);
        FColors[static_cast<std::size_t>(FCount)] = AColor;
        return FCount++;
    }

    int Count() const noexcept { return FCount; }
    std::uint32_t Color(int AIndex) const noexcept { return FColors[static_cast<std::size_t>(AIndex)]; }

private:
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
          FIndexes(static_cast<std::size_t>(AWidth) * static_cast<std::size_t>(AHeight))
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
            EGifPutExtensionBlock(FGif, sizeof Loop, Loop) == GIF_ERROR ||
            EGifPutExtensionTrailer(FGif) == GIF_ERROR)
            Fail(FGif->Error);
    }

    ~TGifWriter() override
    {
        if (FGif) {
            int error = 0;
            EGifCloseFile(FGif, &error);
        }
    }

    void Write(std::int64_t AFrame, const std::uint32_t* APixels) override
    {
        const std::size_t count = FIndexes.size();
        FPalette.Clear();
        bool exact = true;
        for (std::size_t i = 0; i < count; ++i) {
            const int index = FPalette.IndexOf(APixels[i] & 0x00FFFFFFu);
            if (index < 0) {
                exact = false;
                break;
            }
            FIndexes[i] = static_cast<GifByteType>(index);
        }
        if (exact)
            FColorCount = FPalette.Count();
        else
            MapToCube(APixels);

        // The colour table's size is a power of two from 2 to 256.
        int bits = 1;
        while ((1 << bits) < FColorCount)
            ++bits;
        std::array<GifColorType, 256> colors{};
        for (int i = 0; i < FColorCount; ++i) {
            const std::uint32_t color = exact ? FPalette.Color(i) : CubeColor(i);
            colors[static_cast<std::size_t>(i)] = {static_cast<GifByteType>(color >> 16),
                                                   static_cast<GifByteType>(color >> 8),
                                                   static_cast<GifByteType>(color)};
        }
        ColorMapObject* map = GifMakeMapObject(1 << bits, colors.data());
        if (!map)
            throw EPreviewError("cannot write output '" + FFile.Target() + "': out of memory");

        GraphicsControlBlock control{};
        control.DisposalMode = DISPOSE_DO_NOT;
        control.UserInputFlag = false;
        control.DelayTime = GifDelayOf(AFrame, FFps);
        control.TransparentColor = NO_TRANSPARENT_COLOR;
        GifByteType extension[4];
        const std::size_t length = EGifGCBToExtension(&control, extension);
        const bool written =
            EGifPutExtension(FGif, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(length), extension) != GIF_ERROR &&
            EGifPutImageDesc(FGif, 0, 0, FWidth, FHeight, false, map) != GIF_ERROR &&
            EGifPutLine(FGif, FIndexes.data(), static_cast<int>(count)) != GIF_ERROR;
        GifFreeMapObject(map);
        if (!written)
            Fail(FGif->Error);
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
    // A frame of more than 256 colours (not one of the rings') is mapped onto a fixed cube of
    // 6 x 7 x 6 levels, the most that fits.
    static constexpr int CubeRed = 6, CubeGreen = 7, CubeBlue = 6;

    void MapToCube(const std::uint32_t* APixels)
    {
        FColorCount = CubeRed * CubeGreen * CubeBlue;
        const auto level = [](std::uint32_t AValue, int ALevels) {
            return static_cast<int>((AValue & 0xFF) * static_cast<std::uint32_t>(ALevels - 1) + 127) / 255;
        };
        for (std::size_t i = 0; i < FIndexes.size(); ++i) {
            const std::uint32_t p = APixels[i];
            const int index = (level(p >> 16, CubeRed) * CubeGreen + level(p >> 8, CubeGreen)) * CubeBlue +
                              level(p, CubeBlue);
            FIndexes[i] = static_cast<GifByteType>(index);
        }
    }

    static std::uint32_t CubeColor(int AIndex)
    {
        const auto value = [](int ALevel, int ALevels) { return static_cast<std::uint32_t>(ALevel * 255 / (ALevels - 1)); };
        const int blue = AIndex % CubeBlue;
        const int green = AIndex / CubeBlue % CubeGreen;
        const int red = AIndex / CubeBlue / CubeGreen;
        return value(red, CubeRed) << 16 | value(green, CubeGreen) << 8 | value(blue, CubeBlue);
    }

    static int WriteToFile(GifFileType* AGif, const GifByteType* ABytes, int ACount)
    {
        auto* self = static_cast<TGifWriter*>(AGif->UserData);
        errno = 0;
        const std::size_t written = std::fwrite(ABytes, 1, static_cast<std::size_t>(ACount), self->FFile.Stream());
        if (written != static_cast<std::size_t>(ACount) && self->FWriteError == 0)
            self->FWriteError = errno != 0 ? errno : EIO;
        return static_cast<int>(written);
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
        throw EPreviewError("cannot write output '" + FFile.Target() + "': " + (text ? text : "GIF error"));
    }

    TAtomicFile FFile;
    std::int32_t FWidth;
    std::int32_t FHeight;
    std::int32_t FFps;
    GifFileType* FGif = nullptr;
    std::vector<GifByteType> FIndexes;
    TPalette FPalette;
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

} // namespace preview
