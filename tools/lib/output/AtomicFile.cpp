#include "tools/lib/output/AtomicFile.h"

#include "tools/lib/common/Interrupt.h"
#include "tools/lib/common/ToolError.h"
#include "tools/lib/output/TemporaryNames.h"

#include <cerrno>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace output {

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

} // namespace output
