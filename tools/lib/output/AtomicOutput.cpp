#include "tools/lib/output/AtomicOutput.h"

#include "tools/lib/output/png/FrameName.h"

#include "tools/lib/common/ToolError.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <optional>

#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace output {

namespace {

namespace fs = std::filesystem;

// The name of an aside (where a replaced output waits while the file system cannot exchange
// two names) and of any temporary when the run cannot be named. No later run removes these: a
// run killed between moving the old output aside and the new one into place leaves the old
// one there, and it is the user's to recover.
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

bool IsFrameName(std::string_view AName)
{
    constexpr std::string_view Prefix = "frame-", Suffix = ".png";
    if (AName.size() < Prefix.size() + 6 + Suffix.size() || AName.substr(0, Prefix.size()) != Prefix ||
        AName.substr(AName.size() - Suffix.size()) != Suffix)
        return false;
    const std::string_view digits = AName.substr(Prefix.size(), AName.size() - Prefix.size() - Suffix.size());
    return std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
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

// Removes what a run that ended left in AFolder: its temporary files, and its temporary folders
// that hold nothing but frames. Only entries of this user whose names follow the pattern
// exactly and whose run has verifiably ended; anything else stays as it is.
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

// A fresh temporary name in AFolder for this run, for a file that linkat or mkstemp then
// creates (mkstemp's Xs are left at the end when the run cannot be named).
std::string TemporaryTemplate(const std::string& AFolder)
{
    const std::optional<TRunName> self = ThisRun();
    return self ? AFolder + "/" + PrefixOf(*self) + "XXXXXX" : AFolder + PlainPattern;
}

// Replaces the trailing Xs of ATemplate by random characters.
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

// An unnamed file in AFolder, which /proc can give a name later; none when the file system
// (or the kernel) has no unnamed files, or /proc cannot name them.
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

std::string WithoutTrailingSlashes(std::string APath)
{
    while (APath.size() > 1 && APath.back() == '/')
        APath.pop_back();
    return APath;
}

// The folder a path's last name lies in.
std::string FolderOf(const std::string& APath)
{
    const std::size_t slash = APath.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return APath.substr(0, slash);
}

std::string NameOf(const std::string& APath)
{
    const std::size_t slash = APath.rfind('/');
    return slash == std::string::npos ? APath : APath.substr(slash + 1);
}

// The permissions a plain creation would give (mkstemp and mkdtemp keep their files private).
mode_t UsualMode(mode_t AFull)
{
    const mode_t mask = umask(0);
    umask(mask);
    return AFull & ~mask;
}

// APath with its symbolic links followed to the final place; AStat describes that place when
// AExists. Nothing (errno set) when the path cannot be looked at; a path that does not exist
// (yet) is no error.
std::optional<std::string> FollowLinks(std::string APath, struct stat& AStat, bool& AExists)
{
    for (int hops = 0;; ++hops) {
        if (lstat(APath.c_str(), &AStat) != 0) {
            if (errno != ENOENT)
                return std::nullopt;
            AExists = false;
            return APath;
        }
        if (!S_ISLNK(AStat.st_mode)) {
            AExists = true;
            return APath;
        }
        if (hops == 40) {
            errno = ELOOP;
            return std::nullopt;
        }
        char link[PATH_MAX];
        const ssize_t length = readlink(APath.c_str(), link, sizeof link);
        if (length < 0)
            return std::nullopt;
        if (static_cast<std::size_t>(length) == sizeof link) {
            errno = ENAMETOOLONG;
            return std::nullopt;
        }
        const std::string target(link, static_cast<std::size_t>(length));
        APath = !target.empty() && target[0] == '/' ? target : FolderOf(APath) + "/" + target;
    }
}

std::string FinalPlaceOf(const std::string& APath, const std::string& AShownName, struct stat& AStat, bool& AExists)
{
    const std::optional<std::string> final = FollowLinks(APath, AStat, AExists);
    if (!final)
        ThrowWriteError(AShownName);
    return *final;
}

bool IsRegularFile(const fs::path& APath)
{
    struct stat status {};
    return lstat(APath.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

void SyncFolder(const std::string& APath) noexcept
{
    const int folder = open(APath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        fsync(folder);
        close(folder);
    }
}

// Removes a folder that an earlier run of ours wrote, now replaced: its regular files that
// AOwns accepts (all of them when it is empty), then the folder. Anything else stays, and the
// folder with it.
void RemoveOurFolder(const std::string& APath, const TAtomicFolder::TOwnership& AOwns) noexcept
{
    try {
        std::error_code error;
        std::vector<fs::path> files;
        for (const fs::directory_entry& entry : fs::directory_iterator(APath, error))
            if ((!AOwns || AOwns(entry.path().filename().native())) && IsRegularFile(entry.path()))
                files.push_back(entry.path());
        for (const fs::path& file : files)
            unlink(file.c_str());
        rmdir(APath.c_str());
    } catch (...) {
        // Out of memory: the replaced folder stays under its temporary name.
    }
}

int RenameExchanging(const std::string& AFrom, const std::string& ATo) noexcept
{
    return renameat2(AT_FDCWD, AFrom.c_str(), AT_FDCWD, ATo.c_str(), RENAME_EXCHANGE);
}

} // namespace

std::string RunTemporaryPrefix()
{
    const std::optional<TRunName> self = ThisRun();
    return self ? PrefixOf(*self) : std::string();
}

TDescriptor::TDescriptor(TDescriptor&& AOther) noexcept : FDescriptor(AOther.FDescriptor)
{
    AOther.FDescriptor = -1;
}

TDescriptor& TDescriptor::operator=(TDescriptor&& AOther) noexcept
{
    if (this != &AOther) {
        Reset();
        FDescriptor = AOther.FDescriptor;
        AOther.FDescriptor = -1;
    }
    return *this;
}

void TDescriptor::Reset() noexcept
{
    if (FDescriptor >= 0)
        close(FDescriptor);
    FDescriptor = -1;
}

void ThrowWriteError(const std::string& APath)
{
    throw common::EToolError("cannot write output " + common::Quoted(APath) + ": " + std::strerror(errno));
}

// The ending signals are held so that no output is left half moved. One that arrives meanwhile
// is handled as the function returns: the outputs stay (they are complete), and the program
// still ends as interrupted, since that is what the user asked for.
void CommitTogether(std::initializer_list<TStagedOutput*> AOutputs)
{
    const common::TEndingSignalsHeld held;
    std::vector<TStagedOutput*> placed;
    placed.reserve(AOutputs.size());
    try {
        for (TStagedOutput* output : AOutputs) {
            if (!output)
                continue;
            output->Place();
            placed.push_back(output);
        }
    } catch (...) {
        for (auto output = placed.rbegin(); output != placed.rend(); ++output)
            (*output)->Restore();
        throw;
    }
    for (TStagedOutput* output : placed)
        output->Settle();
}

TPlacement::TPlacement(std::string AShownName, std::string ATarget, TKind AKind, TRemover ARemover)
    : FShownName(std::move(AShownName)), FTarget(std::move(ATarget)), FKind(AKind), FRemover(std::move(ARemover))
{}

// A new target is created without replacing anything. An existing one trades places with the
// temporary in one step (RENAME_EXCHANGE), so that the old output stays whole under the
// temporary name until Settle, and Restore trades them back. Where the file system cannot
// exchange, the old output is first renamed aside.
void TPlacement::Place(const std::string& ATemporary)
{
    struct stat status {};
    if (lstat(FTarget.c_str(), &status) != 0) {
        if (errno != ENOENT)
            ThrowWriteError(FShownName);
        if (renameat2(AT_FDCWD, ATemporary.c_str(), AT_FDCWD, FTarget.c_str(), RENAME_NOREPLACE) == 0 ||
            ((errno == EINVAL || errno == ENOSYS) && std::rename(ATemporary.c_str(), FTarget.c_str()) == 0)) {
            FState = TState::Created;
            return;
        }
        if (errno != EEXIST || lstat(FTarget.c_str(), &status) != 0)
            ThrowWriteError(FShownName);
        // It appeared meanwhile: replaced as any existing target.
    }
    // The kind was checked when the output was opened; it may have changed since.
    if (FKind == TKind::File ? !S_ISREG(status.st_mode) : !S_ISDIR(status.st_mode))
        throw common::EToolError("cannot write output " + common::Quoted(FShownName) + ": it is no longer a " +
                                 (FKind == TKind::File ? "regular file" : "folder"));
    if (RenameExchanging(ATemporary, FTarget) == 0) {
        FState = TState::Exchanged;
        return;
    }
    if (errno != EINVAL && errno != ENOSYS)
        ThrowWriteError(FShownName);

    std::string aside = FolderOf(FTarget) + PlainPattern;
    const bool reserved = FKind == TKind::File ? [&] {
        const int file = mkostemp(aside.data(), O_CLOEXEC);
        return file >= 0 && close(file) == 0;
    }() : mkdtemp(aside.data()) != nullptr;
    if (!reserved)
        ThrowWriteError(FShownName);
    if (std::rename(FTarget.c_str(), aside.c_str()) != 0) {
        const int error = errno;
        FKind == TKind::File ? unlink(aside.c_str()) : rmdir(aside.c_str());
        errno = error;
        ThrowWriteError(FShownName);
    }
    if (std::rename(ATemporary.c_str(), FTarget.c_str()) != 0) {
        const int error = errno;
        std::rename(aside.c_str(), FTarget.c_str());
        errno = error;
        ThrowWriteError(FShownName);
    }
    FAside = std::move(aside);
    FState = TState::MovedAside;
}

void TPlacement::Restore(const std::string& ATemporary) noexcept
{
    switch (FState) {
    case TState::Staged: return;
    case TState::Created: std::rename(FTarget.c_str(), ATemporary.c_str()); break;
    case TState::Exchanged: RenameExchanging(ATemporary, FTarget); break;
    case TState::MovedAside:
        std::rename(FTarget.c_str(), ATemporary.c_str());
        std::rename(FAside.c_str(), FTarget.c_str());
        break;
    }
    FState = TState::Staged;
}

void TPlacement::Settle(const std::string& ATemporary) noexcept
{
    if (FState == TState::Exchanged)
        FRemover(ATemporary);
    else if (FState == TState::MovedAside)
        FRemover(FAside);
    FState = TState::Staged;
    // The rename is on disk too, not only the output's contents.
    SyncFolder(FolderOf(FTarget));
}

TAtomicFile::TAtomicFile(std::string ATarget) : FTarget(std::move(ATarget))
{
    struct stat status {};
    bool exists = false;
    const std::string final = FinalPlaceOf(FTarget, FTarget, status, exists);
    if (exists && S_ISDIR(status.st_mode)) {
        errno = EISDIR;
        ThrowWriteError(FTarget);
    }
    if (exists && !S_ISREG(status.st_mode)) {
        // A device or a FIFO: written in place (opening a FIFO waits for its reader).
        const int descriptor = open(final.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
        if (descriptor < 0)
            ThrowWriteError(FTarget);
        FStream = fdopen(descriptor, "wb");
        if (!FStream) {
            const int error = errno;
            close(descriptor);
            errno = error;
            ThrowWriteError(FTarget);
        }
        FInPlace = true;
        return;
    }

    FFolder = FolderOf(final);
    RemoveRemnantsOfEndedRuns(FFolder);
    // A replaced file keeps its permissions; a new one gets the usual ones.
    const mode_t mode = exists ? status.st_mode & 07777 : UsualMode(0666);
    int descriptor = -1;
    FUnnamed = OpenUnnamed(FFolder, mode);
    if (FUnnamed) {
        // The stream has a descriptor of its own: Finish closes it, and the file lives on in
        // FUnnamed until the commit names it.
        descriptor = fcntl(FUnnamed.Get(), F_DUPFD_CLOEXEC, 0);
        if (descriptor < 0)
            ThrowWriteError(FTarget);
    } else {
        const common::TEndingSignalsHeld held;
        std::string name = TemporaryTemplate(FFolder);
        descriptor = mkostemp(name.data(), O_CLOEXEC);
        if (descriptor < 0)
            ThrowWriteError(FTarget);
        FTemporary = std::move(name);
        try {
            FRecord = TTemporaryRecord(FTemporary, TTemporaryKind::File);
        } catch (...) {
            close(descriptor);
            unlink(FTemporary.c_str());
            throw;
        }
    }
    FPlacement =
        TPlacement(FTarget, final, TPlacement::TKind::File, [](const std::string& APath) { unlink(APath.c_str()); });
    // Set again whatever the umask took.
    fchmod(descriptor, mode);
    FStream = fdopen(descriptor, "wb");
    if (!FStream) {
        const int error = errno;
        close(descriptor);
        Discard();
        errno = error;
        ThrowWriteError(FTarget);
    }
}

TAtomicFile::~TAtomicFile()
{
    if (FStream)
        std::fclose(FStream);
    if (!FCommitted)
        Discard();
}

void TAtomicFile::Discard() noexcept
{
    FUnnamed.Reset();
    if (FInPlace || FTemporary.empty())
        return;
    const common::TEndingSignalsHeld held;
    unlink(FTemporary.c_str());
    FRecord.Drop();
}

void TAtomicFile::Finish()
{
    if (!FStream)
        return;
    bool written = std::fflush(FStream) == 0 && !std::ferror(FStream);
    int error = errno;
    // Regular files only: a device or a FIFO has nothing to sync, or refuses (EINVAL).
    if (written && !FInPlace && fsync(fileno(FStream)) != 0) {
        written = false;
        error = errno;
    }
    const bool closed = std::fclose(FStream) == 0;
    FStream = nullptr;
    if (!written || !closed) {
        errno = written ? errno : error;
        ThrowWriteError(FTarget);
    }
}

void TAtomicFile::Commit()
{
    Finish();
    CommitTogether({this});
}

// Called inside CommitTogether, with the ending signals held: the name and its record come
// into being together.
void TAtomicFile::NameUnnamed()
{
    const std::string link = "/proc/self/fd/" + std::to_string(FUnnamed.Get());
    for (int attempt = 0;; ++attempt) {
        std::string name = TemporaryTemplate(FFolder);
        FillUnique(name);
        if (linkat(AT_FDCWD, link.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) != 0) {
            if (errno == EEXIST && attempt < 100)
                continue;
            ThrowWriteError(FTarget);
        }
        try {
            FRecord = TTemporaryRecord(name, TTemporaryKind::File);
        } catch (...) {
            unlink(name.c_str());
            throw;
        }
        FTemporary = std::move(name);
        return;
    }
}

void TAtomicFile::Place()
{
    if (FInPlace)
        return;
    if (FTemporary.empty())
        NameUnnamed();
    FPlacement.Place(FTemporary);
}

void TAtomicFile::Restore() noexcept
{
    if (!FInPlace)
        FPlacement.Restore(FTemporary);
}

void TAtomicFile::Settle() noexcept
{
    if (!FInPlace) {
        FPlacement.Settle(FTemporary);
        FRecord.Drop();
    }
    FUnnamed.Reset();
    FCommitted = true;
}

TAtomicFolder::TAtomicFolder(std::string ATarget, TOwnership AOwns)
    : FTarget(WithoutTrailingSlashes(std::move(ATarget))), FOwns(std::move(AOwns))
{
    struct stat status {};
    bool exists = false;
    FFinal = FinalPlaceOf(FTarget, FTarget, status, exists);
    if (exists && !S_ISDIR(status.st_mode))
        throw common::EToolError("cannot write output " + common::Quoted(FTarget) + ": it exists and is not a folder");
    if (exists && FOwns)
        RequireOnlyOurs(FFinal);
    RemoveRemnantsOfEndedRuns(FolderOf(FFinal));
    {
        const common::TEndingSignalsHeld held;
        std::string name = TemporaryTemplate(FolderOf(FFinal));
        if (!mkdtemp(name.data()))
            ThrowWriteError(FTarget);
        FTemporary = std::move(name);
        try {
            FRecord = TTemporaryRecord(FTemporary, TTemporaryKind::FrameFolder);
        } catch (...) {
            rmdir(FTemporary.c_str());
            throw;
        }
    }
    FPlacement = TPlacement(FTarget, FFinal, TPlacement::TKind::Folder,
                            [owns = FOwns](const std::string& APath) { RemoveOurFolder(APath, owns); });
    // A replaced folder keeps its permissions; a new one gets the usual ones.
    chmod(FTemporary.c_str(), exists ? status.st_mode & 07777 : UsualMode(0777));
}

TAtomicFolder::~TAtomicFolder()
{
    if (!FCommitted)
        Discard();
}

void TAtomicFolder::Discard() noexcept
{
    const common::TEndingSignalsHeld held;
    std::error_code error;
    fs::remove_all(FTemporary, error);
    FRecord.Drop();
}

std::string TAtomicFolder::FramePath(std::int64_t AFrame)
{
    if (AFrame >= FFrames) {
        FFrames = AFrame + 1;
        FRecord.SetFrameCount(FFrames);
    }
    char name[32];
    FormatFrameName(AFrame, name);
    return FTemporary + "/" + name;
}

void TAtomicFolder::RequireOnlyOurs(const std::string& AFolder) const
{
    std::error_code error;
    for (fs::directory_iterator entry(AFolder, error), end; !error && entry != end; entry.increment(error)) {
        const fs::path name = entry->path().filename();
        const bool ours = FOwns && FOwns(name.native()) && IsRegularFile(entry->path());
        // Before the run (no temporary yet) only ours count; at the commit also what this run wrote.
        if (!ours && (FTemporary.empty() || !fs::exists(fs::path(FTemporary) / name)))
            throw common::EToolError("cannot write output " + common::Quoted(FTarget) + ": it holds " +
                                     common::Quoted(name.string()) + ", which the preview did not write");
    }
    if (error)
        throw common::EToolError("cannot write output " + common::Quoted(FTarget) + ": " + error.message());
}

void TAtomicFolder::Finish()
{
    // One sync of the file system that holds the frames: a sync a frame waits for the journal
    // once a frame and made a PNG folder about twice as slow to write.
    const int folder = open(FTemporary.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0 || syncfs(folder) != 0) {
        const int error = errno;
        if (folder >= 0)
            close(folder);
        errno = error;
        ThrowWriteError(FTarget);
    }
    close(folder);
}

void TAtomicFolder::Commit()
{
    Finish();
    CommitTogether({this});
}

void TAtomicFolder::Place()
{
    // Checked again: an entry may have come into the folder during the run.
    struct stat status {};
    if (lstat(FFinal.c_str(), &status) == 0 && S_ISDIR(status.st_mode))
        RequireOnlyOurs(FFinal);
    FPlacement.Place(FTemporary);
}

void TAtomicFolder::Restore() noexcept
{
    FPlacement.Restore(FTemporary);
}

void TAtomicFolder::Settle() noexcept
{
    FPlacement.Settle(FTemporary);
    FRecord.Drop();
    FCommitted = true;
}

namespace {

// What a path names, for telling whether two paths are the same file: the device and inode of
// what exists; for what does not exist yet, those of the folder it will be made in and its name.
struct TIdentity {
    bool Known = false;
    dev_t Device = 0;
    ino_t Inode = 0;
    std::string Name; // empty for what exists
};

bool operator==(const TIdentity& A, const TIdentity& B)
{
    return A.Known && B.Known && A.Device == B.Device && A.Inode == B.Inode && A.Name == B.Name;
}

TIdentity IdentityOf(const std::string& APath)
{
    struct stat status {};
    if (stat(APath.c_str(), &status) == 0)
        return {true, status.st_dev, status.st_ino, {}};
    bool exists = false;
    const std::optional<std::string> final = FollowLinks(WithoutTrailingSlashes(APath), status, exists);
    if (!final || exists || stat(FolderOf(*final).c_str(), &status) != 0)
        return {};
    return {true, status.st_dev, status.st_ino, NameOf(*final)};
}

// The folder APath's final place lies in.
TIdentity FolderIdentityOf(const std::string& APath)
{
    struct stat status {};
    bool exists = false;
    const std::optional<std::string> final = FollowLinks(WithoutTrailingSlashes(APath), status, exists);
    if (!final || stat(FolderOf(*final).c_str(), &status) != 0)
        return {};
    return {true, status.st_dev, status.st_ino, {}};
}

std::string Shown(const TNamedPath& APath)
{
    return APath.Role + " " + common::Quoted(APath.Path);
}

} // namespace

void RequireSeparateFiles(const std::vector<TNamedPath>& AInputs, const std::vector<TNamedPath>& AOutputs,
                          const TNamedPath* AOutputFolder, bool AStandardOutput)
{
    std::vector<TIdentity> outputs;
    for (const TNamedPath& output : AOutputs)
        outputs.push_back(IdentityOf(output.Path));
    const TIdentity folder = AOutputFolder ? IdentityOf(AOutputFolder->Path) : TIdentity{};

    for (std::size_t i = 0; i < AOutputs.size(); ++i) {
        for (const TNamedPath& input : AInputs)
            if (outputs[i] == IdentityOf(input.Path))
                throw common::EToolError(Shown(AOutputs[i]) + " is the same file as " + Shown(input));
        for (std::size_t j = 0; j < i; ++j)
            if (outputs[i] == outputs[j])
                throw common::EToolError(Shown(AOutputs[i]) + " is the same file as " + Shown(AOutputs[j]));
        if (AOutputFolder && folder.Name.empty() && FolderIdentityOf(AOutputs[i].Path) == folder)
            throw common::EToolError(Shown(AOutputs[i]) + " is inside the output folder " +
                                     common::Quoted(AOutputFolder->Path));
    }
    if (AOutputFolder) {
        if (folder.Name.empty())
            for (const TNamedPath& input : AInputs)
                if (FolderIdentityOf(input.Path) == folder)
                    throw common::EToolError(Shown(input) + " is inside the output folder " +
                                             common::Quoted(AOutputFolder->Path));
        for (std::size_t i = 0; i < AOutputs.size(); ++i)
            if (folder == outputs[i])
                throw common::EToolError(Shown(AOutputs[i]) + " is the same as the output folder " +
                                         common::Quoted(AOutputFolder->Path));
        for (const TNamedPath& input : AInputs)
            if (folder == IdentityOf(input.Path))
                throw common::EToolError(Shown(input) + " is the output folder " + common::Quoted(AOutputFolder->Path));
    }

    struct stat status {};
    if (AStandardOutput && fstat(STDOUT_FILENO, &status) == 0 &&
        (S_ISREG(status.st_mode) || S_ISFIFO(status.st_mode))) {
        const TIdentity standardOutput{true, status.st_dev, status.st_ino, {}};
        for (const TNamedPath& input : AInputs)
            if (standardOutput == IdentityOf(input.Path))
                throw common::EToolError("standard output is the same file as " + Shown(input));
        for (std::size_t i = 0; i < AOutputs.size(); ++i)
            if (standardOutput == outputs[i])
                throw common::EToolError("standard output is the same file as " + Shown(AOutputs[i]));
    }
}

} // namespace output
