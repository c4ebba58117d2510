#include "tools/lib/drive/WineRenderer.h"

#include "tools/lib/common/ToolError.h"
#include "tools/lib/drive/WineProtocol.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace drive {

namespace {

// Reads or writes all ACount bytes; false when the pipe ends or fails first.
bool ReadAll(int AFile, void* ABuffer, std::size_t ACount)
{
    auto* at = static_cast<char*>(ABuffer);
    while (ACount > 0) {
        const ssize_t got = read(AFile, at, ACount);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        at += got;
        ACount -= static_cast<std::size_t>(got);
    }
    return true;
}

bool WriteAll(int AFile, const void* ABuffer, std::size_t ACount)
{
    const auto* at = static_cast<const char*>(ABuffer);
    while (ACount > 0) {
        const ssize_t put = write(AFile, at, ACount);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        at += put;
        ACount -= static_cast<std::size_t>(put);
    }
    return true;
}

bool IsExecutableFile(const std::string& APath)
{
    std::error_code error;
    return std::filesystem::is_regular_file(APath, error) && access(APath.c_str(), X_OK) == 0;
}

// Wine's own loader environment: WINEDEBUG=-all keeps Wine's notes out of the way, and unless the
// user chose otherwise, no Mono or Gecko installer is offered when Wine makes a new prefix (it
// would wait for an answer that never comes).
std::vector<std::string> WineEnvironment()
{
    std::vector<std::string> environment{"WINEDEBUG=-all"};
    bool overrides = false;
    for (char** variable = environ; *variable; ++variable) {
        if (std::strncmp(*variable, "WINEDEBUG=", 10) == 0)
            continue;
        overrides = overrides || std::strncmp(*variable, "WINEDLLOVERRIDES=", 17) == 0;
        environment.emplace_back(*variable);
    }
    if (!overrides)
        environment.emplace_back("WINEDLLOVERRIDES=mscoree,mshtml=");
    return environment;
}

} // namespace

std::string FindWineLoader(const char* ASearchPath, const char* AWineLoader)
{
    if (AWineLoader && *AWineLoader) {
        if (!IsExecutableFile(AWineLoader))
            throw common::EToolError(std::string("cannot run under Wine: WINELOADER names ") +
                                     common::Quoted(AWineLoader) + ", which is no program");
        return AWineLoader;
    }
    const std::string search = ASearchPath ? ASearchPath : "";
    for (const char* name : {"wine", "wine64"}) {
        std::size_t begin = 0;
        while (begin <= search.size()) {
            const std::size_t end = std::min(search.find(':', begin), search.size());
            // An empty entry of PATH stands for the current folder; a loader is never taken from there.
            if (end > begin) {
                const std::string candidate = search.substr(begin, end - begin) + "/" + name;
                if (IsExecutableFile(candidate))
                    return candidate;
            }
            begin = end + 1;
        }
    }
    for (const char* fixed : WineLoaderFallbacks)
        if (IsExecutableFile(fixed))
            return fixed;
    throw common::EToolError("cannot run under Wine: no wine or wine64 program on PATH, nor " +
                             std::string(WineLoaderFallbacks[0]) + " (Debian's wine64 package installs it)");
}

std::string WinePathOf(const std::string& APath)
{
    std::error_code error;
    std::string path = std::filesystem::absolute(APath, error).lexically_normal().string();
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return "Z:" + path;
}

