#include "tools/lib/output/TemporaryNames.h"

#include "tools/lib/output/png/FrameName.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string_view>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace output {

namespace {

// The name of an aside (AsideTemplate) and of any temporary when the run cannot be named; no
// later run removes these.
constexpr char PlainPattern[] = "/.sv-XXXXXX";

// Characters of the unique ending, as mkstemp makes them.
constexpr std::string_view UniqueCharacters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr std::size_t UniqueLength = 6;
// Hex digits of the boot's identifier kept in a name: 64 random bits tell boots apart.
constexpr std::size_t BootDigits = 16;

// The whole of a small file of /proc (its contents are made when read); false when it cannot
// be read.
bool ReadSmall(const std::string& APath, std::string& AOut)
{
    const TDescriptor file(open(APath.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file)
        return false;
    char buffer[4096];
    AOut.clear();
    for (;;) {
        const ssize_t got = read(file.Get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return false;
        if (got == 0)
            return true;
        AOut.append(buffer, static_cast<std::size_t>(got));
    }
}

template <typename TNumber>
std::optional<TNumber> NumberOf(std::string_view AText)
{
    TNumber value{};
    if (AText.empty() || AText.size() > 20 ||
        !std::all_of(AText.begin(), AText.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    const auto [end, error] = std::from_chars(AText.data(), AText.data() + AText.size(), value);
    if (error != std::errc() || end != AText.data() + AText.size())
        return std::nullopt;
    return value;
}

// When process APid started, in clock ticks since boot (field 22 of /proc/PID/stat), and
// whether it has ended but is not yet reaped (a zombie, whose files are closed); nothing, errno
// set, when it cannot be read (ENOENT: no such process in this /proc).
std::optional<std::uint64_t> StartTimeOf(pid_t APid, bool* AZombie = nullptr)
{
    std::string stat;
    if (!ReadSmall("/proc/" + std::to_string(APid) + "/stat", stat))
        return std::nullopt;
    // The command's name (field 2) may hold blanks and parentheses: the fields after it
    // start at its last ')'.
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos) {
        errno = EINVAL;
        return std::nullopt;
    }
    std::string_view rest = std::string_view(stat).substr(close + 1);
    for (int field = 3;; ++field) {
        const std::size_t begin = rest.find_first_not_of(' ');
        if (begin == std::string_view::npos)
            break;
        rest.remove_prefix(begin);
        const std::size_t end = std::min(rest.find(' '), rest.size());
        if (field == 3 && AZombie)
            *AZombie = rest[0] == 'Z' || rest[0] == 'X';
        if (field == 22) {
            if (const std::optional<std::uint64_t> start = NumberOf<std::uint64_t>(rest.substr(0, end)))
                return start;
            break;
        }
        rest.remove_prefix(end);
    }
    errno = EINVAL;
    return std::nullopt;
}

// Who made a temporary: see RunTemporaryPrefix.
struct TRunName {
    pid_t Pid = 0;
    std::uint64_t Start = 0;
    std::uint64_t Namespace = 0;
    std::string Boot;
};

// This process, as /proc tells it; nothing when it does not (no /proc, or one of another pid
// namespace, whose numbers are not ours).
std::optional<TRunName> ThisRun()
{
    TRunName run;
    run.Pid = getpid();
    char link[64];
    const ssize_t self = readlink("/proc/self", link, sizeof link - 1);
    if (self <= 0 || NumberOf<pid_t>(std::string_view(link, static_cast<std::size_t>(self))) != run.Pid)
        return std::nullopt;
    const std::optional<std::uint64_t> start = StartTimeOf(run.Pid);
    // "pid:[4026531836]": the namespace's inode, which names it for the boot.
    const ssize_t space = readlink("/proc/self/ns/pid", link, sizeof link - 1);
    std::string boot;
    if (!start || space <= 0 || !ReadSmall("/proc/sys/kernel/random/boot_id", boot))
        return std::nullopt;
    const std::string_view spaceText(link, static_cast<std::size_t>(space));
    const std::size_t open = spaceText.find('['), close = spaceText.find(']');
    if (open == std::string_view::npos || close == std::string_view::npos || close < open)
        return std::nullopt;
    const std::optional<std::uint64_t> inode = NumberOf<std::uint64_t>(spaceText.substr(open + 1, close - open - 1));
    for (const char c : boot)
        if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))
            run.Boot += c;
    if (!inode || run.Boot.size() < BootDigits)
        return std::nullopt;
    run.Boot.resize(BootDigits);
    run.Start = *start;
    run.Namespace = *inode;
    return run;
}

std::string PrefixOf(const TRunName& ARun)
{
    return ".sv-" + std::to_string(ARun.Pid) + "-" + std::to_string(ARun.Start) + "-" + std::to_string(ARun.Namespace) +
           "-" + ARun.Boot + "-";
}

// The run that a name of exactly RunTemporaryPrefix's pattern and a unique ending names;
// nothing for any other name.
std::optional<TRunName> RunNamedBy(std::string_view AName)
{
    constexpr std::string_view Start = ".sv-";
    if (AName.substr(0, Start.size()) != Start)
        return std::nullopt;
    AName.remove_prefix(Start.size());
    std::string_view parts[5];
    for (int i = 0; i < 4; ++i) {
        const std::size_t dash = AName.find('-');
        if (dash == std::string_view::npos)
            return std::nullopt;
        parts[i] = AName.substr(0, dash);
        AName.remove_prefix(dash + 1);
    }
    parts[4] = AName;
    TRunName run;
    const std::optional<pid_t> pid = NumberOf<pid_t>(parts[0]);
    const std::optional<std::uint64_t> start = NumberOf<std::uint64_t>(parts[1]);
    const std::optional<std::uint64_t> space = NumberOf<std::uint64_t>(parts[2]);
    const auto isHex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); };
    const auto isUnique = [](char c) { return UniqueCharacters.find(c) != std::string_view::npos; };
    if (!pid || *pid <= 0 || !start || !space || parts[3].size() != BootDigits ||
        !std::all_of(parts[3].begin(), parts[3].end(), isHex) || parts[4].size() != UniqueLength ||
        !std::all_of(parts[4].begin(), parts[4].end(), isUnique))
        return std::nullopt;
    run.Pid = *pid;
    run.Start = *start;
    run.Namespace = *space;
    run.Boot = std::string(parts[3]);
    return run;
}

