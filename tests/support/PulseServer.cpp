#include "tests/support/PulseServer.h"

#include <pulse/error.h>
#include <pulse/simple.h>
#include <pulse/timeval.h>

#include <chrono>
#include <cmath>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <numbers>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;

namespace testing_support {
namespace {

// How long the daemon may take to serve, and to end when asked; generous for a loaded machine
// and a sanitized build.
constexpr auto StartTimeout = std::chrono::seconds(20);
constexpr auto EndTimeout = std::chrono::seconds(5);

// A descriptor closed with its scope.
class TDescriptor {
public:
    explicit TDescriptor(int AFd) noexcept : FFd(AFd) {}
    ~TDescriptor()
    {
        if (FFd >= 0)
            close(FFd);
    }
    TDescriptor(const TDescriptor&) = delete;
    TDescriptor& operator=(const TDescriptor&) = delete;
    int Get() const noexcept { return FFd; }

private:
    int FFd;
};

// The file actions of a spawn, destroyed with their scope.
class TSpawnActions {
public:
    TSpawnActions() { posix_spawn_file_actions_init(&FActions); }
    ~TSpawnActions() { posix_spawn_file_actions_destroy(&FActions); }
    TSpawnActions(const TSpawnActions&) = delete;
    TSpawnActions& operator=(const TSpawnActions&) = delete;
    posix_spawn_file_actions_t* Get() noexcept { return &FActions; }

private:
    posix_spawn_file_actions_t FActions;
};

// Starts AArgs[0] from PATH with the environment AEnvironment, its standard input from
// /dev/null and its standard output and error into ALog; the child's id.
pid_t Spawn(const std::vector<std::string>& AArgs, const std::vector<std::string>& AEnvironment, const fs::path& ALog)
{
    std::vector<char*> argv;
    for (const std::string& arg : AArgs)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const std::string& variable : AEnvironment)
        envp.push_back(const_cast<char*>(variable.c_str()));
    envp.push_back(nullptr);