TWineRenderer::TWineRenderer(const TWineRendererSetup& ASetup)
    : FPixels(static_cast<std::size_t>(ASetup.Width) * static_cast<std::size_t>(ASetup.Height))
{
    std::error_code error;
    if (!std::filesystem::is_regular_file(ASetup.Helper, error))
        throw common::EToolError("cannot run under Wine: no helper at " + common::Quoted(ASetup.Helper) +
                                 " (build the Windows cross build, or give --wine-helper)");
    if (!std::filesystem::is_regular_file(ASetup.Module, error))
        throw common::EToolError("cannot load module " + common::Quoted(ASetup.Module) + ": no such file");
    // Everything that may throw comes before the pipes, which only Stop gives back.
    std::string program = FindWineLoader(std::getenv("PATH"), std::getenv("WINELOADER"));
    std::vector<std::string> environment = WineEnvironment();
    std::vector<char*> envp;
    for (std::string& variable : environment)
        envp.push_back(variable.data());
    envp.push_back(nullptr);
    std::string helper = ASetup.Helper, module = WinePathOf(ASetup.Module), width = std::to_string(ASetup.Width),
                height = std::to_string(ASetup.Height);
    char* argv[] = {program.data(), helper.data(), module.data(), width.data(), height.data(), nullptr};

    int toHelper[2], fromHelper[2];
    if (pipe(toHelper) != 0)
        throw common::EToolError(std::string("cannot start wine: ") + std::strerror(errno));
    if (pipe(fromHelper) != 0) {
        close(toHelper[0]);
        close(toHelper[1]);
        throw common::EToolError(std::string("cannot start wine: ") + std::strerror(errno));
    }
    // The preview's own ends are not inherited by the helper.
    fcntl(toHelper[1], F_SETFD, FD_CLOEXEC);
    fcntl(fromHelper[0], F_SETFD, FD_CLOEXEC);
    FToHelper = toHelper[1];
    FFromHelper = fromHelper[0];

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toHelper[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fromHelper[1], STDOUT_FILENO);
    // Wine's own notes would clutter the preview's one-line messages.
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    const int spawned = posix_spawn(&FChild, program.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(toHelper[0]);
    close(fromHelper[1]);
    if (spawned != 0) {
        FChild = -1;
        Stop();
        throw common::EToolError(std::string("cannot start ") + common::Quoted(program) + ": " +
                                 std::strerror(spawned));
    }

    TWineHello hello{};
    if (!ReadAll(FFromHelper, &hello, sizeof hello) || std::memcmp(hello.Magic, WineMagic, sizeof WineMagic) != 0) {
        Stop();
        throw common::EToolError("the helper did not start under Wine (" + common::Quoted(program) + ")");
    }
    if (hello.Status != 0) {
        std::string message(static_cast<std::size_t>(std::clamp(hello.MessageLength, 0, 1000)), '\0');
        if (!ReadAll(FFromHelper, message.data(), message.size()))
            message = "the helper under Wine failed";
        Stop();
        throw common::EToolError(message);
    }
}

TWineRenderer::~TWineRenderer()
{
    Stop();
}

void TWineRenderer::Stop() noexcept
{
    if (FToHelper >= 0)
        close(FToHelper);
    FToHelper = -1;
    if (FFromHelper >= 0)
        close(FFromHelper);
    FFromHelper = -1;
    if (FChild > 0) {
        int status = 0;
        while (waitpid(FChild, &status, 0) < 0 && errno == EINTR) {
        }
    }
    FChild = -1;
}

void TWineRenderer::Send(const void* ABuffer, std::size_t ACount)
{
    if (!WriteAll(FToHelper, ABuffer, ACount))
        throw common::EToolError("the helper under Wine stopped drawing");
}

const std::uint32_t* TWineRenderer::Render(std::int64_t, TAIMPVisualData& AData)
{
    const TWineCommand command{TWineCall::Draw, 0, 0, 0};
    Send(&command, sizeof command);
    Send(&AData, sizeof AData);
    if (!ReadAll(FFromHelper, FPixels.data(), FPixels.size() * sizeof(std::uint32_t)))
        throw common::EToolError("the helper under Wine stopped drawing");
    return FPixels.data();
}

void TWineRenderer::Resize(std::int32_t AWidth, std::int32_t AHeight)
{
    // The buffer first: when it cannot grow, the helper has not heard of the new extents either.
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(AWidth) * static_cast<std::size_t>(AHeight));
    const TWineCommand command{TWineCall::Resize, AWidth, AHeight, 0};
    Send(&command, sizeof command);
    FPixels = std::move(pixels);
}

void TWineRenderer::Click(std::int32_t AX, std::int32_t AY, std::int32_t AButton)
{
    const TWineCommand command{TWineCall::Click, AX, AY, AButton};
    Send(&command, sizeof command);
}

} // namespace drive
