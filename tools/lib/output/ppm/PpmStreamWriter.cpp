// Frames as binary PPM images one after another on standard output: ffmpeg reads them with
// "-f image2pipe -c:v ppm".
#include "tools/lib/output/ppm/PpmStreamWriter.h"
#include "tools/lib/common/ToolError.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace output {

namespace {

class TPpmStreamWriter final : public TFrameWriter {
public:
    TPpmStreamWriter(std::int32_t AWidth, std::int32_t AHeight)
        : FWidth(AWidth), FHeight(AHeight),
          FHeader("P6\n" + std::to_string(AWidth) + " " + std::to_string(AHeight) + "\n255\n"),
          FImage(static_cast<std::size_t>(AWidth) * static_cast<std::size_t>(AHeight) * 3)
    {}

    void Write(std::int64_t, const std::uint32_t* APixels, const TSoundSpan&) override
    {
        unsigned char* out = FImage.data();
        const std::size_t count = static_cast<std::size_t>(FWidth) * static_cast<std::size_t>(FHeight);
        for (std::size_t i = 0; i < count; ++i) {
            *out++ = static_cast<unsigned char>(APixels[i] >> 16);
            *out++ = static_cast<unsigned char>(APixels[i] >> 8);
            *out++ = static_cast<unsigned char>(APixels[i]);
        }
        if (std::fwrite(FHeader.data(), 1, FHeader.size(), stdout) != FHeader.size() ||
            std::fwrite(FImage.data(), 1, FImage.size(), stdout) != FImage.size())
            Fail();
    }

    void Finish() override
    {
        if (std::fflush(stdout) != 0 || std::ferror(stdout))
            Fail();
    }

    TStagedOutput* Staged() noexcept override { return nullptr; }

private:
    [[noreturn]] static void Fail()
    {
        throw common::EToolError(std::string("cannot write to standard output: ") + std::strerror(errno));
    }

    std::int32_t FWidth;
    std::int32_t FHeight;
    std::string FHeader;
    std::vector<unsigned char> FImage;
};

} // namespace

std::unique_ptr<TFrameWriter> MakePpmStreamWriter(std::int32_t AWidth, std::int32_t AHeight)
{
    return std::make_unique<TPpmStreamWriter>(AWidth, AHeight);
}

} // namespace output
