#include "PreviewTestSupport.h"

#include <gif_lib.h>
#include <png.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace preview_test {

namespace fs = std::filesystem;

TScratch::TScratch()
{
    std::string pattern = (fs::temp_directory_path() / "selvanore-preview-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot make a scratch folder");
    FPath = pattern;
}

TScratch::~TScratch()
{
    std::error_code error;
    fs::remove_all(FPath, error);
}

std::vector<std::string> TScratch::Entries() const
{
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(FPath))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

namespace {

std::string ReadAll(const fs::path& APath)
{
    std::ifstream in(APath, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

TRun RunPreview(const std::vector<std::string>& AArgs, const fs::path& AWorkingDir)
{
    return RunPreviewWith({}, AArgs, AWorkingDir);
}

std::string ReadBytes(const std::string& APath)
{
    return ReadAll(APath);
}

TRun RunPreviewWith(const TRunSetup& ASetup, const std::vector<std::string>& AArgs, const fs::path& AWorkingDir)
{
    // The captured streams live beside the scratch folder, not in it, so that the folder's
    // entries show only what the program wrote.
    const TScratch streams;
    const std::string outPath = streams / "stdout";
    const std::string errPath = streams / "stderr";

    struct stat device {};
    if (ASetup.Stdout == TStdout::Full && (stat("/dev/full", &device) != 0 || !S_ISCHR(device.st_mode)))
        throw std::runtime_error("/dev/full is not the full device: something has replaced it");

    std::vector<std::string> args{PREVIEW_PROGRAM};
    args.insert(args.end(), AArgs.begin(), AArgs.end());
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    const pid_t child = fork();
    if (child < 0)
        throw std::runtime_error("fork failed");
    if (child == 0) {
        const int in = open("/dev/null", O_RDONLY);
        const int out = ASetup.Stdout == TStdout::Full ? open("/dev/full", O_WRONLY)
                                                       : open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 ||
            chdir(AWorkingDir.c_str()) != 0)
            _exit(127);
        if (ASetup.Stdout == TStdout::Closed)
            close(1);
        if (ASetup.LimitedResource >= 0) {
            const rlimit limit{ASetup.LimitBytes, ASetup.LimitBytes};
            if (setrlimit(ASetup.LimitedResource, &limit) != 0)
                _exit(127);
        }
        for (const std::string& variable : ASetup.Environment)
            if (putenv(const_cast<char*>(variable.c_str())) != 0)
                _exit(127);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child)
        throw std::runtime_error("waitpid failed");
    TRun run;
    run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.Out = ReadAll(outPath);
    run.Err = ReadAll(errPath);
    return run;
}

void WriteWav(const std::string& APath, int ARate, int AChannels, std::int64_t AFrames,
              const std::function<double(int, std::int64_t)>& ASample)
{
    SF_INFO info{};
    info.samplerate = ARate;
    info.channels = AChannels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(APath.c_str(), SFM_WRITE, &info);
    if (!file)
        throw std::runtime_error("cannot write " + APath);
    std::vector<short> frame(static_cast<std::size_t>(AChannels));
    for (std::int64_t i = 0; i < AFrames; ++i) {
        for (int c = 0; c < AChannels; ++c)
            frame[static_cast<std::size_t>(c)] =
                static_cast<short>(std::lround(std::clamp(ASample(c, i), -1.0, 32767.0 / 32768.0) * 32768.0));
        sf_writef_short(file, frame.data(), 1);
    }
    sf_close(file);
}

void WriteSound(const std::string& APath, int AFormat, int ARate, int AChannels, std::int64_t AFrames,
                const std::function<double(int, std::int64_t)>& ASample)
{
    SF_INFO info{};
    info.samplerate = ARate;
    info.channels = AChannels;
    info.format = AFormat;
    SNDFILE* file = sf_open(APath.c_str(), SFM_WRITE, &info);
    if (!file)
        throw std::runtime_error("libsndfile cannot write " + APath + ": " + sf_strerror(nullptr));
    std::vector<double> frame(static_cast<std::size_t>(AChannels));
    for (std::int64_t i = 0; i < AFrames; ++i) {
        for (int c = 0; c < AChannels; ++c)
            frame[static_cast<std::size_t>(c)] = ASample(c, i);
        sf_writef_double(file, frame.data(), 1);
    }
    if (sf_close(file) != 0)
        throw std::runtime_error("libsndfile cannot finish " + APath);
}

namespace {

// Opens APath for reading, calls AUse with the file and its description, and closes it; -1
// when it does not open.
std::int64_t WithSoundFile(const std::string& APath, const std::function<std::int64_t(SNDFILE*, const SF_INFO&)>& AUse)
{
    SF_INFO info{};
    SNDFILE* file = sf_open(APath.c_str(), SFM_READ, &info);
    if (!file)
        return -1;
    const std::int64_t result = AUse(file, info);
    sf_close(file);
    return result;
}

} // namespace

std::int64_t ClaimedLength(const std::string& APath)
{
    return WithSoundFile(APath, [](SNDFILE*, const SF_INFO& AInfo) { return static_cast<std::int64_t>(AInfo.frames); });
}

std::int64_t DecodedLength(const std::string& APath)
{
    return WithSoundFile(APath, [](SNDFILE* AFile, const SF_INFO& AInfo) {
        std::vector<float> chunk(1024 * static_cast<std::size_t>(AInfo.channels));
        std::int64_t length = 0;
        for (sf_count_t got; (got = sf_readf_float(AFile, chunk.data(), 1024)) > 0 && sf_error(AFile) == 0;)
            length += got;
        return length;
    });
}

TImage ReadPng(const std::string& APath)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, APath.c_str()))
        return {};
    image.format = PNG_FORMAT_RGB;
    std::vector<png_byte> bytes(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, bytes.data(), 0, nullptr)) {
        png_image_free(&image);
        return {};
    }
    TImage result;
    result.Width = static_cast<int>(image.width);
    result.Height = static_cast<int>(image.height);
    result.Pixels.resize(static_cast<std::size_t>(result.Width) * static_cast<std::size_t>(result.Height));
    for (std::size_t i = 0; i < result.Pixels.size(); ++i)
        result.Pixels[i] = static_cast<std::uint32_t>(bytes[3 * i]) << 16 |
                           static_cast<std::uint32_t>(bytes[3 * i + 1]) << 8 | bytes[3 * i + 2];
    return result;
}