// Whether ARun verifiably no longer exists, seen from AThis. A run of another pid namespace or
// another boot (or machine, on a shared file system) cannot be told, so it is taken as alive.
bool HasEnded(const TRunName& ARun, const TRunName& AThis)
{
    if (ARun.Namespace != AThis.Namespace || ARun.Boot != AThis.Boot)
        return false;
    if (ARun.Pid == AThis.Pid)
        return ARun.Start != AThis.Start;
    bool zombie = false;
    if (const std::optional<std::uint64_t> start = StartTimeOf(ARun.Pid, &zombie))
        return *start != ARun.Start || zombie; // another process has the pid since, or it ended
    return errno == ENOENT && kill(ARun.Pid, 0) != 0 && errno == ESRCH;
}

// Whether AName in AFolder is a regular file of this user.
bool IsOwnFile(int AFolder, const char* AName)
{
    struct stat status {};
    return fstatat(AFolder, AName, &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(status.st_mode) &&
           status.st_uid == geteuid();
}

// The names of a folder's entries but "." and ".."; false when it cannot be listed. Takes
// ownership of AFolder.
bool EntriesOf(int AFolder, std::vector<std::string>& ANames)
{
    DIR* listing = fdopendir(AFolder);
    if (!listing) {
        close(AFolder);
        return false;
    }
    errno = 0;
    while (const dirent* entry = readdir(listing)) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..")
            ANames.emplace_back(name);
    }
    const bool listed = errno == 0;
    closedir(listing);
    return listed;
}

} // namespace

std::string RunTemporaryPrefix()
{
    const std::optional<TRunName> self = ThisRun();
    return self ? PrefixOf(*self) : std::string();
}

void RemoveRemnantsOfEndedRuns(const std::string& AFolder) noexcept
{
    try {
        const std::optional<TRunName> self = ThisRun();
        if (!self)
            return;
        const TDescriptor folder(open(AFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        std::vector<std::string> names;
        if (!folder || !EntriesOf(fcntl(folder.Get(), F_DUPFD_CLOEXEC, 0), names))
            return;
        for (const std::string& name : names) {
            const std::optional<TRunName> run = RunNamedBy(name);
            if (!run || !HasEnded(*run, *self))
                continue;
            struct stat status {};
            if (fstatat(folder.Get(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0 || status.st_uid != geteuid())
                continue;
            if (S_ISREG(status.st_mode)) {
                unlinkat(folder.Get(), name.c_str(), 0);
                continue;
            }
            if (!S_ISDIR(status.st_mode))
                continue;
            const int inner = openat(folder.Get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (inner < 0)
                continue;
            const TDescriptor frames(fcntl(inner, F_DUPFD_CLOEXEC, 0));
            std::vector<std::string> files;
            if (!frames || !EntriesOf(inner, files))
                continue;
            if (!std::all_of(files.begin(), files.end(), [&](const std::string& AFile) {
                    return IsFrameName(AFile) && IsOwnFile(frames.Get(), AFile.c_str());
                }))
                continue;
            for (const std::string& file : files)
                unlinkat(frames.Get(), file.c_str(), 0);
            unlinkat(folder.Get(), name.c_str(), AT_REMOVEDIR);
        }
    } catch (...) {
        // Out of memory: the remnants stay for a later run.
    }
}

std::string TemporaryTemplate(const std::string& AFolder)
{
    const std::optional<TRunName> self = ThisRun();
    return self ? AFolder + "/" + PrefixOf(*self) + "XXXXXX" : AFolder + PlainPattern;
}

std::string AsideTemplate(const std::string& AFolder)
{
    return AFolder + PlainPattern;
}

void FillUnique(std::string& ATemplate)
{
    static std::atomic<std::uint64_t> counter{0};
    unsigned char bytes[UniqueLength] = {};
    if (getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bytes)) {
        // No entropy yet: distinct enough for a name that is retried when it exists.
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        std::uint64_t mixed = static_cast<std::uint64_t>(now.tv_nsec) ^ (counter.fetch_add(1) << 32);
        for (unsigned char& byte : bytes) {
            byte = static_cast<unsigned char>(mixed);
            mixed = mixed * 6364136223846793005u + 1442695040888963407u;
        }
    }
    for (std::size_t i = 0; i < UniqueLength; ++i)
        ATemplate[ATemplate.size() - UniqueLength + i] = UniqueCharacters[bytes[i] % UniqueCharacters.size()];
}

TDescriptor OpenUnnamed(const std::string& AFolder, mode_t AMode)
{
    TDescriptor file(open(AFolder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, AMode));
    if (!file)
        return {};
    struct stat own {
    }, seen{};
    const std::string link = "/proc/self/fd/" + std::to_string(file.Get());
    if (fstat(file.Get(), &own) != 0 || stat(link.c_str(), &seen) != 0 || own.st_dev != seen.st_dev ||
        own.st_ino != seen.st_ino)
        return {};
    return file;
}

} // namespace output
