#include "tools/lib/output/AtomicFolder.h"

#include "tools/lib/common/Interrupt.h"
#include "tools/lib/common/ToolError.h"
#include "tools/lib/output/Paths.h"
#include "tools/lib/output/TemporaryNames.h"
#include "tools/lib/output/png/FrameName.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace output {

namespace {

namespace fs = std::filesystem;

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

} // namespace

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

} // namespace output