TGif ReadGif(const std::string& APath)
{
    TGif result;
    int error = 0;
    GifFileType* gif = DGifOpenFileName(APath.c_str(), &error);
    if (!gif)
        return result;
    if (DGifSlurp(gif) == GIF_OK) {
        result.Ok = true;
        result.Width = gif->SWidth;
        result.Height = gif->SHeight;
        for (int i = 0; i < gif->ImageCount; ++i) {
            const SavedImage& saved = gif->SavedImages[i];
            const ColorMapObject* map = saved.ImageDesc.ColorMap ? saved.ImageDesc.ColorMap : gif->SColorMap;
            TImage frame;
            frame.Width = saved.ImageDesc.Width;
            frame.Height = saved.ImageDesc.Height;
            const std::size_t count = static_cast<std::size_t>(frame.Width) * static_cast<std::size_t>(frame.Height);
            for (std::size_t p = 0; map && p < count; ++p) {
                const GifColorType& c = map->Colors[saved.RasterBits[p]];
                frame.Pixels.push_back(static_cast<std::uint32_t>(c.Red) << 16 |
                                       static_cast<std::uint32_t>(c.Green) << 8 | c.Blue);
            }
            result.Frames.push_back(std::move(frame));
            GraphicsControlBlock control{};
            result.Delays.push_back(DGifSavedExtensionToGCB(gif, i, &control) == GIF_OK ? control.DelayTime : -1);
        }
    }
    DGifCloseFile(gif, &error);
    return result;
}

std::vector<std::string> ReadLines(const std::string& APath)
{
    std::ifstream in(APath);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

} // namespace preview_test
