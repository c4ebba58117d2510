#include "tools/lib/output/Commit.h"

#include "tools/lib/common/Interrupt.h"
#include "tools/lib/common/ToolError.h"
#include "tools/lib/output/Paths.h"
#include "tools/lib/output/TemporaryNames.h"

#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

namespace output {

namespace {

int RenameExchanging(const std::string& AFrom, const std::string& ATo) noexcept
{
    return renameat2(AT_FDCWD, AFrom.c_str(), AT_FDCWD, ATo.c_str(), RENAME_EXCHANGE);
}

} // namespace

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

    std::string aside = AsideTemplate(FolderOf(FTarget));
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

} // namespace output
