#include "PlayTestSupport.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testing_support {

namespace fs = std::filesystem;

TXvfb::TXvfb(int AWidth, int AHeight)
{
    // A display is free when neither its lock file nor its socket exists.
    int number = -1;
    for (int candidate = 90 + static_cast<int>(getpid() % 50); candidate < 400; ++candidate) {
        std::error_code error;
        if (!fs::exists("/tmp/.X" + std::to_string(candidate) + "-lock", error) &&
            !fs::exists("/tmp/.X11-unix/X" + std::to_string(candidate), error)) {
            number = candidate;
            break;
        }
    }
    if (number < 0) {
        FReason = "no free X display number from 90 to 399";
        return;
    }
    FDisplay = ":" + std::to_string(number);
    const std::string screen = std::to_string(AWidth) + "x" + std::to_string(AHeight) + "x24";
    std::vector<std::string> args{"Xvfb",      FDisplay, "-screen", "0", screen, "-fbdir", FFolder.Path().string(),
                                  "-nolisten", "tcp",    "-noreset"};
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    const std::string log = FFolder / "xvfb.log";
    FServer = fork();
    if (FServer == 0) {
        const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out >= 0) {
            dup2(out, 1);
            dup2(out, 2);
        }
        execvp("Xvfb", argv.data());
        _exit(127);
    }
    if (FServer < 0) {
        FReason = std::string("cannot fork for Xvfb: ") + std::strerror(errno);
        return;
    }
    const std::string socket = "/tmp/.X11-unix/X" + std::to_string(number);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (waitpid(FServer, &status, WNOHANG) == FServer) {
            FServer = -1;
            FReason = "Xvfb ended at once (" +
                      std::string(WIFEXITED(status) && WEXITSTATUS(status) == 127
                                      ? "no Xvfb on PATH: scripts/setup installs it"
                                      : "see its log") +
                      "): " + testing_support::ReadBytes(log);
            return;
        }
        std::error_code error;
        if (fs::exists(socket, error) && fs::exists(FFolder / "Xvfb_screen0", error))
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    FReason = "Xvfb did not take connections on " + FDisplay + " within 20 seconds";
}

TXvfb::~TXvfb()
{
    Kill(SIGTERM);
}

void TXvfb::Kill(int ASignal)
{
    if (FServer <= 0)
        return;
    kill(FServer, ASignal);
    int status = 0;
    while (waitpid(FServer, &status, 0) < 0 && errno == EINTR) {
    }
    FServer = -1;
}

testing_support::TImage TXvfb::Screen() const
{
    return ReadXwd(FFolder / "Xvfb_screen0");
}

namespace {

std::uint32_t BigEndian32(const std::string& ABytes, std::size_t AAt)
{
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i)
        value = (value << 8) | static_cast<unsigned char>(ABytes[AAt + i]);
    return value;
}

} // namespace

testing_support::TImage ReadXwd(const std::string& APath)
{
    const std::string bytes = testing_support::ReadBytes(APath);
    if (bytes.size() < 100)
        return {};
    const auto field = [&](int AIndex) { return BigEndian32(bytes, static_cast<std::size_t>(AIndex) * 4); };
    const std::uint32_t headerSize = field(0), format = field(2), width = field(4), height = field(5),
                        byteOrder = field(7), bitsPerPixel = field(11), bytesPerLine = field(12), redMask = field(14),
                        greenMask = field(15), blueMask = field(16), colours = field(19);
    if (format != 2 || (bitsPerPixel != 32 && bitsPerPixel != 24) || redMask != 0xFF0000 || greenMask != 0xFF00 ||
        blueMask != 0xFF)
        return {};
    const std::size_t start = headerSize + std::size_t{colours} * 12;
    if (bytes.size() < start + std::size_t{bytesPerLine} * height)
        return {};
    testing_support::TImage image;
    image.Width = static_cast<int>(width);
    image.Height = static_cast<int>(height);
    image.Pixels.resize(std::size_t{width} * height);
    const std::size_t step = bitsPerPixel / 8;
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width; ++x) {
            const std::size_t at = start + std::size_t{y} * bytesPerLine + x * step;
            std::uint32_t value = 0;
            for (std::size_t i = 0; i < step; ++i) {
                const std::uint32_t byte = static_cast<unsigned char>(bytes[at + i]);
                value |= byteOrder == 0 ? byte << (8 * i) : byte << (8 * (step - 1 - i));
            }
            image.Pixels[std::size_t{y} * width + x] = value & 0xFFFFFF;
        }
    return image;
}

std::vector<float> ReadFloats(const std::string& APath)
{
    const std::string bytes = testing_support::ReadBytes(APath);
    std::vector<float> values(bytes.size() / sizeof(float));
    if (!values.empty()) // an empty vector's data() may be null, which memcpy must not get
        std::memcpy(values.data(), bytes.data(), values.size() * sizeof(float));
    return values;
}

testing_support::TChildSetup ChildSetup(std::vector<std::string> AArgs, const std::filesystem::path& AWorkingDir,
                                        std::vector<std::string> AEnvironment)
{
    testing_support::TChildSetup setup;
    setup.Args = std::move(AArgs);
    setup.WorkingDir = AWorkingDir;
    setup.Environment = std::move(AEnvironment);
    return setup;
}

bool IsPlayOneLineError(const std::string& AErr)
{
    return AErr.rfind("selvanore-play: ", 0) == 0 && AErr.size() > 17 && AErr.back() == '\n' &&
           AErr.find('\n') == AErr.size() - 1;
}

std::string WithoutDiskDriverNotes(const std::string& AErr)
{
    std::string kept;
    for (std::size_t at = 0; at < AErr.size();) {
        const std::size_t end = std::min(AErr.find('\n', at), AErr.size() - 1) + 1;
        if (AErr.compare(at, 10, "CRITICAL: ") != 0)
            kept += AErr.substr(at, end - at);
        at = end;
    }
    return kept;
}

} // namespace testing_support
