#include "tools/preview/AtomicOutput.h"

#include "tools/preview/PreviewError.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace preview {

namespace {

namespace fs = std::filesystem;

// Temporary names are short and fixed in length, so that a valid target name of up to 255
// bytes never makes its temporary too long; the dot keeps them out of a plain listing.
constexpr char TemporaryPattern[] = "/.sv-XXXXXX";

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

void ThrowWriteError(const std::string& APath)
{
    throw EPreviewError("cannot write output " + Quoted(APath) + ": " + std::strerror(errno));
}

// The ending signals are held so that no output is left half moved. One that arrives meanwhile
// is handled as the function returns: the outputs stay (they are complete), and the program
// still ends as interrupted, since that is what the user asked for.
void CommitTogether(std::initializer_list<TStagedOutput*> AOutputs)
{
    const TEndingSignalsHeld held;
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
        throw EPreviewError("cannot write output " + Quoted(FShownName) + ": it is no longer a " +
                            (FKind == TKind::File ? "regular file" : "folder"));
    if (RenameExchanging(ATemporary, FTarget) == 0) {
        FState = TState::Exchanged;
        return;
    }
    if (errno != EINVAL && errno != ENOSYS)
        ThrowWriteError(FShownName);

    std::string aside = FolderOf(FTarget) + TemporaryPattern;
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

    int descriptor = -1;
    {
        const TEndingSignalsHeld held;
        std::string name = FolderOf(final) + TemporaryPattern;
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
    // A replaced file keeps its permissions; a new one gets the usual ones.
    fchmod(descriptor, exists ? status.st_mode & 07777 : UsualMode(0666));
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
    if (FInPlace || FTemporary.empty())
        return;
    const TEndingSignalsHeld held;
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

void TAtomicFile::Place()
{
    if (!FInPlace)
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
    FCommitted = true;
}

TAtomicFolder::TAtomicFolder(std::string ATarget, TOwnership AOwns)
    : FTarget(WithoutTrailingSlashes(std::move(ATarget))), FOwns(std::move(AOwns))
{
    struct stat status {};
    bool exists = false;
    FFinal = FinalPlaceOf(FTarget, FTarget, status, exists);
    if (exists && !S_ISDIR(status.st_mode))
        throw EPreviewError("cannot write output " + Quoted(FTarget) + ": it exists and is not a folder");
    if (exists && FOwns)
        RequireOnlyOurs(FFinal);
    {
        const TEndingSignalsHeld held;
        std::string name = FolderOf(FFinal) + TemporaryPattern;
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
    const TEndingSignalsHeld held;
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
            throw EPreviewError("cannot write output " + Quoted(FTarget) + ": it holds " + Quoted(name.string()) +
                                ", which the preview did not write");
    }
    if (error)
        throw EPreviewError("cannot write output " + Quoted(FTarget) + ": " + error.message());
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
    return APath.Role + " " + Quoted(APath.Path);
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
                throw EPreviewError(Shown(AOutputs[i]) + " is the same file as " + Shown(input));
        for (std::size_t j = 0; j < i; ++j)
            if (outputs[i] == outputs[j])
                throw EPreviewError(Shown(AOutputs[i]) + " is the same file as " + Shown(AOutputs[j]));
        if (AOutputFolder && folder.Name.empty() && FolderIdentityOf(AOutputs[i].Path) == folder)
            throw EPreviewError(Shown(AOutputs[i]) + " is inside the output folder " + Quoted(AOutputFolder->Path));
    }
    if (AOutputFolder) {
        if (folder.Name.empty())
            for (const TNamedPath& input : AInputs)
                if (FolderIdentityOf(input.Path) == folder)
                    throw EPreviewError(Shown(input) + " is inside the output folder " + Quoted(AOutputFolder->Path));
        for (std::size_t i = 0; i < AOutputs.size(); ++i)
            if (folder == outputs[i])
                throw EPreviewError(Shown(AOutputs[i]) + " is the same as the output folder " +
                                    Quoted(AOutputFolder->Path));
        for (const TNamedPath& input : AInputs)
            if (folder == IdentityOf(input.Path))
                throw EPreviewError(Shown(input) + " is the output folder " + Quoted(AOutputFolder->Path));
    }

    struct stat status {};
    if (AStandardOutput && fstat(STDOUT_FILENO, &status) == 0 &&
        (S_ISREG(status.st_mode) || S_ISFIFO(status.st_mode))) {
        const TIdentity standardOutput{true, status.st_dev, status.st_ino, {}};
        for (const TNamedPath& input : AInputs)
            if (standardOutput == IdentityOf(input.Path))
                throw EPreviewError("standard output is the same file as " + Shown(input));
        for (std::size_t i = 0; i < AOutputs.size(); ++i)
            if (standardOutput == outputs[i])
                throw EPreviewError("standard output is the same file as " + Shown(AOutputs[i]));
    }
}

} // namespace preview
