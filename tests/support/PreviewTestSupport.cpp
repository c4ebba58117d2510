#include "tests/support/PreviewTestSupport.h"

#include <gif_lib.h>
#include <png.h>
#include <sndfile.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <csignal>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <stdexcept>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testing_support {

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
    TChildSetup child;
    child.Args = AArgs;
    child.WorkingDir = AWorkingDir;
    if (ASetup.Stdout == TStdout::Full) {
        struct stat device {};
        if (stat("/dev/full", &device) != 0 || !S_ISCHR(device.st_mode))
            throw std::runtime_error("/dev/full is not the full device: something has replaced it");
        child.StandardOutput = "/dev/full";
    }
    child.CloseStandardOutput = ASetup.Stdout == TStdout::Closed;
    child.LimitedResource = ASetup.LimitedResource;
    child.LimitBytes = ASetup.LimitBytes;
    child.Environment = ASetup.Environment;
    const TEnded ended = RunToEnd(child);
    if (ended.TimedOut)
        throw std::runtime_error("the preview did not end in time");
    return {ended.Status, ended.Out, ended.Err};
}

void WriteSong(const std::string& APath, double ASeconds)
{
    WriteWav(APath, 8000, 2, static_cast<std::int64_t>(ASeconds * 8000), [](int AChannel, std::int64_t AIndex) {
        const double t = static_cast<double>(AIndex) / 8000.0;
        return 0.6 * std::sin(2 * 3.141592653589793 * (AChannel == 0 ? 440.0 : 110.0) * t);
    });
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

double UncleanSample(TUnclean AKind, int ARate, int AChannel, std::int64_t AIndex)
{
    const double inf = std::numeric_limits<double>::infinity(), nan = std::numeric_limits<double>::quiet_NaN();
    if (AChannel >= 2)
        return nan;
    const std::int64_t run = AIndex / (ARate / 100) + AChannel;
    const double seconds = static_cast<double>(AIndex) / ARate;
    const double tone = 0.5 * std::sin(2 * 3.141592653589793 * (AChannel == 0 ? 300.0 : 500.0) * seconds);
    switch (run % 4) {
    case 1: // the high runs
        switch (AKind) {
        case TUnclean::Infinity: return inf;
        case TUnclean::NotANumber: return nan;
        case TUnclean::Beyond: return 1.5;
        case TUnclean::Mix: return std::array{inf, 1.5, 1.0}[static_cast<std::size_t>(AIndex % 3)];
        }
        break;
    case 3: // the low runs
        switch (AKind) {
        case TUnclean::Infinity: return -inf;
        case TUnclean::NotANumber: return nan;
        case TUnclean::Beyond: return -3.0;
        case TUnclean::Mix: return std::array{-inf, -3.0, -1.0}[static_cast<std::size_t>(AIndex % 3)];
        }
        break;
    default: break;
    }
    // Every fourth tone run of the mix is NaN instead: silence.
    return AKind == TUnclean::Mix && run % 8 == 2 ? nan : tone;
}

float CleanedSample(double AStored)
{
    const float stored = static_cast<float>(AStored);
    if (std::isnan(stored))
        return 0.0f;
    return std::clamp(stored, -1.0f, 1.0f);
}

bool NeedsCleaning(double AStored)
{
    const float stored = static_cast<float>(AStored);
    return std::isnan(stored) || stored != CleanedSample(AStored);
}

std::string CleanedWarning(std::int64_t ACount, const std::string& AName)
{
    return "warning: " + std::to_string(ACount) + " samples of '" + AName +
           "' were beyond full scale or not numbers: clipped to full scale, NaN to 0";
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
        TImage screen{gif->SWidth, gif->SHeight,
                      std::vector<std::uint32_t>(static_cast<std::size_t>(gif->SWidth) * gif->SHeight, NotCovered)};
        for (int i = 0; i < gif->ImageCount; ++i) {
            const SavedImage& saved = gif->SavedImages[i];
            const ColorMapObject* map = saved.ImageDesc.ColorMap ? saved.ImageDesc.ColorMap : gif->SColorMap;
            TImage frame;
            frame.Width = saved.ImageDesc.Width;
            frame.Height = saved.ImageDesc.Height;
            const std::size_t count = static_cast<std::size_t>(frame.Width) * static_cast<std::size_t>(frame.Height);
            for (std::size_t p = 0; map && p < count; ++p) {
                const int index = saved.RasterBits[p];
                const GifColorType c = index < map->ColorCount ? map->Colors[index] : GifColorType{0xFF, 0xFF, 0xFF};
                frame.Pixels.push_back(static_cast<std::uint32_t>(c.Red) << 16 |
                                       static_cast<std::uint32_t>(c.Green) << 8 | c.Blue);
            }
            GraphicsControlBlock control{};
            const bool hasControl = DGifSavedExtensionToGCB(gif, i, &control) == GIF_OK;
            result.Delays.push_back(hasControl ? control.DelayTime : -1);

            // Draw the image over the screen as a viewer does; an image outside the screen
            // covers nothing there.
            const TImage before = screen;
            const int transparent = hasControl ? control.TransparentColor : NO_TRANSPARENT_COLOR;
            const auto inside = [&](int AX, int AY) {
                const int x = saved.ImageDesc.Left + AX, y = saved.ImageDesc.Top + AY;
                return x >= 0 && y >= 0 && x < screen.Width && y < screen.Height
                           ? &screen.Pixels[static_cast<std::size_t>(y) * screen.Width + x]
                           : nullptr;
            };
            for (int y = 0; map && y < frame.Height; ++y)
                for (int x = 0; x < frame.Width; ++x) {
                    const std::size_t p = static_cast<std::size_t>(y) * frame.Width + x;
                    if (std::uint32_t* pixel = inside(x, y); pixel && saved.RasterBits[p] != transparent)
                        *pixel = frame.Pixels[p];
                }
            result.Composed.push_back(screen);
            if (hasControl && control.DisposalMode == DISPOSE_BACKGROUND) {
                for (int y = 0; y < frame.Height; ++y)
                    for (int x = 0; x < frame.Width; ++x)
                        if (std::uint32_t* pixel = inside(x, y))
                            *pixel = NotCovered;
            } else if (hasControl && control.DisposalMode == DISPOSE_PREVIOUS) {
                screen = before;
            }
            result.Frames.push_back(std::move(frame));
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

} // namespace testing_support

// Runs set up for the outputs and signals tests, and looks at folder trees.
namespace testing_support {

namespace {

double Now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// In the forked child: standard descriptors, the file-size limit, default signal actions and
// an empty signal mask, then the program. Only async-signal-safe calls until exec.
[[noreturn]] void StartProgram(const TChildSetup& ASetup, char** AArgv, char** AEnvironment, const char* AOutPath,
                               const char* AErrPath)
{
    const int in = open("/dev/null", O_RDONLY);
    const int err = open(AErrPath, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int out = -1;
    if (ASetup.StandardOutputDescriptor >= 0)
        out = ASetup.StandardOutputDescriptor;
    else if (!ASetup.StandardOutput.empty())
        out = open(ASetup.StandardOutput.c_str(), O_WRONLY); // neither truncated nor created
    else
        out = open(AOutPath, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || err < 0 || out < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 ||
        chdir(ASetup.WorkingDir.c_str()) != 0)
        _exit(127);
    for (int descriptor = 3; descriptor < 1024; ++descriptor)
        close(descriptor);
    if (ASetup.CloseStandardOutput)
        close(1);
    if (ASetup.FileSizeLimit >= 0) {
        const rlimit limit{static_cast<rlim_t>(ASetup.FileSizeLimit), static_cast<rlim_t>(ASetup.FileSizeLimit)};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
            _exit(127);
    }
    if (ASetup.LimitedResource >= 0) {
        const rlimit limit{ASetup.LimitBytes, ASetup.LimitBytes};
        if (setrlimit(ASetup.LimitedResource, &limit) != 0)
            _exit(127);
    }
    for (int signal = 1; signal < NSIG; ++signal)
        if (signal != SIGKILL && signal != SIGSTOP)
            ::signal(signal, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    execve(AArgv[0], AArgv, AEnvironment);
    _exit(127);
}

// The program a run starts: the one its setup names, or else the one this test program is built
// to run.
std::string ProgramOf(const TChildSetup& ASetup)
{
    if (!ASetup.Program.empty())
        return ASetup.Program;
#ifdef PREVIEW_PROGRAM
    return PREVIEW_PROGRAM;
#else
    throw std::logic_error("this test program runs no program of its own; name one in the run's setup");
#endif
}

} // namespace

TRunningPreview::TRunningPreview(const TChildSetup& ASetup)
{
    std::vector<std::string> args{ProgramOf(ASetup)};
    args.insert(args.end(), ASetup.Args.begin(), ASetup.Args.end());
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    // The test's own environment and the setup's additions, made before the fork: the child
    // makes only async-signal-safe calls.
    // An addition replaces the test's own variable of that name.
    const auto added = [&](const std::string& AVariable) {
        const std::string name = AVariable.substr(0, AVariable.find('=') + 1);
        return std::any_of(ASetup.Environment.begin(), ASetup.Environment.end(),
                           [&](const std::string& AOther) { return AOther.rfind(name, 0) == 0; });
    };
    std::vector<std::string> variables;
    for (char** variable = environ; *variable; ++variable)
        if (!added(*variable))
            variables.emplace_back(*variable);
    variables.insert(variables.end(), ASetup.Environment.begin(), ASetup.Environment.end());
    std::vector<char*> environment;
    for (std::string& variable : variables)
        environment.push_back(variable.data());
    environment.push_back(nullptr);
    const std::string outPath = FStreams / "stdout";
    const std::string errPath = FStreams / "stderr";
    FOutCaptured = ASetup.StandardOutputDescriptor < 0 && ASetup.StandardOutput.empty();
    FStart = Now();
    FChild = fork();
    if (FChild < 0)
        throw std::runtime_error("fork failed");
    if (FChild == 0)
        StartProgram(ASetup, argv.data(), environment.data(), outPath.c_str(), errPath.c_str());
}

TRunningPreview::~TRunningPreview()
{
    if (FChild > 0) {
        kill(FChild, SIGKILL);
        int status = 0;
        waitpid(FChild, &status, 0);
    }
}

void TRunningPreview::Signal(int ASignal)
{
    FStart = Now();
    kill(FChild, ASignal);
}

TEnded TRunningPreview::Wait(double ASeconds)
{
    TEnded ended;
    int status = 0;
    pid_t done = 0;
    const double deadline = Now() + ASeconds;
    while ((done = waitpid(FChild, &status, WNOHANG)) == 0 && Now() < deadline)
        usleep(2000);
    if (done == 0) {
        ended.TimedOut = true;
        kill(FChild, SIGKILL);
        waitpid(FChild, &status, 0);
    }
    ended.Seconds = Now() - FStart;
    FChild = -1;
    ended.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    ended.Signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    if (FOutCaptured)
        ended.Out = ReadAll(FStreams / "stdout");
    ended.Err = ReadAll(FStreams / "stderr");
    return ended;
}

TEnded RunToEnd(const TChildSetup& ASetup)
{
    TRunningPreview run(ASetup);
    return run.Wait(300);
}

bool WaitUntil(const std::function<bool()>& ACondition, double ASeconds)
{
    const double deadline = Now() + ASeconds;
    while (!ACondition()) {
        if (Now() > deadline)
            return false;
        usleep(10000);
    }
    return true;
}

TTree LookAt(const fs::path& ARoot)
{
    TTree tree;
    std::error_code error;
    for (auto entry = fs::recursive_directory_iterator(ARoot, error);
         !error && entry != fs::recursive_directory_iterator(); entry.increment(error)) {
        const std::string name = fs::relative(entry->path(), ARoot).string();
        const fs::file_status status = entry->symlink_status();
        if (fs::is_symlink(status))
            tree[name] = "link to " + fs::read_symlink(entry->path()).string();
        else if (fs::is_regular_file(status))
            tree[name] =
                "file of " + std::to_string(static_cast<int>(status.permissions())) + ": " + ReadAll(entry->path());
        else if (fs::is_directory(status))
            tree[name] = "folder";
        else if (fs::is_fifo(status))
            tree[name] = "fifo";
        else
            tree[name] = "other";
    }
    return tree;
}

std::vector<std::string> DifferencesBetween(const TTree& ABefore, const TTree& AAfter)
{
    std::vector<std::string> differences;
    for (const auto& [name, what] : ABefore) {
        const auto after = AAfter.find(name);
        if (after == AAfter.end())
            differences.push_back(name + ": gone");
        else if (after->second != what)
            differences.push_back(name + ": changed");
    }
    for (const auto& [name, what] : AAfter)
        if (ABefore.find(name) == ABefore.end())
            differences.push_back(name + ": new");
    return differences;
}

bool CatchesSignal(pid_t APid, int ASignal)
{
    std::ifstream status("/proc/" + std::to_string(APid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("SigCgt:", 0) == 0) {
            const std::uint64_t caught = std::stoull(line.substr(7), nullptr, 16);
            return ((caught >> (ASignal - 1)) & 1) != 0;
        }
    return false;
}

bool HoldsTemporaries(const fs::path& ARoot)
{
    std::error_code error;
    for (auto entry = fs::recursive_directory_iterator(ARoot, error);
         !error && entry != fs::recursive_directory_iterator(); entry.increment(error))
        if (entry->path().filename().string().rfind(".sv-", 0) == 0)
            return true;
    return false;
}

bool WritesUnder(pid_t APid, const fs::path& ARoot)
{
    if (HoldsTemporaries(ARoot))
        return true;
    std::error_code error;
    const std::string root = fs::canonical(ARoot, error).string() + "/";
    const std::string unnamed = " (deleted)";
    for (auto entry = fs::directory_iterator("/proc/" + std::to_string(APid) + "/fd", error);
         !error && entry != fs::directory_iterator(); entry.increment(error)) {
        std::error_code ignored;
        const std::string target = fs::read_symlink(entry->path(), ignored).string();
        if (target.rfind(root, 0) == 0 && target.size() > unnamed.size() &&
            target.compare(target.size() - unnamed.size(), unnamed.size(), unnamed) == 0)
            return true;
    }
    return false;
}

bool IsOneLineError(const std::string& AErr)
{
    return AErr.rfind("selvanore-preview: ", 0) == 0 && AErr.size() > 20 &&
           std::count(AErr.begin(), AErr.end(), '\n') == 1 && AErr.back() == '\n';
}

} // namespace testing_support
