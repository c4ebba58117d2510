// PNG frames: numbered files in a folder, or one chosen frame.
#include "tools/lib/output/png/PngWriter.h"

#include "tools/lib/common/Interrupt.h"
#include "tools/lib/common/ToolError.h"
#include "tools/lib/output/AtomicFile.h"
#include "tools/lib/output/AtomicFolder.h"
#include "tools/lib/output/png/FrameName.h"

#include <png.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace output {

namespace {

// Where libpng's bytes go, and why they did not get there.
struct TPngSink {
    std::FILE* File;
    int Error; // errno of the failed write; 0 while all is well
};

void WriteToSink(png_structp APng, png_bytep ABytes, std::size_t ACount)
{
    auto* sink = static_cast<TPngSink*>(png_get_io_ptr(APng));
    errno = 0;
    if (std::fwrite(ABytes, 1, ACount, sink->File) != ACount) {
        sink->Error = errno != 0 ? errno : EIO;
        png_error(APng, "write failed");
    }
}

void FlushNothing(png_structp) {}

// libpng's default handlers print ("libpng error: Write Error") before the preview's own
// one-line message; these print nothing. An error must not return: it jumps back to setjmp.
void FailSilently(png_structp APng, png_const_charp)
{
    png_longjmp(APng, 1);
}

void WarnNowhere(png_structp, png_const_charp) {}

// Writes one 8-bit RGB image to ASink; 0 when libpng finished, otherwise the errno to report.
// libpng reports errors by longjmp, so this function holds no object with a destructor, calls
// nothing but C between setjmp and its end, and changes no local after setjmp (the sink lives
// in the caller).
int WriteImageTo(TPngSink& ASink, std::int32_t AWidth, std::int32_t AHeight, const std::uint32_t* APixels,
                 png_byte* ARow)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, &FailSilently, &WarnNowhere);
    if (!png)
        return ENOMEM;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return ENOMEM;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return ASink.Error != 0 ? ASink.Error : EIO;
    }
    png_set_write_fn(png, &ASink, &WriteToSink, &FlushNothing);
    // The frames are mostly black: the fastest level and the one cheap row filter cost little
    // in size and most of the time that libpng's default choice of filters would take.
    png_set_compression_level(png, 1);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
    png_set_IHDR(png, info, static_cast<png_uint_32>(AWidth), static_cast<png_uint_32>(AHeight), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
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
    return 0;
}

int WritePngImage(std::FILE* AFile, std::int32_t AWidth, std::int32_t AHeight, const std::uint32_t* APixels,
                  png_byte* ARow)
{
    TPngSink sink{AFile, 0};
    return WriteImageTo(sink, AWidth, AHeight, APixels, ARow);
}

// One frame of a folder, in a file of its own.
void WritePngFile(const std::string& APath, const std::string& ATarget, std::int32_t AWidth, std::int32_t AHeight,
                  const std::uint32_t* APixels, std::vector<png_byte>& ARow)
{
    // Created while the ending signals are held: the writer thread makes the frames, and the
    // handler, on another thread, must not remove the folder's frames between the creation
    // of one and its own end (the frame is recorded already, by FramePath).
    int descriptor = -1;
    {
        const common::TEndingSignalsHeld held;
        descriptor = open(APath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    }
    if (descriptor < 0)
        ThrowWriteError(ATarget);
    std::FILE* file = fdopen(descriptor, "wb");
    if (!file) {
        const int error = errno;
        close(descriptor);
        errno = error;
        ThrowWriteError(ATarget);
    }
    int error = WritePngImage(file, AWidth, AHeight, APixels, ARow.data());
    if (error == 0 && std::fflush(file) != 0)
        error = errno;
    // Synced with all the others by TAtomicFolder::Finish.
    if (std::fclose(file) != 0 && error == 0)
        error = errno;
    if (error != 0) {
        errno = error;
        ThrowWriteError(ATarget);
    }
}

class TPngFolderWriter final : public TFrameWriter {
public:
    TPngFolderWriter(const std::string& APath, std::int32_t AWidth, std::int32_t AHeight)
        : FFolder(APath, &IsFrameName), FWidth(AWidth), FHeight(AHeight), FRow(static_cast<std::size_t>(AWidth) * 3)
    {}

    void Write(std::int64_t AFrame, const std::uint32_t* APixels, const TSoundSpan&) override
    {
        WritePngFile(FFolder.FramePath(AFrame), FFolder.Target(), FWidth, FHeight, APixels, FRow);
    }

    void Finish() override { FFolder.Finish(); }
    TStagedOutput* Staged() noexcept override { return &FFolder; }

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
    {}

    void Write(std::int64_t AFrame, const std::uint32_t* APixels, const TSoundSpan&) override
    {
        if (AFrame != FFrame)
            return;
        const int error = WritePngImage(FFile.Stream(), FWidth, FHeight, APixels, FRow.data());
        if (error != 0) {
            errno = error;
            ThrowWriteError(FFile.Target());
        }
        FWritten = true;
    }

    void Finish() override
    {
        if (!FWritten)
            throw common::EToolError("frame " + std::to_string(FFrame) + " was never drawn");
        FFile.Finish();
    }

    TStagedOutput* Staged() noexcept override { return &FFile; }

private:
    TAtomicFile FFile;
    std::int32_t FWidth;
    std::int32_t FHeight;
    std::int64_t FFrame;
    std::vector<png_byte> FRow;
    bool FWritten = false;
};

} // namespace

std::unique_ptr<TFrameWriter> MakePngFolderWriter(const std::string& APath, std::int32_t AWidth, std::int32_t AHeight)
{
    return std::make_unique<TPngFolderWriter>(APath, AWidth, AHeight);
}

std::unique_ptr<TFrameWriter> MakePngFrameWriter(const std::string& APath, std::int32_t AWidth, std::int32_t AHeight,
                                                 std::int64_t AFrame)
{
    return std::make_unique<TPngFrameWriter>(APath, AWidth, AHeight, AFrame);
}

} // namespace output