    TSpawnActions actions;
    posix_spawn_file_actions_addopen(actions.Get(), 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(actions.Get(), 1, ALog.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(actions.Get(), 1, 2);
    pid_t pid = -1;
    const int error = posix_spawnp(&pid, argv[0], actions.Get(), nullptr, argv.data(), envp.data());
    if (error != 0)
        throw std::runtime_error("cannot start " + AArgs[0] + ": " + std::strerror(error));
    return pid;
}

std::string ReadFile(const fs::path& APath)
{
    std::ifstream in(APath, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Whether the daemon accepts a connection on ASocket.
bool Accepts(const fs::path& ASocket)
{
    TDescriptor fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (fd.Get() < 0)
        return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = ASocket.string();
    if (path.size() >= sizeof(address.sun_path))
        return false;
    path.copy(address.sun_path, path.size());
    return connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
}

std::string Indented(const std::string& ALog)
{
    return ALog.empty() ? std::string(" (it wrote nothing)") : ":\n" + ALog;
}

} // namespace

TTempFolder::TTempFolder(const std::string& APrefix)
{
    std::string pattern = (fs::temp_directory_path() / (APrefix + "-XXXXXX")).string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot make a temporary folder: " + std::string(std::strerror(errno)));
    FPath = pattern;
}

TTempFolder::~TTempFolder()
{
    std::error_code error;
    fs::remove_all(FPath, error);
}

TClientEnvironment::TClientEnvironment(const std::string& AServer, const fs::path& AFolder)
{
    const fs::path config = AFolder / "client.conf";
    std::ofstream(config) << "autospawn = no\n";
    // The cookie only keeps the client from looking for one in the user's home; the test's
    // daemon lets every client of its socket in.
    const fs::path cookie = AFolder / "cookie";
    std::ofstream(cookie, std::ios::binary) << std::string(256, '\0');

    const std::pair<const char*, std::string> variables[] = {
        {"PULSE_SERVER", AServer},
        {"PULSE_CLIENTCONFIG", config.string()},
        {"PULSE_COOKIE", cookie.string()},
    };
    for (const auto& [name, value] : variables) {
        const char* previous = std::getenv(name);
        FSaved.emplace_back(name, previous ? std::optional<std::string>(previous) : std::nullopt);
        setenv(name, value.c_str(), 1);
    }
}

TClientEnvironment::~TClientEnvironment()
{
    for (const auto& [name, value] : FSaved) {
        if (value)
            setenv(name.c_str(), value->c_str(), 1);
        else
            unsetenv(name.c_str());
    }
}

TPulseServer::TPulseServer() : FFolder("selvanore-pulse")
{
    const fs::path home = FFolder.Path() / "home";
    const fs::path runtime = FFolder.Path() / "run";
    fs::create_directories(home / ".config");
    fs::create_directory(runtime);
    fs::permissions(runtime, fs::perms::owner_all, fs::perm_options::replace);
    FSocket = FFolder.Path() / "native";
    if (FSocket.string().size() >= sizeof(sockaddr_un::sun_path))
        throw std::runtime_error("the socket's path " + FSocket.string() +
                                 " is too long for a unix socket; set TMPDIR "
                                 "to a shorter folder");

    const char* path = std::getenv("PATH");
    const std::vector<std::string> environment = {
        "PATH=" + std::string(path ? path : ""),
        "HOME=" + home.string(),
        "XDG_RUNTIME_DIR=" + runtime.string(),
        "XDG_CONFIG_HOME=" + (home / ".config").string(),
        "PULSE_RUNTIME_PATH=" + (runtime / "pulse").string(),
        "LANG=C",
    };
    // -n: no default script, so no module of the machine's configuration is loaded; the null
    // output comes before the socket so that no client finds the server without it.
    const std::vector<std::string> args = {
        "pulseaudio",
        "-n",
        "--daemonize=no",
        "--use-pid-file=no",
        "--exit-idle-time=-1",
        "--realtime=no",
        "--high-priority=no",
        "--log-target=stderr",
        "--log-level=warning",
        "-L",
        "module-null-sink sink_name=" + std::string(NullSink) +
            " format=float32le channels=2 rate=" + std::to_string(NullSinkRate),
        "-L",
        "module-native-protocol-unix auth-anonymous=1 socket=" + FSocket.string(),
    };
    FPid = Spawn(args, environment, FFolder.Path() / "daemon.log");
    try {
        WaitUntilServing();
    } catch (...) {
        End();
        throw;
    }
    FClient.emplace(Address(), FFolder.Path());
}

TPulseServer::~TPulseServer()
{
    FClient.reset();
    End();
}

void TPulseServer::WaitUntilServing()
{
    const auto deadline = std::chrono::steady_clock::now() + StartTimeout;
    for (;;) {
        int status = 0;
        if (waitpid(FPid, &status, WNOHANG) == FPid) {
            FPid = -1;
            throw std::runtime_error("the PulseAudio daemon ended before it served (status " +
                                     std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) + ")" +
                                     Indented(Log()));
        }
        if (Accepts(FSocket))
            return;
        if (std::chrono::steady_clock::now() > deadline)
            throw std::runtime_error("the PulseAudio daemon did not serve " + FSocket.string() + " within " +
                                     std::to_string(StartTimeout.count()) + " seconds" + Indented(Log()));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

// Asks the daemon to end, kills it when it does not, and reaps it.
void TPulseServer::End() noexcept
{
    if (FPid < 0)
        return;
    if (FPaused)
        kill(FPid, SIGCONT);
    kill(FPid, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + EndTimeout;
    while (waitpid(FPid, nullptr, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(FPid, SIGKILL);
            waitpid(FPid, nullptr, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    FPid = -1;
}

std::string TPulseServer::Address() const
{
    return "unix:" + FSocket.string();
}

void TPulseServer::Kill()
{
    if (FPid < 0)
        return;
    kill(FPid, SIGKILL);
    waitpid(FPid, nullptr, 0);
    FPid = -1;
}

void TPulseServer::Pause()
{
    if (FPid >= 0 && kill(FPid, SIGSTOP) == 0)
        FPaused = true;
}

void TPulseServer::Resume()
{
    if (FPid >= 0 && kill(FPid, SIGCONT) == 0)
        FPaused = false;
}

int TPulseServer::Pactl(const std::vector<std::string>& AArgs) const
{
    std::vector<std::string> args = {"pactl", "--server=" + Address()};
    args.insert(args.end(), AArgs.begin(), AArgs.end());
    const char* path = std::getenv("PATH");
    const std::vector<std::string> environment = {
        "PATH=" + std::string(path ? path : ""),
        "HOME=" + (FFolder.Path() / "home").string(),
        "PULSE_COOKIE=" + (FFolder.Path() / "cookie").string(),
        "LANG=C",
    };
    const pid_t pid = Spawn(args, environment, FFolder.Path() / "pactl.log");
    int status = 0;
    if (waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string TPulseServer::Log() const
{
    return ReadFile(FFolder.Path() / "daemon.log");
}

TPlayback::TPlayback(int ARate, int ABufferMilliseconds)
{
    const pa_sample_spec format{PA_SAMPLE_FLOAT32NE, static_cast<std::uint32_t>(ARate), 2};
    pa_buffer_attr attributes{};
    attributes.maxlength = static_cast<std::uint32_t>(-1);
    attributes.tlength = static_cast<std::uint32_t>(
        pa_usec_to_bytes(static_cast<pa_usec_t>(ABufferMilliseconds) * PA_USEC_PER_MSEC, &format));
    attributes.prebuf = static_cast<std::uint32_t>(-1);
    attributes.minreq = static_cast<std::uint32_t>(-1);
    attributes.fragsize = static_cast<std::uint32_t>(-1);
    int error = 0;
    FStream = pa_simple_new(nullptr, "selvanore-play tests", PA_STREAM_PLAYBACK, nullptr, "tone", &format, nullptr,
                            &attributes, &error);
    if (!FStream)
        throw std::runtime_error(std::string("cannot play into the test's sound server: ") + pa_strerror(error));
}

TPlayback::~TPlayback()
{
    pa_simple_free(FStream);
}

void TPlayback::Write(const std::vector<float>& AFrames)
{
    int error = 0;
    if (pa_simple_write(FStream, AFrames.data(), AFrames.size() * sizeof(float), &error) < 0)
        throw std::runtime_error(std::string("cannot play into the test's sound server: ") + pa_strerror(error));
}

void TPlayback::Drain()
{
    int error = 0;
    if (pa_simple_drain(FStream, &error) < 0)
        throw std::runtime_error(std::string("cannot play into the test's sound server: ") + pa_strerror(error));
}

double TPlayback::LatencyMicroseconds()
{
    int error = 0;
    const pa_usec_t latency = pa_simple_get_latency(FStream, &error);
    if (latency == static_cast<pa_usec_t>(-1))
        throw std::runtime_error(std::string("cannot play into the test's sound server: ") + pa_strerror(error));
    return static_cast<double>(latency);
}

void PlayTone(const TTone& ATone, int ARate, double ASeconds)
{
    TPlayback playback(ARate, 50);
    const auto frames = static_cast<std::int64_t>(std::llround(ASeconds * ARate));
    // Written in pieces of 10 ms, so that the server plays from the first piece on.
    const std::int64_t piece = ARate / 100;
    std::vector<float> samples;
    for (std::int64_t start = 0; start < frames; start += piece) {
        samples.clear();
        for (std::int64_t i = start; i < std::min(frames, start + piece); ++i) {
            const double t = static_cast<double>(i) / ARate;
            samples.push_back(
                static_cast<float>(ATone.LeftAmplitude * std::sin(2 * std::numbers::pi * ATone.LeftFrequency * t)));
            samples.push_back(
                static_cast<float>(ATone.RightAmplitude * std::sin(2 * std::numbers::pi * ATone.RightFrequency * t)));
        }
        playback.Write(samples);
    }
    playback.Drain();
}

} // namespace testing_support
