// selvanore-framediff A.ppm B.ppm: two streams of binary PPM (P6) frames of equal size, as
// selvanore-preview writes them to standard output. Prints, for every frame, the share of
// identical pixels and where the differing ones lie, then the total. Exit status 0 when every
// pixel agrees, 1 when some differ, 2 on bad input.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

struct TFrame {
    int Width = 0;
    int Height = 0;
    std::vector<unsigned char> Pixels; // RGB, rows top to bottom
};

// Reads the next frame; false at the end of the stream. Throws on a malformed header.
bool ReadFrame(std::istream& AStream, TFrame& AFrame)
{
    std::string magic;
    if (!(AStream >> magic))
        return false;
    int maxValue = 0;
    if (magic != "P6" || !(AStream >> AFrame.Width >> AFrame.Height >> maxValue) || maxValue != 255 ||
        AFrame.Width <= 0 || AFrame.Height <= 0 || AFrame.Width > 16384 || AFrame.Height > 16384)
        throw std::runtime_error("not a stream of 8-bit binary PPM frames");
    AStream.get(); // the single white-space character after the header
    AFrame.Pixels.resize(static_cast<std::size_t>(AFrame.Width) * static_cast<std::size_t>(AFrame.Height) * 3);
    if (!AStream.read(reinterpret_cast<char*>(AFrame.Pixels.data()),
                      static_cast<std::streamsize>(AFrame.Pixels.size())))
        throw std::runtime_error("the stream ends inside a frame");
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::cerr << "usage: selvanore-framediff A.ppm B.ppm\n";
        return 2;
    }
    std::ifstream a(argv[1], std::ios::binary), b(argv[2], std::ios::binary);
    if (!a || !b) {
        std::cerr << "selvanore-framediff: cannot open " << (!a ? argv[1] : argv[2]) << "\n";
        return 2;
    }
    try {
        TFrame fa, fb;
        std::uint64_t totalPixels = 0, totalSame = 0;
        int frame = 0;
        for (;; ++frame) {
            const bool moreA = ReadFrame(a, fa), moreB = ReadFrame(b, fb);
            if (!moreA && !moreB)
                break;
            if (moreA != moreB || fa.Width != fb.Width || fa.Height != fb.Height)
                throw std::runtime_error("the streams differ in frame count or size at frame " + std::to_string(frame));
            std::uint64_t same = 0;
            int minX = fa.Width, minY = fa.Height, maxX = -1, maxY = -1;
            for (int y = 0; y < fa.Height; ++y)
                for (int x = 0; x < fa.Width; ++x) {
                    const std::size_t i = (static_cast<std::size_t>(y) * static_cast<std::size_t>(fa.Width) +
                                           static_cast<std::size_t>(x)) *
                                          3;
                    if (fa.Pixels[i] == fb.Pixels[i] && fa.Pixels[i + 1] == fb.Pixels[i + 1] &&
                        fa.Pixels[i + 2] == fb.Pixels[i + 2]) {
                        ++same;
                    } else {
                        minX = std::min(minX, x), minY = std::min(minY, y);
                        maxX = std::max(maxX, x), maxY = std::max(maxY, y);
                    }
                }
            const std::uint64_t pixels = static_cast<std::uint64_t>(fa.Width) * static_cast<std::uint64_t>(fa.Height);
            totalPixels += pixels;
            totalSame += same;
            std::printf("frame %d: %.6f%% identical", frame,
                        100.0 * static_cast<double>(same) / static_cast<double>(pixels));
            if (same != pixels)
                std::printf(", %llu differ within (%d,%d)-(%d,%d)", static_cast<unsigned long long>(pixels - same),
                            minX, minY, maxX, maxY);
            std::printf("\n");
        }
        if (frame == 0)
            throw std::runtime_error("no frames");
        std::printf("total: %d frames, %.6f%% identical (%llu of %llu pixels differ)\n", frame,
                    100.0 * static_cast<double>(totalSame) / static_cast<double>(totalPixels),
                    static_cast<unsigned long long>(totalPixels - totalSame),
                    static_cast<unsigned long long>(totalPixels));
        return totalSame == totalPixels ? 0 : 1;
    } catch (const std::exception& e) {
        std::cerr << "selvanore-framediff: " << e.what() << "\n";
        return 2;
    }
}
