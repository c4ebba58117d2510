// PNG frames: numbered files in a folder, or one chosen frame.
#include "tools/preview/AtomicOutput.h"
#include "tools/preview/FrameWriter.h"
#include "tools/preview/PreviewError.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <vector>

namespace preview {

namespace {

// Writes one 8-bit RGB image to AFile and reports whether libpng finished without error.
// libpng reports errors by longjmp, so this function holds no object with a destructor and
// calls nothing but C between setjmp and its end.
bool WritePngImage(std::FILE* AFile, std::int32_t AWidth, std::int32_t AHeight, const std::uint32_t* APixels,
                   png_byte* ARow)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png)
        return false;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, AFile);
    // The frames are mostly black: the fastest level and the one cheap row filter cost little
    // in size and most of the time that libpng's default choice of filters would take.
    png_set_compression_level(png, 1);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
    png_set_IHDR(png, info, static_cast<png_uint_32>(AWidth), static_cast<png_uint_32>(AHeight), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (std::int32_t y = 0; y < AHeight; ++y) {
        const std::uint32_t* pixel = APixels + static_cast<std::size_t>(y) * static_cast<std::size_t>(AWidth);
        png_byte* out = ARow;
        for (std::int32_t x = 0; x < AWidth; ++x) {
            *out++ = static_cast<png_byte>(pixel[x] >> 16);
            *out++ = static_cast<png_byte>(pixel[x] >> 8);
            *out++ = static_cast<png_byte>(pixel[x]);
        }
        png_write_row(png, ARow);
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

void WritePngFile(const std::string& APath, const std::string& ATarget, std::int32_t AWidth, std::int32_t AHeight,
                  const std::uint32_t* APixels, std::vector<png_byte>& ARow)
{
    std::FILE* file = std::fopen(APath.c_str(), "wb");
    if (!file)
        ThrowWriteError(ATarget);
    const bool written = WritePngImage(file, AWidth, AHeight, APixels, ARow.data());
    const bool flushed = std::fflush(file) == 0 && !std::ferror(file);
    const bool closed = std::fclose(file) == 0;
    if (!written || !flushed || !closed)
        ThrowWriteError(ATarget);
}

class TPngFolderWriter final : public TFrameWriter {
public:
    TPngFolderWriter(const std::string& APath, std::int32_t AWidth, std::int32_t AHeight)
        : FFolder(APath), FWidth(AWidth), FHeight(AHeight), FRow(static_cast<std::size_t>(AWidth) * 3)
    {
    }

    void Write(std::int64_t AFrame, const std::uint32_t* APixels) override
    {
        char name[32];
        std::snprintf(name, sizeof name, "frame-%06lld.png", static_cast<long long>(AFrame));
        WritePngFile(FFolder.PathOf(name), FFolder.Target(), FWidth, FHeight, APixels, FRow);
    }

    void Commit() override { FFolder.Commit(); }

private:
    TAtomicFolder FFolder;
    std::int32_t FWidth;
    std::int32_t FHeight;
    std::vector<png_byte> FRow;
};

class TPngFrameWriter final : public TFrameWriter {
public:
    TPngFrameWriter(const std::string& APath, std::int32_t AWidth, std::int32_t AHeight, std::int64_t AFrame)
        : FFile(APath), FWidth(AWidth), FHeight(AHeight), FFrame(AFrame), FRow(static_cast<std::size_t>(AWidth) * 3)
    {
    }

    void Write(std::int64_t AFrame, const std::uint32_t* APixels) override
    {
        if (AFrame != FFrame)
            return;
        if (!WritePngImage(FFile.Stream(), FWidth, FHeight, APixels, FRow.data()))
            ThrowWriteError(FFile.Target());
        FWritten = true;
    }

    void Commit() override
    {
        if (!FWritten)
            throw EPreviewError("frame " + std::to_string(FFrame) + " was never drawn");
        FFile.Commit();
    }

private:
    TAtomicFile FFile;
    std::int32_t FWidth;
    std::int32_t FHeight;
    std::int64_t FFrame;
    std::vector<png_byte> FRow;
    bool FWritten = false;
};

} // namespace

std::unique_ptr<TFrameWriter> MakePngFolderWriter(const std::string& APath, std::int32_t AWidth,
                                                  std::int32_t AHeight)
{
    return std::make_unique<TPngFolderWriter>(APath, AWidth, AHeight);
}

std::unique_ptr<TFrameWriter> MakePngFrameWriter(const std::string& APath, std::int32_t AWidth, std::int32_t AHeight,
                                                 std::int64_t AFrame)
{
    return std::make_unique<TPngFrameWriter>(APath, AWidth, AHeight, AFrame);
}

} // namespace preview
